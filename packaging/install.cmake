# Where `cmake --install` puts things: programs, man pages and documentation under the prefix
# (GNUInstallDirs); the systemd unit, the sysusers.d and tmpfiles.d entries where systemd
# looks for them. The folders the service uses at run time follow the FHS whatever the prefix:
# the administrator's configuration in /etc/gsms, the gateway's own state (profile folder,
# status file, daily logs through a link) in /var/lib/gsms and /var/log/gsms, the job and
# table folders the alarm server shares in /var/spool/gsms.
include(GNUInstallDirs)

set(GSMS_CONFIG_DIR "/etc/gsms" CACHE PATH "Configuration the administrator edits (TEVRAK.INI)")
set(GSMS_STATE_DIR "/var/lib/gsms" CACHE PATH "The service's profile folder and working directory")
set(GSMS_LOG_DIR "/var/log/gsms" CACHE PATH "The service's daily logs")
set(GSMS_SPOOL_DIR "/var/spool/gsms" CACHE PATH "Job, result and status-table folders")

# Debian 12 keeps units in /lib/systemd/system (what its systemd.pc says); elsewhere under
# the prefix, which systemd searches as well (/usr/local/lib/systemd/system).
set(_gsms_unit_dir "${CMAKE_INSTALL_PREFIX}/lib/systemd/system")
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  find_package(PkgConfig QUIET)
  if(PKG_CONFIG_FOUND)
    pkg_get_variable(_gsms_pc_unit_dir systemd systemdsystemunitdir)
    if(_gsms_pc_unit_dir)
      set(_gsms_unit_dir "${_gsms_pc_unit_dir}")
    endif()
  endif()
endif()
set(GSMS_SYSTEMD_UNIT_DIR "${_gsms_unit_dir}" CACHE PATH "Where the systemd unit is installed")
set(GSMS_SYSUSERS_DIR "${CMAKE_INSTALL_PREFIX}/lib/sysusers.d" CACHE PATH "Where the sysusers.d entry is installed")
set(GSMS_TMPFILES_DIR "${CMAKE_INSTALL_PREFIX}/lib/tmpfiles.d" CACHE PATH "Where the tmpfiles.d entry is installed")
# The service package's documentation folder (examples under it).
set(GSMS_DOC_DIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/gsmsd")
# The commented TEVRAK.INI that tmpfiles.d copies to /etc/gsms when there is none.
set(GSMS_DATA_DIR "${CMAKE_INSTALL_DATAROOTDIR}/gsmsd")
# The scripts the installed settings name: the tech alarm and the incoming command.
set(GSMS_LIBEXEC_DIR "${CMAKE_INSTALL_LIBEXECDIR}/gsmsd")
set(GSMS_FULL_LIBEXEC_DIR "${CMAKE_INSTALL_PREFIX}/${GSMS_LIBEXEC_DIR}")

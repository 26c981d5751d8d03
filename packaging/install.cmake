# Where `cmake --install` puts things: programs, man pages and documentation under the prefix
# (GNUInstallDirs); the systemd unit, the sysusers.d and tmpfiles.d entries under it where
# systemd looks for them. The folders the service uses at run time follow the FHS whatever the
# prefix: the administrator's configuration in /etc/gsms, the gateway's own state (profile folder,
# status file, daily logs through a link) in /var/lib/gsms and /var/log/gsms, the job and
# table folders the alarm server shares in /var/spool/gsms.
include(GNUInstallDirs)

set(GSMS_CONFIG_DIR "/etc/gsms" CACHE PATH "Configuration the administrator edits (TEVRAK.INI)")
set(GSMS_STATE_DIR "/var/lib/gsms" CACHE PATH "The service's profile folder and working directory")
set(GSMS_LOG_DIR "/var/log/gsms" CACHE PATH "The service's daily logs")
set(GSMS_SPOOL_DIR "/var/spool/gsms" CACHE PATH "Job, result and status-table folders")

# The systemd unit and the sysusers.d and tmpfiles.d entries go under the prefix given at
# install time (`cmake --install build --prefix DIR` puts them under DIR as everything else):
# relative folders, where systemd looks under /usr (Debian's /usr/lib/systemd/system,
# /usr/lib/sysusers.d, /usr/lib/tmpfiles.d) and /usr/local alike. An absolute folder given
# here is taken as it is.
set(_gsms_service_dirs
    GSMS_SYSTEMD_UNIT_DIR "lib/systemd/system" "Where the systemd unit is installed"
    GSMS_SYSUSERS_DIR "lib/sysusers.d" "Where the sysusers.d entry is installed"
    GSMS_TMPFILES_DIR "lib/tmpfiles.d" "Where the tmpfiles.d entry is installed")
# Text, not PATH: CMake would turn a relative -D value of a PATH into one under the build folder.
while(_gsms_service_dirs)
  list(POP_FRONT _gsms_service_dirs _var _dir _doc)
  # A build configured before these were relative holds the prefix of that time.
  if(DEFINED CACHE{${_var}} AND "$CACHE{${_var}}" STREQUAL "${CMAKE_INSTALL_PREFIX}/${_dir}")
    set(${_var} "${_dir}" CACHE STRING "${_doc}" FORCE)
  endif()
  set(${_var} "${_dir}" CACHE STRING "${_doc}")
  set_property(CACHE ${_var} PROPERTY TYPE STRING)
endwhile()
# The service package's documentation folder (examples under it).
set(GSMS_DOC_DIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/gsmsd")
# The commented TEVRAK.INI that tmpfiles.d copies to /etc/gsms when there is none.
set(GSMS_DATA_DIR "${CMAKE_INSTALL_DATAROOTDIR}/gsmsd")
# The scripts the installed settings name: the tech alarm and the incoming command.
set(GSMS_LIBEXEC_DIR "${CMAKE_INSTALL_LIBEXECDIR}/gsmsd")
set(GSMS_FULL_LIBEXEC_DIR "${CMAKE_INSTALL_PREFIX}/${GSMS_LIBEXEC_DIR}")

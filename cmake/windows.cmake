# What the Windows build (cmake/mingw-w64-x86_64.cmake) needs besides the sources.

# GoogleTest built from the sources Debian ships (there is no MinGW package of it); it defines
# GTest::gtest and GTest::gtest_main itself. Added before the project's warning flags, which
# are not its concern.
if(GSMS_BUILD_TESTS)
  set(GSMS_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the Windows build")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${GSMS_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()

# Windows 7 and later. The gateway works in single-byte text: the "A" functions of the API.
add_compile_definitions(_WIN32_WINNT=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX)
# MinGW's localtime_r (over localtime_s), which the clock uses as on POSIX.
add_compile_definitions(_POSIX_THREAD_SAFE_FUNCTIONS=200112L)

# Tests run under Wine in a prefix of the build's own, never the user's ~/.wine.
if(CMAKE_CROSSCOMPILING AND CMAKE_CROSSCOMPILING_EMULATOR)
  set(GSMS_WINEPREFIX ${CMAKE_BINARY_DIR}/wine)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      env WINEPREFIX=${GSMS_WINEPREFIX} WINEDEBUG=-all ${CMAKE_CROSSCOMPILING_EMULATOR})
endif()

# Icon, manifest and version information of a Windows program (src/app/windows_program.rc.in):
#   gsms_windows_program(gsmsd "Velkora GSM/SMS gateway without a window" [MANIFEST])
# The icon is the operator window's, packed from its pictures; the manifest is
# src/app/windows.manifest unless another is given (a window that wants the common controls
# version 6 names its own).
enable_language(RC)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(GSMS_ICON ${CMAKE_BINARY_DIR}/gsms.ico)
set(GSMS_ICON_PICTURES ${CMAKE_SOURCE_DIR}/src/ui/pictures/icon_16.png
    ${CMAKE_SOURCE_DIR}/src/ui/pictures/icon_32.png ${CMAKE_SOURCE_DIR}/src/ui/pictures/icon_64.png)
add_custom_command(OUTPUT ${GSMS_ICON}
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tools/png_to_ico.py ${GSMS_ICON}
          ${GSMS_ICON_PICTURES}
  DEPENDS ${CMAKE_SOURCE_DIR}/tools/png_to_ico.py ${GSMS_ICON_PICTURES}
  COMMENT "Packing the program icon")
add_custom_target(gsms_icon DEPENDS ${GSMS_ICON})

function(gsms_windows_program target description)
  set(GSMS_RC_NAME ${target})
  set(GSMS_RC_DESCRIPTION ${description})
  set(GSMS_RC_ICON ${GSMS_ICON})
  set(GSMS_RC_MANIFEST ${CMAKE_SOURCE_DIR}/src/app/windows.manifest)
  if(ARGC GREATER 2)
    set(GSMS_RC_MANIFEST ${ARGV2})
  endif()
  set(rc ${CMAKE_BINARY_DIR}/resources/${target}.rc)
  configure_file(${CMAKE_SOURCE_DIR}/src/app/windows_program.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${GSMS_ICON};${GSMS_RC_MANIFEST}")
  add_dependencies(${target} gsms_icon)
endfunction()

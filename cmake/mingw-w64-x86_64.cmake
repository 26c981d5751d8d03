# Cross build for 64-bit Windows with Debian's MinGW-w64 (the "posix" thread model, so that
# std::thread and std::mutex work), tested under Wine:
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(GSMS_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${GSMS_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${GSMS_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${GSMS_MINGW_TRIPLE}-windres)
# The message compiler, for the event log messages of gsmsd.exe.
set(GSMS_WINDMC ${GSMS_MINGW_TRIPLE}-windmc)

set(CMAKE_FIND_ROOT_PATH /usr/${GSMS_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs that stand alone: the compiler's runtime (libstdc++, libgcc, winpthreads) is linked
# in, so nothing but the system's own DLLs needs to travel with them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests run the programs under Wine with a prefix of their own in the build folder.
find_program(GSMS_WINE wine)
if(GSMS_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${GSMS_WINE})
endif()

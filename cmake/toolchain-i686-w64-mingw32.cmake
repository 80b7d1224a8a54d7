# Cross-compiles the 32-bit Windows programs with MinGW-w64 (Debian packages
# g++-mingw-w64-i686 and binutils-mingw-w64-i686):
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake
# ctest then runs the .exe tests through Wine; the caller provides the
# WINEPREFIX (scripts/test-windows.sh makes a fresh one).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(ZELVORANT_MINGW_PREFIX i686-w64-mingw32)
# The "posix" compilers: their C++ library has std::thread and std::mutex
# (through winpthreads), which the simulated bus and the request polling use.
# GCC 12's "win32" flavour has neither.
find_program(CMAKE_C_COMPILER NAMES ${ZELVORANT_MINGW_PREFIX}-gcc-posix ${ZELVORANT_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${ZELVORANT_MINGW_PREFIX}-g++-posix ${ZELVORANT_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${ZELVORANT_MINGW_PREFIX}-windres REQUIRED)
find_program(ZELVORANT_OBJDUMP NAMES ${ZELVORANT_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${ZELVORANT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(ZELVORANT_WINE NAMES wine)
if(ZELVORANT_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZELVORANT_WINE})
endif()

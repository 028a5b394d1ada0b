# Cross build of the 64-bit zamkt.dll with Debian's mingw-w64
# (package g++-mingw-w64-x86-64):
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

# The "-posix" compilers: GoogleTest and the C++ library's threads need the
# POSIX thread model, which the default "-win32" ones lack. The C++ runtime
# and winpthread are linked statically (top-level CMakeLists.txt), so nothing
# of the compiler's has to ship beside the DLL.
find_program(CMAKE_C_COMPILER NAMES x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# CTest runs the cross-built test programs under Wine (tests/wine/run.sh
# prepares its prefix and server first).
find_program(ZAMKT_WINE NAMES wine)
if(ZAMKT_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZAMKT_WINE})
endif()

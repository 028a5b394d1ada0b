# What the two mingw-w64 toolchain files share. They set ZAMKT_MINGW_TRIPLET
# (i686-w64-mingw32, x86_64-w64-mingw32) and CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)

# The "-posix" compilers: GoogleTest and the C++ library's threads need the
# POSIX thread model, which the default "-win32" ones lack. The C++ runtime
# and winpthread are linked statically (top-level CMakeLists.txt), so nothing
# of the compiler's has to ship beside the DLL.
find_program(CMAKE_C_COMPILER NAMES ${ZAMKT_MINGW_TRIPLET}-gcc-posix ${ZAMKT_MINGW_TRIPLET}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${ZAMKT_MINGW_TRIPLET}-g++-posix ${ZAMKT_MINGW_TRIPLET}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${ZAMKT_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZAMKT_MINGW_TRIPLET})
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

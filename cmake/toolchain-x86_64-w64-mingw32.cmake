# Cross-build for Windows (64-bit) with Debian's MinGW-w64 (package mingw-w64):
#   cmake -S . -B build-win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-w64-mingw32.cmake
# The POSIX thread model of the compiler (the -posix variants) gives the C++ standard library its
# threads and mutexes; its programs need libwinpthread-1.dll beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(OPX_MINGW_TRIPLET x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${OPX_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OPX_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${OPX_MINGW_TRIPLET}-windres)

# Libraries and headers come from the MinGW tree only; programs (Python, the shell) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${OPX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests run the programs through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine64)

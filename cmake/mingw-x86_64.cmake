# Cross-build for 64-bit Windows (x86-64) with Debian's mingw-w64, using the
# "posix" thread model compilers whose libstdc++ has std::thread. The same
# approach as mingw-i686.cmake; x86-64 does its double arithmetic in SSE2
# already, so no floating-point flags are needed.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
# The 64-bit Wine loader, run directly: no 32-bit emulation in the way. Its
# prefix and server come from the environment (scripts/wine64-env.sh).
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)

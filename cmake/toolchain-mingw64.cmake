# Cross build for 64-bit Windows with Debian's MinGW-w64. The -posix compilers use the
# winpthreads thread model, which std::thread needs; the default (win32) one lacks it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUENTA_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUENTA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUENTA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUENTA_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUENTA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything static: telvar.dll and ombrel.exe then need no DLL but the system's own.
# -static-libgcc -static-libstdc++ alone would still leave libwinpthread-1.dll.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Test programs run under Wine, in a prefix of their own inside the build folder.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh")

# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (posix threads variant, which
# std::thread and std::mutex need). Everything is linked statically so the programs run on
# a machine without the compiler's run-time libraries.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VQ31_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VQ31_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VQ31_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VQ31_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VQ31_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Test programs built for Windows run under Wine on the build machine.
find_program(VQ31_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(VQ31_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VQ31_WINE})
endif()

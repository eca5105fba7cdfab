# Cross-compiling the Windows libraries (scripts/build-windows-deps.sh) for 64-bit Windows with
# Debian's mingw-w64, posix threads variant like the programs. Unlike cmake/mingw-w64.cmake it
# does not force static executables or run anything under Wine: the libraries build no programs
# of their own, and Qt takes its code generators from the build machine's Qt.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VQ31_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VQ31_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VQ31_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VQ31_MINGW_PREFIX}-windres)

# Libraries built earlier in the same run are installed into their own folders; the script
# passes them in VQ31_WINDOWS_DEPS_PREFIXES (a ;-list) so later stages find them.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${VQ31_MINGW_PREFIX} $ENV{VQ31_WINDOWS_DEPS_PREFIXES})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

#!/usr/bin/env bash
# Cross-builds the Windows programs into build-windows/: the link, signal, calibration and
# worker libraries, a statically linked vq31ctl.exe that runs alone, and the link, worker and
# file unit tests (run under Wine by scripts/test-windows.sh). Installs the mingw-w64 compiler and
# Wine first when they are missing. There is no workbook library or Qt for this compiler, so
# the window program is not built and vq31ctl.exe refuses the workbook commands.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh g++-mingw-w64-x86-64-posix wine64 googletest libz-mingw-w64-dev

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DCMAKE_BUILD_TYPE=${VQ31_WINDOWS_BUILD_TYPE:-Release}
cmake --build build-windows -j "$jobs" \
    --target vq31ctl test_link_unit test_worker_unit test_child_process test_fileio_unit
echo "built build-windows/ctl/vq31ctl.exe"

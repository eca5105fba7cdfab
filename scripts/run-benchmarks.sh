#!/usr/bin/env bash
# Builds every benchmark in Release (build-bench/) and runs each once, briefly, so none can
# rot: a benchmark that does not compile or fails fails the run. Each prints its own ratios;
# the full runs (with more repetitions) are for measuring by hand, see bench/.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVQ31_BENCH=ON \
    -DVQ31_TESTS=OFF >/dev/null
cmake --build build-bench -j "$jobs"
export VQ31_BENCH_QUICK=1
failed=0
ran=0
for b in build-bench/bench/bench_*; do
    [ -x "$b" ] || continue
    name=$(basename "$b")
    echo "== $name"
    case "$name" in
    bench_workbook_memory) args=(2) ;;                # one small package size in MB
    *) args=(--benchmark_min_time=0.01) ;;
    esac
    if timeout 300 "$b" "${args[@]}" 2>&1 | tail -n 25; then
        ran=$((ran + 1))
    else
        echo "benchmark $name failed"
        failed=$((failed + 1))
    fi
done
echo "benchmarks: $ran ran, $failed failed"
[ "$failed" -eq 0 ]

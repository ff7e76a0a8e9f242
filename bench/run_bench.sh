#!/bin/sh
# End-to-end benchmark: builds Orvalix (Release), makes 10 min, 1 h and 3 h inputs from the bundled
# sample, times Orvalix and every installed peer on one core, and writes bench/RESULTS.md.
# Installs and downloads nothing. Usage: bench/run_bench.sh [build-dir]   (default: build-bench)
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build-bench"}
[ $# -gt 0 ] && shift

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORVALIX_TESTS=OFF >/dev/null
cmake --build "$build" --target orvalix -j2 >/dev/null
# The frame analysis per vector level, where Google Benchmark is installed.
stages=
if cmake -S "$root" -B "$build" -DORVALIX_BENCH=ON >/dev/null 2>&1 &&
   cmake --build "$build" --target orvalix_stages_bench -j2 >/dev/null 2>&1; then
  stages="--stages $build/bench/orvalix_stages_bench"
fi

compiler=$(${CXX:-c++} --version | head -n 1)
exec python3 "$root/bench/bench_driver.py" --bin "$build/orvalix" \
    --sample "$root/samples/speech16k.wav" --work "$build/bench-data" \
    --report "$root/bench/RESULTS.md" --compiler "$compiler" $stages "$@"

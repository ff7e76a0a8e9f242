#!/bin/sh
# One long file on two threads: builds orvalix (Release), times 1 h of speech end to end with
# ORVALIX_THREADS=2 against one thread, alternating, and writes its section of bench/RESULTS.md.
# Usage: bench/run_threads_bench.sh [build-dir] [--runs N]   (default build-dir: build-bench)
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build-bench"}
[ $# -gt 0 ] && shift

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORVALIX_TESTS=OFF >/dev/null
cmake --build "$build" --target orvalix -j2 >/dev/null
exec python3 "$root/bench/threads_bench.py" --bin "$build/orvalix" \
    --sample "$root/samples/speech16k.wav" --work "$build/bench-data" \
    --report "$root/bench/RESULTS.md" "$@"

#!/bin/sh
# Corpus-run benchmark: builds orvalix and orvalix-batch (Release), times orvalix-batch against
# orvalix-corpus on 200 eight-second files, measures the output size of every format, and writes
# the "Corpus runs" section of bench/RESULTS.md. Usage: bench/run_batch_bench.sh [build-dir]
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build-bench"}
[ $# -gt 0 ] && shift

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORVALIX_TESTS=OFF >/dev/null
cmake --build "$build" --target orvalix orvalix-batch -j2 >/dev/null
mkdir -p "$build/batch-bench-data"
exec python3 "$root/bench/batch_bench.py" --build "$build" --source "$root" \
    --work "$build/batch-bench-data" --report "$root/bench/RESULTS.md" "$@"

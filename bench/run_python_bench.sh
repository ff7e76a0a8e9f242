#!/bin/sh
# Python benchmark: builds the program and the Python package (Release, ORVALIX_PYTHON=ON), then
# bench/python_bench.py times orvalix.mfcc on an hour against the program, mfcc_files on two
# threads against one, and torchaudio when installed; it writes the "## Python" section of
# bench/RESULTS.md. Usage: bench/run_python_bench.sh [build-dir]   (default: build-bench)
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build-bench"}
[ $# -gt 0 ] && shift

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORVALIX_TESTS=OFF -DORVALIX_PYTHON=ON >/dev/null
cmake --build "$build" --target orvalix orvalix_python -j2 >/dev/null

PYTHONPATH="$build/python" exec /usr/bin/python3 "$root/bench/python_bench.py" \
    --bin "$build/orvalix" --data "$build/bench-data" --report "$root/bench/RESULTS.md" "$@"

#!/bin/sh
# Builds the whole tree with AddressSanitizer and UndefinedBehaviorSanitizer and runs every test
# under them. Usage: dev/ci_sanitize.sh [build-dir]   (default: build-asan beside the sources)
set -eu
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-$source_dir/build-asan}
jobs=${JOBS:-2}

# Any finding ends the process with a report; leaks count as findings too.
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1}
UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export ASAN_OPTIONS UBSAN_OPTIONS

cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=Debug -DORVALIX_SANITIZE=ON \
    -DORVALIX_TESTS=ON -DORVALIX_PLOT_TESTS=ON
cmake --build "$build_dir" -j "$jobs"
cd "$build_dir"
# The installed-package test links the (instrumented) library into an example program built
# without the sanitizer runtime, which cannot link; it belongs to the normal build only.
ctest --output-on-failure -j "$jobs" -E '^e2e_test_embedding$'


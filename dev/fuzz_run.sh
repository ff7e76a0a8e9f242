#!/bin/sh
# Shared by fuzz_smoke.sh and fuzz_campaign.sh: builds the libFuzzer targets with clang and runs
# each one for the given seconds on a copy of its committed seed corpus (new inputs go to a
# working corpus in the build folder; the committed seeds stay untouched). Prints one summary
# line per target ("fuzz_<target>: <executions> executions, <status>") and fails on a finding.
# Usage: dev/fuzz_run.sh <seconds-per-target> <build-dir> [extra libFuzzer flags...]
set -eu
seconds=$1
build_dir=$2
shift 2
source_dir=$(cd "$(dirname "$0")/.." && pwd)
jobs=${JOBS:-2}

if ! command -v clang++ >/dev/null 2>&1; then
    echo "fuzz: clang++ not found, fuzzing skipped"
    exit 0
fi
CC=clang CXX=clang++ cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DORVALIX_FUZZ=ON -DORVALIX_TESTS=OFF >/dev/null
cmake --build "$build_dir" -j "$jobs" --target fuzz_wave fuzz_command_line fuzz_analysis fuzz_frontend \
    fuzz_batch_lists >/dev/null

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=0
for target in wave command_line analysis frontend batch_lists; do
    work="$build_dir/corpus/$target"
    artifacts="$build_dir/findings/$target/"
    mkdir -p "$work" "$artifacts"
    log="$build_dir/fuzz_$target.log"
    # A run may not allocate more than 1 GiB nor spend more than 10 s on one input.
    if "$build_dir/fuzz/fuzz_$target" -max_total_time="$seconds" -rss_limit_mb=1024 -timeout=10 \
        -max_len=4096 -print_final_stats=1 -artifact_prefix="$artifacts" "$@" \
        "$work" "$source_dir/fuzz/corpus/$target" >"$log" 2>&1; then
        status=ok
    else
        status="FINDING (see $log and $artifacts)"
        failed=1
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    # With -fork the workers' totals come as "#N: cov: ..." lines instead.
    [ -n "$runs" ] || runs=$(sed -n 's/^#\([0-9]*\):.*/\1/p' "$log" | tail -n 1)
    echo "fuzz_$target: ${runs:-?} executions, $status"
done
exit $failed

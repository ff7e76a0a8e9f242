#!/bin/sh
# A long fuzz campaign on every target, one worker per core by default; the working corpora in the
# build folder grow from run to run. Usage: dev/fuzz_campaign.sh [seconds-per-target]
# [build-dir] [workers]; defaults 3600 s, build-fuzz beside the sources and 2 workers. Minimise
# anything new worth keeping into fuzz/corpus/<target>/ with -merge=1 by hand.
set -eu
source_dir=$(cd "$(dirname "$0")/.." && pwd)
workers=${3:-2}
exec "$source_dir/dev/fuzz_run.sh" "${1:-3600}" "${2:-$source_dir/build-fuzz}" \
    -fork="$workers" -ignore_crashes=0

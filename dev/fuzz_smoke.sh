#!/bin/sh
# A short fuzz run of every target, as CI does it. Usage: dev/fuzz_smoke.sh [seconds-per-target]
# [build-dir]; defaults 60 s and build-fuzz beside the sources. Skips with a note without clang.
set -eu
source_dir=$(cd "$(dirname "$0")/.." && pwd)
exec "$source_dir/dev/fuzz_run.sh" "${1:-60}" "${2:-$source_dir/build-fuzz}"

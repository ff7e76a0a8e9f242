#!/bin/sh
# Builds the program four ways (g++ Debug, g++ Release, g++ with ASan+UBSan, clang++ Release) and
# checks that all four write byte-identical features and console text for the bundled sample and
# a few generated files under several option sets. Usage: dev/determinism.sh [work-dir]
# (default: build-determinism beside the sources). Only the orvalix target is built.
set -eu
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$source_dir/build-determinism}
jobs=${JOBS:-2}
mkdir -p "$work"
work=$(cd "$work" && pwd)

build() {  # name, compiler, extra cmake arguments...
    name=$1 compiler=$2
    shift 2
    if ! command -v "$compiler" >/dev/null 2>&1; then
        echo "determinism: $compiler not found, $name skipped"
        return 1
    fi
    CXX=$compiler cmake -S "$source_dir" -B "$work/$name" -DORVALIX_TESTS=OFF "$@" >/dev/null
    cmake --build "$work/$name" -j "$jobs" --target orvalix >/dev/null
}

builds=""
build gcc-debug g++ -DCMAKE_BUILD_TYPE=Debug && builds="$builds gcc-debug"
build gcc-release g++ -DCMAKE_BUILD_TYPE=Release && builds="$builds gcc-release"
build gcc-sanitize g++ -DCMAKE_BUILD_TYPE=Debug -DORVALIX_SANITIZE=ON && builds="$builds gcc-sanitize"
build clang-release clang++ -DCMAKE_BUILD_TYPE=Release && builds="$builds clang-release"

inputs="$work/inputs"
rm -rf "$inputs"
option_sets=$(python3 "$source_dir/dev/determinism_inputs.py" "$inputs")
cp "$source_dir/samples/speech16k.wav" "$inputs/"

failed=0
compared=0
for name in $builds; do
    out="$work/out-$name"
    rm -rf "$out"
    mkdir -p "$out"
    for input in "$inputs"/*.wav; do
        n=0
        echo "$option_sets" | while IFS= read -r options; do
            n=$((n + 1))
            base="$out/$(basename "$input" .wav)-$n"
            # shellcheck disable=SC2086  # the option set splits into its arguments
            "$work/$name/orvalix" -Q0 -O "$input" "$base.txt" $options >"$base.stdout" 2>"$base.stderr" \
                || echo "status $?" >>"$base.stderr"
        done
    done
done
first=""
for name in $builds; do
    if [ -z "$first" ]; then
        first=$name
        continue
    fi
    compared=$((compared + 1))
    if diff -r "$work/out-$first" "$work/out-$name" >/dev/null; then
        echo "determinism: $name = $first"
    else
        echo "determinism: $name DIFFERS from $first:"
        diff -rq "$work/out-$first" "$work/out-$name" | head -n 20
        failed=1
    fi
done
files=$(find "$work/out-$first" -name '*.txt' | wc -l)
echo "determinism: $files feature files compared across $((compared + 1)) builds"
exit $failed

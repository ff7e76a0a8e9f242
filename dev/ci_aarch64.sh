#!/bin/sh
# Cross-builds for aarch64 (NEON lanes) and runs the unit tests (the stream's exactness table among
# them), the differential test against
# the literal pipeline and the shared reference runs under qemu-aarch64.
# Needs the Debian packages g++-aarch64-linux-gnu, qemu-user and libgtest-dev (whose sources in
# /usr/src/googletest are built here with the cross compiler).
# Usage: dev/ci_aarch64.sh [build-dir [corpus-dir]]
#   (defaults: build-aarch64 beside the sources, and the repository's copy of the reference runs;
#   the shared corpus beside the checkout is run too when present)
set -eu
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-$source_dir/build-aarch64}
mkdir -p "$build_dir" && build_dir=$(cd "$build_dir" && pwd)
jobs=${JOBS:-2}
toolchain=$source_dir/cmake/aarch64-linux-gnu.cmake
corpus=$(cd "${2:-$source_dir/tests/golden/shared}" && pwd)

cmake -S /usr/src/googletest -B "$build_dir/googletest" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$build_dir/googletest-arm" \
  > /dev/null
cmake --build "$build_dir/googletest" -j "$jobs" --target install > /dev/null

cmake -S "$source_dir" -B "$build_dir/orvalix" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DORVALIX_TESTS=ON -DCMAKE_FIND_ROOT_PATH="$build_dir/googletest-arm"
targets="orvalix orvalix_reference_tests"
for folder in main wave dsp modules library; do
  [ -d "$source_dir/tests/$folder" ] && targets="$targets orvalix_${folder}_tests"
done
cmake --build "$build_dir/orvalix" -j "$jobs" --target $targets

cd "$build_dir/orvalix"
# The gtest executables (qemu-aarch64 through CTest's emulator); the scripted tests run x86 tools,
# and an address-space limit caps qemu itself rather than the program it runs.
ctest --output-on-failure -j "$jobs" -E '^(e2e_|golden_|frontend_|python_|docs_)|RunningOutOfMemory'

# The reference runs, through a launcher that runs the Arm binary under qemu.
launcher=$build_dir/orvalix-under-qemu
printf '#!/bin/sh\nexec qemu-aarch64 "%s" "$@"\n' "$build_dir/orvalix/orvalix" > "$launcher"
chmod +x "$launcher"
runner=$source_dir/tests/golden/run_reference_corpus.py
/usr/bin/python3 "$runner" --bin "$launcher" --corpus "$corpus"
shared=$source_dir/../shared/golden
if [ -d "$shared" ] && [ "$(cd "$shared" && pwd)" != "$corpus" ]; then
  /usr/bin/python3 "$runner" --bin "$launcher" --corpus "$shared"
fi

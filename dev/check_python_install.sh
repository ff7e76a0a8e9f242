#!/usr/bin/env bash
# The README's install line for the Python package, into a scratch folder instead of the system:
# builds it with pip from this checkout (Debian's setuptools and pybind11, no package index) and
# checks that the sample's features are the program's file byte for byte and that it runs the
# lane width the processor allows (the Python test's row for it, on the installed package).
#   dev/check_python_install.sh [build-dir with the orvalix program]
set -euo pipefail
cd "$(dirname "$0")/.."
program=$(realpath "${1:-build}/orvalix")
target=$(mktemp -d)
trap 'rm -rf "$target" python/build python/orvalix.egg-info' EXIT
/usr/bin/python3 -m pip install --quiet --root-user-action=ignore --no-build-isolation --no-index --no-deps --target "$target/site" ./python
"$program" samples/speech16k.wav "$target/program.txt" -Q0 >/dev/null
cd "$target" && PYTHONPATH="$target/site" /usr/bin/python3 -c "
import orvalix
orvalix.write_text(orvalix.mfcc_file('$OLDPWD/samples/speech16k.wav'), 'python.txt')"
cmp "$target/program.txt" "$target/python.txt"
# The installed package's lane width against the processor's flags.
PYTHONPATH="$target/site" ORVALIX_BIN="$program" ORVALIX_CORPUS=/nonexistent /usr/bin/python3 -m pytest \
  -q -p no:cacheprovider "$OLDPWD/tests/python/test_orvalix.py" -k lanes >/dev/null
echo "pip built the package; its features of the sample are the program's file byte for byte," \
  "and it runs $(PYTHONPATH="$target/site" /usr/bin/python3 -c 'import orvalix; print(orvalix.lane_width())') lanes as the processor allows"

#!/usr/bin/env bash
# Manual check of the Debian package: builds it, installs it with dpkg (needs root; it changes
# this machine's /usr), runs the installed program and its man page, then removes the package.
#   dev/check_deb.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-deb}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DORVALIX_TESTS=OFF -DORVALIX_PYTHON=ON >/dev/null
cmake --build "$build" -j 2 >/dev/null
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/orvalix_*.deb | head -n 1)
echo "package: $deb"
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'
apt-get install -y -qq "./$deb" >/dev/null
trap 'dpkg -r orvalix >/dev/null' EXIT
status=0
/usr/bin/orvalix >/dev/null || status=$?
[ "$status" -eq 255 ] || { echo "orvalix without arguments: status $status, expected 255"; exit 1; }
work=$(mktemp -d)
cp samples/speech16k.wav "$work/in.wav"
(cd "$work" && /usr/bin/orvalix -Q0 in out >/dev/null && test -s out.txt)
(cd "$work" && /usr/bin/python3 -c "import orvalix; orvalix.write_text(orvalix.mfcc_file('in.wav'), 'py.txt')" &&
 cmp out.txt py.txt) || { echo "the system python3's orvalix differs from the program"; exit 1; }
man -P cat orvalix 2>/dev/null | grep -q "orvalix" || { echo "man orvalix shows nothing"; exit 1; }
command -v orvalix-corpus orvalix-plot >/dev/null
rm -rf "$work"
echo "the package installs, runs, shows its man page and serves the system python3"

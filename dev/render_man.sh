#!/usr/bin/env bash
# The man page as plain text, for readers without man (docs/orvalix.1.txt).
#   dev/render_man.sh          rewrites docs/orvalix.1.txt from docs/orvalix.1
#   dev/render_man.sh --check  fails when docs/orvalix.1.txt is not what the page renders to
set -euo pipefail
cd "$(dirname "$0")/.."
command -v groff >/dev/null 2>&1 || { echo "render_man: groff is missing (apt-get install groff-base)" >&2; exit 1; }

# 78 columns, no hyphenation, no overstriking: the same text on every machine.
render() { LC_ALL=C.UTF-8 groff -man -Tutf8 -P-cbou -rLL=78n -rHY=0 -rcR=1 docs/orvalix.1; }

if [ "${1:-}" = --check ]; then
  if render | diff -u docs/orvalix.1.txt -; then
    echo "docs/orvalix.1.txt matches docs/orvalix.1"
  else
    echo "docs/orvalix.1.txt is out of date: run dev/render_man.sh"
    exit 1
  fi
else
  render >docs/orvalix.1.txt
fi

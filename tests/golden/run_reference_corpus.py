"""Runs a reference corpus (the repository's copy in tests/golden/shared, or ../shared/golden beside
the checkout, which may hold newer cases) against the binary with the corpus's own checker.

A case whose input file is missing from the corpus cannot be laid out: it is reported as a failure,
and the checker runs the other cases from a filtered copy of cases.json.
"""

import argparse
import json
import os
import subprocess
import sys
import tempfile


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--corpus", required=True)
    args = parser.parse_args()
    corpus = os.path.abspath(args.corpus)
    if not os.path.isfile(os.path.join(corpus, "cases.json")):
        print("FAILED: no reference corpus at %s" % corpus)
        return 1
    with open(os.path.join(corpus, "cases.json")) as fh:
        document = json.load(fh)

    def complete(case):
        sources = [f["src"] for f in case["files"] if "src" in f]
        return all(os.path.exists(os.path.join(corpus, s)) for s in sources)

    runnable = [c for c in document["cases"] if complete(c)]
    incomplete = [c["id"] for c in document["cases"] if not complete(c)]
    for name in incomplete:
        print("FAILED %s: its input file is missing from the corpus" % name)

    with tempfile.TemporaryDirectory(prefix="orvalix_corpus_") as copy:
        for entry in ("blobs", "inputs"):
            os.symlink(os.path.join(corpus, entry), os.path.join(copy, entry))
        with open(os.path.join(copy, "cases.json"), "w") as fh:
            json.dump(dict(document, cases=runnable), fh)
        status = subprocess.call([sys.executable, os.path.join(corpus, "check.py"),
                                  "--bin", os.path.abspath(args.bin), "--corpus", copy])
    return 1 if incomplete else status


if __name__ == "__main__":
    sys.exit(main())

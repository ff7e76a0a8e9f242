"""Runs the shared reference corpus (../shared/golden beside the checkout) against the binary.

Cases whose input files are missing from the corpus cannot be laid out; they are listed and left
out, and the corpus's own checker runs the rest from a filtered copy of cases.json.
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
        print("no reference corpus at %s" % corpus)
        return 1
    with open(os.path.join(corpus, "cases.json")) as fh:
        document = json.load(fh)

    def complete(case):
        sources = [f["src"] for f in case["files"] if "src" in f]
        return all(os.path.exists(os.path.join(corpus, s)) for s in sources)

    runnable = [c for c in document["cases"] if complete(c)]
    for case in document["cases"]:
        if not complete(case):
            print("SKIP %s: its input file is missing from the corpus" % case["id"])

    with tempfile.TemporaryDirectory(prefix="orvalix_corpus_") as copy:
        for entry in ("blobs", "inputs"):
            os.symlink(os.path.join(corpus, entry), os.path.join(copy, entry))
        with open(os.path.join(copy, "cases.json"), "w") as fh:
            json.dump(dict(document, cases=runnable), fh)
        return subprocess.call([sys.executable, os.path.join(corpus, "check.py"),
                                "--bin", os.path.abspath(args.bin), "--corpus", copy])


if __name__ == "__main__":
    sys.exit(main())

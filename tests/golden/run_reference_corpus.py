"""Runs a reference corpus (tests/golden/shared, or ../shared/golden beside the checkout) against
the binary: per case, in a fresh folder, status, output, errors and every file left as recorded."""

import argparse
import concurrent.futures
import json
import os
import shutil
import subprocess
import sys
import tempfile


def first_difference(want, got):
    wanted, gotten = want.split(b"\n"), got.split(b"\n")
    for i in range(max(len(wanted), len(gotten))):
        w = wanted[i] if i < len(wanted) else None
        g = gotten[i] if i < len(gotten) else None
        if w != g:
            return "line %d: expected %r got %r" % (i + 1, w, g)
    return "difference in the line ends"


def source_bytes(corpus, entry):  # a corpus file ("src") or a stored blob ("blob")
    source = entry["src"] if "src" in entry else os.path.join("blobs", entry["blob"])
    return open(os.path.join(corpus, source), "rb").read()


def kind(corpus, entry):
    if entry.get("dir"):
        return ("dir",)
    return ("link", entry["symlink"]) if "symlink" in entry else ("file", source_bytes(corpus, entry))


def layout(corpus, files, root):
    for entry in files:
        path = os.path.join(root, entry["name"])
        os.makedirs(path if entry.get("dir") else os.path.dirname(path), exist_ok=True)
        if "symlink" in entry:
            os.symlink(entry["symlink"], path)
        elif not entry.get("dir"):
            open(path, "wb").write(source_bytes(corpus, entry))


def left_behind(root):
    """{name: ("dir",) | ("link", target) | ("file", bytes)} for everything under root."""
    found = {}
    for folder, folders, files in os.walk(root):
        for path in (os.path.join(folder, name) for name in folders + files):
            found[os.path.relpath(path, root)] = (
                ("link", os.readlink(path)) if os.path.islink(path) else
                ("dir",) if os.path.isdir(path) else ("file", open(path, "rb").read()))
    return found


def stream_fault(name, expected, got, corpus):
    want = open(os.path.join(corpus, "blobs", expected["blob"]), "rb").read()
    if expected.get("match", "exact") != "prefix":
        return None if got == want else "%s: %s" % (name, first_difference(want, got))
    prefix = want[:expected["prefix_len"]]
    if not got.startswith(prefix):
        return "%s prefix: %s" % (name, first_difference(prefix, got[:len(prefix)]))
    ending = expected.get("ends_with")
    if ending is not None and (not got.endswith(ending.encode("latin-1"))
                               or got.count(b"\n") != want.count(b"\n")):
        return "%s: expected %d line(s) ending in %r, got %r" % (
            name, want.count(b"\n"), ending, got[-160:])
    return None


def case_fault(binary, corpus, case):
    """None when the case passes, else why not."""
    missing = [f["src"] for f in case["files"]
               if "src" in f and not os.path.exists(os.path.join(corpus, f["src"]))]
    if missing:
        return "its input file %s is missing from the corpus" % missing[0]
    with tempfile.TemporaryDirectory(prefix="orvalix_case_") as root:
        layout(corpus, case["files"], root)
        try:
            run = subprocess.run(["/bin/sh", "-c", 'exec "$@" <&-', "sh", binary] + case["argv"],
                                 cwd=root, capture_output=True, timeout=20)
        except subprocess.TimeoutExpired:
            return "timeout after 20 s"
        expect = case["expect"]
        if run.returncode != expect["status"]:
            return "status %d, expected %d; stderr ends %r" % (
                run.returncode, expect["status"], run.stderr[-200:])
        fault = (stream_fault("stdout", expect["stdout"], run.stdout, corpus)
                 or stream_fault("stderr", expect["stderr"], run.stderr, corpus))
        if fault:
            return fault
        found = left_behind(root)
        wanted = {name: kind(corpus, entry) for name, entry in expect["files"].items()}
        for name in sorted(set(found) | set(wanted)):
            got, want = found.get(name), wanted.get(name)
            if got == want:
                continue
            if not want or not got:
                return "file %s: %s" % (name, "should not exist after the run" if got else "missing")
            if want[0] == got[0] == "file":
                return "file %s: %s" % (name, first_difference(want[1], got[1]))
            return "file %s: expected %s, found %s" % (name, want[0], got[0])
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--corpus", required=True)
    args = parser.parse_args()
    binary, corpus = os.path.abspath(args.bin), os.path.abspath(args.corpus)
    if not os.path.isfile(os.path.join(corpus, "cases.json")):
        print("FAILED: no reference corpus at %s" % corpus)
        return 1
    cases = json.load(open(os.path.join(corpus, "cases.json")))["cases"]
    with concurrent.futures.ThreadPoolExecutor(os.cpu_count()) as pool:
        faults = list(pool.map(lambda case: case_fault(binary, corpus, case), cases))
    failed = [(case["id"], fault) for case, fault in zip(cases, faults) if fault]
    for name, fault in failed:
        print("FAIL %s: %s" % (name, fault))
    print("%d passed, %d failed" % (len(cases) - len(failed), len(failed)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""Run a program against the Orvalix corpus and compare it byte for byte.

usage: python3 check.py --bin /path/to/program [--corpus DIR] [--jobs N] [--show K]
                        [--only SUBSTR] [--keep]

For every case of DIR/cases.json: a fresh temporary directory is laid out with the
case's files, the program runs there with the case's arguments (stdin closed,
timeout 20 s), and its exit status, standard output, standard error and the
complete set of files left in the directory (names, kinds and bytes) are compared
with the expectations. Standard output/error are compared exactly, or by prefix
where the case says so (messages whose tail the implementer words).
Ends with "N passed, M failed"; exit status 0 only when M is 0.
"""

import argparse
import concurrent.futures
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
TIMEOUT_S = 20


# ---------------------------------------------------------------------------
# shared with make_corpus.py
# ---------------------------------------------------------------------------

def blob_path(corpus, digest):
    return os.path.join(corpus, "blobs", digest)


def digest_of(data):
    return hashlib.sha256(data).hexdigest()[:20]


def layout(corpus, files, root):
    """Create the case's files under root. files: list of dicts with 'name' and one
    of 'src' (corpus-relative file), 'blob' (digest), 'symlink' (target), 'dir'."""
    for f in files:
        path = os.path.join(root, f["name"])
        if f.get("dir"):
            os.makedirs(path, exist_ok=True)
            continue
        parent = os.path.dirname(path)
        if parent:
            os.makedirs(parent, exist_ok=True)
        if "symlink" in f:
            os.symlink(f["symlink"], path)
        elif "src" in f:
            shutil.copyfile(os.path.join(corpus, f["src"]), path)
        elif "blob" in f:
            shutil.copyfile(blob_path(corpus, f["blob"]), path)
        else:
            raise ValueError("bad file entry %r" % (f,))


def snapshot(root):
    """{relative name: ('dir',) | ('link', target) | ('file', bytes)} for everything
    under root (dot files included)."""
    snap = {}
    for dirpath, dirnames, filenames in os.walk(root):
        rel_dir = os.path.relpath(dirpath, root)
        for name in sorted(dirnames + filenames):
            full = os.path.join(dirpath, name)
            rel = name if rel_dir == "." else os.path.join(rel_dir, name)
            if os.path.islink(full):
                snap[rel] = ("link", os.readlink(full))
            elif os.path.isdir(full):
                snap[rel] = ("dir",)
            else:
                with open(full, "rb") as fh:
                    snap[rel] = ("file", fh.read())
    return snap


# ---------------------------------------------------------------------------
# comparison
# ---------------------------------------------------------------------------

def first_difference(want, got):
    """A one-line description of the first differing line."""
    wl = want.split(b"\n")
    gl = got.split(b"\n")
    for i in range(max(len(wl), len(gl))):
        w = wl[i] if i < len(wl) else None
        g = gl[i] if i < len(gl) else None
        if w != g:
            def show(x):
                if x is None:
                    return "<no line>"
                t = repr(x)[1:]
                return t if len(t) <= 160 else t[:157] + "..."
            return "line %d: expected %s got %s" % (i + 1, show(w), show(g))
    return "difference in the line ends"


def compare_stream(name, expected, got, corpus):
    with open(blob_path(corpus, expected["blob"]), "rb") as fh:
        want = fh.read()
    if expected.get("match", "exact") == "prefix":
        n = expected["prefix_len"]
        pre = want[:n]
        if not got.startswith(pre):
            return "%s (prefix of %d bytes): %s" % (name, n, first_difference(pre, got[:len(pre)] if len(got) >= len(pre) else got))
        if expected.get("ends_with") is not None:
            end = expected["ends_with"].encode("latin-1")
            if not got.endswith(end) or got.count(b"\n") != want.count(b"\n"):
                return "%s: expected %d line(s) ending in %r after the prefix, got %r" % (
                    name, want.count(b"\n"), end, got[-160:])
        return None
    if got != want:
        return "%s: %s" % (name, first_difference(want, got))
    return None


def run_case(binary, corpus, case, keep=False):
    """Returns None when the case passes, else a one-line reason."""
    root = tempfile.mkdtemp(prefix="orvalix_case_")
    try:
        layout(corpus, case["files"], root)
        # stdin closed: the shell closes descriptor 0 and execs the program
        argv = ["/bin/sh", "-c", 'exec "$@" <&-', "sh", binary] + case["argv"]
        try:
            proc = subprocess.run(argv, cwd=root, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                  timeout=TIMEOUT_S)
        except subprocess.TimeoutExpired:
            return "timeout after %d s" % TIMEOUT_S
        except OSError as exc:
            return "cannot run the program: %s" % exc
        exp = case["expect"]
        rc = proc.returncode
        if rc < 0:
            return "killed by signal %d (expected status %d)" % (-rc, exp["status"])
        if rc != exp["status"]:
            msg = "exit status %d, expected %d" % (rc, exp["status"])
            tail = (proc.stderr or b"")[-200:]
            if tail:
                msg += "; stderr ends %r" % tail
            return msg
        for name in ("stdout", "stderr"):
            got = proc.stdout if name == "stdout" else proc.stderr
            r = compare_stream(name, exp[name], got, corpus)
            if r:
                return r
        snap = snapshot(root)
        want = exp["files"]
        for rel in sorted(set(snap) | set(want)):
            if rel not in snap:
                return "file %s: missing (expected it to %s)" % (
                    rel, "be written" if want[rel].get("written") else "remain")
            if rel not in want:
                return "file %s: should not exist after the run" % rel
            w = want[rel]
            g = snap[rel]
            if "dir" in w:
                if g[0] != "dir":
                    return "file %s: expected a directory" % rel
            elif "symlink" in w:
                if g != ("link", w["symlink"]):
                    return "file %s: expected a symlink to %s" % (rel, w["symlink"])
            else:
                if g[0] != "file":
                    return "file %s: expected a regular file, found %s" % (rel, g[0])
                src = (os.path.join(corpus, w["src"]) if "src" in w
                       else blob_path(corpus, w["blob"]))
                with open(src, "rb") as fh:
                    wb = fh.read()
                if g[1] != wb:
                    return "file %s: %s" % (rel, first_difference(wb, g[1]))
        return None
    finally:
        if keep:
            print("kept %s for case %s" % (root, case["id"]))
        else:
            shutil.rmtree(root, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--bin", required=True, help="program to test")
    ap.add_argument("--corpus", default=os.path.join(HERE, "corpus"))
    ap.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    ap.add_argument("--show", type=int, default=20, help="failing cases to print")
    ap.add_argument("--only", default=None, help="run only cases whose id contains this")
    ap.add_argument("--keep", action="store_true", help="keep the case directories")
    a = ap.parse_args()
    binary = os.path.abspath(a.bin)
    corpus = os.path.abspath(a.corpus)
    with open(os.path.join(corpus, "cases.json")) as fh:
        cases = json.load(fh)["cases"]
    if a.only:
        cases = [c for c in cases if a.only in c["id"]]
    results = {}
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, a.jobs)) as ex:
        futs = {ex.submit(run_case, binary, corpus, c, a.keep): c["id"] for c in cases}
        for fut in concurrent.futures.as_completed(futs):
            cid = futs[fut]
            try:
                results[cid] = fut.result()
            except Exception as exc:  # a fault of the checker counts as a failure
                results[cid] = "checker error: %r" % (exc,)
    failed = [(c["id"], results[c["id"]]) for c in cases if results[c["id"]]]
    for cid, why in failed[:max(0, a.show)]:
        print("FAIL %s: %s" % (cid, why))
    if len(failed) > a.show:
        print("... %d more failing case(s) not shown" % (len(failed) - a.show))
    print("%d passed, %d failed" % (len(cases) - len(failed), len(failed)))
    sys.exit(0 if not failed else 1)


if __name__ == "__main__":
    main()

"""End-to-end harness: builds wave files, runs the real orvalix binary in fresh folders, and checks
exact status, console text and the files left behind, case by case from tables."""

import argparse
import os
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import time
from types import SimpleNamespace

# The program's usage text and its refusal to overwrite, met by several tests.
USAGE = open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "usage.txt")).read()
EXISTS = "\nFile exists and no overwrite specified! Check parameter -O\n\n"


def arguments():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--source", required=True)
    return parser.parse_args()


def wave_bytes(samples, rate=16000, bits=16, channels=1, extra_chunks_before=b"", tail=b"", tag=1,
               data_size=None):
    """A PCM wave file; byte rate and block align in the wrapping 32-bit arithmetic the reader checks."""
    data = bytes(s & 0xFF for s in samples) if bits == 8 else struct.pack("<%dh" % len(samples), *samples) \
        if bits == 16 else bytes(len(samples) * max(1, bits // 8))
    fmt = struct.pack("<4sIHHIIHH", b"fmt ", 16, tag, channels, rate,
                      ((channels * rate * bits) & 0xFFFFFFFF) >> 3, (channels * bits // 8) & 0xFFFF, bits)
    return riff(fmt + extra_chunks_before + chunk(b"data", data, data_size) + tail)


def chunk(cid, body, size=None):
    return struct.pack("<4sI", cid, len(body) if size is None else size) + body


def riff(chunks):
    return struct.pack("<4sI", b"RIFF", 4 + len(chunks)) + b"WAVE" + chunks


class Folder:
    def __init__(self):
        self.path = tempfile.mkdtemp(prefix="orvalix_e2e_")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        subprocess.run(["chmod", "-R", "u+rwx", self.path])
        shutil.rmtree(self.path, ignore_errors=True)

    def file(self, name, data):
        full = os.path.join(self.path, name)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as fh:
            fh.write(data)
        return full

    def read(self, name):
        with open(os.path.join(self.path, name), "rb") as fh:
            return fh.read()

    def names(self):
        return sorted(os.path.relpath(os.path.join(root, n), self.path)
                      for root, dirs, files in os.walk(self.path) for n in dirs + files)


def run(binary, args, cwd, preexec=None, timeout=60):
    p = subprocess.run([binary] + list(args), cwd=cwd, stdin=subprocess.DEVNULL,
                       capture_output=True, timeout=timeout, preexec_fn=preexec)
    return SimpleNamespace(status=p.returncode, out=p.stdout.decode("latin-1"),
                           err=p.stderr.decode("latin-1"))


def start(argv, cwd, env=None, preexec=None):
    return subprocess.Popen(argv, cwd=cwd, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, preexec_fn=preexec)


def corpus_outcome(proc):
    """orvalix-corpus's status, last summary line, sorted failure lines and standard error."""
    # A generous limit: a loaded 2-core machine is many times slower than a quiet one.
    out, err = (text.decode("utf-8", "replace") for text in proc.communicate(timeout=900))
    lines = out.splitlines()
    return (proc.returncode, ([l for l in lines if " done, " in l] or [""])[-1],
            sorted(l for l in lines if l.startswith("failed: ")), err)


def wait_until(condition, seconds=60):
    """Polls for an event with a limit no loaded machine reaches; True when it came."""
    for _ in range(seconds * 10):
        if condition():
            return True
        time.sleep(0.1)
    return condition()


def running(pid_file):
    """The process whose id the file holds is alive (a zombie, not yet reaped, is not)."""
    try:
        with open(pid_file) as fh, open("/proc/%s/stat" % fh.read().strip()) as stat_file:
            return ") Z" not in stat_file.read()
    except (OSError, ValueError):
        return False


def nobody():
    """Drops to an unprivileged user (as root every file is readable)."""
    if os.geteuid() == 0:
        os.setgid(NOBODY)
        os.setuid(NOBODY)


def sanitized(binary):
    return b"__asan_init" in open(binary, "rb").read()


class Checks:
    """Collects failed expectations; ends the script with a summary line and a status."""

    def __init__(self):
        self.passed = self.failed = 0

    def equal(self, what, got, want):
        if got == want:
            self.passed += 1
        else:
            self.failed += 1
            print("FAIL %s:\n  expected %r\n  got      %r" % (what, want, got))

    def true(self, what, condition, detail=""):
        self.equal(what + (" " + detail if detail else ""), bool(condition), True)

    def cannot_run(self, reason):  # a missing prerequisite fails rather than passing untested
        self.true("cannot run the remaining checks: " + reason, False)
        self.finish()

    def finish(self):
        print("%d passed, %d failed" % (self.passed, self.failed))
        sys.exit(0 if self.failed == 0 else 1)


# Special entries of a case's files: a folder, a FIFO, a null device node (root only), a link, a
# file with a mode, a sparse file.
FOLDER, FIFO, DEVICE = "<folder>", "<fifo>", "<device>"
NOBODY = 65534


class Link(str):
    pass


class Sparse(tuple):
    pass


class Mode(bytes):
    def __new__(cls, data, mode):
        made = bytes.__new__(cls, data)
        made.mode = mode
        return made


def lay_out(folder, files):
    for name, what in files.items():
        path = os.path.join(os.fsencode(folder.path), os.fsencode(name))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if what is FOLDER:
            os.mkdir(path)
        elif what is FIFO:
            os.mkfifo(path)
        elif what is DEVICE:
            os.mknod(path, stat.S_IFCHR | 0o666, os.makedev(1, 3))
        elif isinstance(what, Link):
            os.symlink(what, path)
        else:
            with open(path, "wb") as fh:
                for offset, part in what if isinstance(what, Sparse) else [(0, what)]:
                    fh.seek(offset), fh.write(part)
            if isinstance(what, Mode):
                os.chmod(folder.path, 0o777)
                os.chmod(path, what.mode)


def check_case(checks, binary, name, files, argv, status, out, err, after=None, preexec=None):
    """One run in a fresh folder holding `files`; None expectations are not checked. `after`: the
    files added or changed, their bytes (None: any, callable: a test); no other file remains."""
    with Folder() as f:
        lay_out(f, files)
        try:
            r = run(binary, argv, f.path, preexec=preexec, timeout=20)
        except subprocess.TimeoutExpired:
            return checks.true(name + ": ends within 20 s", False)
        expected = [(g, w) for g, w in zip((r.status, r.out, r.err), (status, out, err)) if w is not None]
        checks.equal(name, tuple(g for g, _ in expected), tuple(w for _, w in expected))
        if after is None:
            return
        after = {os.fsdecode(file): want for file, want in after.items()}
        left = {os.path.relpath(os.path.join(root, n), f.path): os.path.join(root, n)
                for root, _, names in os.walk(f.path) for n in names}
        laid = set(os.fsdecode(file) for file, what in files.items() if what is not FOLDER)
        checks.equal(name + ": files left", sorted(left), sorted(laid | set(after)))
        for file, want in after.items():
            path = left.get(file)  # only a regular file is read: a FIFO would block
            got = open(path, "rb").read() if path and stat.S_ISREG(os.lstat(path).st_mode) else None
            checks.true("%s: %s holds what it should" % (name, file),
                        want is None or (want(got) if callable(want) else got == want))

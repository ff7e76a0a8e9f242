"""Small end-to-end harness: runs the real orvalix binary in fresh folders and checks exact output."""

import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile


def arguments():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--source", required=True)
    return parser.parse_args()


def wave_bytes(samples, rate=16000, bits=16, channels=1, extra_chunks_before=b"", tail=b""):
    """A canonical PCM wave file (optionally with chunks before the data and bytes after it)."""
    if bits == 8:
        data = bytes(samples)
    else:
        data = struct.pack("<%dh" % len(samples), *samples)
    block_align = channels * bits // 8
    fmt = struct.pack("<4sIHHIIHH", b"fmt ", 16, 1, channels, rate, rate * block_align, block_align, bits)
    body = b"WAVE" + fmt + extra_chunks_before + struct.pack("<4sI", b"data", len(data)) + data + tail
    return struct.pack("<4sI", b"RIFF", len(body)) + body


class Folder:
    """A temporary working folder for one scenario."""

    def __init__(self):
        self.path = tempfile.mkdtemp(prefix="orvalix_e2e_")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        for root, dirs, _ in os.walk(self.path):
            for d in dirs:
                os.chmod(os.path.join(root, d), 0o755)
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
        found = []
        for root, dirs, files in os.walk(self.path):
            for n in dirs + files:
                found.append(os.path.relpath(os.path.join(root, n), self.path))
        return sorted(found)


class Result:
    def __init__(self, proc):
        self.status = proc.returncode
        self.out = proc.stdout.decode("latin-1")
        self.err = proc.stderr.decode("latin-1")


def run(binary, args, cwd, preexec=None, timeout=60):
    proc = subprocess.run([binary] + list(args), cwd=cwd, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout,
                          preexec_fn=preexec)
    return Result(proc)


class Checks:
    """Collects failed expectations; ends the script with a summary line and a status."""

    def __init__(self):
        self.passed = 0
        self.failed = 0

    def equal(self, what, got, want):
        if got == want:
            self.passed += 1
        else:
            self.failed += 1
            print("FAIL %s:\n  expected %r\n  got      %r" % (what, want, got))

    def true(self, what, condition, detail=""):
        self.equal(what + (" " + detail if detail else ""), bool(condition), True)

    def cannot_run(self, reason):
        """A registered check whose prerequisite is missing fails rather than passing untested."""
        self.failed += 1
        print("FAIL cannot run the remaining checks: %s" % reason)
        self.finish()

    def skip(self, reason):
        """Status 77: CTest lists the test as skipped (for checks that need privileges)."""
        print("SKIPPED: %s" % reason)
        if self.failed:
            self.finish()
        sys.exit(77)

    def finish(self):
        print("%d passed, %d failed" % (self.passed, self.failed))
        sys.exit(0 if self.failed == 0 else 1)

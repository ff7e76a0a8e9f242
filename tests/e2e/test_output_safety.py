"""Publishing the output safely, by the program and by orvalix-batch, with the unnamed temporary
file and with the named one of file systems without O_TMPFILE (a preloaded shim, either answer)."""

import contextlib
import errno
import os
import random
import signal
import stat
import subprocess
import tempfile
import threading
import time

from e2e import DEVICE, FIFO, NOBODY, Checks, Folder, Link, arguments, lay_out, run, sanitized, start, wave_bytes

NO_TMPFILE_C = rb"""#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#define WRAP(name, parameters, arguments) int name parameters { \
    va_list ap; va_start(ap, flags); int mode = va_arg(ap, int); va_end(ap); \
    if ((flags & O_TMPFILE) == O_TMPFILE) { \
        errno = atoi(getenv("NO_TMPFILE_ERRNO")); return -1; } \
    __typeof__(name)* real = dlsym(RTLD_NEXT, #name); \
    return real arguments; }
WRAP(openat, (int dir, const char* path, int flags, ...), (dir, path, flags, mode))
WRAP(openat64, (int dir, const char* path, int flags, ...), (dir, path, flags, mode))
WRAP(open, (const char* path, int flags, ...), (path, flags, mode))
WRAP(open64, (const char* path, int flags, ...), (path, flags, mode))
"""


def through_fifo(argv, folder, fifo):
    """A run with a reader waiting on the FIFO named as output: its status, whether the FIFO
    stays, and what the reader got."""
    got = []
    reader = threading.Thread(target=lambda: got.append(open(fifo, "rb").read()), daemon=True)
    reader.start()
    r = run(argv[0], argv[1:], folder)
    stays = stat.S_ISFIFO(os.lstat(fifo).st_mode)
    if stays:
        reader.join(60)  # the writer has closed its end: the reader has every byte
    return r.status, stays, got[0] if got else None


def writing(proc, folder):
    """True once the output's temporary file exists, named or unnamed."""
    with contextlib.suppress(OSError):  # the run ended meanwhile
        return any(n.startswith(".orvalix-") for n in os.listdir(folder)) or any(
            os.readlink("/proc/%d/fd/%s" % (proc.pid, fd)).endswith("(deleted)")
            for fd in os.listdir("/proc/%d/fd" % proc.pid))


args = arguments()
binary, checks, rng = os.path.abspath(args.bin), Checks(), random.Random(11)
batch = os.path.join(os.path.dirname(binary), "orvalix-batch")
batch_files = ["out/a.txt", "out/orvalix-batch.log"]
short = wave_bytes([((i * 37) % 2001) - 1000 for i in range(8000)])
# 20 s analysed every millisecond into 21 columns: about 4 MB of text, long enough to interrupt.
long = wave_bytes([rng.randrange(-3000, 3000) for _ in range(16000 * 20)])
LONG = [binary, "long", "out", "-S1", "-M20", "-C"]

helper = tempfile.TemporaryDirectory(prefix="orvalix_preload_")  # removed at exit
library = os.path.join(helper.name, "no_tmpfile.so")
subprocess.run(["cc", "-shared", "-fPIC", "-x", "c", "-", "-o", library, "-ldl"],
               input=NO_TMPFILE_C, check=True)
if sanitized(binary):  # its runtime after ours
    os.environ["ASAN_OPTIONS"] = os.getenv("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"
# EISDIR is the answer of kernels older than O_TMPFILE.
modes = [("unnamed temporary", "", 0), ("named temporary", library, errno.EOPNOTSUPP),
         ("named temporary, old kernel", library, errno.EISDIR)]

with Folder() as f:
    f.file("in.wav", short), f.file("long.wav", long)
    run(binary, ["-Q0", "in", "new"], f.path)
    run(binary, ["-Q0", "long", "longnew"] + LONG[3:], f.path)
    new, long_new = f.read("new.txt"), f.read("longnew.txt")

# A FIFO or device named as output, or at the end of its link, with -O: written into as a
# stream, never replaced by a regular file (devices only as root, made here).
with Folder() as f:
    f.file("in.wav", short), f.file("in/a.wav", short)
    for node in [FIFO] + [DEVICE] * (os.geteuid() == 0):
        for tool, argv, output in (
                ("orvalix", [binary, "-Q0", "-O", "in", "out"], "out.txt"),
                ("orvalix through a link", [binary, "-Q0", "-O", "in", "l"], "node"),
                ("orvalix-batch", [batch, "--no-progress", "-O", "in", "out"], "out/a.txt")):
            lay_out(f, {output: node, "l.txt": Link("node")})
            path = os.path.join(f.path, output)
            if node is FIFO:
                outcome = through_fifo(argv, f.path, path)
            else:
                outcome = (run(argv[0], argv[1:], f.path).status,
                           stat.S_ISCHR(os.lstat(path).st_mode), new)
            checks.equal("%s -O into a %s: written into, kept" % (tool, node), outcome, (0, True, new))
            for name in (path, f.path + "/l.txt"):
                os.unlink(name)

for mode, preload, error in modes:
    os.environ.update(LD_PRELOAD=preload, NO_TMPFILE_ERRNO=str(error))  # for every run below

    with Folder() as f:  # orvalix-batch's files: complete, the program's mode, nothing else
        f.file("in/a.wav", short)
        r = run(batch, ["--no-progress", "in", "out"], f.path, lambda: os.umask(0o022))
        file_modes = [oct(os.stat(f.path + "/" + n).st_mode & 0o7777) for n in batch_files]
        checks.equal("%s: orvalix-batch's output and log" % mode,
                     (r.status, f.read("out/a.txt") == new, file_modes, f.names()),
                     (0, True, ["0o644"] * 2, ["in", "in/a.wav", "out"] + batch_files))

    with Folder() as f:  # a name that appears after the check: the concurrent writer's file stays
        f.file("long.wav", long)
        proc = start(LONG, f.path)
        while proc.stdout.readline() not in (b"", b"Reading .wav to buffer...\n"):
            pass  # until the input is read: the check is behind
        f.file("out.txt", b"the other writer's\n")
        err = proc.communicate(timeout=60)[1]
        checks.equal("%s: a name taken during the run" % mode,
                     (proc.returncode, err, f.read("out.txt"), f.names()),
                     (1, b"ERROR: Cannot write output file out.txt: File exists\n",
                      b"the other writer's\n", ["long.wav", "out.txt"]))

    with Folder() as f:  # -O writes through links, keeps mode, owner and group; a loop is an error
        lay_out(f, {"in.wav": short, "real/t.txt": b"old", "rel.txt": Link("real/t.txt"),
                    "abs.txt": Link(os.path.join(f.path, "rel.txt")), "loop.txt": Link("loop.txt"),
                    "real/dangling.txt": Link("made.txt"),
                    "dangling.txt": Link("real/dangling.txt")})
        target = os.path.join(f.path, "real/t.txt")
        os.chmod(target, 0o640), os.chown(target, NOBODY, NOBODY)
        loop = "ERROR: Cannot write output file loop.txt: Too many levels of symbolic links\n"
        for name, status, err, through, made in (
                ("loop", 1, loop, False, False), ("rel", 0, "", True, False),
                ("abs", 0, "", True, False), ("dangling", 0, "", False, True)):
            f.file("real/t.txt", b"old")
            r, info = run(binary, ["-Q0", "-O", "in", name], f.path), os.stat(target)
            made_new = os.path.isfile(f.path + "/real/made.txt") and f.read("real/made.txt") == new
            checks.equal("%s: -O through the link %s" % (mode, name),
                         (r.status, r.err, f.read("real/t.txt") == new, oct(info.st_mode & 0o7777),
                          info.st_uid, info.st_gid, made_new),
                         (status, err, through, "0o640", NOBODY, NOBODY, made))

    # Signals at random points of a long write: the old or the complete new output, nothing else.
    # SIGKILL only on unnamed files that replace nothing: a swap takes a hidden name for a moment.
    for sig, old in [(sig, old) for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP) for old in
                     (None, b"old features\n")] + [(signal.SIGKILL, None)] * (not preload):
        with Folder() as f:
            lay_out(f, {"long.wav": long, **({"out.txt": old} if old else {})})
            proc = start(LONG + ["-Q0"] + ["-O"] * bool(old), f.path)
            while proc.poll() is None and not writing(proc, f.path):
                time.sleep(0.0002)
            time.sleep(rng.uniform(0, 0.02))
            proc.send_signal(sig)
            proc.communicate(timeout=60)
            output = f.read("out.txt") if "out.txt" in f.names() else None
            checks.equal("%s: %s during the write%s: the old or the new output only, the status"
                         % (mode, signal.Signals(sig).name, " over an old output" * bool(old)),
                         (sorted(set(f.names()) - {"out.txt"}), output in (old, long_new),
                          proc.returncode in (-sig, 0)), (["long.wav"], True, True))

checks.finish()

"""What publishing the output may replace, and what an interrupted run leaves: names that cannot be
read count as taken, a name that appears during the run is never replaced without -O, -O writes
through links and keeps the mode, and no signal at any point of the write leaves anything but the
old or the complete new output. Every case also runs with the named temporary file that file
systems without unnamed files get (forced by a small preloaded library that refuses O_TMPFILE)."""

import os
import random
import shutil
import signal
import subprocess
import tempfile
import time

from e2e import Checks, Folder, arguments, run, wave_bytes
from test_program import USAGE

REFUSED = "\nFile exists and no overwrite specified! Check parameter -O\n\n"
NOBODY = 65534
NO_TMPFILE_C = r"""
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
static int refuse(int flags) { if ((flags & O_TMPFILE) == O_TMPFILE) { errno = EOPNOTSUPP; return 1; } return 0; }
#define WRAP(name) int name(int dir, const char* path, int flags, ...) { \
    va_list ap; va_start(ap, flags); int mode = va_arg(ap, int); va_end(ap); \
    if (refuse(flags)) return -1; \
    static int (*real)(int, const char*, int, ...); \
    if (!real) real = (int (*)(int, const char*, int, ...))dlsym(RTLD_NEXT, #name); \
    return real(dir, path, flags, mode); }
WRAP(openat)
WRAP(openat64)
"""


def unprivileged():
    os.setgid(NOBODY)
    os.setuid(NOBODY)


def build_no_tmpfile(folder):
    source, library = os.path.join(folder, "no_tmpfile.c"), os.path.join(folder, "no_tmpfile.so")
    with open(source, "w") as fh:
        fh.write(NO_TMPFILE_C)
    made = subprocess.run(["cc", "-shared", "-fPIC", "-o", library, source, "-ldl"],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    return library if made.returncode == 0 else None


def start(binary, args, cwd, env, preexec=None):
    return subprocess.Popen([binary] + args, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, preexec_fn=preexec)


def writing(proc, folder):
    """True once the output's temporary file exists, named or unnamed."""
    if any(n.startswith(".orvalix-") for n in os.listdir(folder)):
        return True
    try:
        fds = os.listdir("/proc/%d/fd" % proc.pid)
        return any(os.readlink("/proc/%d/fd/%s" % (proc.pid, fd)).endswith("(deleted)") for fd in fds)
    except OSError:
        return False


def snapshot(folder):
    """Every name below the folder with its link target or its bytes."""
    found = {}
    for name in folder.names():
        path = os.path.join(folder.path, name)
        found[name] = os.readlink(path) if os.path.islink(path) else (
            None if os.path.isdir(path) else open(path, "rb").read())
    return found


def main():
    args = arguments()
    binary = os.path.abspath(args.bin)
    checks = Checks()
    rng = random.Random(11)
    short = wave_bytes([((i * 37) % 2001) - 1000 for i in range(8000)])
    # 20 s analysed every millisecond into 21 columns: about 4 MB of text, a write long enough to
    # be interrupted at random points.
    long = wave_bytes([rng.randrange(-3000, 3000) for _ in range(16000 * 20)])
    LONG_OPTIONS = ["-Q0", "-S1", "-M20", "-C"]

    helper = tempfile.mkdtemp(prefix="orvalix_preload_")
    os.chmod(helper, 0o755)  # the unprivileged runs load the library too
    library = build_no_tmpfile(helper)
    modes = [("unnamed temporary", dict(os.environ))]
    if library:
        env = dict(os.environ, LD_PRELOAD=library)
        if b"__asan_init" in open(binary, "rb").read():  # a sanitized binary: its runtime after ours
            env["ASAN_OPTIONS"] = os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"
        modes.append(("named temporary", env))
    else:
        print("skipped: no C compiler for the named-temporary cases")

    with Folder() as f:
        f.file("in.wav", short)
        run(binary, ["-Q0", "in", "new"], f.path)
        new = f.read("new.txt")
        f.file("long.wav", long)
        r = run(binary, ["long", "longnew"] + LONG_OPTIONS, f.path)
        long_new = f.read("longnew.txt")

    for mode, env in modes:
        def orvalix(folder, names, *options, preexec=None):
            proc = start(binary, ["-Q0"] + list(options) + names, folder, env, preexec)
            out, err = proc.communicate(timeout=60)
            return proc.returncode, err.decode("latin-1"), out.decode("latin-1")

        # Names that exist but cannot be read, and links that lead nowhere, are taken: the run is
        # refused and nothing changes. As root every file is readable, so the user is nobody.
        with Folder() as f:
            os.chmod(f.path, 0o777)
            f.file("in.wav", short)
            f.file("mine.txt", b"write only\n")
            os.chown(os.path.join(f.path, "mine.txt"), NOBODY, NOBODY)
            os.chmod(os.path.join(f.path, "mine.txt"), 0o200)
            f.file("theirs.txt", b"root's own\n")
            os.chmod(os.path.join(f.path, "theirs.txt"), 0o600)
            os.symlink("nowhere/none.txt", os.path.join(f.path, "dangling.txt"))
            before = snapshot(f)
            for name in ("mine", "theirs", "dangling"):
                got = orvalix(f.path, ["in", name], preexec=unprivileged)
                checks.equal("%s: unreadable %s refused" % (mode, name), got, (0, REFUSED, USAGE))
            checks.equal("%s: refused names untouched" % mode, snapshot(f), before)

        # A name that appears after the check is not replaced: the concurrent writer's file stays.
        with Folder() as f:
            f.file("long.wav", long)
            proc = start(binary, ["long", "out"] + LONG_OPTIONS[1:], f.path, env)
            for line in iter(proc.stdout.readline, b""):  # the check is behind the run once
                if line.startswith(b"Reading .wav"):     # the input is being read
                    break
            f.file("out.txt", b"the other writer's\n")
            out, err = proc.communicate(timeout=60)
            checks.equal("%s: a name taken during the run" % mode,
                         (proc.returncode, err.decode(), f.read("out.txt"), f.names()),
                         (1, "ERROR: Cannot write output file out.txt: File exists\n",
                          b"the other writer's\n", ["long.wav", "out.txt"]))

        # -O writes through links (relative, absolute, chained, dangling) and keeps the replaced
        # file's mode, owner and group; a link loop is an error that changes nothing.
        with Folder() as f:
            f.file("in.wav", short)
            f.file("real/t.txt", b"old")
            os.chmod(os.path.join(f.path, "real/t.txt"), 0o640)
            os.chown(os.path.join(f.path, "real/t.txt"), NOBODY, NOBODY)
            os.symlink("real/t.txt", os.path.join(f.path, "rel.txt"))
            os.symlink(os.path.join(f.path, "rel.txt"), os.path.join(f.path, "abs.txt"))
            os.symlink("made.txt", os.path.join(f.path, "real/dangling.txt"))
            os.symlink("real/dangling.txt", os.path.join(f.path, "dangling.txt"))
            os.symlink("loop.txt", os.path.join(f.path, "loop.txt"))
            for name in ("rel", "abs"):
                f.file("real/t.txt", b"old")
                got = orvalix(f.path, ["in", name], "-O")[:2]
                info = os.stat(os.path.join(f.path, "real/t.txt"))
                checks.equal("%s: -O through the link %s" % (mode, name),
                             (got, f.read("real/t.txt") == new, os.path.islink(os.path.join(f.path, name + ".txt")),
                              oct(info.st_mode & 0o7777), info.st_uid, info.st_gid),
                             ((0, ""), True, True, "0o640", NOBODY, NOBODY))
            got = orvalix(f.path, ["in", "dangling"], "-O")[:2]
            checks.equal("%s: -O through a dangling link" % mode, (got, snapshot(f).get("real/made.txt") == new),
                         ((0, ""), True))
            got = orvalix(f.path, ["in", "loop"], "-O")[:2]
            checks.equal("%s: -O on a link loop" % mode, got,
                         (1, "ERROR: Cannot write output file loop.txt: Too many levels of symbolic links\n"))
            checks.equal("%s: links stay, nothing left behind" % mode, f.names(),
                         ["abs.txt", "dangling.txt", "in.wav", "loop.txt", "real", "real/dangling.txt",
                          "real/made.txt", "real/t.txt", "rel.txt"])
            # An unprivileged user's own private output stays private.
            os.chmod(f.path, 0o777)
            os.chown(os.path.join(f.path, "real"), NOBODY, NOBODY)
            f.file("real/own.txt", b"old")
            os.chown(os.path.join(f.path, "real/own.txt"), NOBODY, NOBODY)
            os.chmod(os.path.join(f.path, "real/own.txt"), 0o600)
            got = orvalix(f.path, ["in", "real/own"], "-O", preexec=unprivileged)[:2]
            info = os.stat(os.path.join(f.path, "real/own.txt"))
            checks.equal("%s: -O as the owner keeps 0600" % mode,
                         (got, f.read("real/own.txt") == new, oct(info.st_mode & 0o777)), ((0, ""), True, "0o600"))

        # Signals at random points of a long write: the old or the complete new output, nothing else.
        # A named temporary file cannot outlive SIGKILL's victim only where it has no name at all.
        for sig in [signal.SIGINT, signal.SIGTERM, signal.SIGHUP] + [signal.SIGKILL] * (mode == modes[0][0]):
            for overwrite in (False, True):
                with Folder() as f:
                    f.file("long.wav", long)
                    if overwrite:
                        f.file("out.txt", b"old features\n")
                    proc = start(binary, ["long", "out"] + LONG_OPTIONS + (["-O"] if overwrite else []),
                                 f.path, env)
                    while proc.poll() is None and not writing(proc, f.path):
                        time.sleep(0.0002)
                    time.sleep(rng.uniform(0, 0.02))
                    proc.send_signal(sig)
                    proc.communicate(timeout=60)
                    names = f.names()
                    output = f.read("out.txt") if "out.txt" in names else None
                    old = b"old features\n" if overwrite else None
                    what = "%s: %s during the write%s" % (mode, signal.Signals(sig).name,
                                                          " over an old output" if overwrite else "")
                    checks.equal(what + ": only the input and a whole output",
                                 sorted(set(names) - {"out.txt"}), ["long.wav"])
                    checks.true(what + ": the old or the new output", output in (old, long_new),
                                "(%d bytes, status %d)" % (len(output or b""), proc.returncode))
                    checks.true(what + ": ends by the signal, or after publishing",
                                proc.returncode in (-sig, 0), "(status %d)" % proc.returncode)

    shutil.rmtree(helper, ignore_errors=True)
    checks.finish()


if __name__ == "__main__":
    main()

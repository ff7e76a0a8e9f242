"""Output faults on real file systems: a read-only folder and a full one. Each gives its message and
status, leaves no partial or temporary file, and keeps an existing output intact. (A missing
folder, a file-size limit and the output being the input through a link are in
test_program.py.) Mounting needs privileges: without them the cases are skipped with a note."""

import os
import subprocess
import tempfile

from e2e import Checks, Folder, arguments, run, wave_bytes


def mount_tmpfs(path, options):
    proc = subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", path],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return proc.returncode == 0, proc.stderr.decode(errors="replace").strip()


def unmount(path):
    subprocess.run(["umount", path], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def main():
    args = arguments()
    binary = os.path.abspath(args.bin)
    checks = Checks()
    # 12.5 s of signal: about 125 KiB of features, twice what the 64 KiB file system holds.
    speech = wave_bytes([((i * 37) % 2001) - 1000 for i in range(200000)])

    with Folder() as f:
        f.file("in.wav", speech)
        mnt = os.path.join(f.path, "mnt")
        os.mkdir(mnt)

        # A read-only folder that already holds an older output.
        ok, why = mount_tmpfs(mnt, "size=64k")
        if not ok:
            print("skipped: cannot mount a tmpfs here (%s)" % why)
            checks.finish()
        with open(os.path.join(mnt, "out.txt"), "wb") as fh:
            fh.write(b"old features\n")
        subprocess.run(["mount", "-o", "remount,ro", mnt], check=True)
        try:
            r = run(binary, ["-Q0", "-O", "in", "mnt/out"], f.path)
            checks.equal("read-only folder", (r.status, r.err),
                         (1, "ERROR: Cannot write output file mnt/out.txt: Read-only file system\n"))
            checks.equal("read-only folder: old output intact", sorted(os.listdir(mnt)), ["out.txt"])
            checks.equal("read-only folder: old bytes", open(os.path.join(mnt, "out.txt"), "rb").read(),
                         b"old features\n")
        finally:
            unmount(mnt)

        # A full file system: 64 KiB hold the old output but not the new features.
        ok, why = mount_tmpfs(mnt, "size=64k")
        if not ok:
            print("skipped: cannot mount a tmpfs a second time (%s)" % why)
            checks.finish()
        try:
            with open(os.path.join(mnt, "out.txt"), "wb") as fh:
                fh.write(b"old features\n")
            r = run(binary, ["-Q0", "-O", "in", "mnt/out"], f.path)
            checks.equal("full file system", (r.status, r.err),
                         (1, "ERROR: Cannot write output file mnt/out.txt: No space left on device\n"))
            checks.equal("full file system: no partial file", sorted(os.listdir(mnt)), ["out.txt"])
            checks.equal("full file system: old output intact",
                         open(os.path.join(mnt, "out.txt"), "rb").read(), b"old features\n")
            # Without an old output the same: nothing is left behind.
            os.unlink(os.path.join(mnt, "out.txt"))
            r = run(binary, ["-Q0", "in", "mnt/new"], f.path)
            checks.equal("full file system, new output", (r.status, r.err, os.listdir(mnt)),
                         (1, "ERROR: Cannot write output file mnt/new.txt: No space left on device\n", []))
            # A file system with no room left at all: even the temporary file cannot be made.
            with open(os.path.join(mnt, "filler"), "wb") as fh:
                try:
                    fh.write(b"\0" * 65536)
                    fh.flush()
                except OSError:
                    pass
            r = run(binary, ["-Q0", "in", "mnt/none"], f.path)
            checks.equal("no room at all", (r.status, r.err, sorted(os.listdir(mnt))),
                         (1, "ERROR: Cannot write output file mnt/none.txt: No space left on device\n",
                          ["filler"]))
        finally:
            unmount(mnt)
        checks.equal("the tmpfs is gone", os.listdir(mnt), [])
    checks.finish()


if __name__ == "__main__":
    main()

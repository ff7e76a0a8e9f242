"""orvalix-corpus on a generated corpus: mirrored tree, outputs identical to single runs, failures
listed with their messages, resumable runs, option and environment errors, the remote path."""

import os
import random
import shutil
import stat
import struct
import subprocess

from e2e import Checks, Folder, arguments, run, wave_bytes

OPTIONS = ["-Q0", "-L25", "-C"]
FOLDERS = ["", "speaker one", "speaker one/take 2", "odd 'q\"$;&(x)", "deep/a/b/c", "été"]


def signal(rng, count, bits):
    if bits == 8:
        return [rng.randrange(256) for _ in range(count)]
    return [rng.randrange(-3000, 3000) for _ in range(count)]


def good_files(rng):
    """About three hundred short files: several rates, 8 and 16 bit, some shorter than a window."""
    files = {}
    for i in range(288):
        folder = FOLDERS[i % len(FOLDERS)]
        name = "%s%03d%s" % (["utt ", "-dash", "x"][i % 3], i, ".WAV" if i % 7 == 0 else ".wav")
        bits = 8 if i % 5 == 0 else 16
        rate = [8000, 16000, 11025][i % 3]
        count = 200 if i % 11 == 0 else rng.randrange(800, 2400)
        files[os.path.join(folder, name)] = wave_bytes(signal(rng, count, bits), rate=rate, bits=bits)
    return files


def broken_files():
    fmt24 = struct.pack("<4sIHHIIHH", b"fmt ", 16, 1, 1, 16000, 48000, 3, 24)
    return {
        "broken/empty.wav": b"",
        "broken/riff only.wav": b"RIFF",
        "broken/text.wav": b"this is not a wave file at all, just some words\n",
        "speaker one/24 bit.wav": b"RIFF" + struct.pack("<I", 4 + len(fmt24) + 14) + b"WAVE" + fmt24
        + b"data" + struct.pack("<I", 6) + bytes(6),
        "deep/a/lower case wave.wav": wave_bytes([1, 2, 3])[:8] + b"wave" + wave_bytes([1, 2, 3])[12:],
    }


def output_name(relative):
    return os.path.splitext(relative)[0] + ".txt"


def tree_files(root):
    found = set()
    for folder, _, files in os.walk(root):
        for name in files:
            found.add(os.path.relpath(os.path.join(folder, name), root))
    return found


def corpus(tool, args, cwd, env=None):
    proc = subprocess.run([tool] + args, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=300, env=env)
    return proc.returncode, proc.stdout.decode("utf-8", "replace"), proc.stderr.decode("utf-8", "replace")


def summary_line(text):
    lines = [l for l in text.splitlines() if " done, " in l]
    return lines[-1] if lines else ""


def failure_lines(text):
    return sorted(l for l in text.splitlines() if l.startswith("failed: "))


def single_runs(binary, folder, files):
    """Runs orvalix once per file the plain way; gives the expected output bytes or message."""
    expected, messages = {}, {}
    for i, relative in enumerate(sorted(files)):
        target = os.path.join(folder, "single%d.txt" % i)
        r = run(binary, [os.path.join(folder, "in", relative), target] + OPTIONS, folder)
        if r.status == 0:
            with open(target, "rb") as fh:
                expected[relative] = fh.read()
            os.remove(target)
        else:
            messages[relative] = "status %d: %s" % (r.status, r.err.strip())
    return expected, messages


def fake_ssh(folder):
    """A stand-in for ssh that runs the remote command on this machine, as a real login would,
    for a user whose login shell is not bash."""
    script = os.path.join(folder, "fake-ssh")
    with open(script, "w") as fh:
        fh.write("#!/bin/bash\n"
                 "while [ $# -gt 0 ]; do case \"$1\" in\n"
                 "  -o|-l|-p|-i|-F|-S|-c|-m|-b|-e) shift 2 ;; -*) shift ;; *) break ;; esac; done\n"
                 "shift\n"
                 "[ \"${1:-}\" = -- ] && shift\n"
                 "echo x >> \"$(dirname \"$0\")/ssh-calls\"\n"
                 "export SHELL=/bin/sh\n"
                 "exec bash -c \"$*\"\n")
    os.chmod(script, 0o755)
    return script


def path_without_parallel(folder):
    """A PATH holding the usual tools but not GNU parallel."""
    bin_dir = os.path.join(folder, "no-parallel-bin")
    os.makedirs(bin_dir)
    for name in ["bash", "dirname", "basename", "mktemp", "find", "sort", "sed", "tr", "cat", "grep",
                 "rm", "mkdir", "env"]:
        where = shutil.which(name)
        if where:
            os.symlink(where, os.path.join(bin_dir, name))
    return bin_dir


def main():
    args = arguments()
    binary = os.path.abspath(args.bin)
    tool = os.path.join(os.path.abspath(args.source), "tools", "orvalix-corpus")
    checks = Checks()
    rng = random.Random(7)

    with Folder() as f:
        code, out, err = corpus(tool, ["--bin", binary, "in", "out"], f.path,
                                env=dict(os.environ, PATH=path_without_parallel(f.path)))
        checks.equal("no GNU parallel: status 2", code, 2)
        checks.true("no GNU parallel: a clear message", "GNU parallel is not installed" in err, err)

    if shutil.which("parallel") is None:
        checks.cannot_run("GNU parallel is not installed (apt-get install parallel)")

    with Folder() as f:
        good = good_files(rng)
        broken = broken_files()
        for relative, data in list(good.items()) + list(broken.items()):
            f.file(os.path.join("in", relative), data)
        f.file("in/notes.txt", b"not a wave file, never analysed")
        expected, messages = single_runs(binary, f.path, list(good) + list(broken))
        checks.equal("every generated good file runs alone", sorted(expected), sorted(good))
        checks.equal("every broken file fails alone", sorted(messages), sorted(broken))

        # First run: everything analysed, the broken files listed with orvalix's own messages.
        code, out, err = corpus(tool, ["--bin", binary, "in", "out", "-j", "2"] + OPTIONS, f.path)
        checks.equal("first run: status 1 (some files failed)", code, 1)
        checks.equal("first run: summary", summary_line(out),
                     "orvalix-corpus: %d done, 0 skipped (output exists), %d failed" % (len(good), len(broken)))
        checks.equal("first run: each failure with its message", failure_lines(out),
                     sorted("failed: %s: %s" % (r, messages[r]) for r in broken))
        outputs = tree_files(os.path.join(f.path, "out"))
        checks.equal("first run: the mirrored tree, one text file per good input, and the job log",
                     outputs, {output_name(r) for r in good} | {"orvalix-corpus.joblog"})
        differing = [r for r in good if f.read(os.path.join("out", output_name(r))) != expected[r]]
        checks.equal("first run: every output byte-identical to a single run", differing, [])
        with open(os.path.join(f.path, "out", "orvalix-corpus.joblog")) as fh:
            log = fh.read().splitlines()
        checks.equal("first run: one job log line per file after the heading", len(log),
                     1 + len(good) + len(broken))
        checks.equal("first run: the job log shows the failures",
                     sum(1 for l in log[1:] if l.split("\t")[6] != "0"), len(broken))

        # Second run: nothing finished is redone, the broken files fail again.
        stamps = {r: os.stat(os.path.join(f.path, "out", output_name(r))).st_mtime_ns for r in good}
        code, out, err = corpus(tool, ["--bin", binary, "in", "out"] + OPTIONS, f.path)
        checks.equal("second run: status 1", code, 1)
        checks.equal("second run: everything done is skipped", summary_line(out),
                     "orvalix-corpus: 0 done, %d skipped (output exists), %d failed" % (len(good), len(broken)))
        with open(os.path.join(f.path, "out", "orvalix-corpus.joblog")) as fh:
            checks.equal("second run: finished files are not even started, only the broken ones",
                         len(fh.read().splitlines()), 1 + len(broken))
        checks.true("second run: no output touched", all(
            os.stat(os.path.join(f.path, "out", output_name(r))).st_mtime_ns == stamps[r] for r in good))

        # Third run, after an interruption lost a few outputs and the broken files were removed.
        for relative in broken:
            os.remove(os.path.join(f.path, "in", relative))
        lost = sorted(good)[:3]
        for relative in lost:
            os.remove(os.path.join(f.path, "out", output_name(relative)))
        code, out, err = corpus(tool, ["--bin", binary, "in", "out"] + OPTIONS, f.path)
        checks.equal("resumed run: status 0", code, 0)
        checks.equal("resumed run: only the missing outputs are made", summary_line(out),
                     "orvalix-corpus: 3 done, %d skipped (output exists), 0 failed" % (len(good) - 3))
        checks.equal("resumed run: the remade outputs are identical",
                     [f.read(os.path.join("out", output_name(r))) == expected[r] for r in lost], [True] * 3)
        checks.equal("resumed run: no temporary file left behind",
                     [n for n in f.names() if ".orvalix-" in n], [])

        # -O passes through to orvalix and redoes everything.
        code, out, err = corpus(tool, ["--bin", binary, "in", "out", "-O"] + OPTIONS, f.path)
        checks.equal("with -O: everything redone", (code, summary_line(out)),
                     (0, "orvalix-corpus: %d done, 0 skipped (output exists), 0 failed" % len(good)))

    # Options orvalix refuses stop the run before any job; an unusable folder or binary likewise.
    with Folder() as f:
        f.file("in/a.wav", wave_bytes([0] * 2000))
        code, out, err = corpus(tool, ["--bin", binary, "in", "out", "-W9"], f.path)
        checks.equal("refused option: status 2", code, 2)
        checks.true("refused option: orvalix's message",
                    "ERROR: Parameter W(1) = 9 is out of range [1,4]." in err, err)
        checks.equal("refused option: nothing created", f.names(), ["in", "in/a.wav"])
        code, out, err = corpus(tool, ["--bin", binary, "missing", "out"], f.path)
        checks.equal("missing input folder: status 2", code, 2)
        code, out, err = corpus(tool, ["--bin", binary, "in"], f.path)
        checks.equal("one folder only: status 2", code, 2)
        code, out, err = corpus(tool, ["--bin", os.path.join(f.path, "nothing"), "in", "out"], f.path)
        checks.equal("binary not found: status 2", code, 2)

        # The binary taken from the environment, and a run with nothing to do.
        env = dict(os.environ, ORVALIX=binary)
        code, out, err = corpus(tool, ["in", "out", "-Q0"], f.path, env=env)
        checks.equal("ORVALIX picks the binary", (code, summary_line(out)),
                     (0, "orvalix-corpus: 1 done, 0 skipped (output exists), 0 failed"))
        # Run from a checkout without --bin or ORVALIX: the checkout's build/orvalix.
        checkout = os.path.join(f.path, "checkout")
        os.makedirs(os.path.join(checkout, "tools"))
        os.makedirs(os.path.join(checkout, "build"))
        f.file("checkout/CMakeLists.txt", b"")
        shutil.copy(tool, os.path.join(checkout, "tools"))
        os.symlink(binary, os.path.join(checkout, "build", "orvalix"))
        bare = {k: v for k, v in os.environ.items() if k != "ORVALIX"}
        code, out, err = corpus(os.path.join(checkout, "tools", "orvalix-corpus"), ["in", "out3", "-Q0"],
                                f.path, env=bare)
        checks.equal("from a checkout: its build/orvalix", (code, summary_line(out)),
                     (0, "orvalix-corpus: 1 done, 0 skipped (output exists), 0 failed"))
        os.makedirs(os.path.join(f.path, "empty"))
        code, out, err = corpus(tool, ["empty", "out2", "-Q0"], f.path, env=env)
        checks.equal("empty input folder", (code, summary_line(out)),
                     (0, "orvalix-corpus: 0 done, 0 skipped (output exists), 0 failed"))

    # The remote path: jobs go through an ssh login (a stand-in that runs them here), with the job
    # function and its settings carried by GNU parallel's --env.
    with Folder() as f:
        files = {"r%02d %s.wav" % (i, "x" * (i % 3)): wave_bytes(signal(rng, 1600, 16)) for i in range(8)}
        files["sub dir/bad.wav"] = b"RIFF"
        for relative, data in files.items():
            f.file(os.path.join("in", relative), data)
        expected, messages = single_runs(binary, f.path, list(files))
        ssh = fake_ssh(f.path)
        code, out, err = corpus(tool, ["--bin", binary, "--sshlogin", "2/%s node1" % ssh, "in", "out"]
                                + OPTIONS, f.path)
        checks.equal("remote: status 1 and the summary", (code, summary_line(out)),
                     (1, "orvalix-corpus: 8 done, 0 skipped (output exists), 1 failed"))
        checks.equal("remote: the failure with its message", failure_lines(out),
                     ["failed: sub dir/bad.wav: %s" % messages["sub dir/bad.wav"]])
        checks.true("remote: every job went through the login",
                    os.path.exists(os.path.join(f.path, "ssh-calls"))
                    and len(f.read("ssh-calls").splitlines()) == len(files))
        checks.equal("remote: outputs identical to single runs",
                     [f.read(os.path.join("out", output_name(r))) == expected[r] for r in sorted(expected)],
                     [True] * 8)

    checks.finish()


if __name__ == "__main__":
    main()

"""orvalix-corpus on a small generated corpus: mirrored tree, outputs identical to single runs,
failures listed with orvalix's messages, resumable runs, option and environment errors, the remote
path through an ssh login."""

import os
import shutil
import subprocess

from e2e import Checks, Folder, arguments, run, wave_bytes

OPTIONS = ["-Q0", "-L25", "-C"]
GOOD = {"a.wav": wave_bytes(range(-900, 900, 2)), "speaker one/b 1.WAV": wave_bytes(range(200)),
        "odd 'q\"$;&(x)/-dash.wav": wave_bytes(range(0, 3000, 3), rate=8000),
        "été/deep/c.wav": wave_bytes([i % 256 for i in range(1500)], rate=11025, bits=8)}
BROKEN = {"broken/empty.wav": b"", "broken/riff only.wav": b"RIFF",
          "speaker one/24 bit.wav": wave_bytes(range(8), bits=24)}
SUMMARY = "orvalix-corpus: %d done, %d skipped (output exists), %d failed"


def fake_ssh(folder):
    """A stand-in for ssh that runs the remote command here, for a login shell that is not bash."""
    script = os.path.join(folder, "fake-ssh")
    with open(script, "w") as fh:
        fh.write("#!/bin/bash\nwhile [ $# -gt 0 ]; do case \"$1\" in\n"
                 "  -o|-l|-p|-i|-F|-S|-c|-m|-b|-e) shift 2 ;; -*) shift ;; *) break ;; esac; done\n"
                 "shift; [ \"${1:-}\" = -- ] && shift\n"
                 "echo x >> \"$(dirname \"$0\")/ssh-calls\"; export SHELL=/bin/sh; exec bash -c \"$*\"\n")
    os.chmod(script, 0o755)
    return script


def main():
    args = arguments()
    binary = os.path.abspath(args.bin)
    tool = os.path.join(os.path.abspath(args.source), "tools", "orvalix-corpus")
    checks = Checks()

    def corpus(cwd, *argv, env=None):
        p = subprocess.run([tool] + list(argv), cwd=cwd, stdin=subprocess.DEVNULL, capture_output=True,
                           timeout=120, env=env)
        out = p.stdout.decode("utf-8", "replace")
        summary = ([l for l in out.splitlines() if " done, " in l] or [""])[-1]
        return p.returncode, summary, sorted(l for l in out.splitlines() if l.startswith("failed: ")), \
            p.stderr.decode("utf-8", "replace")

    def single_runs(folder, names):
        """Each file run alone: its features, or its status and message."""
        expected = {}
        for relative in names:
            r = run(binary, [os.path.join("in", relative), "single.txt", "-O"] + OPTIONS, folder)
            expected[relative] = f.read("single.txt") if r.status == 0 else \
                "failed: %s: status %d: %s" % (relative, r.status, r.err.strip())
        os.remove(os.path.join(folder, "single.txt"))
        return expected

    def output(relative, read=True):
        name = os.path.join("out", os.path.splitext(relative)[0] + ".txt")
        return f.read(name) if read else os.stat(os.path.join(f.path, name)).st_mtime_ns

    with Folder() as f:
        os.makedirs(os.path.join(f.path, "bin"))  # the usual tools but not GNU parallel
        tools = "bash dirname basename mktemp find sort sed tr cat grep rm mkdir env".split()
        for name in filter(shutil.which, tools):
            os.symlink(shutil.which(name), os.path.join(f.path, "bin", name))
        code, _, _, err = corpus(f.path, "--bin", binary, "in", "out",
                                 env=dict(os.environ, PATH=os.path.join(f.path, "bin")))
        checks.equal("no GNU parallel: status 2 and a message",
                     (code, "GNU parallel is not installed" in err), (2, True))
    if shutil.which("parallel") is None:
        checks.cannot_run("GNU parallel is not installed (apt-get install parallel)")

    with Folder() as f:
        for relative, data in list(GOOD.items()) + list(BROKEN.items()):
            f.file(os.path.join("in", relative), data)
        f.file("in/notes.txt", b"not a wave file, never analysed")
        expected = single_runs(f.path, list(GOOD) + list(BROKEN))
        failures = sorted(expected[r] for r in BROKEN)  # each broken file's message when run alone
        code, summary, failed, _ = corpus(f.path, "--bin", binary, "in", "out", "-j", "2", *OPTIONS)
        checks.equal("first run: status, summary, each failure with its message", (code, summary, failed),
                     (1, SUMMARY % (len(GOOD), 0, len(BROKEN)), failures))
        made = {os.path.relpath(os.path.join(d, n), f.path)
                for d, _, names in os.walk(f.path + "/out") for n in names}
        mirrored = {os.path.join("out", os.path.splitext(r)[0] + ".txt") for r in GOOD}
        checks.equal("first run: the mirrored tree, outputs identical to single runs, the job log",
                     (made, [output(r) == expected[r] for r in GOOD]),
                     ({"out/orvalix-corpus.joblog"} | mirrored, [True] * len(GOOD)))
        log = f.read("out/orvalix-corpus.joblog").decode().splitlines()
        checks.equal("job log: a line per file, the failures marked", (len(log), sum(
            1 for l in log[1:] if l.split("\t")[6] != "0")), (1 + len(GOOD) + len(BROKEN), len(BROKEN)))
        stamps = [output(r, read=False) for r in GOOD]
        checks.equal("second run: finished files skipped (not started, not touched), broken ones again",
                     (corpus(f.path, "--bin", binary, "in", "out", *OPTIONS)[:3], stamps,
                      len(f.read("out/orvalix-corpus.joblog").splitlines())),
                     ((1, SUMMARY % (0, len(GOOD), len(BROKEN)), failures),
                      [output(r, read=False) for r in GOOD], 1 + len(BROKEN)))
        for relative in BROKEN:
            os.remove(os.path.join(f.path, "in", relative))
        os.remove(os.path.join(f.path, "out", "a.txt"))
        code, summary, _, _ = corpus(f.path, "--bin", binary, "in", "out", *OPTIONS)
        checks.equal("resumed run: only the lost output made, identical", (code, summary, output("a.wav")),
                     (0, SUMMARY % (1, len(GOOD) - 1, 0), expected["a.wav"]))
        checks.equal("no temporary file left", [n for n in f.names() if ".orvalix-" in n], [])
        code, summary, _, _ = corpus(f.path, "--bin", binary, "in", "out", "-O", *OPTIONS)
        checks.equal("-O redoes everything", (code, summary), (0, SUMMARY % (len(GOOD), 0, 0)))

    with Folder() as f:
        f.file("in/a.wav", wave_bytes([0] * 2000))
        code, _, _, err = corpus(f.path, "--bin", binary, "in", "out", "-W9")
        checks.equal("refused option: status 2, orvalix's message, nothing made",
                     (code, "ERROR: Parameter W(1) = 9 is out of range [1,4]." in err, f.names()),
                     (2, True, ["in", "in/a.wav"]))
        for what, argv in (("missing input folder", ["missing", "out"]), ("one folder only", ["in"]),
                           ("binary not found", ["--bin", os.path.join(f.path, "none"), "in", "out"])):
            checks.equal(what + ": status 2", corpus(f.path, *(["--bin", binary] + argv))[0], 2)
        env = dict(os.environ, ORVALIX=binary)
        # Run from a checkout without --bin or ORVALIX: the checkout's build/orvalix.
        checkout = os.path.join(f.path, "checkout")
        os.makedirs(os.path.join(checkout, "tools"))
        os.makedirs(os.path.join(checkout, "build"))
        f.file("checkout/CMakeLists.txt", b"")
        shutil.copy(tool, os.path.join(checkout, "tools"))
        os.symlink(binary, os.path.join(checkout, "build", "orvalix"))
        bare = {k: v for k, v in os.environ.items() if k != "ORVALIX"}
        p = subprocess.run([os.path.join(checkout, "tools", "orvalix-corpus"), "in", "o3", "-Q0"],
                           cwd=f.path, stdin=subprocess.DEVNULL, capture_output=True, timeout=120, env=bare)
        checks.equal("from a checkout: its build/orvalix",
                     (p.returncode, [l for l in p.stdout.decode().splitlines() if " done, " in l]),
                     (0, [SUMMARY % (1, 0, 0)]))
        os.makedirs(os.path.join(f.path, "empty"))
        checks.equal("ORVALIX picks the binary; an empty folder",
                     (corpus(f.path, "in", "out", "-Q0", env=env)[:2],
                      corpus(f.path, "empty", "o2", env=env)[:2]),
                     ((0, SUMMARY % (1, 0, 0)), (0, SUMMARY % (0, 0, 0))))

    with Folder() as f:
        files = {"r%d %s.wav" % (i, "x" * i): wave_bytes(range(i, 1600 + i)) for i in range(4)}
        files["sub dir/bad.wav"] = b"RIFF"
        [f.file(os.path.join("in", relative), data) for relative, data in files.items()]
        expected = single_runs(f.path, list(files))
        ssh = fake_ssh(f.path)
        code, summary, failed, _ = corpus(f.path, "--bin", binary, "--sshlogin", "2/%s node1" % ssh, "in",
                                          "out", *OPTIONS)
        checks.equal("remote: status, summary, the failure", (code, summary, failed),
                     (1, SUMMARY % (4, 0, 1), [expected["sub dir/bad.wav"]]))
        checks.equal("remote: every job through the login, outputs identical",
                     (len(f.read("ssh-calls").splitlines()),
                      [output(r) == expected[r] for r in files if r.startswith("r")]),
                     (len(files), [True] * 4))
    checks.finish()


if __name__ == "__main__":
    main()

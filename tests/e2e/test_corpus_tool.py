"""orvalix-corpus on a small corpus: mirrored tree, outputs of single runs, failures with orvalix's
messages, resumed runs, option and environment errors, remote runs through an ssh login."""

import os
import shutil

from e2e import (FOLDER, Checks, Folder, Link, arguments, corpus_outcome, lay_out, run, start,
                 wave_bytes)

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
    binary, checks = os.path.abspath(args.bin), Checks()
    tool = os.path.join(os.path.abspath(args.source), "scripts", "orvalix-corpus")

    def corpus(*argv, env=None, script=tool, bin=True):
        return corpus_outcome(start([script] + ["--bin", binary] * bin + list(argv), f.path, env))

    def single_runs(files):
        """Lays the files out; each run alone gives its features, or its failure line."""
        expected = {}
        for r, data in files.items():
            f.file("in/" + r, data)
            x = run(binary, ["in/" + r, "single.txt", "-O"] + OPTIONS, f.path)
            expected[r] = f.read("single.txt") if x.status == 0 else \
                "failed: %s: status %d: %s" % (r, x.status, x.err.strip())
        os.remove(os.path.join(f.path, "single.txt"))
        return expected

    txt = lambda relative: os.path.join(f.path, "out", os.path.splitext(relative)[0] + ".txt")
    output = lambda relative: open(txt(relative), "rb").read()

    if shutil.which("parallel") is None:
        checks.cannot_run("GNU parallel is not installed (apt-get install parallel)")

    with Folder() as f:
        expected = single_runs(dict(GOOD, **BROKEN))
        f.file("in/notes.txt", b"not a wave file, never analysed")
        failures = sorted(expected[r] for r in BROKEN)  # each broken file's message when run alone
        first = corpus("in", "out", "-j", "2", *OPTIONS)[:3]
        made = {n for n in f.names() if n.startswith("out/") and os.path.isfile(f.path + "/" + n)}
        log = [l.split("\t") for l in f.read("out/orvalix-corpus.joblog").decode().splitlines()]
        checks.equal("first run: status, summary, failures with their messages; the mirrored tree, "
                     "outputs as run alone; the job log: a line per file, the failures marked",
                     (first, made, [output(r) == expected[r] for r in GOOD], len(log),
                      sum(1 for l in log[1:] if l[6] != "0")),
                     ((1, SUMMARY % (len(GOOD), 0, len(BROKEN)), failures),
                      {"out/orvalix-corpus.joblog"} | {os.path.relpath(txt(r), f.path) for r in GOOD},
                      [True] * len(GOOD), 1 + len(GOOD) + len(BROKEN), len(BROKEN)))
        checks.equal("second run: finished files skipped (not started), broken ones again",
                     (corpus("in", "out", *OPTIONS)[:3],
                      len(f.read("out/orvalix-corpus.joblog").splitlines())),
                     ((1, SUMMARY % (0, len(GOOD), len(BROKEN)), failures), 1 + len(BROKEN)))
        [os.remove(os.path.join(f.path, "in", relative)) for relative in BROKEN]
        os.remove(txt("a.wav"))
        checks.equal("resumed run: only the lost output made, identical; -O redoes all; no temporary",
                     (corpus("in", "out", *OPTIONS)[:2], output("a.wav"), corpus("in", "out", "-O",
                      *OPTIONS)[:2], [n for n in f.names() if ".orvalix-" in n]),
                     ((0, SUMMARY % (1, len(GOOD) - 1, 0)), expected["a.wav"],
                      (0, SUMMARY % (len(GOOD), 0, 0)), []))

    with Folder() as f:  # refusals: status 2, the reason, nothing made
        lay_out(f, {"in/a.wav": wave_bytes([0] * 2000), "path/bash": Link(shutil.which("bash")),
                    "path/dirname": Link(shutil.which("dirname"))})
        before, no_parallel = f.names(), dict(os.environ, PATH=os.path.join(f.path, "path"))
        for argv, env, reason in (
                (["in", "out", "-W9"], None, "ERROR: Parameter W(1) = 9 is out of range [1,4]."),
                (["missing", "out"], None, "no input folder: missing"),
                (["in"], None, "give an input folder and an output folder"),
                (["--bin", "none", "in", "out"], None, "orvalix binary not executable: "),
                (["in", "out"], no_parallel, "GNU parallel is not installed")):
            code, _, _, err = corpus(*argv, env=env)
            checks.equal("refused " + reason, (code, reason in err, f.names()), (2, True, before))
        # Run from a checkout without --bin or ORVALIX: the checkout's build/orvalix.
        lay_out(f, {"checkout/CMakeLists.txt": b"", "checkout/build/orvalix": Link(binary),
                    "checkout/scripts/orvalix-corpus": Link(tool), "empty": FOLDER})
        checkout = os.path.join(f.path, "checkout/scripts/orvalix-corpus")
        bare = {k: v for k, v in os.environ.items() if k != "ORVALIX"}
        env = dict(bare, ORVALIX=binary)
        checks.equal("from a checkout: its build/orvalix; ORVALIX picks the binary; an empty folder; "
                     "-- ends the options", [corpus(*argv, env=env, script=script, bin=False)[:2]
                                             for argv, env, script in (
                         (["in", "o3", "-Q0"], bare, checkout), (["in", "out", "-Q0"], env, tool),
                         (["empty", "o2"], env, tool), (["-Q0", "--", "in", "o4"], env, tool))],
                     [(0, SUMMARY % (1, 0, 0)), (0, SUMMARY % (1, 0, 0)), (0, SUMMARY % (0, 0, 0)),
                      (0, SUMMARY % (1, 0, 0))])

    with Folder() as f:
        expected = single_runs(dict({"r%d %s.wav" % (i, "x" * i): wave_bytes(range(i, 1600 + i))
                                     for i in range(4)}, **{"sub dir/bad.wav": b"RIFF"}))
        checks.equal("remote: status, summary, the failure; each job via the login, outputs identical",
                     (corpus("--sshlogin", "2/%s node1" % fake_ssh(f.path), "in", "out", *OPTIONS)[:3],
                      len(f.read("ssh-calls").splitlines()), [output(r) == expected[r] for r in expected
                                                             if r[0] == "r"]),
                     ((1, SUMMARY % (4, 0, 1), [expected["sub dir/bad.wav"]]), 5, [True] * 4))
    checks.finish()


if __name__ == "__main__":
    main()

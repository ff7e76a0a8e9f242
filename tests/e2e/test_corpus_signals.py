"""orvalix-corpus interrupted (every job stops, nothing temporary stays, the same command resumes)
and hindered (inputs it cannot see, a job log cut short)."""

import contextlib
import os
import random
import shutil
import signal
import subprocess
import time

from e2e import Checks, Folder, Link, arguments, corpus_outcome, lay_out, nobody, start, wave_bytes

OPTIONS = ["-Q0", "-S1"]


def survivors(folder):
    """Processes still working on the folder's files (orvalix, its jobs, GNU parallel)."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        with contextlib.suppress(OSError):  # ended meanwhile
            found.append(open("/proc/%s/cmdline" % pid, "rb").read().decode("latin-1"))
    return [command for command in found if folder in command]


def outputs(folder):
    return {os.path.relpath(os.path.join(root, n), folder): open(os.path.join(root, n), "rb").read()
            for root, _, names in os.walk(folder) for n in names if n != "orvalix-corpus.joblog"}


args = arguments()
tool = [os.path.join(os.path.abspath(args.source), "scripts", "orvalix-corpus"),
        "--bin", os.path.abspath(args.bin)]
checks, rng = Checks(), random.Random(13)
for sig in (signal.SIGINT, signal.SIGHUP):  # heard by the runs even under nohup or a script's &
    signal.signal(sig, signal.SIG_DFL)
if shutil.which("parallel") is None:
    checks.cannot_run("GNU parallel is not installed")
# Enough files that no run is over before its signal, however quiet the machine.
block = [rng.randrange(-3000, 3000) for _ in range(16000)]
files = {"%s/f%02d.wav" % ("ab"[i % 2], i): wave_bytes(block[i:] + block[:i]) for i in range(36)}

with Folder() as f:
    lay_out(f, {"in/" + relative: data for relative, data in files.items()})
    corpus_outcome(start(tool + ["in", "whole"] + OPTIONS, f.path))  # what an unbroken run gives
    whole = outputs(os.path.join(f.path, "whole"))

    for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGKILL):
        name = signal.Signals(sig).name
        out_dir, tmp = os.path.join(f.path, "out-" + name), os.path.join(f.path, "tmp-" + name)
        os.mkdir(tmp)
        env = dict(os.environ, TMPDIR=tmp)
        proc = start(tool + ["in", out_dir, "-j1"] + OPTIONS, f.path, env)
        proc.stdout.readline()  # "N files, ...": the jobs are about to start
        time.sleep(rng.uniform(0.05, 0.3))
        proc.send_signal(sig)
        if sig == signal.SIGKILL:  # GNU parallel, told by the kernel, stops its jobs;
            proc.wait()            # an orphan would still be running (and holding the pipes)
            gone_by = time.time() + 120  # 0.4 s on a quiet machine
            while survivors(out_dir) and time.time() < gone_by:
                time.sleep(0.1)
            checks.equal(name + ": no job left running", survivors(out_dir), [])
        code, summary = corpus_outcome(proc)[:2]
        made = outputs(out_dir)
        checks.equal(name + ": status, no job or temporary file left, outputs made complete",
                     (code, survivors(out_dir), os.listdir(tmp),
                      [n for n in f.names() if ".orvalix-" in n],
                      all(whole[n] == data for n, data in made.items())), (-sig, [], [], [], True))
        counts = [int(w) for w in summary.replace(",", " ").split() if w.isdigit()]
        checks.true(name + ": the summary of what was done", sig == signal.SIGKILL or (
            summary.startswith("orvalix-corpus: interrupted by %s: " % name) and len(counts) == 5
            and sum(counts) == len(files) and counts[0] <= len(made) <= counts[0] + counts[3]
            and counts[2] == 0), summary)
        code = corpus_outcome(start(tool + ["in", out_dir] + OPTIONS, f.path, env))[0]
        checks.equal(name + ": the resumed run ends well, its outputs those of an unbroken run",
                     (code, outputs(out_dir) == whole), (0, True))

with Folder() as f:  # inputs it cannot see fail the run (root would see them all)
    lay_out(f, {"in/ok.wav": files["a/f00.wav"], "in/locked/a.wav": files["a/f00.wav"],
                "in/gone.wav": Link("nowhere.wav"), "in/loop.wav": Link("loop.wav")})
    os.chmod(f.path, 0o777), os.chmod(os.path.join(f.path, "in/locked"), 0)
    checks.equal("unseen inputs fail the run", corpus_outcome(start(
        tool + ["in", "out", "-Q0"], f.path, dict(os.environ, TMPDIR=f.path), nobody))[:3], (1,
        "orvalix-corpus: 1 done, 0 skipped (output exists), 3 failed",
        ["failed: gone.wav: cannot be read: the link leads nowhere",
         "failed: locked/: cannot be read: Permission denied",
         "failed: loop.wav: cannot be read: Too many levels of symbolic links"]))

with Folder() as f:  # a job log cut short by a full file system (a small tmpfs, where it mounts)
    for i in range(18):  # no frame, so empty outputs; long names, so long job log lines
        f.file("in/take %02d %s.wav" % (i, "x" * 240), wave_bytes([0] * 100))
    out = os.path.join(f.path, "out")
    os.mkdir(out)
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=16k", "tmpfs", out],
                      stderr=subprocess.DEVNULL).returncode != 0:
        print("skipped: cannot mount a tmpfs for the full job log")
    else:
        try:
            f.file("out/filler", bytes(12 * 1024))  # one page left for the job log
            code, _, _, err = corpus_outcome(start(tool + ["in", "out", "-j2", "-Q0"], f.path))
            checks.equal("a job log cut short is reported",
                         (code, [l for l in err.splitlines() if "job log" in l]),
                         (1, ["orvalix-corpus: the job log %s/orvalix-corpus.joblog could not be "
                              "written in full" % out]))
        finally:
            subprocess.run(["umount", out])
checks.finish()

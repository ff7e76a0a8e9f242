"""orvalix-corpus interrupted and hindered: SIGINT, SIGTERM, SIGHUP and SIGKILL at random points stop
every job (no orvalix or GNU parallel left running, no temporary file left), the summary says what
was done and what never started, and a resumed run gives outputs byte-identical to an
uninterrupted one. Inputs it cannot see are failures; a job log cut short is reported."""

import os
import random
import shutil
import signal
import subprocess
import time

from e2e import Checks, Folder, arguments, wave_bytes

OPTIONS = ["-Q0", "-S1"]


def start(tool, args, cwd, env, preexec=None):
    return subprocess.Popen([tool] + args, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, preexec_fn=preexec)


def finish(proc):
    out, err = proc.communicate(timeout=120)
    return proc.returncode, out.decode(), err.decode()


def survivors(folder):
    """Processes still working on the folder's files (orvalix, its jobs, GNU parallel)."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as fh:
                command = fh.read().replace(b"\0", b" ").decode("latin-1")
        except OSError:
            continue
        if folder in command and int(pid) != os.getpid():
            found.append(command)
    return found


def outputs(folder):
    found = {}
    for root, _, files in os.walk(folder):
        for name in files:
            with open(os.path.join(root, name), "rb") as fh:
                found[os.path.relpath(os.path.join(root, name), folder)] = fh.read()
    found.pop("orvalix-corpus.joblog", None)
    return found


def summary(text):
    return ([l for l in text.splitlines() if " done, " in l] or [""])[-1]


def main():
    args = arguments()
    binary = os.path.abspath(args.bin)
    tool = os.path.join(os.path.abspath(args.source), "tools", "orvalix-corpus")
    checks = Checks()
    if shutil.which("parallel") is None:
        print("skip: GNU parallel is not installed")
        checks.finish()
    rng = random.Random(13)
    # Enough files that no run is over before its signal, however quiet the machine.
    block = [rng.randrange(-3000, 3000) for _ in range(16000)]
    files = {"%s/f%02d.wav" % ("ab"[i % 2], i): wave_bytes(block[i:] + block[:i]) for i in range(36)}

    with Folder() as f:
        for relative, data in files.items():
            f.file(os.path.join("in", relative), data)
        for relative in files:  # what an uninterrupted run gives: one plain run per file
            os.makedirs(os.path.join(f.path, "whole", os.path.dirname(relative)), exist_ok=True)
            subprocess.run([binary, os.path.join("in", relative), os.path.join("whole", relative[:-4])]
                           + OPTIONS, cwd=f.path, stdout=subprocess.DEVNULL, check=True)
        whole = outputs(os.path.join(f.path, "whole"))

        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGKILL):
            name = signal.Signals(sig).name
            out_dir = "out-" + name
            tmp = os.path.join(f.path, "tmp-" + name)
            os.mkdir(tmp)
            env = dict(os.environ, TMPDIR=tmp)
            proc = start(tool, ["--bin", binary, "in", out_dir, "-j1"] + OPTIONS, f.path, env)
            proc.stdout.readline()  # "N files, ...": the jobs are about to start
            time.sleep(rng.uniform(0.05, 0.3))
            proc.send_signal(sig)
            if sig == signal.SIGKILL:  # GNU parallel, told by the kernel, stops its jobs in 0.4 s;
                proc.wait()            # an orphan would still be running (and holding the pipes)
                time.sleep(0.6)
                checks.equal(name + ": no job left running", survivors(os.path.join(f.path, out_dir)), [])
            code, out, err = finish(proc)
            checks.equal(name + ": ends by the signal", code, -sig)
            checks.equal(name + ": no job left running", survivors(os.path.join(f.path, out_dir)), [])
            checks.equal(name + ": no temporary file left", (os.listdir(tmp), [
                n for n in f.names() if ".orvalix-" in n]), ([], []))
            made = outputs(os.path.join(f.path, out_dir))
            checks.true(name + ": every output made is complete",
                        all(whole[n] == data for n, data in made.items()))
            if sig != signal.SIGKILL:
                counts = [int(w) for w in summary(out).replace(",", " ").split() if w.isdigit()]
                checks.true(name + ": the summary of what was done", summary(out).startswith(
                    "orvalix-corpus: interrupted by %s: " % name) and len(counts) == 5
                    and sum(counts) == len(files) and counts[0] <= len(made) <= counts[0] + counts[3]
                    and counts[2] == 0, summary(out))
            code, out, err = finish(start(tool, ["--bin", binary, "in", out_dir] + OPTIONS, f.path, env))
            checks.equal(name + ": the resumed run ends well", code, 0)
            checks.true(name + ": resumed outputs byte-identical to an uninterrupted run",
                        outputs(os.path.join(f.path, out_dir)) == whole)

    # Inputs it cannot see fail the run. Root reads every folder, so the run is nobody's.
    with Folder() as f:
        os.chmod(f.path, 0o777)
        f.file("in/ok.wav", files["a/f00.wav"])
        f.file("in/locked/a.wav", files["a/f00.wav"])
        os.chmod(os.path.join(f.path, "in/locked"), 0)
        os.symlink("nowhere.wav", os.path.join(f.path, "in/gone.wav"))
        os.symlink("loop.wav", os.path.join(f.path, "in/loop.wav"))

        def nobody():
            os.setgid(65534)
            os.setuid(65534)
        code, out, err = finish(start(tool, ["--bin", binary, "in", "out", "-Q0"], f.path,
                                      dict(os.environ, TMPDIR=f.path), nobody))
        checks.equal("unseen inputs fail the run", (code, summary(out), sorted(
            l for l in out.splitlines() if l.startswith("failed: "))), (1,
            "orvalix-corpus: 1 done, 0 skipped (output exists), 3 failed",
            ["failed: gone.wav: cannot be read: the link leads nowhere",
             "failed: locked/: cannot be read: Permission denied",
             "failed: loop.wav: cannot be read: Too many levels of symbolic links"]))

    # A job log cut short by a full file system (a small tmpfs; skipped where mounting is refused).
    with Folder() as f:
        for i in range(18):  # no frame, so empty outputs; long names, so long job log lines
            f.file("in/take %02d %s.wav" % (i, "x" * 240), wave_bytes([0] * 100))
        os.mkdir(os.path.join(f.path, "out"))
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=16k", "tmpfs",
                                  os.path.join(f.path, "out")], stderr=subprocess.DEVNULL).returncode == 0
        if not mounted:
            print("skipped: cannot mount a tmpfs for the full job log")
        else:
            try:
                with open(os.path.join(f.path, "out", "filler"), "wb") as fh:
                    fh.write(bytes(12 * 1024))  # one page left for the job log
                code, out, err = finish(start(tool, ["--bin", binary, "in", "out", "-j2", "-Q0"], f.path, None))
                checks.equal("a job log cut short is reported", (code, [l for l in err.splitlines() if "job log" in l]),
                             (1, ["orvalix-corpus: the job log %s/out/orvalix-corpus.joblog could not be written "
                                  "in full" % f.path]))
            finally:
                subprocess.run(["umount", os.path.join(f.path, "out")])

    checks.finish()


if __name__ == "__main__":
    main()

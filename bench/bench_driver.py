#!/usr/bin/env python3
"""Times Orvalix and the installed MFCC extractors on long inputs, one core, several runs each.

Called by run_bench.sh, which builds the program first. Makes the long inputs by repeating
samples/speech16k.wav, runs every tool pinned to one core (taskset -c 0), takes the wall time and
the peak resident set from os.wait4, and writes a Markdown report.
"""
import argparse
import json
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import time
import wave

RATE = 16000
LENGTHS = [("10 min", 600), ("1 h", 3600), ("3 h", 10800)]
PEER_LENGTH = "1 h"  # the peers run on this input only, to keep the whole bench short
SPTK_DIR = "/usr/libexec/sptk/bin"
SYSTEM_PYTHON = "/usr/bin/python3"

# The sections this driver writes; every other section of the report belongs to another script
# or was written by hand, and stays as it was.
OWN_SECTIONS = ("## Machine", "## End to end", "## Frame analysis per vector level", "## Targets")

TORCHAUDIO_SCRIPT = r"""
import sys, wave, numpy, torch, torchaudio
torch.set_num_threads(1)
w = wave.open(sys.argv[1])
x = numpy.frombuffer(w.readframes(w.getnframes()), dtype='<i2').astype(numpy.float32)
m = torchaudio.compliance.kaldi.mfcc(torch.from_numpy(x).unsqueeze(0), sample_frequency=16000,
        frame_length=30.0, frame_shift=10.0, num_mel_bins=30, num_ceps=13, dither=0.0,
        round_to_power_of_two=True, snip_edges=True)
numpy.savetxt(sys.argv[2], m.numpy(), fmt='%f')
"""


def report_sections(text):
    """The report split at its "## " headings: the text before the first, then each section
    from its heading up to the next one."""
    parts = re.split(r"(?m)^(?=## )", text)
    return parts[0], parts[1:]


def heading_of(section):
    return section.split("\n", 1)[0].rstrip()


def write_section(report, section, before=None):
    """Puts `section`, which begins with its "## " heading, in place of the report's section of
    that heading, keeping every other section; a new one goes before the section headed
    `before` when there is one, else at the end."""
    text = open(report).read() if os.path.exists(report) else "# Benchmark results\n\n"
    head, sections = report_sections(text)
    headings = [heading_of(s) for s in sections]
    if heading_of(section) in headings:
        sections[headings.index(heading_of(section))] = section
    elif before in headings:
        sections.insert(headings.index(before), section)
    else:
        sections.append(section)
    with open(report, "w") as f:  # one blank line between sections
        f.write(head + "\n".join(s.rstrip("\n") + "\n" for s in sections))


def make_inputs(sample, folder, lengths):
    """Writes one canonical 16-bit mono wave per length, the sample repeated end to end."""
    with wave.open(sample) as w:
        if w.getframerate() != RATE or w.getnchannels() != 1 or w.getsampwidth() != 2:
            sys.exit("the bundled sample must be 16 kHz, one channel, 16 bits")
        frames = w.readframes(w.getnframes())
    paths = {}
    for name, seconds in lengths:
        path = os.path.join(folder, "speech_%ds.wav" % seconds)
        wanted = seconds * RATE * 2
        if not os.path.exists(path) or os.path.getsize(path) != wanted + 44:
            with wave.open(path, "wb") as out:
                out.setnchannels(1)
                out.setsampwidth(2)
                out.setframerate(RATE)
                written = 0
                while written < wanted:
                    chunk = frames[: wanted - written]
                    out.writeframes(chunk)
                    written += len(chunk)
        paths[name] = path
    return paths


def run_once(command, timeout):
    """Wall seconds and peak RSS in KiB of one run (the largest process of a pipeline)."""
    start = time.perf_counter()
    process = subprocess.Popen(command, shell=isinstance(command, str), stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, start_new_session=True)
    deadline = start + timeout
    while True:
        pid, status, usage = os.wait4(process.pid, os.WNOHANG)
        if pid != 0:
            break
        if time.perf_counter() > deadline:
            os.killpg(process.pid, 9)
            os.wait4(process.pid, 0)
            return None
        time.sleep(0.005)
    wall = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        return None
    return wall, usage.ru_maxrss


def summarise(results):
    """Median wall time and largest peak RSS of the runs, or None when one failed."""
    if not results or any(r is None for r in results):
        return None
    return statistics.median(r[0] for r in results), max(r[1] for r in results)


def measure(command, runs, timeout):
    return summarise([run_once(command, timeout) for _ in range(runs)])


def measure_alternating(ours, theirs, runs, timeout):
    """Runs the two commands turn about, so that both meet the same state of a shared machine."""
    own, other = [], []
    for _ in range(runs):
        own.append(run_once(ours, timeout))
        other.append(run_once(theirs, timeout))
    return summarise(own), summarise(other)


def peers(orvalix_text):
    """(name, command builder, note) of every installed peer, and the names of skipped ones."""
    found, skipped = [], []
    if shutil.which("aubiomfcc"):
        found.append(("aubiomfcc", lambda i, o: "aubiomfcc -i %s -r 16000 -B 512 -H 160 > %s"
                      % (i, o), "512-point window and FFT, hop 160, its fixed 40 filters, 13 coefficients"))
    else:
        skipped.append("aubiomfcc (package aubio-tools)")
    if all(os.access(os.path.join(SPTK_DIR, t), os.X_OK) for t in ("x2x", "frame", "mfcc")):
        s = SPTK_DIR
        found.append(("SPTK x2x, frame, mfcc, x2x", lambda i, o:
                      "tail -c +45 %s | %s/x2x +sf | %s/frame -l 480 -p 160 | "
                      "%s/mfcc -l 480 -L 512 -s 16 -n 30 -m 12 | %s/x2x +fa12 %%f > %s"
                      % (i, s, s, s, s, o),
                      "480-sample Hamming frames in mfcc, 512 FFT, 30 filters, 12 coefficients"))
    else:
        skipped.append("SPTK (package sptk)")
    probe = subprocess.run([SYSTEM_PYTHON, "-c", "import torch, torchaudio, numpy"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL) \
        if os.path.exists(SYSTEM_PYTHON) else None
    if probe is not None and probe.returncode == 0:
        found.append(("torchaudio kaldi.mfcc", lambda i, o: [SYSTEM_PYTHON, "-c", TORCHAUDIO_SCRIPT, i, o],
                      "30 ms / 10 ms, 512 FFT, 30 bins, 13 coefficients, one thread, savetxt"))
    else:
        skipped.append("torchaudio (package python3-torchaudio)")
    return found, skipped


def pinned(command):
    if isinstance(command, list):
        return ["taskset", "-c", "0"] + command
    return "taskset -c 0 sh -c '%s'" % command.replace("'", "'\\''")


def frame_analysis_per_level(stages):
    """The least s_per_audio_hour of BM_FrameAnalysis/W for every lane width W the processor runs."""
    command = pinned([stages, "--benchmark_filter=FrameAnalysis", "--benchmark_repetitions=7",
                      "--benchmark_format=json"])
    try:
        report = json.loads(subprocess.run(command, capture_output=True, text=True,
                                           timeout=600).stdout)
    except (OSError, ValueError, subprocess.TimeoutExpired):
        return {}
    least = {}
    for run in report.get("benchmarks", []):
        if run.get("run_type") == "iteration" and "s_per_audio_hour" in run:
            lanes = int(run["name"].split("/")[1])
            least[lanes] = min(least.get(lanes, 1e9), run["s_per_audio_hour"])
    return least


def describe_machine(compiler):
    lines = []
    try:
        lscpu = subprocess.run(["lscpu"], capture_output=True, text=True).stdout
        for line in lscpu.splitlines():
            if line.startswith(("Model name", "CPU(s):", "Flags")) is False:
                continue
            if line.startswith("Flags"):
                flags = line.split(":", 1)[1].split()
                line = "Vector units: " + " ".join(f for f in ("sse2", "avx", "avx2", "fma", "avx512f") if f in flags)
            lines.append(" ".join(line.split()))
    except OSError:
        pass
    with open("/proc/meminfo") as f:
        total = int(f.readline().split()[1])
    lines.append("Memory: %.1f GiB" % (total / 1048576))
    lines.append("Compiler: " + compiler)
    lines.append("System: " + platform.platform())
    return lines


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--sample", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--report", required=True)
    parser.add_argument("--compiler", default="unknown")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--peer-runs", type=int, default=5)
    parser.add_argument("--timeout", type=float, default=150.0)
    parser.add_argument("--stages", help="orvalix_stages_bench, for the frame analysis per level")
    args = parser.parse_args()

    os.makedirs(args.work, exist_ok=True)
    inputs = make_inputs(args.sample, args.work, LENGTHS)
    out = os.path.join(args.work, "out.txt")

    rows = []  # (tool, input, seconds, wall, rss)
    orvalix_at = {}
    for name, seconds in LENGTHS:
        command = ["taskset", "-c", "0", args.bin, inputs[name], out, "-O", "-Q0"]
        result = measure(command, args.runs, args.timeout)
        print("orvalix %-7s %s" % (name, result), flush=True)
        if result:
            orvalix_at[name] = result
            rows.append(("orvalix", name, seconds, result[0], result[1]))
    found, skipped = peers(out)
    paired = {}  # peer -> median of the Orvalix runs that alternated with its runs
    hour_command = ["taskset", "-c", "0", args.bin, inputs[PEER_LENGTH], out, "-O", "-Q0"]
    for tool, build, note in found:
        seconds = dict(LENGTHS)[PEER_LENGTH]
        own, result = measure_alternating(hour_command, pinned(build(inputs[PEER_LENGTH], out)),
                                          args.peer_runs, args.timeout)
        print("%s %s %s (orvalix alongside: %s)" % (tool, PEER_LENGTH, result, own), flush=True)
        if result is None or own is None:
            skipped.append("%s (failed or over %d s)" % (tool, args.timeout))
        else:
            rows.append((tool, PEER_LENGTH, seconds, result[0], result[1]))
            paired[tool] = own[0]

    old = open(args.report).read() if os.path.exists(args.report) else ""
    other_sections = "".join(s for s in report_sections(old)[1] if heading_of(s) not in OWN_SECTIONS)
    levels = frame_analysis_per_level(args.stages) if args.stages else {}

    with open(args.report, "w") as f:
        f.write("# Benchmark results\n\n")
        f.write("Written by `bench/run_bench.sh` on %s. One core (`taskset -c 0`), median wall time "
                "of %d runs (Orvalix) and %d runs (peers); peak RSS is the largest resident set of "
                "any process of the run (`wait4`). Each peer's runs alternate with as many "
                "Orvalix runs on the same input, and its time is given as a multiple of the "
                "median of those (in brackets), so that both meet the same state of the machine. "
                "Input: `samples/speech16k.wav` repeated, 16 kHz mono 16-bit; output as text.\n\n"
                % (time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()), args.runs, args.peer_runs))
        f.write("## Machine\n\n")
        for line in describe_machine(args.compiler):
            f.write("- %s\n" % line)
        f.write("\n## End to end\n\n")
        f.write("| Tool | Input | Median wall (s) | Peak RSS (MiB) | Bytes per sample | "
                "Audio s per wall s | Time / Orvalix |\n|---|---|---|---|---|---|---|\n")
        for tool, name, seconds, wall, rss in rows:
            if tool in paired:
                ratio = "%.1fx (%.3f s)" % (wall / paired[tool], paired[tool])
            else:
                ratio = "1.0x" if tool == "orvalix" else "-"
            f.write("| %s | %s | %.3f | %.1f | %.2f | %.0f | %s |\n"
                    % (tool, name, wall, rss / 1024, rss * 1024 / (seconds * RATE), seconds / wall,
                       ratio))
        if levels:
            f.write("\n## Frame analysis per vector level\n\n"
                    "CPU seconds of the frame analysis (defaults, after conditioning) per audio hour, "
                    "the least of 7 runs of a minute of the sample on one core "
                    "(`orvalix_stages_bench`, `BM_FrameAnalysis/W`; the width chosen with "
                    "`usableLanes`). Targets: AVX2 at most 1.3 s; no level slower than before "
                    "the lane pipeline (AVX-512 0.65 s, AVX2 1.42 s, plain 3.27 s, the same "
                    "measure on this machine).\n\n| Lanes | Unit | s per audio hour |\n|---|---|---|\n")
            for lanes, unit in ((8, "AVX-512"), (4, "AVX2"), (2, "SSE2 (NEON on Arm)"), (1, "plain")):
                if lanes in levels:
                    f.write("| %d | %s | %.3f |\n" % (lanes, unit, levels[lanes]))
        f.write("\n## Targets\n\n")
        aubio = [r for r in rows if r[0] == "aubiomfcc"]
        if aubio and "aubiomfcc" in paired:
            ratio = aubio[0][3] / paired["aubiomfcc"]
            f.write("- Speed against aubiomfcc (1 h, runs alternating): %.1fx faster (target 8x): "
                    "%s\n" % (ratio, "met" if ratio >= 8 else "NOT met"))
            if ratio < 8:
                f.write("  What stands in the way: about 60 % of the time is the transform, "
                        "which computes in double and stores floats, so every butterfly rounds "
                        "its four results to float; those conversions take about 16 of the 26 "
                        "vector operations of a butterfly, on the two ports that run 512-bit "
                        "work. See bench/README.md for the time per stage.\n")
        for name, seconds in LENGTHS:
            if name not in orvalix_at:
                continue
            wall, rss = orvalix_at[name]
            samples = seconds * RATE
            frames = (samples - 481) // 160 + 1
            matrix = frames * 13 * 4  # the feature matrix: 13 floats per frame
            per_sample = (rss * 1024 - matrix) / samples
            f.write("- %s: %.3f s per audio hour; peak RSS less the feature matrix %.2f bytes per "
                    "sample (target 5): %s\n" % (name, wall * 3600 / seconds, per_sample,
                                                   "met" if per_sample <= 5 else "NOT met"))
        f.write("\nSettings: Orvalix defaults (30 ms Hamming window, 10 ms shift, 512-point FFT, "
                "30 filters, 12 coefficients). Peers:\n\n")
        for tool, _, note in found:
            f.write("- %s: %s\n" % (tool, note))
        f.write("\nSkipped: %s\n" % (", ".join(skipped) if skipped else "none"))
        if other_sections:
            f.write("\n" + other_sections.rstrip("\n") + "\n")
    print("report written to", args.report)


if __name__ == "__main__":
    main()

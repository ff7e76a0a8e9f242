"""Corpus runs: orvalix-batch against orvalix-corpus on 200 eight-second 16 kHz files on the same
two cores, and the output size of every format for one hour of speech. Writes its own section of
bench/RESULTS.md ("## Corpus runs"), leaving the others as they are. Installs nothing; needs GNU parallel."""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time
import wave

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench_driver import write_section  # noqa: E402

SECTION = "## Corpus runs"
FILES, SECONDS, RATE = 200, 8, 16000
FORMATS = ["text", "kaldi", "htk", "npy"]


def make_inputs(sample, work):
    """200 distinct 8 s files (the sample, looped from a different start each) and a 1 h file."""
    with wave.open(sample) as w:
        frames = w.readframes(w.getnframes())
    folder = os.path.join(work, "files")
    if not os.path.isdir(folder):
        os.makedirs(folder)
        size = SECONDS * RATE * 2
        for i in range(FILES):
            start = (i * 7919 * 2) % len(frames)
            data = (frames * 3)[start:start + size]
            with wave.open(os.path.join(folder, "utt%03d.wav" % i), "wb") as out:
                out.setnchannels(1), out.setsampwidth(2), out.setframerate(RATE), out.writeframes(data)
    hour = os.path.join(work, "hour.wav")
    if not os.path.exists(hour):
        with wave.open(hour, "wb") as out:
            out.setnchannels(1), out.setsampwidth(2), out.setframerate(RATE)
            for _ in range(3600 * RATE * 2 // len(frames) + 1):
                out.writeframes(frames)
    return folder, hour


def timed(command, output):
    shutil.rmtree(output, ignore_errors=True)
    started = time.perf_counter()
    subprocess.run(["taskset", "-c", "0,1"] + command, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    return time.perf_counter() - started


def folder_bytes(folder):
    return sum(os.path.getsize(os.path.join(root, name)) for root, _, names in os.walk(folder)
               for name in names if not name.startswith("orvalix-"))


def main():
    parser = argparse.ArgumentParser()
    for name in ("--build", "--source", "--work", "--report"):
        parser.add_argument(name, required=True)
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    files, hour = make_inputs(os.path.join(args.source, "samples", "speech16k.wav"), args.work)
    batch, orvalix = os.path.join(args.build, "orvalix-batch"), os.path.join(args.build, "orvalix")
    out = os.path.join(args.work, "out")
    commands = {
        "orvalix-corpus -j 2 (text)": [os.path.join(args.source, "scripts", "orvalix-corpus"), "-j", "2",
                                       "--no-bar", "--bin", orvalix, files, out, "-Q0"],
    }
    for fmt in ("text", "kaldi"):
        commands["orvalix-batch -j 2 --format %s" % fmt] = [batch, "-j", "2", "--format", fmt, files, out]
    load = os.getloadavg()[0]
    times = {name: [] for name in commands}
    for _ in range(args.runs):  # alternating, so a slow stretch of this shared machine hits all alike
        for name, command in commands.items():
            times[name].append(timed(command, out))
    medians = {name: statistics.median(values) for name, values in times.items()}
    corpus_time = medians["orvalix-corpus -j 2 (text)"]

    sizes = {}
    for fmt in FORMATS:
        for name, source in (("200 files", files), ("1 h", hour)):
            target = os.path.join(args.work, "size")
            shutil.rmtree(target, ignore_errors=True)
            if name == "1 h":
                with open(os.path.join(args.work, "hour.scp"), "w") as scp:
                    scp.write("hour %s\n" % hour)
                source = os.path.join(args.work, "hour.scp")
            subprocess.run([batch, "--format", fmt, source, target], check=True, stdout=subprocess.DEVNULL)
            sizes[(fmt, name)] = folder_bytes(target)

    text_time, kaldi_time = medians["orvalix-batch -j 2 --format text"], medians["orvalix-batch -j 2 --format kaldi"]
    lines = [SECTION, "",
             "Written by `bench/run_batch_bench.sh` on %s. %d files of %d s at 16 kHz (%d s of audio, "
             "`samples/speech16k.wav` looped from a different start in each), default settings, both "
             "cores (`taskset -c 0,1`), median wall time of %d runs, the tools alternating; load average "
             "%.1f when it began (this machine is shared)."
             % (time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()), FILES, SECONDS, FILES * SECONDS, args.runs,
                load), "",
             "| Run | Median wall (s) | Files per s | Against orvalix-corpus |", "|---|---|---|---|"]
    for name, median in medians.items():
        lines.append("| %s | %.3f | %.0f | %.1fx |" % (name, median, FILES / median, corpus_time / median))
    lines += ["", "- orvalix-batch text against orvalix-corpus: %.1fx (target 3x): %s"
              % (corpus_time / text_time, "met" if corpus_time / text_time >= 3 else "NOT met"),
              "- kaldi against text: %.2fx the speed (target at least 1x): %s"
              % (text_time / kaldi_time, "met" if kaldi_time <= text_time else "NOT met"), "",
              "Output size per format (default settings: 12 coefficients per 10 ms frame):", "",
              "| Format | 1 h of speech, one recording (MB) | 200 files of 8 s (MB) |", "|---|---|---|"]
    for fmt in FORMATS:
        lines.append("| %s | %.2f | %.2f |" % (fmt, sizes[(fmt, "1 h")] / 1e6, sizes[(fmt, "200 files")] / 1e6))
    section = "\n".join(lines) + "\n"

    write_section(args.report, section)
    print(section)


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Times the Python package against the program and against torchaudio; writes the "## Python"
section of bench/RESULTS.md. Called by bench/run_python_bench.sh, which builds both first.

- one hour of 16 kHz speech (the sample repeated), on one core (taskset -c 0 for the program,
  sched_setaffinity for this process), runs alternating, median of --runs:
  the program end to end; orvalix.write_text of the hour's features (the program's text output,
  the same library routine); so the program's analysis = its wall time less the text;
  orvalix.mfcc on the loaded signal; orvalix.mfcc_file; the program's text read by numpy.loadtxt;
  torchaudio.compliance.kaldi.mfcc and torchaudio.transforms.MFCC (python3-torchaudio, one
  thread), each alternating with orvalix.mfcc;
- orvalix.mfcc_files on 200 eight-second files, threads=2 against threads=1, both cores.
"""
import argparse
import os
import statistics
import subprocess
import sys
import time
import wave

import numpy

import orvalix

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench_driver import make_inputs, write_section  # noqa: E402  (the same hour as the end-to-end bench)

RATE = 16000


def timed(call):
    start = time.perf_counter()
    call()
    return time.perf_counter() - start


def alternating(first, second, runs):
    a, b = [], []
    for _ in range(runs):
        a.append(timed(first))
        b.append(timed(second))
    return statistics.median(a), statistics.median(b)


def make_short_files(sample, folder, count, seconds):
    """count files of `seconds` each, cut from the sample repeated, each at its own offset."""
    with wave.open(sample) as w:
        params, frames = w.getparams(), w.readframes(w.getnframes())
    need = seconds * RATE * 2
    looped = frames * (need // len(frames) + 2)
    paths = []
    for i in range(count):
        path = os.path.join(folder, "short_%03d.wav" % i)
        if not os.path.exists(path):
            offset = (i * 7919 * 2) % len(frames)
            with wave.open(path, "wb") as out:
                out.setparams(params)
                out.writeframes(looped[offset:offset + need])
        paths.append(path)
    return paths


def torchaudio_peers():
    try:
        import torch
        import torchaudio
    except ImportError as error:
        return None, "torchaudio not installed (%s)" % error
    torch.set_num_threads(1)
    transform = torchaudio.transforms.MFCC(
        sample_rate=RATE, n_mfcc=13,
        melkwargs=dict(n_fft=512, win_length=480, hop_length=160, n_mels=30, center=False))

    def kaldi(signal):
        return torchaudio.compliance.kaldi.mfcc(
            torch.from_numpy(signal).unsqueeze(0), sample_frequency=RATE, frame_length=30.0,
            frame_shift=10.0, num_mel_bins=30, num_ceps=13, dither=0.0, snip_edges=True)

    def transforms(signal):
        return transform(torch.from_numpy(signal / 32768.0).float())

    version = "torch %s, torchaudio %s" % (torch.__version__, torchaudio.__version__)
    return [("torchaudio.compliance.kaldi.mfcc", kaldi),
            ("torchaudio.transforms.MFCC", transforms)], version


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--data", required=True)
    parser.add_argument("--report", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--peer-runs", type=int, default=3)
    args = parser.parse_args()
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    sample = os.path.join(root, "samples", "speech16k.wav")
    os.makedirs(args.data, exist_ok=True)
    hour = make_inputs(sample, args.data, [("1 h", 3600)])["1 h"]
    text = os.path.join(args.data, "hour.txt")
    scratch = os.path.join(args.data, "hour_python.txt")
    lines = []

    # One core, as the end-to-end bench: the program through taskset, this process by affinity.
    os.sched_setaffinity(0, {0})
    program = ["taskset", "-c", "0", args.bin, hour, text, "-Q0", "-O"]

    def run_program():
        subprocess.run(program, check=True, stdout=subprocess.DEVNULL)

    signal, info = orvalix.load_wave(hour)
    features = orvalix.mfcc(signal, info.rate)
    orvalix.write_text(features, scratch)
    run_program()
    assert open(text, "rb").read() == open(scratch, "rb").read(), "Python and program differ"

    program_wall, write = alternating(run_program,
                                      lambda: orvalix.write_text(features, scratch), args.runs)
    in_memory, from_file = alternating(lambda: orvalix.mfcc(signal, info.rate),
                                       lambda: orvalix.mfcc_file(hour), args.runs)
    analysis = program_wall - write
    loadtxt = timed(lambda: numpy.loadtxt(text, dtype=numpy.float32))
    lines += [
        "| What (1 h of 16 kHz speech, one core) | Median wall (s) "
        "| Against the program's analysis |",
        "|---|---|---|",
        "| `orvalix` program, end to end (text file) | %.3f | |" % program_wall,
        "| `orvalix.write_text` of the hour (the program's text output) | %.3f | |" % write,
        "| the program's analysis (end to end less the text) | %.3f | 1.00 |" % analysis,
        "| `orvalix.mfcc(signal, 16000)` (signal in memory) | %.3f | %.2f |"
        % (in_memory, in_memory / analysis),
        "| `orvalix.mfcc_file(path)` (reading and analysis) | %.3f | %.2f |"
        % (from_file, from_file / analysis),
        "| the program and `numpy.loadtxt` of its text (the way before) | %.3f | %.2f |"
        % (program_wall + loadtxt, (program_wall + loadtxt) / analysis),
    ]
    peers, version = torchaudio_peers()
    if peers:
        for name, peer in peers:
            ours, theirs = alternating(lambda: orvalix.mfcc(signal, info.rate),
                                       lambda: peer(signal), args.peer_runs)
            lines.append("| `%s` (%s) | %.3f | %.2f (%.1fx `orvalix.mfcc` alternating: %.3f s) |"
                         % (name, version, theirs, theirs / analysis, theirs / ours, ours))
    else:
        lines.append("\nSkipped: %s" % version)

    # Many files on both cores.
    os.sched_setaffinity(0, set(range(os.cpu_count())))
    paths = make_short_files(sample, args.data, 200, 8)
    one, two = alternating(lambda: orvalix.mfcc_files(paths, threads=1),
                           lambda: orvalix.mfcc_files(paths, threads=2), args.runs)
    lines += ["", "| `orvalix.mfcc_files`, 200 files of 8 s | Median wall (s) | Speed-up |",
              "|---|---|---|",
              "| threads=1 | %.3f | 1.00 |" % one,
              "| threads=2 | %.3f | %.2f (target 1.8) |" % (two, one / two)]

    section = ("## Python\n\nWritten by `bench/run_python_bench.sh` on %s UTC (runs alternating, "
               "median of %d; torchaudio %d runs; load average %.1f at the end, on %d cores: "
               "the machine is shared). The features of `orvalix.mfcc` are checked "
               "against the program's file byte for byte first. torchaudio: 30 ms / 10 ms, "
               "512-point FFT, 30 mel bins, 13 coefficients, `torch.set_num_threads(1)`.\n\n"
               % (time.strftime("%Y-%m-%d %H:%M", time.gmtime()), args.runs, args.peer_runs,
                  os.getloadavg()[0], os.cpu_count())
               + "\n".join(lines) + "\n\n"
               "Target: `orvalix.mfcc` within 10 %% of the program's analysis (%s); "
               "`mfcc_files` 1.8x with 2 threads (%s).\n"
               % ("met" if in_memory <= 1.1 * analysis else "not met",
                  "met" if one / two >= 1.8 else "not met"))
    write_section(args.report, section)
    print(section)


if __name__ == "__main__":
    main()

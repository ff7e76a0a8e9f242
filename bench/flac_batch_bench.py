"""orvalix-batch on 200 FLAC files of 8 s: a list naming the files (decoded in-process) against the
same list as `key flac -c -d -s FILE |` pipe entries (one decoder process per file). Both cores,
the two runs alternating; prints the median wall times as a table for bench/RESULTS.md.
    /usr/bin/python3 bench/flac_batch_bench.py --build BUILD --work FOLDER [--runs N]"""

import argparse
import os
import shutil
import statistics
import subprocess
import time
import wave

FILES, SECONDS = 200, 8


def make_files(sample, work):
    """The sample looped from a different start in each file, as the corpus benchmark does."""
    with wave.open(sample) as w:
        frames, rate = w.readframes(w.getnframes()), w.getframerate()
    folder = os.path.join(work, "flac")
    os.makedirs(folder, exist_ok=True)
    size = SECONDS * rate * 2
    for i in range(FILES):
        name = os.path.join(folder, "utt%03d" % i)
        if os.path.exists(name + ".flac"):
            continue
        start = (i * 7919 * 2) % len(frames)
        with wave.open(name + ".wav", "wb") as out:
            out.setnchannels(1), out.setsampwidth(2), out.setframerate(rate)
            out.writeframes((frames * 3)[start:start + size])
        subprocess.run(["flac", "-s", "-f", "--delete-input-file", name + ".wav"], check=True)
    return sorted(os.path.join(folder, n) for n in os.listdir(folder) if n.endswith(".flac"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    source = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    files = make_files(os.path.join(source, "samples", "speech16k.wav"), args.work)
    lists = {"list naming the FLAC files": "direct.scp", "`key flac -c -d -s FILE |` entries": "pipes.scp"}
    with open(os.path.join(args.work, "direct.scp"), "w") as direct, \
            open(os.path.join(args.work, "pipes.scp"), "w") as pipes:
        for i, name in enumerate(files):
            direct.write("utt%03d %s\n" % (i, name))
            pipes.write("utt%03d flac -c -d -s %s |\n" % (i, name))
    batch, out = os.path.join(args.build, "orvalix-batch"), os.path.join(args.work, "out")
    times = {what: [] for what in lists}
    load = os.getloadavg()[0]
    for _ in range(args.runs):
        for what, scp in lists.items():
            shutil.rmtree(out, ignore_errors=True)
            started = time.perf_counter()
            subprocess.run(["taskset", "-c", "0,1", batch, "-j", "2", "--format", "kaldi",
                            os.path.join(args.work, scp), out], check=True, stdout=subprocess.DEVNULL)
            times[what].append(time.perf_counter() - started)
    medians = {what: statistics.median(values) for what, values in times.items()}
    pipes = medians["`key flac -c -d -s FILE |` entries"]
    print("%s, %d FLAC files of %d s, `-j 2 --format kaldi` on cores 0,1, median of %d alternating "
          "runs, load average %.1f at the start\n" % (time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()),
                                                       FILES, SECONDS, args.runs, load))
    print("| Input | Median wall (s) | Files per s | Speed against the pipes |\n|---|---|---|---|")
    for what, median in medians.items():
        print("| %s | %.3f | %.0f | %.1fx |" % (what, median, FILES / median, pipes / median))


if __name__ == "__main__":
    main()

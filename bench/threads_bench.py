#!/usr/bin/env python3
"""One long recording end to end with ORVALIX_THREADS=2 against one thread, runs alternating on
both cores (`taskset -c 0,1`); checks that both write the same bytes. Writes the "## One long file
on two threads" section of bench/RESULTS.md, just before "## Python" (the other scripts keep it)."""
import argparse
import datetime
import os
import resource
import statistics
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench_driver import make_inputs, run_once, write_section  # noqa: E402

SECTION = "## One long file on two threads"
TARGET = 0.6  # two threads' median at most this share of one thread's


def timed(binary, wave, out, threads, timeout):
    # A fresh name each time: freeing the last run's 31 MB file when -O replaces it took 30 ms
    # of the run's wall time here, the same for any thread count.
    if os.path.exists(out):
        os.remove(out)
    os.environ["ORVALIX_THREADS"] = str(threads)
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    result = run_once(["taskset", "-c", "0,1", binary, wave, out, "-O", "-Q0"], timeout)
    if result is None:
        sys.exit("the run with %d thread(s) failed" % threads)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime
    return result[0], result[1], cpu / result[0]  # wall, peak RSS, cores kept busy


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--bin", required=True)
    parser.add_argument("--sample", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--report", required=True)
    parser.add_argument("--runs", type=int, default=9)
    parser.add_argument("--timeout", type=int, default=150)
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    wave = make_inputs(args.sample, args.work, [("1 h", 3600)])["1 h"]
    outs = {t: os.path.join(args.work, "threads%d.txt" % t) for t in (1, 2)}
    runs = {1: [], 2: []}
    for _ in range(args.runs):
        for threads in (1, 2):
            runs[threads].append(timed(args.bin, wave, outs[threads], threads, args.timeout))
    same = open(outs[1], "rb").read() == open(outs[2], "rb").read()
    median = {t: statistics.median(r[0] for r in runs[t]) for t in runs}
    least = {t: min(r[0] for r in runs[t]) for t in runs}
    busy = {t: statistics.median(r[2] for r in runs[t]) for t in runs}
    pairs = statistics.median(b[0] / a[0] for a, b in zip(runs[1], runs[2]))
    # Processor time over wall time: well below 2 with two threads means the second core was
    # taken by others on this shared machine, not that the split failed.
    ratio = median[2] / median[1]
    lines = [SECTION, "", "Written by `bench/run_threads_bench.sh` on %s UTC: 1 h of 16 kHz speech "
             "end to end with its text file (a new file each run), `taskset -c 0,1`, %d runs each, "
             "one thread and two turn about; load average before: %s." % (
                 datetime.datetime.utcnow().strftime("%Y-%m-%d %H:%M"), args.runs,
                 open("/proc/loadavg").read().split()[0]), "",
             "| ORVALIX_THREADS | Median wall (s) | Least wall (s) | Peak RSS (MiB) | Cores busy (median) |",
             "|---|---|---|---|---|"]
    for t in (1, 2):
        lines.append("| %d | %.3f | %.3f | %.1f | %.2f |" % (
            t, median[t], least[t], max(r[1] for r in runs[t]) / 1024, busy[t]))
    lines += ["", "- two threads against one: %.2fx of the median (%.2fx the median of the pairs; "
              "target at most %.1fx): %s" % (ratio, pairs, TARGET, "met" if ratio <= TARGET else "NOT met"),
              "- the two output files %s" % ("are the same bytes" if same else "DIFFER"), ""]
    section = "\n".join(lines)
    write_section(args.report, section, before="## Python")
    print(section)
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())

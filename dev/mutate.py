#!/usr/bin/env python3
"""Mutation testing of the product code: proves that the test suite fails when the code is broken.

Each mutant changes one operator or one integer constant on one line of product code, rebuilds, and
runs the whole suite (ctest). A failing suite kills the mutant; a passing one lets it survive. The
sample is drawn with a fixed seed from every mutation site of the product code, so the same seed on
the same product code gives the same mutants whatever the tests are. Mutants that do not build are
skipped and the next site is drawn. The mutated file is always restored, also on Ctrl-C.

    ./quickstart test      # a Release build in build/ with every test switched on
    python3 dev/mutate.py --build build --count 40 --seed 13 --report mutants.txt

Slow (one rebuild and one suite run per mutant): not part of the default test run.
"""

import argparse
import os
import random
import re
import signal
import subprocess
import sys
import time

# The program's folders, the front end, the audio decoding and resampling, and the C++ of the batch
# tool and the Python module.
PRODUCT_FOLDERS = ("main", "options", "wave", "dsp", "mfcc", "modules", "include", "frontend",
                   "audio", "programs/batch", "programs/stream", "library", "python/src")
C_SOURCE = re.compile(r"\.(cpp|h)$")

# Operator swaps, written with the spaces the code base puts around binary operators.
C_SWAPS = [(" + ", " - "), (" - ", " + "), (" * ", " / "), (" / ", " * "), (" < ", " <= "),
           (" <= ", " < "), (" > ", " >= "), (" >= ", " > "), (" == ", " != "), (" != ", " == "),
           (" && ", " || "), (" || ", " && "), (" += ", " -= "), (" -= ", " += "),
           ("true", "false"), ("false", "true")]
SCRIPT_SWAPS = [(" && ", " || "), (" || ", " && "), (" -eq ", " -ne "), (" -ne ", " -eq "),
                (" -lt ", " -le "), (" -gt ", " -ge "), (" == ", " != "), (" != ", " == "),
                (" < ", " <= "), (" > ", " >= "), (" + ", " - "), (" - ", " + "),
                (" and ", " or "), (" or ", " and "), ("True", "False"), ("False", "True")]
INTEGER = re.compile(r"(?<![\w.])(\d+)(?![\w.])")
STRING = re.compile(r'"(?:\\.|[^"\\])*"|\'(?:\\.|[^\'\\])*\'')


def product_files(root):
    listed = subprocess.run(["git", "ls-files"], cwd=root, capture_output=True, text=True,
                            check=True).stdout.split()
    return sorted(f for f in listed
                  if (os.path.dirname(f).startswith(PRODUCT_FOLDERS) and C_SOURCE.search(f))
                  or (f.startswith("scripts/orvalix-")))


def is_code(line, script):
    text = line.strip()
    if not text:
        return False
    if script:
        return not text.startswith("#")
    return not text.startswith(("//", "/*", "*", "#"))


def sites(root):
    """Every (file, line number, column, old, new) a mutant can be made from, in a fixed order."""
    found = []
    for name in product_files(root):
        script = not C_SOURCE.search(name)
        swaps = SCRIPT_SWAPS if script else C_SWAPS
        with open(os.path.join(root, name), encoding="utf-8", errors="replace") as fh:
            for number, line in enumerate(fh, 1):
                if not is_code(line, script):
                    continue
                code = line.split("//")[0] if not script else line
                # Strings keep their text: blank them so no operator inside one is chosen.
                masked = STRING.sub(lambda m: " " * len(m.group()), code)
                for old, new in swaps:
                    for match in re.finditer(re.escape(old), masked):
                        if old.isalpha() and not re.match(r"\b%s\b" % old, masked[match.start():]):
                            continue
                        found.append((name, number, match.start(), old, new))
                for match in INTEGER.finditer(masked):
                    value = int(match.group(1))
                    replaced = {0: 1, 1: 0}.get(value, value + 1)
                    found.append((name, number, match.start(), match.group(1), str(replaced)))
    return found


def run(command, cwd, timeout):
    try:
        return subprocess.run(command, cwd=cwd, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        return "timeout"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default="build", help="configured build folder")
    parser.add_argument("--count", type=int, default=40, help="mutants to run")
    parser.add_argument("--seed", type=int, default=13)
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--timeout", type=int, default=300, help="seconds for one suite run")
    parser.add_argument("--report", help="also write the results to this file")
    parser.add_argument("--list", action="store_true", help="only list the sample, run nothing")
    args = parser.parse_args()
    root = subprocess.run(["git", "rev-parse", "--show-toplevel"], capture_output=True,
                          text=True, check=True).stdout.strip()
    build = os.path.abspath(args.build)
    candidates = sites(root)
    random.Random(args.seed).shuffle(candidates)
    if args.list:
        for site in candidates[:args.count]:
            print("%s:%d: %r -> %r" % (site[0], site[1], site[3], site[4]))
        return 0
    signal.signal(signal.SIGTERM, lambda *_: (_ for _ in ()).throw(KeyboardInterrupt()))
    suite = ["ctest", "-j", str(args.jobs), "--stop-on-failure", "--timeout", str(args.timeout)]
    if run(["cmake", "--build", build, "-j", str(args.jobs)], root, 900) != 0 or \
            run(suite, build, args.timeout + 60) != 0:
        print("the suite fails without any mutant: make it pass first")
        return 2

    results = []
    report = open(args.report, "w") if args.report else None
    started = time.time()
    for name, number, column, old, new in candidates:
        if len([r for r in results if r[0] != "unbuilt"]) == args.count:
            break
        path = os.path.join(root, name)
        with open(path, encoding="utf-8") as fh:
            original = fh.read()
        lines = original.split("\n")
        line = lines[number - 1]
        lines[number - 1] = line[:column] + new + line[column + len(old):]
        try:
            with open(path, "w", encoding="utf-8") as fh:
                fh.write("\n".join(lines))
            if run(["cmake", "--build", build, "-j", str(args.jobs)], root, 900) != 0:
                outcome = "unbuilt"
            else:
                status = run(suite, build, args.timeout + 60)
                outcome = "survived" if status == 0 else "killed"
        finally:
            with open(path, "w", encoding="utf-8") as fh:
                fh.write(original)
        entry = "%-8s %s:%d: %s  ->  %s" % (outcome, name, number, line.strip(),
                                            lines[number - 1].strip())
        results.append((outcome, entry))
        print(entry, flush=True)
        if report:
            print(entry, file=report, flush=True)
    run(["cmake", "--build", build, "-j", str(args.jobs)], root, 900)
    ran = [r for r in results if r[0] != "unbuilt"]
    killed = sum(1 for r in ran if r[0] == "killed")
    summary = "%d of %d mutants killed (%.0f %%), %d survived, %d did not build; %.0f s" % (
        killed, len(ran), 100.0 * killed / max(1, len(ran)), len(ran) - killed,
        len(results) - len(ran), time.time() - started)
    print(summary)
    if report:
        print(summary, file=report)
    return 0


if __name__ == "__main__":
    sys.exit(main())

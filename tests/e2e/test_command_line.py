"""The command line, the settings report, the existing-output and same-file checks, output faults."""

import os
import resource
import signal

from e2e import Checks, Folder, arguments, run, wave_bytes
from texts import USAGE, report

REPORT_16K = "\nNumber of channels: 1\nSampling rate: 16000\nBits per sample: 16\nReading .wav to buffer...\n"
CLOSING = "\nThe end of program\n"


def main():
    args = arguments()
    binary = os.path.abspath(args.bin)
    checks = Checks()
    speech = wave_bytes([((i * 37) % 2001) - 1000 for i in range(4000)])

    with Folder() as f:
        r = run(binary, [], f.path)
        checks.equal("no arguments: status", r.status, 255)
        checks.equal("no arguments: usage alone", r.out, USAGE)
        checks.equal("no arguments: nothing on stderr", r.err, "")

        r = run(binary, ["in"], f.path)
        checks.equal("one name", (r.status, r.out), (255, "ERROR: Too few parameters\n\n" + USAGE))
        r = run(binary, ["a", "b", "c"], f.path)
        checks.equal("three names", (r.status, r.out), (255, "ERROR: Too many parameters\n\n" + USAGE))
        r = run(binary, ["in", "out", "-Z"], f.path)
        checks.equal("unknown option", (r.status, r.out), (255, "ERROR: Unknown option -Z found.\n"))
        r = run(binary, ["-w5", "in", "out"], f.path)
        checks.equal("out of range, lower case", (r.status, r.out),
                     (255, "ERROR: Parameter W(1) = 5 is out of range [1,4].\n"))
        r = run(binary, ["-Q99999999999", "in", "out"], f.path)
        checks.equal("huge number saturates", (r.status, r.out),
                     (255, "ERROR: Parameter Q(1) = 2147483647 is out of range [0,99].\n"))
        r = run(binary, ["a.wav", "A.WAV"], f.path)
        checks.equal("equal names", (r.status, r.out),
                     (255, "ERROR: Input and output filenames should be different. (A.WAV)\n"))
        r = run(binary, ["x" * 1020, "out"], f.path)
        checks.equal("name too long with its extension", (r.status, r.out),
                     (255, "ERROR: File name too long (at most 1023 characters).\n"))
        checks.equal("command-line errors leave no file", f.names(), [])

    # A run of the default settings: report, loader report, pre-emphasis words, closing words.
    with Folder() as f:
        f.file("in.wav", speech)
        r = run(binary, ["in", "out"], f.path)
        checks.equal("default run", (r.status, r.err), (0, ""))
        checks.equal("default run: console text", r.out,
                     report() + REPORT_16K + "High emphasis filtering...OK\n" + CLOSING)
        lines = f.read("out.txt").decode().split("\n")
        checks.equal("default run: 22 frames and a final line end", len(lines), 23)
        checks.true("default run: twelve numbers per line, each followed by a blank",
                    all(len(l.split(" ")) == 13 and l.endswith(" ") for l in lines[:-1]))

        before = f.read("out.txt")
        f.file("out.txt", b"keep me")
        r = run(binary, ["-Q0", "in", "out"], f.path)
        checks.equal("existing output: status and streams", (r.status, r.out, r.err),
                     (0, USAGE, "\nFile exists and no overwrite specified! Check parameter -O\n\n"))
        checks.equal("existing output untouched", f.read("out.txt"), b"keep me")

        r = run(binary, ["-Q0", "-o", "in", "out"], f.path)
        checks.equal("-O replaces the file", (r.status, f.read("out.txt")), (0, before))
        checks.equal("-Q0 suppresses the report", r.out,
                     REPORT_16K + "High emphasis filtering...OK\n" + CLOSING)
        checks.equal("no temporary file is left", f.names(), ["in.wav", "out.txt"])

        r = run(binary, ["-H0", "-Q0", "-O", "in", "out", "-C"], f.path)
        checks.equal("-H0 prints no pre-emphasis words", r.out, REPORT_16K + CLOSING)
        checks.true("-C writes thirteen numbers", all(
            len(l.split(" ")) == 14 for l in f.read("out.txt").decode().split("\n")[:-1]))

    # The same file under two names, and through a link, is refused with or without -O.
    with Folder() as f:
        f.file("in.wav", speech)
        for extra in ([], ["-O"]):
            r = run(binary, ["in.wav", "./in.wav"] + extra, f.path)
            checks.equal("same file, other name %s" % extra, (r.status, r.out),
                         (255, report() + "ERROR: Input and output filenames should be different. (./in.wav)\n"))
        os.symlink("in.wav", os.path.join(f.path, "link.txt"))
        r = run(binary, ["-Q0", "-O", "in", "link"], f.path)
        checks.equal("output linked to the input", (r.status, r.out),
                     (255, "ERROR: Input and output filenames should be different. (link.txt)\n"))
        checks.equal("input intact", f.read("in.wav"), speech)

    # Output faults: a missing folder, a file-size limit; no partial file, an old file intact.
    with Folder() as f:
        f.file("in.wav", speech)
        r = run(binary, ["-Q0", "in", "missing/out"], f.path)
        checks.equal("missing folder", (r.status, r.err),
                     (1, "ERROR: Cannot write output file missing/out.txt: No such file or directory\n"))
        f.file("out.txt", b"old features")

        def small_files():
            resource.setrlimit(resource.RLIMIT_FSIZE, (100, 100))
        r = run(binary, ["-Q0", "-O", "in", "out"], f.path, preexec=small_files)
        checks.equal("file-size limit", (r.status, r.err),
                     (1, "ERROR: Cannot write output file out.txt: File too large\n"))
        checks.equal("old output intact after a failed write", f.read("out.txt"), b"old features")
        checks.equal("no partial file", f.names(), ["in.wav", "out.txt"])

    checks.finish()


if __name__ == "__main__":
    main()

"""orvalix-stream from the outside: rows read from its pipe before its input ends, the program's
file byte for byte with --exact, and its refusals, case by case."""

import os
import random
import select
import struct
import subprocess

from e2e import Checks, Folder, arguments, chunk, riff, wave_bytes

args, checks = arguments(), Checks()
args.bin, args.source = os.path.abspath(args.bin), os.path.abspath(args.source)
program = os.path.join(os.path.dirname(args.bin), "orvalix-stream")
inputs = os.path.join(args.source, "tests", "golden", "shared", "inputs")
random.seed(22)
speech = [random.randint(-3000, 3000) for _ in range(16000)]


def orvalix_lines(folder, wave, options):
    folder.file("in.wav", wave)
    subprocess.run([args.bin, "in.wav", "out.txt", "-Q0", "-O"] + options, cwd=folder.path,
                   capture_output=True, check=True)
    return folder.read("out.txt").decode().splitlines(keepends=True)


def stream(argv, data, cwd):
    p = subprocess.run([program] + argv, input=data, cwd=cwd, capture_output=True, timeout=120)
    return p.returncode, p.stdout.decode("latin-1"), p.stderr.decode("latin-1")


def read_line(proc, limit=60):
    """The next line of a running program, waiting on its data (at most `limit` s, not a timing
    requirement: a loaded machine answers long before)."""
    line = b""
    while not line.endswith(b"\n"):
        if not select.select([proc.stdout], [], [], limit)[0]:
            return None
        byte = os.read(proc.stdout.fileno(), 1)
        if not byte:
            return None
        line += byte
    return line.decode()


with Folder() as f:
    # The pipe: rows come while standard input stays open, each once its frame is followed by a
    # sample; in live mode row 0 is filtered against 0, every other row is the program's.
    for options in (["-C"], ["-H0"]):
        want = orvalix_lines(f, wave_bytes(speech), options)
        proc = subprocess.Popen([program, "--raw", "16000", "-"] + options, stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        first = 480 + 10 * 160 + 1  # completes frames 0..10
        proc.stdin.write(struct.pack("<%dh" % first, *speech[:first]))
        proc.stdin.flush()
        early = [read_line(proc) for _ in range(11)]
        proc.stdin.write(struct.pack("<%dh" % (len(speech) - first), *speech[first:]))
        proc.stdin.close()
        rest = proc.stdout.read().decode().splitlines(keepends=True)
        proc.wait(timeout=60)
        got = early + rest
        skip = 1 if options == ["-C"] else 0
        checks.equal("pipe %s: 11 rows before the input ends, then the rest" % options,
                     (proc.returncode, None in early, len(got), got[skip:]),
                     (0, False, len(want), want[skip:]))
        proc.stderr.close()

    # --exact against the program's file: recordings, stereo, 8 bit, unknown data sizes, options.
    samples = wave_bytes(speech)
    fmt = samples[12:36]
    exact_cases = [
        ("speech", open(os.path.join(args.source, "samples", "speech16k.wav"), "rb").read(), []),
        ("stereo", open(os.path.join(inputs, "sp_stereo_16000.wav"), "rb").read(), ["-C"]),
        ("8 bit", open(os.path.join(inputs, "sp_8000_u8.wav"), "rb").read(), ["-L25", "-S5"]),
        ("list before data", open(os.path.join(inputs, "list_before_data.wav"), "rb").read(), []),
        ("data size 0", riff(fmt + chunk(b"data", samples[44:], 0)), ["-C"]),
        ("data size unknown", riff(fmt + chunk(b"data", samples[44:], 0xFFFFFFFF)), ["-H0"])]
    for name, wave, options in exact_cases:
        proper = wave if "size" not in name else samples
        for source in ("-", "in.wav"):
            got = stream(["--exact", source] + options, wave, f.path)
            want = "".join(orvalix_lines(f, proper, options))
            f.file("in.wav", wave)
            checks.equal("--exact %s from %s" % (name, source), got, (0, want, ""))
    stereo = [random.randint(-3000, 3000) for _ in range(9000)]
    checks.equal("--raw --channels 2: the program's mono mix",
                 stream(["--exact", "--raw", "8000", "--channels", "2", "-", "-C"],
                        struct.pack("<%dh" % len(stereo), *stereo), f.path),
                 (0, "".join(orvalix_lines(f, wave_bytes(stereo, 8000, channels=2), ["-C"])), ""))

    # Refusals: status, standard output, the start of standard error.
    usage = stream(["--help"], b"", f.path)[1]
    bad = [([], b"", 2, "", "ERROR: Too few parameters\n" + usage),
           (["--help"], b"", 0, usage, ""),
           (["-", "-V1"], samples, 1, "", "ERROR: A stream cannot remove the DC offset (-V1)"),
           (["-", "-L0"], samples, 2, "", "ERROR: Parameter L(1) = 0 is out of range [1,100]."),
           (["--raw"], b"", 2, "", "ERROR: --raw needs a rate in Hz."),
           (["--raw", "8000", "--channels", "3", "-"], b"", 2, "", "ERROR: --channels needs 1 or 2."),
           (["--channels", "2", "-"], b"", 2, "", "ERROR: --channels goes with --raw."),
           (["--live", "-"], b"", 2, "", "ERROR: Unknown option --live."),
           (["a.wav", "b.wav"], b"", 2, "", "ERROR: Too many parameters"),
           (["-"], b"not a wave file", 1, "", "ERROR: The input is not a RIFF wave stream."),
           (["-"], samples[:40], 1, "", "ERROR: The wave stream ends before its data chunk."),
           (["-"], wave_bytes([0] * 30, bits=24), 1, "",
            "ERROR: Only 8- and 16-bit integer PCM wave streams are read."),
           (["missing.wav"], b"", 1, "", "ERROR: Cannot read missing.wav: No such file or directory"),
           (["--raw", "50", "-"], b"", 1, "", "ERROR: Window shift of 10 ms is below one sample at 50 Hz.")]
    for argv, data, status, out, err in bad:
        got = stream(argv, data, f.path)
        checks.equal("refused: %s" % argv, (got[0], got[1], got[2][:len(err)]), (status, out, err))
checks.finish()

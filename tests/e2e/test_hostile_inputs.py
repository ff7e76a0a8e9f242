"""Hostile and broken inputs through the real binary: each gives its exact messages and status,
never a crash, a hang or a partial output.

Inputs that are not regular files (folders, FIFOs, devices such as /dev/zero) are refused by the
wave reader before anything is read, like a file that cannot be opened: a FIFO would otherwise
block the open until a writer appears, and an endless stream has no end to walk chunks to."""

import glob
import os
import resource
import shutil
import struct
import subprocess
import time

from e2e import Checks, Folder, arguments, run, wave_bytes

CLOSING = "High emphasis filtering...OK\n\nThe end of program\n"
TABLE_FAILED = "Reading wave table size failed: RFX_FILE_ERROR\n"
DATA_FAILED = "Reading wave file data failed: %s\n"
TOO_LONG = "ERROR: File name too long (at most 1023 characters).\n"
SCIPY_WAVES = "/usr/lib/python3/dist-packages/scipy/io/tests/data"


def file_report(channels, rate, bits):
    return ("\nNumber of channels: %d\nSampling rate: %d\nBits per sample: %d\nReading .wav to buffer...\n"
            % (channels, rate, bits))


def with_format(data, rate=None, bits=None, channels=None):
    """Rewrites the format of a canonical header; byte rate and block align stay consistent,
    computed in wrapping 32-bit arithmetic as the reader checks them."""
    data = bytearray(data)
    ch = channels if channels is not None else struct.unpack_from("<H", data, 22)[0]
    r = rate if rate is not None else struct.unpack_from("<I", data, 24)[0]
    b = bits if bits is not None else struct.unpack_from("<H", data, 34)[0]
    struct.pack_into("<HIIHH", data, 22, ch, r, ((ch * r * b) & 0xFFFFFFFF) >> 3, (ch * b // 8) & 0xFFFF, b)
    return bytes(data)


def chunk(cid, body, size=None):
    return struct.pack("<4sI", cid, len(body) if size is None else size) + body


def main():
    args = arguments()
    binary = os.path.abspath(args.bin)
    checks = Checks()
    speech = [((i * 53) % 3001) - 1500 for i in range(3000)]
    canonical = wave_bytes(speech)

    def run_on(data, *options, timeout=60):
        with Folder() as f:
            f.file("in.wav", data)
            r = run(binary, ["-Q0", "in", "out"] + list(options), f.path, timeout=timeout)
            features = f.read("out.txt") if os.path.exists(os.path.join(f.path, "out.txt")) else None
            leftovers = [n for n in f.names() if n not in ("in.wav", "out.txt")]
            checks.equal("no temporary file left", leftovers, [])
            return r, features

    def run_bounded(what, names):
        """A run that must end by itself; a hang is a failure, not a stuck test."""
        try:
            return run(binary, ["-Q0"] + names, f.path, timeout=20)
        except subprocess.TimeoutExpired:
            checks.true(what + " ends within 20 s", False)
            return None

    def refused(what, data, out="", err=TABLE_FAILED):
        r, features = run_on(data)
        checks.equal(what, (r.status, r.out, r.err, features), (1, out, err, None))

    r, reference = run_on(canonical)
    checks.equal("canonical file", (r.status, r.err), (0, ""))

    # Empty and cut files: every length short of a whole header.
    refused("empty file", b"")
    for length in range(1, 44):
        refused("file cut to %d bytes" % length, canonical[:length])
    r, features = run_on(canonical[:44])
    checks.equal("header alone, data size beyond the file: no samples",
                 (r.status, r.out, features), (0, file_report(1, 16000, 16) + CLOSING, b""))

    # Sizes far beyond the file: the samples run to the end of the file.
    header = bytearray(canonical)
    struct.pack_into("<I", header, 4, 0xFFFFFFFF)
    struct.pack_into("<I", header, 40, 0x7FFFFFFF)
    r, features = run_on(bytes(header))
    checks.equal("RIFF and data sizes far beyond the file", (r.status, features), (0, reference))
    struct.pack_into("<I", header, 40, 0xFFFFFFFF)
    r, features = run_on(bytes(header))
    checks.equal("data size 2^32 - 1", (r.status, features), (0, reference))

    # Chunk sizes near 2^32 before the data: the walk steps past the end of the file and stops.
    fmt = canonical[12:36]
    data = canonical[36:]
    for size in (0xFFFFFFF7, 0xFFFFFFFE, 0xFFFFFFFF):
        refused("chunk of %#x bytes before the data" % size,
                wave_like(fmt + chunk(b"JUNK", b"abcd", size) + data))
    big_fmt = bytearray(fmt)
    struct.pack_into("<I", big_fmt, 4, 0xFFFFFFFE)
    refused("format chunk of 2^32 - 2 bytes", wave_like(bytes(big_fmt) + data))

    # An odd number of data bytes: the last, half sample is left out.
    odd = bytearray(wave_bytes(speech[:1500]) + b"\x7f")
    struct.pack_into("<I", odd, 40, 3001)
    struct.pack_into("<I", odd, 4, len(odd) - 8)
    r, features = run_on(bytes(odd))
    r2, whole = run_on(wave_bytes(speech[:1500]))
    checks.equal("odd data size reads the whole samples", (r.status, r.err, features), (0, "", whole))

    refused("data chunk before the format chunk", wave_like(data + fmt))
    refused("no format chunk", wave_like(data))

    for channels in (0, 3):
        refused("%d channels" % channels, with_format(canonical, channels=channels))

    # Sampling rates: below one sample per shift the run stops after loading.
    for rate in (0, 1):
        r, features = run_on(with_format(canonical, rate=rate))
        checks.equal("rate %d" % rate, (r.status, r.out, r.err, features),
                     (1, file_report(1, rate, 16) + "High emphasis filtering...OK\n",
                      "ERROR: Window shift of 10 ms is below one sample at %d Hz.\n" % rate, None))
    r, features = run_on(with_format(canonical, rate=999))
    checks.equal("rate 999: 29-sample frames every 9 samples",
                 (r.status, r.out, features.count(b"\n")), (0, file_report(1, 999, 16) + CLOSING, 331))
    # A 1 ms window below 1000 Hz holds no sample: the transform refuses it and ends the run.
    r, features = run_on(with_format(canonical, rate=999), "-L1")
    checks.equal("rate 999 with a 1 ms window", (r.status, r.out, r.err, features),
                 (1, file_report(1, 999, 16) + "High emphasis filtering...OK\n",
                  ">>> Error in fftmisc: argument 1 to NumberOfBitsNeeded is too small.\n", None))
    # The highest rate on a tiny file: no frame fits, so no frame-sized buffer is built either.
    tiny = with_format(wave_bytes(speech[:10]), rate=0x7FFFFFFF)
    for options in ([], ["-L100", "-S100", "-W4"], ["-L100", "-U"]):
        started = time.monotonic()
        with Folder() as f:
            f.file("in.wav", tiny)
            proc = subprocess.Popen([binary, "-Q0", "in", "out"] + options, cwd=f.path,
                                    stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            out, err = proc.communicate(timeout=60)
            features = f.read("out.txt")
        seconds = time.monotonic() - started
        checks.equal("rate 2^31 - 1 on 10 samples %s" % options, (proc.returncode, out.decode(), err, features),
                     (0, file_report(1, 0x7FFFFFFF, 16) + CLOSING, b"", b""))
        checks.true("rate 2^31 - 1 %s takes well under the frame's cost" % options, seconds < 5,
                    "(%.1f s)" % seconds)
    # Every child so far is a small run; the peak of the largest one bounds these three.
    peak_mb = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024
    checks.true("rate 2^31 - 1 on a tiny file stays small", peak_mb < 256, "(%.0f MB)" % peak_mb)
    for rate in (0x80000000, 0xFFFFFFFF):
        refused("rate %d" % rate, with_format(canonical, rate=rate))

    # Sample sizes: below 8 bits refused while opening, other sizes than 8 and 16 after the report.
    for bits in (0, 1):
        refused("%d bits" % bits, with_format(canonical, bits=bits))
    for bits in (12, 24, 32, 64):
        refused("%d bits" % bits, with_format(canonical, bits=bits),
                out=file_report(1, 16000, bits), err=DATA_FAILED % "RFX_INVALID_CALL")

    # Inputs that are not regular files.
    with Folder() as f:
        os.mkdir(os.path.join(f.path, "folder.wav"))
        r = run(binary, ["-Q0", "folder", "out"], f.path)
        checks.equal("a folder as input", (r.status, r.out, r.err), (1, "", TABLE_FAILED))
        os.mkfifo(os.path.join(f.path, "fifo.wav"))
        r = run_bounded("a FIFO as input", ["fifo", "out"])
        if r:
            checks.equal("a FIFO without a writer as input", (r.status, r.out, r.err), (1, "", TABLE_FAILED))
        os.symlink("/dev/zero", os.path.join(f.path, "zero.wav"))
        r = run_bounded("/dev/zero as input", ["zero", "out"])
        if r:
            checks.equal("/dev/zero as input", (r.status, r.out, r.err), (1, "", TABLE_FAILED))
        checks.equal("nothing written for them", f.names(), ["fifo.wav", "folder.wav", "zero.wav"])

        # A FIFO as the output counts as an existing file, and -O replaces it with the features.
        f.file("in.wav", canonical)
        os.mkfifo(os.path.join(f.path, "pipe.txt"))
        r = run_bounded("a FIFO as output", ["in", "pipe"])
        if r:
            checks.equal("a FIFO as output without -O", (r.status, r.err),
                         (0, "\nFile exists and no overwrite specified! Check parameter -O\n\n"))
        r = run_bounded("a FIFO as output with -O", ["-O", "in", "pipe"])
        if r:
            checks.equal("a FIFO as output with -O", (r.status, f.read("pipe.txt")), (0, reference))

    # An unreadable input: root reads everything, so the run drops to an unprivileged user, with a
    # copy of the binary that user can reach (a checkout under /root is closed to it).
    with Folder() as f, Folder() as reachable:
        os.chmod(f.path, 0o777)
        os.chmod(reachable.path, 0o755)
        binary_copy = os.path.join(reachable.path, "orvalix")
        shutil.copy(binary, binary_copy)
        f.file("in.wav", canonical)
        os.chmod(os.path.join(f.path, "in.wav"), 0)
        def unprivileged():
            if os.geteuid() == 0:
                os.setgid(65534)
                os.setuid(65534)
        r = run(binary_copy, ["-Q0", "in", "out"], f.path, preexec=unprivileged)
        checks.equal("unreadable input", (r.status, r.out, r.err, f.names()), (1, "", TABLE_FAILED, ["in.wav"]))

    # Names with blanks and bytes outside ASCII (not even valid UTF-8).
    with Folder() as f:
        name = b"my input \xe9\xff \xe2\x82\xac"
        with open(os.path.join(f.path.encode(), name + b".wav"), "wb") as fh:
            fh.write(canonical)
        r = run(binary, ["-Q0", name, b"features \xe9 out"], f.path)
        with open(os.path.join(f.path.encode(), b"features \xe9 out.txt"), "rb") as fh:
            features = fh.read()
        checks.equal("blanks and non-ASCII bytes in names", (r.status, r.err, features), (0, "", reference))

    # Names of exactly 1023 characters fit; 1024 do not. Repeated slashes make long paths of
    # short components.
    with Folder() as f:
        f.file("in.wav", canonical)
        long_in = "./" + "/" * (1023 - len("./in.wav")) + "in.wav"
        long_out = "./" + "/" * (1023 - len("./out.txt")) + "out.txt"
        checks.equal("name lengths", (len(long_in), len(long_out)), (1023, 1023))
        r = run(binary, ["-Q0", long_in, long_out], f.path)
        checks.equal("names of 1023 characters", (r.status, r.err, f.read("out.txt")), (0, "", reference))
        for names in ((long_in + "x", "other"), ("in", "/" + long_out)):
            r = run(binary, ["-Q0", "-O"] + list(names), f.path)
            checks.equal("a name of 1024 characters", (r.status, r.out, r.err), (255, TOO_LONG, ""))
        long_bare = "./" + "/" * (1019 - len("./in")) + "in"  # 1019 + ".wav" = 1023
        r = run(binary, ["-Q0", "-O", long_bare, "out"], f.path)
        checks.equal("1019 characters and the default extension", (r.status, r.err), (0, ""))
        r = run(binary, ["-Q0", "-O", "/" + long_bare, "out"], f.path)
        checks.equal("1020 characters and the default extension", (r.status, r.out), (255, TOO_LONG))

    # A peer reader's corpus of odd files: whatever they hold, no signal ends the run.
    waves = sorted(glob.glob(os.path.join(SCIPY_WAVES, "*.wav")))
    if not waves:
        checks.cannot_run("no scipy test files in %s (apt-get install python3-scipy)" % SCIPY_WAVES)
    for path in waves:
        with Folder() as f:
            os.symlink(path, os.path.join(f.path, "in.wav"))
            r = run(binary, ["-Q0", "in", "out"], f.path)
            checks.true("scipy %s ends normally" % os.path.basename(path), r.status in (0, 1),
                        "(status %d)" % r.status)
            checks.true("scipy %s: status 0 exactly when features are written" % os.path.basename(path),
                        (r.status == 0) == os.path.exists(os.path.join(f.path, "out.txt")))

    checks.finish()


def wave_like(chunks):
    body = b"WAVE" + chunks
    return struct.pack("<4sI", b"RIFF", len(body)) + body


if __name__ == "__main__":
    main()

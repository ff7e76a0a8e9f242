"""The program from the outside, case by case: exact status, console texts and files left behind."""

import os
import resource
import shutil
import struct

from e2e import (DEVICE, EXISTS, FIFO, FOLDER, USAGE, Checks, Link, Mode, Folder, Sparse, arguments,
                 check_case, chunk, nobody, riff, run, sanitized, wave_bytes)

ROWS = [("V", "Remove DC-offset          = ", "NO"),
        ("U", "Use frames, which length are nearest smaller power of two = ", "NO"),
        ("H", "High emphasis coefficient = ", "97"),
        ("L", "Analysis window length (in milliseconds) = ", "30"),
        ("W", "Time domain windowing function = ", "Hamming"),
        ("S", "Analysis window shift (in ms) = ", "10"), ("F", "Feature type              = ", "MFCC"),
        ("N", "Number of Mel-Filters     = ", "0"), ("M", "Number of cepstral coefficients = ", "12"),
        ("C", "Include 0th cepstral coefficient = ", "NO"),
        ("I", "Lifter function type      = ", "Truncated"),
        ("A", "Filters action domain     = ", "Absolute magnitude domain")]
EMPHASIS, CLOSING = "High emphasis filtering...OK\n", "\nThe end of program\n"
TABLE_FAILED = "Reading wave table size failed: RFX_FILE_ERROR\n"
INVALID_CALL = "Reading wave file data failed: RFX_INVALID_CALL\n"
TOO_LONG = "ERROR: File name too long (at most 1023 characters).\n"
DIFFERENT = "ERROR: Input and output filenames should be different. (%s)\n"
REFUSED = (1, "", TABLE_FAILED, {})  # status, stdout, stderr, no file made
THREE_GIB = (3 << 30) - 2  # where the last sample of a sparse 3 GiB file goes


def report(**values):
    """The banner and the settings listing, with the given rows changed from their defaults."""
    rows = "".join("%s%s\n" % (text, values.get(letter, default)) for letter, text, default in ROWS)
    return "\nOrvalix Version 0.01 29.06.2001\n\n" + rows + "\n"


def file_report(channels=1, rate=16000, bits=16):
    return ("\nNumber of channels: %d\nSampling rate: %d\nBits per sample: %d\n"
            "Reading .wav to buffer...\n" % (channels, rate, bits))


def shaped(lines, numbers):
    """A test of a feature file: so many lines of so many "%f " numbers."""
    return lambda data: data is not None and [l.count(" ") for l in data.decode().split("\n")] \
        == [numbers] * lines + [0]


def extensible(fmt, data, subformat):
    """The format chunk of the extensible layout: 40 bytes, the sub-format GUID at byte 24."""
    body = b"\xfe\xff" + fmt[10:24] + struct.pack("<HHI", 22, 16, 4) + struct.pack("<H", subformat) + \
        bytes.fromhex("000000001000800000aa00389b71")
    return riff(chunk(b"fmt ", body) + data)


def on(data, *options):
    """The files and arguments of a quiet run on the given input file."""
    return {"in.wav": data}, ["-Q0", "in", "out"] + list(options)


def limited(kind, size):
    return lambda: resource.setrlimit(kind, (size, size))


def patched(data, offset, value):
    return data[:offset] + struct.pack("<I", value) + data[offset + 4:]


binary, checks = os.path.abspath(arguments().bin), Checks()
speech = [((i * 53) % 3001) - 1500 for i in range(3000)]
wav = wave_bytes(speech)
fmt, data = wav[12:36], wav[36:]

def features(data, *options):
    with Folder() as f:
        f.file("in.wav", data)
        run(binary, ["-Q0", "in", "out"] + list(options), f.path)
        return f.read("out.txt")
ref = features(wav)
half = features(wave_bytes(speech[:1500]))
IN = {"in.wav": wav}
RAN = {"out.txt": ref}
ran = file_report() + EMPHASIS + CLOSING
long_in = "./" + "/" * (1023 - len("./in.wav")) + "in.wav"
long_out = "./" + "/" * (1023 - len("./out.txt")) + "out.txt"
long_bare = "./" + "/" * (1019 - len("./in")) + "in"

# name, files before, argv, status, stdout, stderr, files after (None: not checked).
cases = [
    ("no arguments: the usage text alone", {}, [], 255, USAGE, "", {}),
    ("options only", {}, ["-Q0", "-V"], 255, USAGE, "", {}),
    ("one name", {}, ["in"], 255, "ERROR: Too few parameters\n\n" + USAGE, "", {}),
    ("three names", {}, ["a", "b", "c"], 255, "ERROR: Too many parameters\n\n" + USAGE, "", {}),
    ("option errors come first, only the first", {}, ["a", "b", "c", "-W9", "-Z"], 255,
     "ERROR: Parameter W(1) = 9 is out of range [1,4].\n", "", {}),
    ("a lone dash", IN, ["in", "out", "-"], 255, "ERROR: Unknown option -\0 found.\n", "", {}),
    ("a digit", IN, ["-1", "in", "out"], 255, "ERROR: Unknown option -1 found.\n", "", {}),
    ("equal names after the extension", {}, ["x.txt", "X"], 255, DIFFERENT % "X.txt", "", {}),
    ("equal names, case ignored", {}, ["a.wav", "A.WAV"], 255, DIFFERENT % "A.WAV", "", {}),
    ("1020 characters and the extension", {}, ["i" * 1020, "out"], 255, TOO_LONG, "", {}),
    ("1024 characters", IN, ["-Q0", long_in + "x", "other"], 255, TOO_LONG, "", {}),
    ("1024 characters out", IN, ["-Q0", "in", "/" + long_out], 255, TOO_LONG, "", {}),
    ("1023 characters fit", IN, ["-Q0", long_in, long_out], 0, ran, "", RAN),
    ("1019 and the extension fit", IN, ["-Q0", long_bare, "out"], 0, None, "", RAN),
    ("blanks and non-UTF-8 bytes in names", {b"my \xe9\xff \xe2\x82\xac.wav": wav},
     ["-Q0", b"my \xe9\xff \xe2\x82\xac", b"f \xe9 out"], 0, None, "", {b"f \xe9 out.txt": ref}),
    ("in and in: in.wav and in.txt", IN, ["-Q0", "in", "in"], 0, None, "", {"in.txt": ref}),
    ("names with dots in folders", {"d.d/x.wav": wav, "a.b": FOLDER}, ["-Q0", "d.d/x", "a.b/c"], 0,
     None, "", {"a.b/c.txt": ref}),
    ("an extension is kept", {"x.y": wav}, ["-Q0", "x.y", ".hidden"], 0, None, "", {".hidden": ref}),
    ("one name a prefix of the other", {"x.wav": wav}, ["-Q0", "x", "x.wa"], 0, None, "",
     {"x.wa": ref}),
    ("default run", IN, ["in", "out"], 0, report() + ran, "", {"out.txt": shaped(16, 12)}),
    ("-H0: no pre-emphasis words", IN, ["-H0", "-Q0", "in", "out", "-C"], 0,
     file_report() + CLOSING, "", {"out.txt": shaped(16, 13)}),
    ("the same file under another name", IN, ["in.wav", "./in.wav", "-O"], 255,
     report() + DIFFERENT % "./in.wav", "", {"in.wav": wav}),
    ("the output a link to the input", {"in.wav": wav, "link.txt": Link("in.wav")},
     ["-Q0", "-O", "in", "link"], 255, DIFFERENT % "link.txt", "", {"in.wav": wav}),
    ("missing output folder", IN, ["-Q0", "in", "missing/out"], 1, None,
     "ERROR: Cannot write output file missing/out.txt: No such file or directory\n", {}),
    ("a FIFO as output is an existing file", {"in.wav": wav, "p.txt": FIFO}, ["-Q0", "in", "p"], 0,
     None, EXISTS, {}),
    ("a device as output is an existing file", {"in.wav": wav, "d.txt": DEVICE}, ["-Q0", "in", "d"],
     0, None, EXISTS, {}),
]
NOT_REPLACED = {"d.txt": lambda got: got is None}  # still no regular file
cases += [  # -O writes into a device (here one that takes every byte), never replacing it
    ("-O writes into a device", {"in.wav": wav, "d.txt": DEVICE}, ["-Q0", "-O", "in", "d"], 0, None, "",
     NOT_REPLACED),
    ("-O through a link to a device", {"in.wav": wav, "d.txt": DEVICE, "l.txt": Link("d.txt")},
     ["-Q0", "-O", "in", "l"], 0, None, "", NOT_REPLACED),
] * (os.geteuid() == 0)
cases += [
    # Wave files people's tools write, and the ones the reader refuses.
    ("LIST before the data, a chunk after it", *on(wave_bytes(speech, extra_chunks_before=chunk(
        b"LIST", b"INFOx\0", 5), tail=chunk(b"id3 ", b"abcd"))), 0, ran, "", RAN),
    ("extensible integer PCM", *on(extensible(fmt, data, 1)), 0, ran, "", RAN),
    ("extensible float samples", *on(extensible(fmt, data, 3)), 1, file_report(), INVALID_CALL, {}),
    ("extensible tag, no room for the sub-format",
     *on(riff(fmt[:8] + b"\xfe\xff" + fmt[10:] + data)), 1, file_report(), INVALID_CALL, {}),
    ("8 bits", *on(wave_bytes(range(4000), bits=8)), 0, file_report(bits=8) + EMPHASIS + CLOSING, "",
     {"out.txt": shaped(22, 12)}),
    ("two equal channels give the mono features", *on(wave_bytes([v for s in speech for v in (s, s)],
                                                                 channels=2)), 0,
     file_report(channels=2) + EMPHASIS + CLOSING, "", RAN),
    ("float samples", *on(wave_bytes(speech, tag=3, bits=32)), 1, file_report(bits=32),
     INVALID_CALL, {}),
    ("lower-case form type", *on(wav[:8] + b"wave" + wav[12:]), *REFUSED),
    ("missing input", {}, ["-Q0", "absent", "out"], *REFUSED),
    ("no samples: an empty output", *on(wave_bytes([])), 0, ran, "", {"out.txt": b""}),
    ("header alone, data size beyond the file", *on(wav[:44]), 0, ran, "", {"out.txt": b""}),
    ("RIFF and data sizes far beyond the file",
     *on(patched(patched(wav, 4, 0xFFFFFFFF), 40, 0x7FFFFFFF)), 0, None, "", RAN),
    ("data size 2^32 - 1", *on(patched(wav, 40, 0xFFFFFFFF)), 0, None, "", RAN),
    ("an odd data size reads the whole samples",
     *on(wave_bytes(speech[:1500], tail=b"\x7f", data_size=3001)), 0, None, "", {"out.txt": half}),
    ("format chunk of 2^32 - 2 bytes", *on(riff(patched(fmt, 4, 0xFFFFFFFE) + data)), *REFUSED),
    ("data before the format", *on(riff(data + fmt)), *REFUSED),
    ("no format chunk", *on(riff(data)), *REFUSED),
    ("a format chunk too short to hold one is passed over",
     *on(riff(chunk(b"fmt ", fmt[8:22]) + fmt + data)), 0, ran, "", RAN),
    ("a byte rate that does not follow", *on(patched(wav, 28, 32001)), *REFUSED),
    ("a block align that does not follow", *on(wav[:32] + b"\x04" + wav[33:]), *REFUSED),
    # Sparse files of 3 GiB: offsets beyond 2 GiB; more than 2^31 samples; memory running out.
    ("data after a chunk of 2.5 GiB", *on(Sparse([(0, riff(fmt + chunk(b"JUNK", b"", 0xA0000000))),
                                                  (44 + 0xA0000000, data)])), 0, ran, "", RAN),
    ("3 GiB of 8-bit samples", *on(Sparse([(0, wave_bytes([], bits=8)), (THREE_GIB, b"\x34\x12")])), 1,
     "", "Reading wave table size failed: RFX_OUT_OF_MEMORY\n", {}),
    ("rate 999: 29-sample frames every 9 samples", *on(wave_bytes(speech, rate=999)), 0,
     file_report(rate=999) + EMPHASIS + CLOSING, "", {"out.txt": shaped(331, 12)}),
    ("rate 999 and a 1 ms window", *on(wave_bytes(speech, rate=999), "-L1"), 1,
     file_report(rate=999) + EMPHASIS,
     ">>> Error in fftmisc: argument 1 to NumberOfBitsNeeded is too small.\n", {}),
    ("a folder as input", {"f.wav": FOLDER}, ["-Q0", "f", "out"], *REFUSED),
    ("a FIFO without a writer as input", {"f.wav": FIFO}, ["-Q0", "f", "out"], *REFUSED),
    ("/dev/zero as input", {"z.wav": Link("/dev/zero")}, ["-Q0", "z", "out"], *REFUSED),
    ("a link to a regular file is read", {"real": wav, "l.wav": Link("real")}, ["-Q0", "l", "out"], 0,
     None, "", RAN),
]
# Over a minute (four chunks and more) on two threads: one thread's bytes and console text.
os.environ.pop("ORVALIX_THREADS", None)
minute = wave_bytes(speech * 360)
cases.append(("ORVALIX_THREADS=2 on 67 s", *on(minute), 0, ran, "", {"out.txt": features(minute)},
              lambda: os.putenv("ORVALIX_THREADS", "2")))
# The chunk walk: an empty data chunk in a file whose RIFF size is its true length (a pad byte
# after it allowed) holds no samples; with a data size of 0 from a streaming writer the samples
# run to the end of the file; chunks of any size and number before the data change nothing.
meta = chunk(b"LIST", b"INFOISFT" + struct.pack("<I", 3988) + bytes(range(256)) * 15 + bytes(148))
empty = wave_bytes([], tail=meta)
meta_as_samples = features(wave_bytes(list(struct.unpack("<%dh" % (len(meta) // 2), meta))))
many = b"".join(chunk(b"JUNK", bytes(i % 5 + i % 5 % 2), i % 5) for i in range(100000))
large = chunk(b"JUNK", bytes(200000))  # beyond any read buffer
cases += [("empty data chunk, true RIFF size, pad %r" % pad, *on(empty + pad), 0, ran, "",
           {"out.txt": b""}) for pad in (b"", b"\0")]
cases += [("data size 0, RIFF size %#x" % size, *on(patched(empty, 4, size)), 0, ran, "",
           {"out.txt": meta_as_samples}) for size in (0, 0xFFFFFFFF, len(empty) - 10, len(empty) - 6)]
cases += [("100000 small chunks before the data", *on(riff(fmt + many + data)), 0, ran, "", RAN),
          ("large chunks before the format and the data",
           *on(riff(large + fmt + many + large + data)), 0, ran, "", RAN)]
cases += [("file cut to %d bytes" % length, *on(wav[:length]), *REFUSED) for length in range(44)]
cases += [("a chunk of %#x bytes before the data" % size,
           *on(riff(fmt + chunk(b"JUNK", b"abcd", size) + data)), *REFUSED)
          for size in (0xFFFFFFF7, 0xFFFFFFFE, 0xFFFFFFFF)]
cases += [("format %s" % format, *on(wave_bytes(speech, **format)), *REFUSED) for format in (
    {"channels": 0}, {"channels": 3}, {"rate": 0x80000000}, {"rate": 0xFFFFFFFF}, {"bits": 0},
    {"bits": 1})]
cases += [("%d bits refused after the report" % bits, *on(wave_bytes(speech, bits=bits)), 1,
           file_report(bits=bits), INVALID_CALL, {}) for bits in (12, 24, 32, 64)]
cases += [("rate %d: a shift below one sample" % rate, *on(wave_bytes(speech, rate=rate)), 1,
           file_report(rate=rate) + EMPHASIS,
           "ERROR: Window shift of 10 ms is below one sample at %d Hz.\n" % rate, {})
          for rate in (0, 1)]
# The highest rate on a tiny file: no frame fits, so nothing frame-sized is built (bench/ times it).
for options in ([], ["-L100", "-S100", "-W4"], ["-L100", "-U"]):
    cases.append(("rate 2^31 - 1 on 10 samples %s" % options, *on(wave_bytes(speech[:10],
                  rate=0x7FFFFFFF), *options), 0, file_report(rate=0x7FFFFFFF) + EMPHASIS + CLOSING, "",
                  {"out.txt": b""}))
# Option letters in either case, numbers read leniently, flags only switch on; the listing shows
# every value (the usage text the defaults).
for options, values in [
        (["-W3", "-M13", "-V", "-C", "-A2", "-I3", "-N100", "-H0"],
         dict(V="YES", W="Barlett", M=13, C="YES", A="Power domain", I="Half raised sine", N=100, H=0)),
        (["-w2", "-i2", "-U", "-L100", "-S100", "-m20", "-n24", "-H50", "-Q1", "-Q3"],
         dict(W="Rectangular", I="Raised sine", U="YES", L=100, S=100, M=20, N=24, H=50)),
        (["-W4", "-H-5", "-L30ms", "-Q5,6", "-V7", "-c", "-R0", "-F1", "-D", "-E", "-O", "-H1,2"],
         dict(W="Blackman", H=1, V="YES", C="YES"))]:
    cases.append(("listing of %s" % " ".join(options), {"in.wav": wav[:44]}, options + ["in", "out"],
                  0, report(**values) + file_report() + (EMPHASIS if values.get("H") != 0 else "")
                  + CLOSING, "", {"out.txt": b""}))
for option in ("-Z", "-z5", "-Q", "-qx"):
    cases.append(("option " + option, IN, ["in", option, "out"], 255,
                  "ERROR: Unknown option -%s found.\n" % option[1].upper(), "", {}))
# The option, the value read, the range: the first, lowest and highest value of each.
for option, value, low, high in [
        ("-Q,", -1, 0, 99), ("-w5", 5, 1, 4), ("-M0", 0, 1, 20), ("-m21", 21, 1, 20),
        ("-H101", 101, 0, 100), ("-L0", 0, 1, 100), ("-I4", 4, 1, 3), ("-F2", 2, 1, 1),
        ("-N2147483648", 2147483647, 0, 100), ("-S99999999999", 2147483647, 1, 100),
        ("-Q-2147483648", 2147483647, 0, 99), ("-A,2", -1, 1, 2),
        ("-N2147483646", 2147483646, 0, 100)]:
    cases.append(("option " + option, IN, ["in", option, "out"], 255,
                  "ERROR: Parameter %s(1) = %d is out of range [%d,%d].\n"
                  % (option[1].upper(), value, low, high), "", {}))

# Runs under resource limits, and as an unprivileged user (root reads everything).
cases.append(("file-size limit: old output intact, no partial file",
              {"in.wav": wav, "out.txt": b"old"}, ["-Q0", "-O", "in", "out"], 1, None,
              "ERROR: Cannot write output file out.txt: File too large\n", {"out.txt": b"old"},
              limited(resource.RLIMIT_FSIZE, 100)))
cases += [("3 GiB of 16-bit samples in 512 MB",
           *on(Sparse([(0, wave_bytes([])), (THREE_GIB, b"\x34\x12")]), "-V"), 1, None,
           "Reading wave file data failed: RFX_OUT_OF_MEMORY\n", {},
           limited(resource.RLIMIT_AS, 512 << 20))] * (not sanitized(binary))  # ASan reserves more
cases += [("unreadable input", *on(Mode(wav, 0)), 1, "", TABLE_FAILED, {}, nobody),
          ("a private output", {"in.wav": Mode(wav, 0o644), "out.txt": Mode(b"old", 0o600)},
           ["-Q0", "in", "out"], 0, USAGE, EXISTS, {"out.txt": b"old"}, nobody),
          ("a dangling link as output", {"in.wav": Mode(wav, 0o644), "out.txt": Link("no")},
           ["-Q0", "in", "out"], 0, USAGE, EXISTS, {"out.txt": lambda got: got is None}, nobody)]
with Folder() as reachable:  # a copy of the binary any user can run (a checkout under /root is not)
    os.chmod(reachable.path, 0o755)
    copy = shutil.copy(binary, reachable.path)
    for case in cases:
        check_case(checks, copy, *case)
checks.finish()

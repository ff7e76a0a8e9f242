"""The chunk walk on the real binary: an empty data chunk in a file whose RIFF size is its true length
holds no samples (metadata after it is never analysed), a data size of 0 from a streaming writer
still runs to the end of the file, and many chunks (empty, odd-sized, larger than any read buffer)
before the data give the features of the plain file."""

import os
import struct

from e2e import Checks, Folder, arguments, run, wave_bytes

FMT = struct.pack("<4sIHHIIHH", b"fmt ", 16, 1, 1, 16000, 32000, 2, 16)


def riff(body, size=None):
    return struct.pack("<4sI", b"RIFF", len(body) if size is None else size) + body


def chunk(cid, body, size=None):
    pad = b"\0" if len(body) % 2 else b""
    return struct.pack("<4sI", cid, len(body) if size is None else size) + body + pad


def main():
    args = arguments()
    binary = os.path.abspath(args.bin)
    checks = Checks()
    samples = [((i * 37) % 2001) - 1000 for i in range(4000)]
    metadata = chunk(b"LIST", b"INFOISFT" + struct.pack("<I", 3988) + bytes(range(256)) * 15 + bytes(148))
    empty_data = b"WAVE" + FMT + chunk(b"data", b"") + metadata
    as_samples = wave_bytes(list(struct.unpack("<%dh" % (len(metadata) // 2), metadata)))
    plain = wave_bytes(samples)
    data = chunk(b"data", struct.pack("<%dh" % len(samples), *samples))
    many = b"".join(chunk(b"JUNK", bytes(i % 5)) for i in range(100000))  # sizes 0..4, padded
    large = chunk(b"JUNK", bytes(200000))  # beyond any read buffer

    cases = [  # what, file, file of the expected features (None: no frame at all)
        ("empty data chunk, true RIFF size", riff(empty_data), None),
        ("empty data chunk, true RIFF size and a pad byte", riff(empty_data) + b"\0", None),
        ("data size 0, RIFF size 0", riff(empty_data, 0), as_samples),
        ("data size 0, RIFF size 0xFFFFFFFF", riff(empty_data, 0xFFFFFFFF), as_samples),
        ("data size 0, RIFF size short of the file", riff(empty_data, len(empty_data) - 2), as_samples),
        ("data size 0, RIFF size past the file", riff(empty_data, len(empty_data) + 2), as_samples),
        ("100000 small chunks before the data", riff(b"WAVE" + FMT + many + data), plain),
        ("a large chunk before the format and the data", riff(b"WAVE" + large + FMT + many + large + data), plain),
    ]
    with Folder() as f:
        for what, data_file, expected_file in cases:
            f.file("in.wav", data_file)
            r = run(binary, ["-Q0", "-O", "in", "out"], f.path)
            got = (r.status, r.err, f.read("out.txt"))
            want = (0, "", b"")
            if expected_file is not None:
                f.file("expected.wav", expected_file)
                run(binary, ["-Q0", "-O", "expected", "expected"], f.path)
                want = (0, "", f.read("expected.txt"))
                checks.true(what + ": the expected features have frames", want[2] != b"")
            checks.equal(what, got, want)
    checks.finish()


if __name__ == "__main__":
    main()

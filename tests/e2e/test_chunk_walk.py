"""The chunk walk on the real binary: an empty data chunk in a file whose RIFF size is its true length
holds no samples (metadata after it is never analysed), a data size of 0 from a streaming writer
still runs to the end of the file, and many chunks (empty, odd-sized, larger than any read buffer)
before the data give the features of the plain file."""

import os
import struct

from e2e import Checks, Folder, arguments, chunk, riff, run, wave_bytes


def main():
    binary, checks = os.path.abspath(arguments().bin), Checks()
    plain = wave_bytes([((i * 37) % 2001) - 1000 for i in range(4000)])
    fmt, data = plain[12:36], plain[36:]
    meta = chunk(b"LIST", b"INFOISFT" + struct.pack("<I", 3988) + bytes(range(256)) * 15 + bytes(148))
    empty = wave_bytes([], tail=meta)  # its RIFF size is its length
    riff_size = lambda size: empty[:4] + struct.pack("<I", size) + empty[8:]
    as_samples = wave_bytes(list(struct.unpack("<%dh" % (len(meta) // 2), meta)))
    many = b"".join(chunk(b"JUNK", bytes(i % 5 + i % 5 % 2), i % 5) for i in range(100000))  # padded
    large = chunk(b"JUNK", bytes(200000))  # beyond any read buffer
    cases = [  # what, file, the file whose features it must give (None: no frame at all)
        ("empty data chunk, true RIFF size", empty, None),
        ("empty data chunk, true RIFF size and a pad byte", empty + b"\0", None),
        ("data size 0, RIFF size 0", riff_size(0), as_samples),
        ("data size 0, RIFF size 0xFFFFFFFF", riff_size(0xFFFFFFFF), as_samples),
        ("data size 0, RIFF size short of the file", riff_size(len(empty) - 10), as_samples),
        ("data size 0, RIFF size past the file", riff_size(len(empty) - 6), as_samples),
        ("100000 small chunks before the data", riff(fmt + many + data), plain),
        ("large chunks before the format and the data", riff(large + fmt + many + large + data), plain),
    ]
    with Folder() as f:
        for what, wave, expected in cases:
            f.file("in.wav", wave), f.file("expected.wav", expected or wave_bytes([]))
            r = run(binary, ["-Q0", "-O", "in", "out"], f.path)
            run(binary, ["-Q0", "-O", "expected", "expected"], f.path)
            got = f.read("out.txt")
            checks.equal(what + ": the features, and whether they have frames", (r.status, r.err, got,
                         got != b""), (0, "", f.read("expected.txt"), expected is not None))
    checks.finish()


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/<target>/: small valid and invalid inputs."""

import os
import struct

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fuzz")


def wave(samples=(0, 1000, -1000, 32767, -32768, 5), rate=16000, bits=16, channels=1, tag=1,
         fmt_size=16, before=b"", after=b"", data_size=None, riff_size=None, order="fd"):
    if bits == 8:
        data = bytes(s & 0xFF for s in samples)
    else:
        data = struct.pack("<%dh" % len(samples), *samples)
    align = channels * bits // 8
    fmt_body = struct.pack("<HHIIHH", tag, channels, rate, rate * align & 0xFFFFFFFF, align, bits)
    fmt_body += b"\0" * (fmt_size - 16)
    fmt = struct.pack("<4sI", b"fmt ", fmt_size) + fmt_body
    dchunk = struct.pack("<4sI", b"data", len(data) if data_size is None else data_size) + data
    chunks = fmt + before + dchunk if order == "fd" else dchunk + fmt
    body = b"WAVE" + chunks + after
    return struct.pack("<4sI", b"RIFF", len(body) if riff_size is None else riff_size) + body


def write(target, name, data):
    with open(os.path.join(HERE, "corpus", target, name), "wb") as fh:
        fh.write(data)


def main():
    w = lambda name, data: write("wave", name, data)
    w("mono16.wav", wave())
    w("mono8.wav", wave(bits=8, samples=(0, 128, 255, 7)))
    w("stereo16.wav", wave(channels=2, samples=(1, 2, 3, 4, -5, -6)))
    w("list_before_data.wav", wave(before=struct.pack("<4sI", b"LIST", 5) + b"abcde\0"))
    w("fmt18.wav", wave(fmt_size=18))
    w("extensible.wav", wave(tag=0xFFFE, fmt_size=40))
    w("float32.wav", wave(tag=3, bits=32, samples=(0, 0, 0, 0)))
    w("bits24.wav", wave(bits=24, samples=(1, 2, 3)))
    w("bits0.wav", wave(bits=0, samples=()))
    w("three_channels.wav", wave(channels=3))
    w("rate0.wav", wave(rate=0))
    w("rate_huge.wav", wave(rate=0x7FFFFFFF & ~1))
    w("data_size_zero.wav", wave(data_size=0))
    w("data_size_huge.wav", wave(data_size=0xFFFFFFFF))
    w("odd_data.wav", wave(bits=8, samples=(1, 2, 3)))
    w("data_before_fmt.wav", wave(order="df"))
    w("chunk_near_4g.wav", wave(before=struct.pack("<4sI", b"JUNK", 0xFFFFFFF7)))
    w("truncated.wav", wave()[:30])
    w("empty.wav", b"")
    w("riff_only.wav", b"RIFF")

    c = lambda name, args: write("command_line", name, b"\0".join(args))
    c("plain", [b"in", b"out"])
    c("options", [b"-L25", b"-S10", b"-W4", b"in.wav", b"-c", b"out", b"-I2", b"-A2", b"-N40"])
    c("out_of_range", [b"-w5", b"in", b"out"])
    c("unknown", [b"in", b"out", b"-Z"])
    c("lists", [b"-Q1,2,,3", b"-H", b"-", b"in", b"out"])
    c("same_names", [b"a.wav", b"A.WAV"])
    c("too_many", [b"a", b"b", b"c"])
    c("long_name", [b"x" * 1019, b"out"])
    c("path_dots", [b"dir.d/in", b"dir.d/out.", b"-O"])

    a = lambda name, settings, rate, samples: write(
        "analysis", name, bytes(settings) + struct.pack("<I", rate) +
        struct.pack("<%dh" % len(samples), *samples))
    speech = [((i * 37) % 2001) - 1000 for i in range(1200)]
    a("defaults16k", [29, 9, 0, 11, 0, 0, 0, 0, 97, 1, 0, 0], 16000, speech)
    a("blackman_power", [24, 4, 40, 19, 3, 2, 1, 3, 50, 1, 0, 0], 8000, speech)
    a("pow2_below_44k", [9, 0, 0, 12, 1, 1, 0, 2, 0, 1, 0, 0], 44100, speech)
    a("low_rate", [0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0], 999, speech[:50])
    a("huge_rate_short", [99, 99, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0], 0x7FFFFFFF, speech[:10])
    a("zero_rate", [0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0], 0, speech[:10])
    a("empty_signal", [29, 9, 0, 11, 0, 0, 0, 0, 97, 1, 0, 0], 16000, [])

    f = lambda name, settings, values: write(
        "frontend", name, bytes(settings) + struct.pack("<%df" % len(values), *values))
    rows = [((i * 37) % 41) - 20.5 for i in range(240)]
    f("sliding_vad", [2, 9, 10, 2, 0, 28, 13, 0, 8, 2, 11, 4], rows)
    f("centred_variance", [4, 10, 10, 2, 1, 15, 11, 1, 3, 2, 9, 6],
      rows[:100] + [float("-inf")] + rows[101:])
    f("utterance_row_sum", [1, 9, 9, 1, 1, 8, 8, 0, 8, 0, 10, 5], rows)


if __name__ == "__main__":
    main()

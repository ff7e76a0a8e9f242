"""Makes the committed golden cases: generated input signals and their expected feature files.

The expected files come from the literal reference implementation (tests/reference), written
straight from the algorithm text, never from the program itself; the script then checks that the
program agrees. Run after building (make build):

    python3 dev/make_golden.py --literal build/tests/orvalix_literal_mfcc --bin build/orvalix
"""

import argparse
import math
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "golden")
LOCAL = os.path.join(HERE, "local")
SAMPLE = os.path.join(HERE, "..", "..", "samples", "speech16k.wav")

# name, input, options
CASES = [
    ("sample_default", "sample", []),
    ("sample_c0_raised_sine", "sample", ["-C", "-I2"]),
    ("sample_triangle_power", "sample", ["-W2", "-A2", "-C"]),
    ("sample_pow2_dc_hann_half_sine", "sample", ["-U", "-V", "-W3", "-I3"]),
    ("chirp8k_blackman_m20", "chirp8k.wav", ["-W4", "-M20", "-C"]),
    ("noise11k_u8_n24", "noise11k_u8.wav", ["-C", "-N24"]),
    ("tones22k_l25_s5_h50", "tones22k.wav", ["-L25", "-S5", "-H50", "-C"]),
    ("tones22k_h0_power", "tones22k.wav", ["-H0", "-A2", "-I3"]),
    ("speech44k_pow2", "speech44k.wav", ["-U", "-C"]),
    ("stereo48k", "stereo48k.wav", ["-C", "-V"]),
    ("short481", "short481.wav", ["-C"]),
    ("dc_offset_16k", "dc16k.wav", ["-V", "-C", "-N12", "-M8"]),
]


def wave_bytes(samples, rate, bits=16, channels=1):
    data = bytes(samples) if bits == 8 else struct.pack("<%dh" % len(samples), *samples)
    align = channels * bits // 8
    fmt = struct.pack("<4sIHHIIHH", b"fmt ", 16, 1, channels, rate, rate * align, align, bits)
    body = b"WAVE" + fmt + struct.pack("<4sI", b"data", len(data)) + data
    return struct.pack("<4sI", b"RIFF", len(body)) + body


def clip16(v):
    return max(-32768, min(32767, int(v)))


def read_sample_pcm():
    with open(SAMPLE, "rb") as fh:
        raw = fh.read()[44:]
    return list(struct.unpack("<%dh" % (len(raw) // 2), raw[: len(raw) // 2 * 2]))


def make_inputs(folder):
    rng = random.Random(1234)
    n = 6000
    chirp = [clip16(9000 * math.sin(2 * math.pi * (100 + 1800 * i / n) * i / 8000)) for i in range(n)]
    inputs = {"chirp8k.wav": wave_bytes(chirp, 8000)}
    inputs["noise11k_u8.wav"] = wave_bytes([rng.randrange(256) for _ in range(5000)], 11025, bits=8)
    tones = [clip16(6000 * math.sin(2 * math.pi * 440 * i / 22050) + 3000 * math.sin(2 * math.pi * 3100 * i / 22050)
                    + rng.gauss(0, 300)) for i in range(8000)]
    inputs["tones22k.wav"] = wave_bytes(tones, 22050)
    speech = read_sample_pcm()
    # The sample at 44.1 kHz by linear interpolation: a real-speech signal at a rate whose top mel
    # edge falls on half the rate.
    up = [clip16(speech[int(i * 16000 / 44100)]) for i in range(20000)]
    inputs["speech44k.wav"] = wave_bytes(up, 44100)
    left = [clip16(5000 * math.sin(2 * math.pi * 300 * i / 48000) + rng.gauss(0, 200)) for i in range(12000)]
    right = [clip16(4000 * math.sin(2 * math.pi * 1700 * i / 48000) + rng.gauss(0, 200)) for i in range(12000)]
    inputs["stereo48k.wav"] = wave_bytes([v for pair in zip(left, right) for v in pair], 48000, channels=2)
    inputs["short481.wav"] = wave_bytes(speech[8000:8481], 16000)
    inputs["dc16k.wav"] = wave_bytes([clip16(v + 2500) for v in speech[:9000]], 16000)
    for name, data in inputs.items():
        with open(os.path.join(folder, name), "wb") as fh:
            fh.write(data)


def input_path(name):
    return os.path.abspath(SAMPLE) if name == "sample" else os.path.join(LOCAL, name)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--literal", required=True)
    parser.add_argument("--bin", required=True)
    args = parser.parse_args()
    os.makedirs(LOCAL, exist_ok=True)
    make_inputs(LOCAL)
    manifest = []
    mismatches = 0
    for name, source, options in CASES:
        with tempfile.TemporaryDirectory() as work:
            shutil.copyfile(input_path(source), os.path.join(work, "in.wav"))
            subprocess.run([os.path.abspath(args.literal), "in", "literal"] + options, cwd=work, check=True)
            subprocess.run([os.path.abspath(args.bin), "-Q0", "in", "program"] + options, cwd=work,
                           check=True, stdout=subprocess.DEVNULL)
            expected = open(os.path.join(work, "literal.txt"), "rb").read()
            produced = open(os.path.join(work, "program.txt"), "rb").read()
        with open(os.path.join(LOCAL, name + ".txt"), "wb") as fh:
            fh.write(expected)
        if expected != produced:
            mismatches += 1
            print("MISMATCH %s" % name)
        manifest.append("%s %s %s" % (name, source, " ".join(options)))
    with open(os.path.join(LOCAL, "cases.txt"), "w") as fh:
        fh.write("\n".join(manifest) + "\n")
    print("%d cases written, %d differ from the program" % (len(CASES), mismatches))
    return 1 if mismatches else 0


if __name__ == "__main__":
    sys.exit(main())

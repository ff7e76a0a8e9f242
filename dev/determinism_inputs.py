"""Inputs and option sets for the determinism checks: the bundled sample and a few generated files
that reach the other code paths (8-bit, two channels, odd rates, noise, silence, and a recording
long enough to be analysed a chunk at a time)."""

import os
import random
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from e2e import wave_bytes  # noqa: E402

OPTION_SETS = [
    [],
    ["-W4", "-I2", "-A2", "-C", "-V"],
    ["-U", "-L25", "-S5", "-N40", "-M20", "-H0"],
    ["-W2", "-I3", "-L100", "-S1", "-N100"],
    ["-W3", "-L1", "-S100", "-M1", "-H100"],
]


def generated_inputs():
    """(name, bytes) of the generated inputs; the same bytes on every call."""
    rng = random.Random(20010629)
    noise = [rng.randint(-32768, 32767) for _ in range(24000)]
    tone = [int(12000 * ((i * 7919) % 400 - 200) / 200) for i in range(22050)]
    stereo = [v for i in range(8000) for v in ((i * 37) % 2001 - 1000, (i * 91) % 1501 - 750)]
    return [
        ("noise48k.wav", wave_bytes(noise, rate=48000)),
        ("saw44k.wav", wave_bytes(tone, rate=44100)),
        ("bytes8k.wav", wave_bytes([rng.randint(0, 255) for _ in range(8000)], rate=8000, bits=8)),
        ("stereo11k.wav", wave_bytes(stereo, rate=11025, channels=2)),
        ("silence16k.wav", wave_bytes([0] * 16000)),
        ("odd999.wav", wave_bytes(noise[:5000], rate=999)),
        ("long16k.wav", wave_bytes([(v + 7 * i) % 65536 - 32768 for i, v in
                                    enumerate(noise * 47)])),
    ]


def main():
    """Writes the generated inputs into the folder given as the only argument."""
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for name, data in generated_inputs():
        with open(os.path.join(folder, name), "wb") as fh:
            fh.write(data)
    for options in OPTION_SETS:
        print(" ".join(options))


if __name__ == "__main__":
    main()

"""Recordings long enough to be analysed a chunk at a time, through the real binary, against the
literal reference pipeline: the feature files must be identical byte for byte.

Usage: long_inputs.py --bin PATH/orvalix --literal PATH/orvalix_literal_mfcc
"""

import argparse
import random

from e2e import Checks, Folder, run, wave_bytes

# Four chunks of 2^18 samples at least, and a few seconds more than a whole number of them.
SECONDS = 70


def speech_like(rng, count):
    """Tones that come and go under noise, so that every coefficient moves."""
    samples = []
    level, step = 0.0, 0.01
    for i in range(count):
        if i % 4000 == 0:
            level = rng.choice([0.0, 3000.0, 12000.0])
            step = rng.uniform(0.005, 0.3)
        value = int(level * ((i * step) % 2.0 - 1.0)) + rng.randint(-300, 300)
        samples.append(max(-32768, min(32767, value)))
    return samples


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--literal", required=True)
    args = parser.parse_args()
    checks = Checks()
    rng = random.Random(2026)

    with Folder() as f:
        f.file("mono16.wav", wave_bytes(speech_like(rng, SECONDS * 16000 + 1234)))
        cases = [("mono16.wav", []),
                 ("mono16.wav", ["-C", "-M20", "-W4", "-U1", "-A2", "-I2", "-L25", "-S7", "-H50", "-N40"])]
        for number, (name, options) in enumerate(cases):
            ours, theirs = "ours%d.txt" % number, "literal%d.txt" % number
            result = run(args.bin, [name, ours] + options, f.path, timeout=120)
            checks.equal("%s %s: status" % (name, " ".join(options)), result.status, 0)
            checks.true("%s %s: the run ends normally" % (name, " ".join(options)),
                        result.out.endswith("\nThe end of program\n"), result.out[-200:])
            literal = run(args.literal, [name, theirs] + options, f.path, timeout=300)
            checks.equal("literal %s %s: status" % (name, " ".join(options)), literal.status, 0)
            checks.true("%s %s: features identical to the literal pipeline" % (name, " ".join(options)),
                        f.read(ours) == f.read(theirs))
    checks.finish()


if __name__ == "__main__":
    main()

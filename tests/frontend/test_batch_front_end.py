"""orvalix-batch's front-end options against the library's calls made one by one (the test
driver): deltas, CMVN, VAD labels beside the features (Kaldi float vectors, .lab text) and voiced
rows only, in the kaldi, npy and htk formats, from MFCC and from log filter energies; refused
settings."""

import argparse
import os
import struct
import subprocess
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from e2e import Checks, Folder  # noqa: E402
from test_batch import kaldi  # noqa: E402
from test_frontend import driver_calls  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    for name in ("batch", "driver", "source"):
        parser.add_argument("--" + name, required=True)
    args, checks = parser.parse_args(), Checks()
    with Folder() as f:
        call, runs = driver_calls(args.driver, f), iter(range(99))
        lab_text = lambda labels: "".join("%d\n" % v for v in labels)
        htk = lambda data: (struct.unpack(">IxxxxHH", data[:12]), data[12:])  # frames, width, kind

        def batch(fmt, *options):
            out = "%s%d/" % (fmt, next(runs))
            status = subprocess.run([args.batch, "--format", fmt, "--no-progress", f.path + "/in",
                                     f.path + "/" + out, *options], capture_output=True).returncode
            return status, out

        with open(os.path.join(args.source, "samples", "speech16k.wav"), "rb") as sample:
            speech = f.file("in/speech.wav", sample.read())
        x = call("analyse", speech, "-C")
        labels = call("vad", x)[:, 0]

        status, out = batch("kaldi", "--deltas", "2", "--cmvn", "sliding", "--vad-labels", "-C")
        wanted = call("cmvn", call("deltas", x, 2, 2))
        checks.equal("kaldi: deltas then sliding CMVN of c0..c12; labels as a float vector of 1 and 0",
                     (status, kaldi(f, out + "feats.scp"), kaldi(f, out + "vad.scp")),
                     (0, [("speech", (b"speech ", b"\0B", b"FM ", 4, len(x), 4, 39), wanted.tobytes())],
                      [("speech", (b"speech ", b"\0B", b"FV ", 4, len(x)), labels.tobytes())]))

        status, out = batch("npy", "--deltas", "1", "--delta-window", "3", "--cmvn", "utterance",
                            "--cmvn-variance", "--vad-labels", "--voiced-only")
        wanted = call("select", call("cmvn", call("deltas", x[:, 1:], 1, 3), 1, 1, 600, 100, 0),
                      labels=labels)
        checks.equal("npy: the labels' text; c0 left out before the deltas, voiced rows only",
                     (status, f.read(out + "speech.lab").decode(),
                      np.load(f.path + "/" + out + "speech.npy").tobytes()),
                     (0, lab_text(labels), wanted.tobytes()))

        status, out = batch("htk", "--deltas", "2", "--cmvn", "sliding", "--cmvn-centred",
                            "--cmvn-window", "300", "-C")
        c0_last = np.hstack([x[:, 1:], x[:, :1]])
        wanted = call("cmvn", call("deltas", c0_last, 2, 2), 2, 0, 300, 100, 1)
        checks.equal("htk: header (MFCC_0_D_A_Z), c0 last in every block", htk(f.read(out + "speech.htk")),
                     ((len(x), 39 * 4, 0x2B06), wanted.astype(">f4").tobytes()))

        rows = call("fbank", speech)
        fbank_labels = call("vad", rows, -2.5, 1, 15, 0.4, -1)[:, 0]
        wanted = call("select", call("deltas", rows, 1, 2), labels=fbank_labels)
        status, out = batch("htk", "--features", "fbank", "--deltas", "1", "--vad-labels",
                            "--voiced-only", "-C")
        checks.equal("fbank: labels by the row sums; HTK FBANK_D, 30 columns and deltas, voiced rows",
                     (status, f.read(out + "speech.lab").decode(), htk(f.read(out + "speech.htk"))),
                     (0, lab_text(fbank_labels), ((len(wanted), 240, 0x107), wanted.astype(">f4").tobytes())))

        for bad in (["--deltas", "3"], ["--deltas", "1", "--delta-window", "0"], ["--cmvn", "global"],
                    ["--cmvn", "sliding", "--cmvn-min-window", "601"], ["--cmvn-window", "x"],
                    ["--features", "plp"]):
            status, out = batch("text", *bad)
            checks.equal("refused %s: status 2, nothing written" % bad,
                         (status, os.path.exists(f.path + "/" + out)), (2, False))
    checks.finish()


if __name__ == "__main__":
    main()

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


def main():
    parser = argparse.ArgumentParser()
    for name in ("batch", "dump", "driver", "source"):
        parser.add_argument("--" + name, required=True)
    args = parser.parse_args()
    checks = Checks()
    with Folder() as f:
        matrix = lambda data: np.frombuffer(data[8:], "<f4").reshape(np.frombuffer(data[:8], "<i4"))
        lab_text = lambda labels: "".join("%d\n" % v for v in labels)
        htk = lambda data: (struct.unpack(">IxxxxHH", data[:12]), data[12:])  # frames, width, kind

        def library(op, x, *settings, labels=None):
            inputs = [x] if labels is None else [x, labels.astype(np.float32).reshape(-1, 1)]
            files = [f.file("in%d.bin" % i, np.array(m.shape, "<i4").tobytes() + m.astype("<f4").tobytes())
                     for i, m in enumerate(inputs)]
            subprocess.run([args.driver, op, *files, f.path + "/out.bin"] + list(map(str, settings)),
                           check=True)
            return matrix(f.read("out.bin"))

        runs = iter(range(99))

        def batch(fmt, *options):
            out = "%s%d/" % (fmt, next(runs))
            status = subprocess.run([args.batch, "--format", fmt, "--no-progress", f.path + "/in",
                                     f.path + "/" + out, *options], capture_output=True).returncode
            return status, out

        with open(os.path.join(args.source, "samples", "speech16k.wav"), "rb") as sample:
            speech = f.file("in/speech.wav", sample.read())
        subprocess.run([args.dump, speech, f.path + "/ref.f32", "-C"], check=True)
        x = np.fromfile(f.path + "/ref.f32", "<f4").reshape(-1, 13)
        labels = library("vad", x)[:, 0].astype(np.uint8)

        status, out = batch("kaldi", "--deltas", "2", "--cmvn", "sliding", "--vad-labels", "-C")
        wanted = library("cmvn", library("deltas", x, 2, 2))
        checks.equal("kaldi: deltas then sliding CMVN of c0..c12; labels as a float vector of 1 and 0",
                     (status, kaldi(f, out + "feats.scp"), kaldi(f, out + "vad.scp")),
                     (0, [("speech", (b"speech ", b"\0B", b"FM ", 4, len(x), 4, 39), wanted.tobytes())],
                      [("speech", (b"speech ", b"\0B", b"FV ", 4, len(x)), labels.astype("<f4").tobytes())]))

        status, out = batch("npy", "--deltas", "1", "--delta-window", "3", "--cmvn", "utterance",
                            "--cmvn-variance", "--vad-labels", "--voiced-only")
        wanted = library("select", library("cmvn", library("deltas", x[:, 1:], 1, 3), 1, 1, 600, 100, 0),
                         labels=labels)
        checks.equal("npy: status, the labels' text", (status, f.read(out + "speech.lab").decode()),
                     (0, lab_text(labels)))
        checks.true("npy: c0 left out before the deltas, voiced rows only",
                    np.array_equal(np.load(f.path + "/" + out + "speech.npy"), wanted))

        status, out = batch("htk", "--deltas", "2", "--cmvn", "sliding", "--cmvn-centred", "--cmvn-window",
                            "300", "-C")
        c0_last = np.hstack([x[:, 1:], x[:, :1]])
        wanted = library("cmvn", library("deltas", c0_last, 2, 2), 2, 0, 300, 100, 1)
        checks.equal("htk: header (MFCC_0_D_A_Z), c0 last in every block", htk(f.read(out + "speech.htk")),
                     ((len(x), 39 * 4, 0x2B06), wanted.astype(">f4").tobytes()))

        subprocess.run([args.driver, "fbank", speech, f.path + "/fbank.bin"], check=True)
        rows = matrix(f.read("fbank.bin"))
        fbank_labels = library("vad", rows, -2.5, 1, 15, 0.4, -1)[:, 0].astype(np.uint8)
        wanted = library("select", library("deltas", rows, 1, 2), labels=fbank_labels)
        status, out = batch("htk", "--features", "fbank", "--deltas", "1", "--vad-labels", "--voiced-only",
                            "-C")
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

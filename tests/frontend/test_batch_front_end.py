"""orvalix-batch's front-end options against the library's calls made one by one (the test
driver): deltas, CMVN, VAD labels beside the features (Kaldi float vectors, .lab text) and voiced
rows only, in the kaldi, npy and htk formats, from MFCC and from log filter energies; refused
settings."""

import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from e2e import Checks  # noqa: E402


def matrix_file(path, x):
    with open(path, "wb") as f:
        f.write(np.array(x.shape, "<i4").tobytes() + np.ascontiguousarray(x, "<f4").tobytes())
    return path


def kaldi_entries(scp, token):
    """key -> array, read through the script: at the offset '\\0B', the token, then either a
    sized row and column count (FM) or a sized length (FV), then the floats."""
    found = {}
    for line in open(scp).read().splitlines():
        key, place = line.split(" ", 1)
        path, offset = place.rsplit(":", 1)
        with open(path, "rb") as fh:
            fh.seek(int(offset))
            assert fh.read(5) == b"\0B" + token
            if token == b"FM ":
                rows, columns = struct.unpack("<xixi", fh.read(10))
                found[key] = np.frombuffer(fh.read(rows * columns * 4), "<f4").reshape(rows, columns)
            else:
                (length,) = struct.unpack("<xi", fh.read(5))
                found[key] = np.frombuffer(fh.read(length * 4), "<f4")
    return found


def main():
    parser = argparse.ArgumentParser()
    for name in ("batch", "dump", "driver", "source"):
        parser.add_argument("--" + name, required=True)
    args = parser.parse_args()
    checks = Checks()
    folder = tempfile.mkdtemp(prefix="orvalix_batch_front_")
    try:
        def path(name):
            return os.path.join(folder, name)

        def library(op, x, *settings, labels=None):
            inputs = [matrix_file(path("in.bin"), x)]
            if labels is not None:
                inputs.append(matrix_file(path("labels.bin"), labels.astype(np.float32).reshape(-1, 1)))
            subprocess.run([args.driver, op] + inputs + [path("out.bin")] + [str(s) for s in settings],
                           check=True)
            data = open(path("out.bin"), "rb").read()
            rows, columns = np.frombuffer(data[:8], "<i4")
            return np.frombuffer(data[8:], "<f4").reshape(rows, columns)

        os.makedirs(path("in"))
        shutil.copyfile(os.path.join(args.source, "samples", "speech16k.wav"), path("in/speech.wav"))
        static = {}
        for options in (["-C"], []):
            subprocess.run([args.dump, path("in/speech.wav"), path("ref.f32")] + options, check=True)
            static[bool(options)] = np.fromfile(path("ref.f32"), "<f4").reshape(-1, 13)
        x = static[True]
        labels = library("vad", x)[:, 0].astype(np.uint8)

        runs = []

        def batch(fmt, *options):
            runs.append(fmt)
            out = path("%s%d" % (fmt, len(runs)))
            r = subprocess.run([args.batch, "--format", fmt, "--no-progress", path("in"), out] + list(options),
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            return r.returncode, out

        status, out = batch("kaldi", "--deltas", "2", "--cmvn", "sliding", "--vad-labels", "-C")
        feats = kaldi_entries(os.path.join(out, "feats.scp"), b"FM ")
        vad = kaldi_entries(os.path.join(out, "vad.scp"), b"FV ")
        checks.equal("kaldi: status", status, 0)
        checks.true("kaldi: deltas then sliding CMVN of c0..c12",
                    np.array_equal(feats["speech"], library("cmvn", library("deltas", x, 2, 2))))
        checks.true("kaldi: labels as a float vector of 1 and 0", np.array_equal(vad["speech"], labels))

        status, out = batch("npy", "--deltas", "1", "--delta-window", "3", "--cmvn", "utterance",
                            "--cmvn-variance", "--vad-labels", "--voiced-only")
        wanted = library("select", library("cmvn", library("deltas", x[:, 1:], 1, 3), 1, 1, 600, 100, 0),
                         labels=labels)
        checks.equal("npy: status", status, 0)
        checks.true("npy: c0 left out before the deltas, voiced rows only",
                    np.array_equal(np.load(os.path.join(out, "speech.npy")), wanted))
        checks.equal("npy: the labels' text, one per frame",
                     open(os.path.join(out, "speech.lab")).read(), "".join("%d\n" % v for v in labels))

        status, out = batch("htk", "--deltas", "2", "--cmvn", "sliding", "--cmvn-centred",
                            "--cmvn-window", "300", "-C")
        data = open(os.path.join(out, "speech.htk"), "rb").read()
        frames, _, width, kind = struct.unpack(">IIHH", data[:12])
        in_htk_order = np.ascontiguousarray(np.hstack([x[:, 1:], x[:, :1]]))
        wanted = library("cmvn", library("deltas", in_htk_order, 2, 2), 2, 0, 300, 100, 1)
        checks.equal("htk: header (MFCC_0_D_A_Z)", (frames, width, kind), (len(x), 39 * 4, 0x2B06))
        checks.true("htk: c0 last in every block",
                    np.array_equal(np.frombuffer(data[12:], ">f4").reshape(frames, 39), wanted))

        subprocess.run([args.driver, "fbank", path("in/speech.wav"), path("fbank.bin")], check=True)
        data = open(path("fbank.bin"), "rb").read()
        rows = np.frombuffer(data[8:], "<f4").reshape(np.frombuffer(data[:8], "<i4"))
        status, out = batch("npy", "--features", "fbank", "--deltas", "1", "--vad-labels", "--voiced-only", "-C")
        fbank_labels = library("vad", rows, -2.5, 1, 15, 0.4, -1)[:, 0].astype(np.uint8)
        checks.equal("fbank: status", status, 0)
        checks.true("fbank: log filter energies with deltas, voiced by their row sums",
                    np.array_equal(np.load(os.path.join(out, "speech.npy")),
                                   library("select", library("deltas", rows, 1, 2), labels=fbank_labels)))
        checks.equal("fbank: labels", open(os.path.join(out, "speech.lab")).read(),
                     "".join("%d\n" % v for v in fbank_labels))
        status, out = batch("htk", "--features", "fbank")
        checks.equal("fbank: HTK kind FBANK, 30 columns",
                     struct.unpack(">HH", open(os.path.join(out, "speech.htk"), "rb").read()[8:12]), (120, 7))

        for bad in (["--deltas", "3"], ["--deltas", "1", "--delta-window", "0"], ["--cmvn", "global"],
                    ["--cmvn", "sliding", "--cmvn-min-window", "601"], ["--cmvn-window", "x"],
                    ["--features", "plp"]):
            status, out = batch("text", *bad)
            checks.equal("refused %s: status 2, nothing written" % bad, (status, os.path.exists(out)), (2, False))
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    checks.finish()


if __name__ == "__main__":
    main()

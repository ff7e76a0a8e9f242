"""Deltas, CMVN and energy VAD (test driver) bit for bit against NumPy after docs/frontend.md and
against synthesised speech; orvalix-batch's front-end options against the same calls."""

import functools
import json
import os
import subprocess
import sys

import numpy as np

np.seterr(all="ignore")  # the infinite rows make NaN on purpose
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from e2e import Checks, Folder, arguments, run  # noqa: E402
from test_batch import htk, kaldi  # noqa: E402
import vad_material  # noqa: E402


def in_order(values):  # a plain left-to-right double sum, as the library adds
    return functools.reduce(float.__add__, values, 0.0)


def delta_weights(order, window):
    """Order 1: n / (2 sum k^2); order k: order k-1 convolved with order 1, lower offsets ascending."""
    normaliser = 2.0 * sum(k * k for k in range(1, window + 1))
    first = {n: n / normaliser for n in range(-window, window + 1)}
    weights = [{0: 1.0}]
    for k in range(1, order + 1):
        weights.append({m: in_order(weights[-1][n] * first[m - n] for n in sorted(weights[-1])
                                    if m - n in first) for m in range(-k * window, k * window + 1)})
    return weights


def reference_deltas(x, order, window):
    blocks, frames = [x], np.arange(len(x))
    for weights in delta_weights(order, window)[1:]:
        total = np.zeros(x.shape)
        for offset in sorted(o for o in weights if weights[o] != 0.0):
            rows = np.clip(frames + offset, 0, len(x) - 1)
            total = total + weights[offset] * x[rows].astype(np.float64)
        blocks.append(total.astype(np.float32))
    return np.hstack(blocks)


def kaldi_window(t, frames, window, min_window, centred):
    """Kaldi's SlidingWindowCmnInternal, word for word."""
    start, end = (t - window // 2, t - window // 2 + window) if centred else (t - window, t + 1)
    if start < 0:
        end, start = end - start, 0
    if not centred and end > t:
        end = max(t + 1, min_window)
    if end > frames:
        start, end = max(start - (end - frames), 0), frames
    return start, end


def reference_cmvn(x, mode, variance, window, min_window, centred):
    x64, out = x.astype(np.float64), np.zeros(x.shape, np.float32)
    total, squares, last = np.zeros(x.shape[1]), np.zeros(x.shape[1]), None
    for t in range(len(x)):
        start, end = (0, len(x)) if mode == 1 else kaldi_window(t, len(x), window, min_window, centred)
        for r, sign in ([(r, 1) for r in range(start, end)] if last is None else
                        [(last[0], -1)] * (start > last[0]) + [(last[1], 1)] * (end > last[1])):
            total, squares = total + sign * x64[r], squares + sign * (x64[r] * x64[r])
        last, n = (start, end), float(end - start)
        value = x64[t] + (-1.0 / n) * total
        if variance:
            spread = squares * (1.0 / n) + (-1.0 / (n * n)) * (total * total)
            value = value * (1.0 / np.sqrt(np.maximum(spread, 1e-10)))
        out[t] = value
    return out


def reference_vad(x, threshold, mean_scale, context, proportion, column):
    energy = [row[column] if column >= 0 else in_order(row) for row in x.astype(np.float64)]
    above = np.array(energy) > threshold + mean_scale * (in_order(energy) / max(len(energy), 1))
    voters = [above[max(0, t - context):t + context + 1] for t in range(len(energy))]
    return np.array([float(v.sum() >= len(v) * proportion) for v in voters], np.float32).reshape(-1, 1)


def table(text):  # "op settings, ..." as (op, [settings as text])
    return [(case.split()[0], case.split()[1:]) for case in text.split(", ")]


def call(op, x, *settings):  # the driver's result matrix, or its status when it refuses
    if not isinstance(x, str):
        x = f.file("in.bin", np.array(x.shape, "<i4").tobytes() + x.astype("<f4").tobytes())
    status = subprocess.run([args.bin, op, x, f.path + "/out.bin", *map(str, settings)])
    if status.returncode:
        return status.returncode
    data = f.read("out.bin")
    return np.frombuffer(data[8:], "<f4").reshape(np.frombuffer(data[:8], "<i4"))


REFERENCE = {"deltas": reference_deltas, "cmvn": reference_cmvn, "vad": reference_vad,
             "select": lambda x, *vad: x[reference_vad(x, *vad)[:, 0] == 1]}
DEFAULTS = {"cmvn": [2, 0, 600, 100, 0], "vad": [-2.5, 1.0, 15, 0.4, 0]}  # Kaldi's; ours, calibrated
# deltas: order, window; cmvn: mode (1 utterance, 2 sliding), variance, window, minimum window,
# centred; vad, select: threshold, mean scale, context, proportion, column (-1 the row sum)
EXACT = table("deltas 1 1, deltas 1 2, deltas 2 2, deltas 2 3, cmvn 1 0 600 100 0, cmvn 1 1 600 100 0, "
              "cmvn 2 0 600 100 0, cmvn 2 1 600 100 0, cmvn 2 0 300 100 1, cmvn 2 1 300 100 1, "
              "cmvn 2 0 40 10 0, cmvn 2 1 7 3 1, cmvn 2 0 50 50 0, cmvn, vad 5 0.5 0 0.6 0, "
              "vad 0 0 2 0.12 -1, vad 1.5 0.25 3 0.5 3, vad 0 1 1 0.5 0, vad, select 0 1 1 0.5 0")
REFUSED = table("deltas 0 2, deltas 3 2, deltas 1 0, cmvn 3 0 600 100 0, cmvn 2 0 0 1 1, "
                "cmvn 2 0 50 51 0, cmvn 2 0 50 0 0, vad 0 1 0 0 0, vad 0 1 0 1 0, vad 0 1 -1 0.5 0, "
                "vad 0 -1 0 0.5 0, vad 0 1 0 0.5 3, vad 0 1 0 0.5 -2, vad inf 1 0 0.5 0")


args, checks = arguments(), Checks()  # --bin: the test driver
with Folder() as f:
    # Real MFCC rows of the bundled sample, random rows of awkward lengths, a filter without
    # weights (-inf in every frame) and a constant matrix that ties any threshold.
    rng = np.random.default_rng(16)
    sample = os.path.join(args.source, "samples", "speech16k.wav")
    inputs = {"speech": call("analyse", sample, "-C")}
    for frames in (1, 2, 5, 99, 150, 701):
        inputs["random%d" % frames] = (rng.standard_normal((frames, 7)) * 30 + 5).astype(np.float32)
    inputs["infinite"] = inputs["random99"].copy()
    inputs["infinite"][:, 2] = inputs["infinite"][50, 4] = -np.inf
    inputs["constant"] = np.full((30, 4), 2.5, np.float32)
    inputs["empty"] = np.zeros((0, 7), np.float32)

    for name, x in inputs.items():
        for op, settings in EXACT:
            got, numbers = call(op, x, *settings), [json.loads(v) for v in settings] or DEFAULTS[op]
            checks.true("%s %s %s" % (op, name, settings),
                        np.array_equal(got, REFERENCE[op](x, *numbers), equal_nan=True))

    for op, settings in REFUSED:
        checks.equal("%s %s refused" % (op, settings), call(op, np.ones((4, 3)), *settings), 101)

    clean, spans = vad_material.make_clean(f.path)  # frame accuracy at 95 % clean, 90 % in noise
    for snr, wanted in ((None, 0.95), (20, 0.90), (10, 0.90)):
        path = os.path.join(f.path, "noisy.wav")
        vad_material.write_wave(path, vad_material.add_noise(clean, spans, snr) if snr else clean)
        labels = call("vad", call("analyse", path))[:, 0]
        accuracy = float(np.mean(labels == vad_material.frame_truth(spans, len(labels))))
        checks.true("vad accuracy at SNR %s: %.3f over %d frames" % (snr, accuracy, len(labels)),
                    accuracy >= wanted)

    # orvalix-batch: deltas, CMVN, labels (Kaldi float vectors, .lab text) and voiced rows only, in
    # the kaldi, npy and htk formats, from MFCC (x: the sample's, with c0) and log filter energies.
    f.file("speech.scp", b"speech " + sample.encode())
    x, labels = inputs["speech"], call("vad", inputs["speech"])[:, 0]
    lab_text = lambda labels: "".join("%d\n" % v for v in labels)

    batch = lambda out, fmt, *options: run(os.environ["ORVALIX_BATCH"], [
        "--no-progress", "--format", fmt, "speech.scp", out, *options], f.path).status

    wanted = call("cmvn", call("deltas", x, 2, 2))
    status = batch("kaldi", "kaldi", "--deltas", "2", "--cmvn", "sliding", "--vad-labels", "-C")
    checks.equal("kaldi: deltas then sliding CMVN of c0..c12; labels as a float vector of 1 and 0",
                 (status, kaldi(f, "kaldi/feats.scp"), kaldi(f, "kaldi/vad.scp")),
                 (0, [("speech", (b"speech ", b"\0B", b"FM ", 4, len(x), 4, 39), wanted.tobytes())],
                  [("speech", (b"speech ", b"\0B", b"FV ", 4, len(x)), labels.tobytes())]))

    wanted = call("cmvn", call("deltas", x[:, 1:], 1, 3), 1, 1, 600, 100, 0)[labels == 1]
    status = batch("npy", "npy", "--deltas", "1", "--delta-window", "3", "--cmvn", "utterance",
                   "--cmvn-variance", "--vad-labels", "--voiced-only")
    npy = f.path + "/npy/speech.npy"
    checks.equal("npy: the labels' text; c0 left out before the deltas, voiced rows, data at 64",
                 (status, f.read("npy/speech.lab").decode(), np.load(npy).shape,
                  np.load(npy).tobytes(), (os.path.getsize(npy) - wanted.nbytes) % 64),
                 (0, lab_text(labels), wanted.shape, wanted.tobytes(), 0))

    wanted = call("cmvn", call("deltas", np.hstack([x[:, 1:], x[:, :1]]), 2, 2), 2, 0, 300, 100, 1)
    status = batch("htk", "htk", "--deltas", "2", "--cmvn", "sliding", "--cmvn-centred",
                   "--cmvn-window", "300", "-C")
    checks.equal("htk: header (MFCC_0_D_A_Z), c0 last in every block",
                 (status, htk(f.read("htk/speech.htk"))),
                 (0, ((len(x), 100000, 39 * 4, 0x2B06), wanted.tobytes())))

    rows = call("fbank", sample)
    fbank_labels = call("vad", rows, -2.5, 1, 15, 0.4, -1)[:, 0]
    wanted = call("deltas", rows, 1, 2)[fbank_labels == 1]
    checks.equal("fbank: labels by the row sums; HTK FBANK_D, 30 columns and deltas, voiced rows",
                 (batch("fbank", "htk", "--features", "fbank", "--deltas", "1", "--vad-labels",
                        "--voiced-only", "-C"),
                  f.read("fbank/speech.lab").decode(), htk(f.read("fbank/speech.htk"))),
                 (0, lab_text(fbank_labels), ((len(wanted), 100000, 240, 0x107), wanted.tobytes())))
checks.finish()

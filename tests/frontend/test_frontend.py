"""The front end after the analysis (deltas, CMVN, energy VAD), run through the library by a small
driver and held against NumPy implementations written from the formulas in docs/frontend.md, in
the same order of double operations (so bit for bit), against torchaudio's sliding_window_cmn
within float rounding, and against the known silences of synthesised speech."""

import argparse
import os
import subprocess
import sys
import tempfile

import numpy as np

np.seterr(all="ignore")  # the infinite rows make NaN on purpose

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from e2e import Checks  # noqa: E402
import vad_material  # noqa: E402

DRIVER = None
FOLDER = None


def write_matrix(name, x):
    path = os.path.join(FOLDER, name)
    with open(path, "wb") as f:
        f.write(np.array(x.shape, dtype="<i4").tobytes() + np.ascontiguousarray(x, "<f4").tobytes())
    return path


def read_matrix(path):
    data = open(path, "rb").read()
    rows, columns = np.frombuffer(data[:8], dtype="<i4")
    return np.frombuffer(data[8:], dtype="<f4").reshape(rows, columns)


def library(op, inputs, *settings):
    """Runs one call; the result matrix, or the exit status when the call refuses."""
    out = os.path.join(FOLDER, "out.bin")
    status = subprocess.run([DRIVER, op] + inputs + [out] + [str(s) for s in settings]).returncode
    return read_matrix(out) if status == 0 else status


# ---- The formulas, in NumPy float64 -------------------------------------------------------------

def delta_weights(order, window):
    """Order 1: n / (2 sum k^2); order k: the order k-1 weights convolved with order 1."""
    normaliser = 2.0 * sum(k * k for k in range(1, window + 1))
    first = {n: n / normaliser for n in range(-window, window + 1)}
    weights = [{0: 1.0}]
    for k in range(1, order + 1):
        lower = weights[-1]
        current = {}
        for m in range(-k * window, k * window + 1):
            total = 0.0
            for n in sorted(lower):
                if m - n in first:
                    total += lower[n] * first[m - n]
            current[m] = total
        weights.append(current)
    return weights


def reference_deltas(x, order, window):
    frames = np.arange(len(x))
    blocks = [x]
    for weights in delta_weights(order, window)[1:]:
        total = np.zeros(x.shape)
        for offset in sorted(weights):
            if weights[offset] != 0.0:
                rows = np.clip(frames + offset, 0, len(x) - 1)
                total = total + weights[offset] * x[rows].astype(np.float64)
        blocks.append(total.astype(np.float32))
    return np.hstack(blocks)


def kaldi_window(t, frames, window, min_window, centred):
    """Kaldi's SlidingWindowCmnInternal, word for word."""
    if centred:
        start = t - window // 2
        end = start + window
    else:
        start = t - window
        end = t + 1
    if start < 0:
        end -= start
        start = 0
    if not centred and end > t:
        end = max(t + 1, min_window)
    if end > frames:
        start -= end - frames
        end = frames
        start = max(start, 0)
    return start, end


def reference_cmvn(x, mode, variance, window, min_window, centred):
    frames = len(x)
    x64 = x.astype(np.float64)
    out = np.zeros(x.shape, np.float32)
    total = np.zeros(x.shape[1])
    squares = np.zeros(x.shape[1])
    last = None
    for t in range(frames):
        start, end = (0, frames) if mode == 1 else kaldi_window(t, frames, window, min_window, centred)
        if last is None:
            for r in range(start, end):
                total = total + x64[r]
                squares = squares + x64[r] * x64[r]
        else:
            if start > last[0]:
                total = total - x64[last[0]]
                squares = squares - x64[last[0]] * x64[last[0]]
            if end > last[1]:
                total = total + x64[last[1]]
                squares = squares + x64[last[1]] * x64[last[1]]
        last = (start, end)
        n = float(end - start)
        value = x64[t] + (-1.0 / n) * total
        if variance:
            spread = squares * (1.0 / n) + (-1.0 / (n * n)) * (total * total)
            value = value * (1.0 / np.sqrt(np.maximum(spread, 1e-10)))
        out[t] = value.astype(np.float32)
    return out


def reference_vad(x, threshold, mean_scale, context, proportion, column):
    energy = []
    for row in x.astype(np.float64):
        if column >= 0:
            energy.append(row[column])
        else:
            total = 0.0
            for value in row:
                total += value
            energy.append(total)
    total = 0.0
    for e in energy:
        total += e
    limit = threshold + mean_scale * (total / len(energy))
    above = [e > limit for e in energy]
    labels = []
    for t in range(len(energy)):
        voters = above[max(0, t - context):t + context + 1]
        labels.append(1.0 if sum(voters) >= len(voters) * proportion else 0.0)
    return np.array(labels, np.float32).reshape(-1, 1)


# ---- Checks --------------------------------------------------------------------------------------

def matrices(source):
    """Real MFCC rows of the bundled sample, and random rows of awkward lengths."""
    speech = os.path.join(FOLDER, "speech.bin")
    subprocess.run([DRIVER, "analyse", os.path.join(source, "samples", "speech16k.wav"), speech],
                   check=True)
    rng = np.random.default_rng(16)
    found = {"speech": read_matrix(speech)}
    for frames in (1, 2, 5, 99, 150, 701):
        found["random%d" % frames] = (rng.standard_normal((frames, 7)) * 30 + 5).astype(np.float32)
    # A filter without weights gives -inf in every frame; a constant column ties any threshold.
    found["infinite"] = found["random99"].copy()
    found["infinite"][:, 2] = -np.inf
    found["infinite"][50, 4] = -np.inf
    found["constant"] = np.full((30, 4), 2.5, np.float32)
    return found


def check_deltas(checks, inputs):
    for name, x in inputs.items():
        path = write_matrix("in.bin", x)
        for order, window in ((1, 1), (1, 2), (2, 2), (2, 3)):
            got = library("deltas", [path], order, window)
            checks.true("deltas %s order %d window %d bit for bit" % (name, order, window),
                        np.array_equal(got, reference_deltas(x, order, window), equal_nan=True))


def check_cmvn(checks, inputs):
    import torch
    import torchaudio.functional

    cases = [(1, 0, 600, 100, 0), (1, 1, 600, 100, 0), (2, 0, 600, 100, 0), (2, 1, 600, 100, 0),
             (2, 0, 300, 100, 1), (2, 1, 300, 100, 1), (2, 0, 40, 10, 0), (2, 1, 7, 3, 1),
             (2, 0, 50, 50, 0)]
    for name, x in inputs.items():
        path = write_matrix("in.bin", x)
        for mode, variance, window, min_window, centred in cases:
            what = "cmvn %s mode %d var %d window %d/%d centred %d" % (
                name, mode, variance, window, min_window, centred)
            got = library("cmvn", [path], mode, variance, window, min_window, centred)
            checks.true(what + " bit for bit", np.array_equal(
                got, reference_cmvn(x, mode, variance, window, min_window, centred), equal_nan=True))
            if mode == 2 and np.isfinite(x).all():
                theirs = torchaudio.functional.sliding_window_cmn(
                    torch.from_numpy(x.astype(np.float64)), window, min_window, bool(centred),
                    bool(variance)).numpy().reshape(got.shape)
                # torchaudio has no variance floor: a constant window gives it NaN, Kaldi and us 0.
                finite = np.isfinite(theirs)
                ulp = np.spacing(np.abs(theirs[finite]).astype(np.float32))
                checks.true(what + " as torchaudio within a float step",
                            np.all(np.abs(got[finite] - theirs[finite]) <= ulp) and
                            np.all(got[~finite] == 0) and (variance or finite.all()))
    default = library("cmvn", [write_matrix("in.bin", inputs["speech"])])
    checks.true("cmvn defaults are apply-cmvn-sliding's",
                np.array_equal(default, reference_cmvn(inputs["speech"], 2, 0, 600, 100, 0)))


def check_vad_formula(checks, inputs):
    for name, x in inputs.items():
        path = write_matrix("in.bin", x)
        for settings in ((-2.5, 1.0, 15, 0.4, 0), (5.0, 0.5, 0, 0.6, 0), (0.0, 0.0, 2, 0.12, -1),
                         (1.5, 0.25, 3, 0.5, 3), (0.0, 1.0, 1, 0.5, 0)):
            checks.true("vad %s %s" % (name, settings),
                        np.array_equal(library("vad", [path], *settings), reference_vad(x, *settings)))
    x = inputs["speech"]
    labels = reference_vad(x, -2.5, 1.0, 15, 0.4, 0)
    checks.true("vad defaults", np.array_equal(library("vad", [write_matrix("in.bin", x)]), labels))
    kept = library("select", [write_matrix("in.bin", x), write_matrix("labels.bin", labels)])
    checks.true("selected rows are the voiced ones", np.array_equal(kept, x[labels[:, 0] == 1]))


def check_refusals(checks):
    path = write_matrix("in.bin", np.ones((4, 3), np.float32))
    for op, settings in (("deltas", (0, 2)), ("deltas", (3, 2)), ("deltas", (1, 0)),
                         ("cmvn", (3, 0, 600, 100, 0)), ("cmvn", (2, 0, 0, 1, 1)),
                         ("cmvn", (2, 0, 50, 51, 0)), ("cmvn", (2, 0, 50, 0, 0)),
                         ("vad", (0, 1, 0, 0.0, 0)), ("vad", (0, 1, 0, 1.0, 0)),
                         ("vad", (0, 1, -1, 0.5, 0)), ("vad", (0, -1, 0, 0.5, 0)),
                         ("vad", (0, 1, 0, 0.5, 3)), ("vad", (0, 1, 0, 0.5, -2)),
                         ("vad", ("inf", 1, 0, 0.5, 0))):
        checks.equal("%s %s refused" % (op, settings), library(op, [path], *settings), 100)
    empty = write_matrix("empty.bin", np.zeros((0, 3), np.float32))
    for op, settings in (("deltas", (2, 2)), ("cmvn", ()), ("vad", ())):
        checks.equal("%s of no frames" % op, library(op, [empty], *settings).shape[0], 0)


def check_vad_accuracy(checks):
    """Frame accuracy of the default VAD on speech with known silences."""
    files, spans = vad_material.make_material(FOLDER)
    for condition, path in files.items():
        features = os.path.join(FOLDER, condition + ".bin")
        subprocess.run([DRIVER, "analyse", path, features], check=True)
        labels = library("vad", [features])[:, 0]
        truth = vad_material.frame_truth(spans, len(labels))
        accuracy = float(np.mean(labels == truth))
        print("vad accuracy %-6s %.3f over %d frames" % (condition, accuracy, len(labels)))
        checks.true("vad accuracy %s %.3f" % (condition, accuracy),
                    accuracy >= (0.95 if condition == "clean" else 0.90))


def main():
    global DRIVER, FOLDER
    parser = argparse.ArgumentParser()
    parser.add_argument("--driver", required=True)
    parser.add_argument("--source", required=True)
    args = parser.parse_args()
    DRIVER = os.path.abspath(args.driver)
    checks = Checks()
    with tempfile.TemporaryDirectory(prefix="orvalix_frontend_") as FOLDER:
        inputs = matrices(args.source)
        check_deltas(checks, inputs)
        check_cmvn(checks, inputs)
        check_vad_formula(checks, inputs)
        check_refusals(checks)
        check_vad_accuracy(checks)
    checks.finish()


if __name__ == "__main__":
    main()

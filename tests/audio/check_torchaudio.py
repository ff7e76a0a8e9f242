"""The resampler against torchaudio's resample with the same filter (lowpass_filter_width 6,
rolloff 0.99, Hann window), on the bundled speech at common rate pairs: relative RMS difference
below 1e-5. A CI stage (python3-torchaudio is large), not part of ./quickstart test.
    /usr/bin/python3 tests/audio/check_torchaudio.py PROBE SOURCE_DIR"""

import os
import subprocess
import sys
import tempfile

import numpy as np
import torch
import torchaudio.functional as F

probe, source = sys.argv[1], sys.argv[2]
PAIRS = [(16000, 8000), (8000, 16000), (44100, 16000), (48000, 16000), (22050, 16000), (16000, 44100),
         (16000, 16001)]


def torchaudio_resample(signal, source_rate, target_rate):
    # The method is called "sinc_interpolation" (a Hann window) up to torchaudio 0.13.
    return F.resample(torch.from_numpy(signal.astype(np.float64)), source_rate, target_rate,
                      lowpass_filter_width=6, rolloff=0.99).numpy()


with tempfile.TemporaryDirectory() as folder:
    raw = os.path.join(folder, "speech.f32")
    subprocess.run([probe, "reader", os.path.join(source, "samples", "speech16k.wav"), raw], check=True)
    speech = np.fromfile(raw, np.float32)
    failed = 0
    for source_rate, target_rate in PAIRS:
        # The speech at the source rate, by torchaudio, so that both resample the same floats.
        signal = speech if source_rate == 16000 else torchaudio_resample(speech, 16000, source_rate).astype(np.float32)
        signal.tofile(os.path.join(folder, "in.f32"))
        subprocess.run([probe, "resample", str(source_rate), str(target_rate), "1",
                        os.path.join(folder, "in.f32"), os.path.join(folder, "out.f32")], check=True)
        ours = np.fromfile(os.path.join(folder, "out.f32"), np.float32).astype(np.float64)
        theirs = torchaudio_resample(signal, source_rate, target_rate)
        error = np.sqrt(np.mean((ours - theirs) ** 2) / np.mean(theirs ** 2)) if len(ours) == len(theirs) else 1.0
        good = error < 1e-5
        failed += not good
        print("%s %d -> %d Hz: %d samples, relative RMS difference %.2e" % (
            "ok  " if good else "FAIL", source_rate, target_rate, len(ours), error))
sys.exit(1 if failed else 0)

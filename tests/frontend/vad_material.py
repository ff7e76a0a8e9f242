"""Speech with known silences for the voice-activity checks: espeak-ng sentences at 16 kHz with
0.2 to 2 s of silence between them (from fixed seeds), clean or in white noise at a given SNR."""

import os
import subprocess
import wave

import numpy as np

RATE = 16000
SENTENCES = (
    "The quick brown fox jumps over the lazy dog. Please call Stella and ask her to bring these "
    "things from the store. A large size in stockings is hard to sell. The birch canoe slid on the "
    "smooth planks. Glue the sheet to the dark blue background. It is easy to tell the depth of a "
    "well. These days a chicken leg is a rare dish. Rice is often served in round bowls. The juice "
    "of lemons makes fine punch. Four hours of steady work faced us. My voice is my password and "
    "nobody else has it. Seven speakers read the same numbers twice").split(". ")


def write_wave(name, samples):
    with wave.open(name, "wb") as w:
        w.setparams((1, 2, RATE, len(samples), "NONE", "not compressed"))
        w.writeframes(samples.astype("<i2").tobytes())


def synthesise(text, folder, voice):
    raw, resampled = os.path.join(folder, "raw.wav"), os.path.join(folder, "speech.wav")
    subprocess.run(["espeak-ng", "-v", voice, "-s", "155", "-w", raw, text], check=True)
    subprocess.run(["sox", "-D", "-V1", raw, "-r", str(RATE), "-b", "16", resampled], check=True)
    with wave.open(resampled) as w:
        x = np.frombuffer(w.readframes(w.getnframes()), dtype="<i2").astype(np.float64)
    loud = np.nonzero(np.abs(x) > 30)[0]  # the synthesiser's quieter lead-in and tail are silence
    return x[loud[0]:loud[-1] + 1]


def make_clean(folder, seed=16, voice="en-us"):
    """The clean signal and its speech spans [start, end) in samples."""
    lengths = np.random.default_rng(seed).uniform(0.2, 2.0, len(SENTENCES) + 1)
    pieces, spans = [np.zeros(int(lengths[0] * RATE))], []
    for text, gap in zip(SENTENCES, lengths[1:]):
        at = sum(map(len, pieces))
        pieces += [synthesise(text, folder, voice), np.zeros(int(gap * RATE))]
        spans.append((at, at + len(pieces[-2])))
    return np.concatenate(pieces), spans


def add_noise(clean, spans, snr_db, seed=10):
    """White Gaussian noise scaled to snr_db below the mean power of the speech samples."""
    speech = np.concatenate([clean[a:b] for a, b in spans])
    noise = np.random.default_rng(seed).standard_normal(len(clean))
    noise *= np.sqrt(np.mean(speech ** 2) / 10 ** (snr_db / 10) / np.mean(noise ** 2))
    return np.clip(np.round(clean + noise), -32768, 32767)


def frame_truth(spans, frame_count, frame_length=480, shift=160):
    """1 for a frame whose centre sample lies in speech."""
    centres = np.arange(frame_count) * shift + frame_length // 2
    inside = [centres < 0] + [(centres >= a) & (centres < b) for a, b in spans]
    return np.any(inside, axis=0).astype(np.uint8)


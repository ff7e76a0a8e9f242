"""Speech with known silences for the voice-activity checks: espeak-ng sentences at 16 kHz with
silences of 0.2 to 2 s between them, clean or with white noise at a chosen signal-to-noise ratio.
Everything follows from fixed seeds, so every run makes the same files."""

import os
import subprocess
import wave

import numpy as np

RATE = 16000
SENTENCES = [
    "The quick brown fox jumps over the lazy dog",
    "Please call Stella and ask her to bring these things from the store",
    "A large size in stockings is hard to sell",
    "The birch canoe slid on the smooth planks",
    "Glue the sheet to the dark blue background",
    "It is easy to tell the depth of a well",
    "These days a chicken leg is a rare dish",
    "Rice is often served in round bowls",
    "The juice of lemons makes fine punch",
    "Four hours of steady work faced us",
    "My voice is my password and nobody else has it",
    "Seven speakers read the same numbers twice",
]
# Below this amplitude the synthesiser's lead-in and tail count as silence, not speech.
TRIM_LEVEL = 30


def read_wave(name):
    with wave.open(name) as w:
        return np.frombuffer(w.readframes(w.getnframes()), dtype="<i2").astype(np.float64)


def write_wave(name, samples):
    with wave.open(name, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(samples.astype("<i2").tobytes())


def synthesise(text, folder, index, voice):
    raw = os.path.join(folder, "raw%d.wav" % index)
    resampled = os.path.join(folder, "speech%d.wav" % index)
    subprocess.run(["espeak-ng", "-v", voice, "-s", "155", "-w", raw, text], check=True)
    subprocess.run(["sox", "-D", "-V1", raw, "-r", str(RATE), "-b", "16", resampled], check=True)
    x = read_wave(resampled)
    loud = np.nonzero(np.abs(x) > TRIM_LEVEL)[0]
    return x[loud[0]:loud[-1] + 1]


def make_clean(folder, seed=16, voice="en-us"):
    """The clean signal and its speech spans [start, end) in samples."""
    rng = np.random.default_rng(seed)
    gaps = rng.uniform(0.2, 2.0, len(SENTENCES) + 1)
    pieces, spans, at = [], [], 0
    for i, text in enumerate(SENTENCES):
        gap = np.zeros(int(gaps[i] * RATE))
        speech = synthesise(text, folder, i, voice)
        pieces += [gap, speech]
        spans.append((at + len(gap), at + len(gap) + len(speech)))
        at += len(gap) + len(speech)
    pieces.append(np.zeros(int(gaps[-1] * RATE)))
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
    truth = np.zeros(frame_count, dtype=np.uint8)
    for a, b in spans:
        truth[(centres >= a) & (centres < b)] = 1
    return truth


def make_material(folder, conditions=(None, 20, 10)):
    """Writes clean.wav, snr20.wav, snr10.wav into folder; returns {name: path} and the spans."""
    clean, spans = make_clean(folder)
    files = {}
    for snr in conditions:
        name = "clean" if snr is None else "snr%d" % snr
        files[name] = os.path.join(folder, name + ".wav")
        write_wave(files[name], clean if snr is None else add_noise(clean, spans, snr))
    return files, spans

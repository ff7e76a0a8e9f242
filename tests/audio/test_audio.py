"""The audio module (audio/): the sample converted into each format by sox and the codecs' own
tools, decoded in-process and compared with the program's reader on the 16-bit original; files it
refuses, with their messages; the resampler's passband, stopband and lane widths."""

import argparse
import hashlib
import os
import shutil
import subprocess
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from e2e import Checks, Folder  # noqa: E402

parser = argparse.ArgumentParser()
parser.add_argument("--probe", required=True)
parser.add_argument("--source", required=True)
args = parser.parse_args()
checks = Checks()
for tool in ("sox", "flac", "lame", "opusenc"):
    if shutil.which(tool) is None:
        checks.cannot_run(tool + " is not installed (dev/test-packages.txt)")
sample = os.path.join(os.path.abspath(args.source), "samples", "speech16k.wav")


def probe(*argv):
    done = subprocess.run([args.probe] + [str(a) for a in argv], capture_output=True, text=True)
    return done.returncode, done.stdout.strip()


def decoded(path, channel=-1, rate=0):
    raw = os.path.join(scratch.path, "decoded.f32")
    status, line = probe("decode", path, channel, rate, raw)
    return (np.fromfile(raw, np.float32) if status == 0 else None), line


def reader(path):  # the floats land in the scratch folder, never beside a source file
    raw = os.path.join(scratch.path, "reader.f32")
    probe("reader", path, raw)
    return np.fromfile(raw, np.float32)


def relative_rms(got, want):
    return float(np.sqrt(np.mean((got.astype(float) - want) ** 2) / np.mean(want.astype(float) ** 2)))


with Folder() as f:
    scratch = f

    def made(name, *command):  # the command with IN/OUT standing for the original and the file
        out = os.path.join(f.path, name)
        subprocess.run([{"IN": sample, "OUT": out}.get(a, a) for a in command], check=True, capture_output=True)
        return out

    original = reader(sample)
    right = made("right.wav", "sox", "IN", "OUT", "reverse", "vol", "0.7")  # a second, other channel
    stereo = made("stereo.wav", "sox", "-M", sample, right, "OUT")
    quad = made("quad.wav", "sox", "-M", sample, right, right, sample, "-b", "24", "OUT")
    low = made("low.wav", "sox", "IN", "-r", "8000", "OUT")
    # Lossless: the very samples of the program's reader on a 16-bit file. (name, file, reference,
    # channel, first words of the decoder's line.)
    lossless = [
        ("16-bit FLAC", made("a.flac", "flac", "-s", "IN", "-o", "OUT"), original, -1, "sndfile 16000 1 16"),
        ("24-bit FLAC", made("b.flac", "sox", "IN", "-b", "24", "OUT"), original, -1, "sndfile 16000 1 24"),
        ("24-bit extensible WAV", made("c.wav", "sox", "IN", "-b", "24", "OUT"), original, -1, "sndfile 16000 1 24 104926 WAVEX"),
        ("32-bit integer WAV", made("d.wav", "sox", "IN", "-b", "32", "OUT"), original, -1, "sndfile 16000 1 32"),
        ("float WAV", made("e.wav", "sox", "IN", "-e", "floating-point", "OUT"), original, -1, "sndfile 16000 1 32"),
        ("double WAV", made("g.wav", "sox", "IN", "-e", "floating-point", "-b", "64", "OUT"), original, -1, "sndfile 16000 1 64"),
        ("AIFF", made("h.aiff", "sox", "IN", "OUT"), original, -1, "sndfile 16000 1 16"),
        ("CAF", made("i.caf", "sox", "IN", "OUT"), original, -1, "sndfile 16000 1 16"),
        ("W64", made("j.w64", "sox", "IN", "OUT"), original, -1, "sndfile 16000 1 16"),
        ("8-bit AIFF on the 16-bit scale", made("k.aiff", "sox", "IN", "-b", "8", "OUT"),
         reader(made("k16.wav", "sox", os.path.join(f.path, "k.aiff"), "-b", "16", "OUT")), -1, "sndfile 16000 1 8"),
        ("8-bit WAV through the program's reader", made("l.wav", "sox", "IN", "-b", "8", "OUT"),
         reader(os.path.join(f.path, "l.wav")), -1, "reader 16000 1 8"),
        ("8 kHz A-law", made("m.wav", "sox", low, "-e", "a-law", "OUT"),
         reader(made("m16.wav", "sox", os.path.join(f.path, "m.wav"), "-e", "signed", "-b", "16", "OUT")), -1, "sndfile 8000 1 8"),
        ("8 kHz mu-law", made("n.wav", "sox", low, "-e", "mu-law", "OUT"),
         reader(made("n16.wav", "sox", os.path.join(f.path, "n.wav"), "-e", "signed", "-b", "16", "OUT")), -1, "sndfile 8000 1 8"),
        ("stereo 24-bit FLAC, mixed as the program mixes", made("o.flac", "sox", stereo, "-b", "24", "OUT"),
         reader(stereo), -1, "sndfile 16000 2 24"),
        ("stereo 24-bit FLAC, channel 1", os.path.join(f.path, "o.flac"), reader(right), 1, "sndfile 16000 2 24"),
        ("stereo WAV through the program's reader, channel 1", stereo, reader(right), 1, "reader 16000 2 16"),
        ("four channels, mixed", quad, ((((original.astype(float) + reader(right)) + reader(right)) + original) / 4)
         .astype(np.float32), -1, "sndfile 16000 4 24 104926 WAVEX"),
        ("resampled to 8 kHz on decoding", os.path.join(f.path, "a.flac"), None, -1, "sndfile 8000 1 16 52463"),
    ]
    original.tofile(os.path.join(f.path, "original.f32"))
    probe("resample", 16000, 8000, 1, os.path.join(f.path, "original.f32"), os.path.join(f.path, "down.f32"))
    for name, path, want, channel, line in lossless:
        rate = 8000 if want is None else 0
        want = np.fromfile(os.path.join(f.path, "down.f32"), np.float32) if want is None else want
        got, said = decoded(path, channel, rate)
        checks.true(name + ": decoder, rate, channels, bits", said.startswith(line), said)
        checks.true(name + ": the reference's samples", got is not None and np.array_equal(got, want))

    # Lossy: within a stated tolerance of the same codec's own decoder (MP3 after the 529 samples
    # of decoder delay libsndfile keeps and lame drops), or of the original for Opus, whose two
    # decoders here differ in their output stage.
    mp3 = made("p.mp3", "lame", "--quiet", "IN", "OUT")
    lossy = [
        ("MP3 against lame's decoder", decoded(mp3)[0], 529,
         reader(made("p16.wav", "lame", "--quiet", "--decode", mp3, "OUT")), 2e-3),
        ("Ogg Vorbis against sox's decoder", decoded(made("q.ogg", "sox", "IN", "OUT"))[0], 0,
         reader(made("q16.wav", "sox", os.path.join(f.path, "q.ogg"), "-b", "16", "OUT")), 2e-3),
        ("Opus against the original", decoded(made("r.opus", "opusenc", "--quiet", "IN", "OUT"))[0], 0,
         original, 0.3),
    ]
    for name, got, delay, want, tolerance in lossy:
        got = got[delay:delay + len(want)] if got is not None else np.zeros(len(want), np.float32)
        error = relative_rms(got, want) if len(got) == len(want) else 1.0
        checks.true(name + ": relative RMS difference below %g" % tolerance, error < tolerance, "(%.3g)" % error)

    # Refused: one line naming the file and the reason (for the cut file, its first words).
    os.mkfifo(os.path.join(f.path, "fifo"))
    cut = f.file("cut.flac", open(os.path.join(f.path, "a.flac"), "rb").read()[:50000])
    refused = [
        ("missing", os.path.join(f.path, "none.flac"), -1, "cannot open: No such file or directory"),
        ("FIFO", os.path.join(f.path, "fifo"), -1, "cannot open: not a regular file"),
        ("text", f.file("t.wav", b"not audio at all\n"), -1, "cannot decode: Format not recognised."),
        ("cut FLAC", cut, -1, " (FLAC (Free Lossless Audio Codec), Signed 16 bit PCM): decoding failed after "),
        ("channel 1 of a mono file", sample, 1, "no channel 1 in a file of 1 channel (channels count from 0)"),
        ("channel 2 of a stereo FLAC", os.path.join(f.path, "o.flac"), 2,
         "no channel 2 in a file of 2 channels (channels count from 0)"),
    ]
    for name, path, channel, reason in refused:
        status, said = probe("decode", path, channel, 0, os.path.join(f.path, "refused.f32"))
        want = "error: %s%s%s" % (path, "" if reason.startswith(" ") else ": ", reason)
        checks.equal(name + ": refused with its reason", (status, said[:len(want)]), (1, want))

    # The resampler: sines in the passband keep their level, those above the output's Nyquist
    # frequency are gone (aliases at least 60 dB down); every lane width gives the same bytes.
    def resampled(signal, source, target, lanes=1):
        signal.astype(np.float32).tofile(os.path.join(f.path, "in.f32"))
        status, _ = probe("resample", source, target, lanes, os.path.join(f.path, "in.f32"),
                          os.path.join(f.path, "out.f32"))
        return np.fromfile(os.path.join(f.path, "out.f32"), np.float32) if status == 0 else None

    # (Hann window over six zero crossings: -0.13 dB at 0.75 of the output's Nyquist frequency,
    # -55 dB for a sine at 1.5 times it.)
    for source, target, frequency, low, high in [(44100, 16000, 1000, -0.01, 0.0), (44100, 16000, 6000, -0.2, 0.0),
                                                 (44100, 16000, 12000, -200, -54), (8000, 16000, 3000, -0.2, 0.0),
                                                 (48000, 8000, 10000, -200, -80)]:
        n = source * 2
        out = resampled(10000 * np.sin(2 * np.pi * frequency / source * np.arange(n)), source, target)
        middle = out[len(out) // 4: 3 * len(out) // 4].astype(float)
        level = 20 * np.log10(np.sqrt(2 * np.mean(middle ** 2)) / 10000)
        checks.true("%d Hz sine from %d to %d Hz: level within [%g, %g] dB" % (frequency, source, target, low, high),
                    len(out) == n * target // source and low <= level <= high, "(%.4f dB)" % level)
    widths = [w for w in (1, 2, 4, 8) if probe("resample", 44100, 16000, w, os.path.join(f.path, "original.f32"),
                                                os.path.join(f.path, "w.f32"))[0] == 0]
    # The recorded bytes pin each output's order of sums, which all widths share.
    for source, target, recorded in [(44100, 16000, "0f50031d241625af"), (16000, 22050, "a2ea5690953e7733"),
                                     (16000, 16001, "33cf4f75ff2d0358")]:
        outputs = {w: resampled(original, source, target, w).tobytes() for w in widths}
        digests = {hashlib.sha256(output).hexdigest()[:16] for output in outputs.values()}
        checks.true("%d to %d Hz: the recorded bytes at lane widths %s" % (source, target, widths),
                    len(widths) >= 2 and digests == {recorded}, str(digests))
checks.finish()

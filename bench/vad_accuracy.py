"""Frame accuracy of the energy VAD at its defaults on synthesised speech with known silences
(tests/frontend/vad_material.py): the three draws of the silences the defaults were calibrated on,
and two held out with other voices (a British female voice; the German voice reading the English
sentences), clean and in white noise at 20, 10 and 5 dB SNR. Prints a Markdown table. Needs espeak-ng, sox and the test driver:
    /usr/bin/python3 bench/vad_accuracy.py --driver build/tests/frontend/orvalix_frontend_driver"""

import argparse
import os
import subprocess
import sys
import tempfile

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "frontend"))
import vad_material  # noqa: E402


def read_labels(path):
    data = open(path, "rb").read()
    return np.frombuffer(data[8:], dtype="<f4")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--driver", required=True)
    args = parser.parse_args()
    conditions = [None, 20, 10, 5]
    print("| Silences (seed), voice | Speech frames | " +
          " | ".join("clean" if c is None else "%d dB SNR" % c for c in conditions) + " |")
    print("|---|---|" + "---|" * len(conditions))
    with tempfile.TemporaryDirectory() as folder:
        for seed, voice in ((16, "en-us"), (3, "en-us"), (7, "en-us"), (5, "en-gb+f3"), (9, "de")):
            clean, spans = vad_material.make_clean(folder, seed, voice)
            cells = []
            for snr in conditions:
                wav = os.path.join(folder, "x.wav")
                vad_material.write_wave(wav, clean if snr is None else
                                        vad_material.add_noise(clean, spans, snr))
                features, labels = os.path.join(folder, "x.bin"), os.path.join(folder, "labels.bin")
                subprocess.run([args.driver, "analyse", wav, features], check=True)
                subprocess.run([args.driver, "vad", features, labels], check=True)
                found = read_labels(labels)
                truth = vad_material.frame_truth(spans, len(found))
                cells.append("%.1f %%" % (100 * np.mean(found == truth)))
            print("| %d, %s | %d of %d | %s |" % (seed, voice, truth.sum(), len(truth), " | ".join(cells)))


if __name__ == "__main__":
    main()

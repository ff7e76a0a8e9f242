"""The package's front end (log-mel rows, deltas, CMVN, voice activity) as calls and as keywords of
the analysis calls; the library's numbers themselves are held against NumPy in tests/frontend/."""
import functools
import os

import numpy
import pytest
from numpy import array_equal

from orvalix import cmvn, deltas, fbank, fbank_file, load_wave, mfcc, mfcc_file, mfcc_files, vad

SAMPLE = os.path.abspath(os.path.join(__file__, "..", "..", "..", "samples", "speech16k.wav"))


def test_front_end_keywords_are_the_calls_in_order_and_settings_reach_the_library():
    """VAD on c0 before c0 is dropped, deltas before CMVN, voiced rows last: file, memory, threads."""
    static = mfcc_file(SAMPLE, include_c0=True)
    labels = vad(static)
    assert labels.dtype == bool and 0 < labels.sum() < len(labels)
    expected = cmvn(deltas(numpy.ascontiguousarray(static[:, 1:]), 2, 2))[labels]
    keywords = dict(deltas=2, cmvn="sliding", voiced_only=True)
    signal, info = load_wave(SAMPLE)
    for got in (mfcc_file(SAMPLE, **keywords), mfcc(signal, info.rate, **keywords),
                mfcc_files([SAMPLE, SAMPLE], threads=2, **keywords)[1]):
        assert array_equal(got, expected)
    assert array_equal(mfcc_file(SAMPLE, include_c0=True, cmvn="utterance", cmvn_variance=True),
                       cmvn(static, "utterance", variance=True))
    total = functools.reduce(numpy.add, static.astype(numpy.float64))
    assert array_equal(cmvn(static, "utterance"), (static + (-1.0 / len(static)) * total).astype("f4"))
    assert array_equal(cmvn(static), cmvn(static, "sliding", False, 600, 100, False))  # Kaldi's
    for changed in (cmvn(static, window=40, min_window=10), cmvn(static, centred=True)):
        assert not array_equal(changed, cmvn(static))
    for changed in (dict(frames_context=0), dict(energy_column=5), dict(energy_threshold=9),
                    dict(energy_mean_scale=0.5), dict(proportion_threshold=0.9)):
        assert not array_equal(vad(static, **changed), labels)
    assert deltas(static, 1, 3).shape == (len(static), 26)
    for bad in (lambda: deltas(static, 3), lambda: cmvn(static, "global"),
                lambda: cmvn(static, min_window=601), lambda: vad(static, energy_column=13),
                lambda: vad(static, proportion_threshold=1), lambda: mfcc_file(SAMPLE, deltas=3)):
        with pytest.raises(ValueError):
            bad()


def test_fbank_rows_are_what_the_cosine_transform_sums_into_c0():
    signal, info = load_wave(SAMPLE)
    rows, c0 = fbank(signal, info.rate), mfcc(signal, info.rate, include_c0=True)[:, 0]
    assert rows.shape == (len(c0), 30) and rows.dtype == numpy.float32
    total = numpy.zeros(len(rows), numpy.float32)
    for column in rows.T:  # c0 = the float sum of the log energies, one filter after the other
        total = total + column
    assert array_equal(total, c0) and array_equal(fbank_file(SAMPLE), rows)
    assert fbank(signal, info.rate, filters=40, domain="power").shape == (len(c0), 40)
    assert array_equal(fbank_file(SAMPLE, deltas=1, cmvn="utterance", voiced_only=True),
                       cmvn(deltas(rows, 1), "utterance")[vad(rows, energy_column=-1)])

"""The Python package's front end: log-mel filterbank rows, deltas, CMVN and voice activity, as
calls and as keywords of the analysis calls (the library's numbers themselves are checked
against NumPy in tests/frontend/)."""
import os

import numpy
import pytest

import orvalix

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SAMPLE = os.path.join(SOURCE, "samples", "speech16k.wav")


def test_front_end_keywords_are_the_calls_in_order():
    """VAD on c0 before c0 is dropped, deltas before CMVN, voiced rows last: from file, memory
    and threads alike."""
    static = orvalix.mfcc_file(SAMPLE, include_c0=True)
    labels = orvalix.vad(static)
    assert labels.dtype == bool and 0 < labels.sum() < len(labels)
    expected = orvalix.cmvn(orvalix.deltas(numpy.ascontiguousarray(static[:, 1:]), 2, 2))[labels]
    keywords = dict(deltas=2, cmvn="sliding", voiced_only=True)
    signal, info = orvalix.load_wave(SAMPLE)
    for got in (orvalix.mfcc_file(SAMPLE, **keywords), orvalix.mfcc(signal, info.rate, **keywords),
                orvalix.mfcc_files([SAMPLE, SAMPLE], threads=2, **keywords)[1]):
        assert numpy.array_equal(got, expected)
    with_c0 = orvalix.mfcc_file(SAMPLE, include_c0=True, cmvn="utterance", cmvn_variance=True)
    assert numpy.array_equal(with_c0, orvalix.cmvn(static, "utterance", variance=True))


def test_front_end_settings_reach_the_library():
    x = orvalix.mfcc_file(SAMPLE, include_c0=True)
    total = numpy.zeros(x.shape[1])
    for row in x.astype(numpy.float64):
        total = total + row
    assert numpy.array_equal(orvalix.cmvn(x, "utterance"),
                             (x + (-1.0 / len(x)) * total).astype(numpy.float32))
    assert numpy.array_equal(orvalix.cmvn(x), orvalix.cmvn(x, "sliding", False, 600, 100, False))
    assert not numpy.array_equal(orvalix.cmvn(x, window=40, min_window=10), orvalix.cmvn(x))
    assert not numpy.array_equal(orvalix.cmvn(x, centred=True), orvalix.cmvn(x))
    assert orvalix.deltas(x, 1, 3).shape == (len(x), 26)
    assert orvalix.vad(x, energy_threshold=1e9).sum() == 0
    assert orvalix.vad(x, energy_mean_scale=0, energy_threshold=-1e9).all()
    assert not numpy.array_equal(orvalix.vad(x, frames_context=0), orvalix.vad(x))
    assert not numpy.array_equal(orvalix.vad(x, energy_column=5), orvalix.vad(x))
    for bad in (lambda: orvalix.deltas(x, 3), lambda: orvalix.cmvn(x, "global"),
                lambda: orvalix.cmvn(x, min_window=601), lambda: orvalix.vad(x, energy_column=13),
                lambda: orvalix.vad(x, proportion_threshold=1), lambda: orvalix.mfcc_file(
                    SAMPLE, deltas=3)):
        with pytest.raises(ValueError):
            bad()


def test_fbank_rows_are_what_the_cosine_transform_sums_into_c0():
    signal, info = orvalix.load_wave(SAMPLE)
    rows = orvalix.fbank(signal, info.rate)
    c0 = orvalix.mfcc(signal, info.rate, include_c0=True)[:, 0]
    assert rows.shape == (len(c0), 30) and rows.dtype == numpy.float32
    total = numpy.zeros(len(rows), numpy.float32)
    for column in rows.T:  # c0 = the float sum of the log energies, one filter after the other
        total = total + column
    assert numpy.array_equal(total, c0)
    assert numpy.array_equal(orvalix.fbank_file(SAMPLE), rows)
    assert orvalix.fbank(signal, info.rate, filters=40, domain="power").shape == (len(c0), 40)
    labels = orvalix.vad(rows, energy_column=-1)
    assert numpy.array_equal(orvalix.fbank_file(SAMPLE, deltas=1, cmvn="utterance", voiced_only=True),
                             orvalix.cmvn(orvalix.deltas(rows, 1), "utterance")[labels])

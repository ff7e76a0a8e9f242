"""The Python package against the program: the same floats, the same bytes, the same refusals (run by
ctest with PYTHONPATH at the built package, ORVALIX_BIN at the program, ORVALIX_CORPUS at the runs)."""
import json
import os
import re
import subprocess
import sys
import wave

import numpy
import pytest

import orvalix
from orvalix import Settings

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SAMPLE = os.path.join(SOURCE, "samples", "speech16k.wav")
GOLDEN = os.path.join(SOURCE, "tests", "golden", "local")
CORPUS = os.environ.get("ORVALIX_CORPUS", os.path.join(SOURCE, "..", "shared", "golden"))


def text_of(features, tmp_path):
    orvalix.write_text(features, tmp_path / "python.txt")
    return (tmp_path / "python.txt").read_bytes()


def reference_runs():  # name, wave file, options, the program's output file (None: refused)
    for name, source, *options in (line.split() for line in open(os.path.join(GOLDEN, "cases.txt"))):
        yield name, SAMPLE if source == "sample" else os.path.join(GOLDEN, source), options, \
            os.path.join(GOLDEN, name + ".txt")
    cases = os.path.join(CORPUS, "cases.json")
    for case in json.load(open(cases))["cases"] if os.path.exists(cases) else []:
        if "src" in case["files"][0]:
            out = case["expect"]["status"] == 0 and case["expect"]["files"]["out.txt"]["blob"]
            options = [a for a in case["argv"] if a.startswith("-")]
            yield case["id"], os.path.join(CORPUS, case["files"][0]["src"]), options, \
                out and os.path.join(CORPUS, "blobs", out)


@pytest.mark.parametrize("name,path,options,expected", list(reference_runs()))
def test_reference_runs_from_file_and_from_memory(tmp_path, name, path, options, expected):
    settings = Settings.from_options(options)
    if not expected:
        with pytest.raises((orvalix.WaveError, orvalix.AnalysisError)):
            orvalix.mfcc_file(path, settings)
        return
    signal, info = orvalix.load_wave(path)
    for features in (orvalix.mfcc_file(path, settings), orvalix.mfcc(signal, info.rate, settings)):
        assert features.dtype == numpy.float32 and features.flags.c_contiguous
        assert not features.flags.owndata  # the library's buffer, handed over
        assert features.shape[1] == settings.coefficients + settings.include_c0
        assert text_of(features, tmp_path) == open(expected, "rb").read()


def test_long_input_takes_the_chunked_path_with_the_same_bytes(tmp_path):
    long_path, out = str(tmp_path / "long.wav"), tmp_path / "program.txt"
    with wave.open(SAMPLE) as w, wave.open(long_path, "wb") as copy:  # 72 s: analysed chunk by chunk
        copy.setparams(w.getparams())
        copy.writeframes(w.readframes(w.getnframes()) * 11)
    subprocess.run([os.environ["ORVALIX_BIN"], long_path, str(out), "-Q0", "-O", "-C"], check=True,
                   stdout=subprocess.DEVNULL)
    features = orvalix.mfcc_file(long_path, include_c0=True)
    assert text_of(features, tmp_path) == out.read_bytes()
    signal, info = orvalix.load_wave(long_path)
    assert numpy.array_equal(orvalix.mfcc(signal, info.rate, include_c0=True), features)


def test_threads_give_the_one_thread_results_and_errors_stay_per_file(tmp_path):
    (tmp_path / "text.wav").write_text("not a wave file\n")
    inputs = [SAMPLE, os.path.join(GOLDEN, "noise11k_u8.wav"), str(tmp_path / "missing.wav"),
              os.path.join(GOLDEN, "stereo48k.wav"), str(tmp_path / "text.wav")] * 3
    one = orvalix.mfcc_files(inputs, threads=1, coefficients=16)
    for path, a, b in zip(inputs, one, orvalix.mfcc_files(inputs, threads=2, coefficients=16)):
        if path.startswith(str(tmp_path)):
            assert isinstance(a, orvalix.WaveError) and isinstance(b, orvalix.WaveError)
            assert a.path == path and a.name.startswith("RFX_") and a.name in str(a)
        else:
            assert a.tobytes() == b.tobytes() == orvalix.mfcc_file(path, coefficients=16).tobytes()


@pytest.mark.parametrize("options,keywords", [
    ("", {}), ("-L25 -S5 -M13 -C", dict(window_ms=25, shift_ms=5, coefficients=13, include_c0=True)),
    ("-W4 -I3 -A2 -H0", dict(window="blackman", lifter="half_raised_sine", domain="power",
                             pre_emphasis=0)),
    ("-U -V -N24 -W2 -I2 -H50", dict(fft_below=True, remove_dc=True, filters=24, window="rectangular",
                                     lifter="raised_sine", pre_emphasis=0.5))])
def test_options_and_keywords_mean_the_same(options, keywords):
    parsed = orvalix.Settings.from_options(options)
    assert parsed == orvalix.Settings(**keywords) == orvalix.Settings.from_options(parsed.options())
    changed = dict(include_c0=False, coefficients=4)
    assert orvalix.Settings.from_options(options + " -C -M3").replace(**changed) == \
        orvalix.Settings(**keywords).replace(**changed)
    signal, info = orvalix.load_wave(SAMPLE)
    rows = orvalix.mfcc(signal, info.rate, parsed)
    as_int16 = signal.astype(numpy.int16)  # the same rows from keywords, int16, a list, [-1, 1] scaled
    for same in (orvalix.mfcc(signal, info.rate, **keywords), orvalix.mfcc(as_int16, info.rate, parsed),
                 orvalix.mfcc(signal.tolist(), info.rate, parsed),
                 orvalix.mfcc(as_int16 / 32768.0, info.rate, parsed, scale=32768)):
        assert numpy.array_equal(same, rows)


@pytest.mark.parametrize("call,error,words", [
    (lambda: Settings(window_ms=0), ValueError, "window_ms=0 is out of range [1,100] (option -L)"),
    (lambda: Settings(coefficients=-1), ValueError, "coefficients=-1 is out of range"),
    (lambda: Settings(filters=101), ValueError, "filters=101 is out of range [0,100]"),
    (lambda: Settings(window="hann"), ValueError, "expected one of hamming"),
    (lambda: Settings(pre_emphasis=0.975), ValueError, "whole hundredths"),
    (lambda: Settings(pre_emphasis=1.5), ValueError, "pre_emphasis=1.5 is out of range [0,1]"),
    (lambda: Settings(windowms=3), TypeError, "unknown setting 'windowms'"),
    (lambda: Settings.from_options("-M21"), ValueError, "Parameter M(1) = 21 is out of range [1,20]."),
    (lambda: Settings.from_options("-L25 in.wav"), ValueError, "Not an option: in.wav"),
    (lambda: orvalix.mfcc(numpy.zeros((2, 2)), 16000), ValueError, "one-dimensional"),
    (lambda: orvalix.mfcc(numpy.zeros(99), 0), ValueError, "rate=0"),
    (lambda: orvalix.mfcc(numpy.zeros(99), 999, shift_ms=1), orvalix.AnalysisError, "ANALYSIS_FAILED"),
    (lambda: orvalix.load_wave("/nonexistent/x"), orvalix.WaveError, "RFX_FILE_ERROR: /nonexistent/x"),
    (lambda: orvalix.mfcc_file(GOLDEN), orvalix.WaveError, GOLDEN),
    (lambda: orvalix.write_text(numpy.zeros((1, 2), "f4"), "/no/x"), OSError, "cannot write /no/x")])
def test_errors_name_what_went_wrong(call, error, words):
    with pytest.raises(error, match=re.escape(words)):
        call()


def test_a_signal_shorter_than_a_window_gives_no_rows(tmp_path):
    assert orvalix.mfcc(numpy.zeros(479, numpy.int16), 16000).shape == (0, 12)
    empty = orvalix.mfcc(numpy.zeros(0), 16000, include_c0=True)
    assert empty.shape == (0, 13) and empty.dtype == numpy.float32 and text_of(empty, tmp_path) == b""


def test_memory_does_not_grow_over_a_thousand_calls():
    short, signal = os.path.join(GOLDEN, "short481.wav"), orvalix.load_wave(SAMPLE)[0][:16000]

    def resident_kib_after(count):
        for _ in range(count):
            orvalix.mfcc(signal, 16000, include_c0=True)
            orvalix.mfcc(signal, 16000)
            orvalix.mfcc_files([short, "/nonexistent.wav"], threads=2)
            orvalix.load_wave(short)
        with open("/proc/self/statm") as fh:
            return int(fh.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024
    before = resident_kib_after(100)
    assert resident_kib_after(1000) - before < 1024


def test_plot_tool_draws_a_wave_file_through_the_package(tmp_path):
    png = tmp_path / "plot.png"
    for options, status, seen in (("-C -M16", 0, b""), ("-M30", 1, b"out of range [1,20]")):
        tool = os.path.join(SOURCE, "tools", "orvalix-plot")
        run = subprocess.run([sys.executable, tool, SAMPLE, str(png), "--options=" + options],
                             capture_output=True)
        assert run.returncode == status and seen in run.stderr
    assert png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"

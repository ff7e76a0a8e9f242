"""The Python package against the program: the same floats, the same bytes, the same refusals.

Run by ctest (ORVALIX_PYTHON=ON) with PYTHONPATH at the built package, ORVALIX_BIN at the
program and ORVALIX_CORPUS at the shared reference runs.
"""
import json
import os
import subprocess
import sys
import wave

import numpy
import pytest

import orvalix

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SAMPLE = os.path.join(SOURCE, "samples", "speech16k.wav")
GOLDEN = os.path.join(SOURCE, "tests", "golden", "local")
CORPUS = os.environ.get("ORVALIX_CORPUS", os.path.join(SOURCE, "..", "shared", "golden"))


def program_file(tmp_path, wave_path, options):
    """The program's output file for this input and these options."""
    out = str(tmp_path / "program.txt")
    subprocess.run([os.environ["ORVALIX_BIN"], wave_path, out, "-Q0", "-O", *options],
                   check=True, stdout=subprocess.DEVNULL)
    with open(out, "rb") as fh:
        return fh.read()


def text_of(features, tmp_path):
    path = tmp_path / "python.txt"
    orvalix.write_text(features, path)
    return path.read_bytes()


def golden_cases():
    with open(os.path.join(GOLDEN, "cases.txt")) as fh:
        for line in fh:
            name, source, *options = line.split()
            yield name, SAMPLE if source == "sample" else os.path.join(GOLDEN, source), options


@pytest.mark.parametrize("name,path,options", list(golden_cases()))
def test_golden_files_from_file_and_from_memory(tmp_path, name, path, options):
    with open(os.path.join(GOLDEN, name + ".txt"), "rb") as fh:
        expected = fh.read()
    settings = orvalix.Settings.from_options(options)
    from_file = orvalix.mfcc_file(path, settings)
    signal, info = orvalix.load_wave(path)
    from_memory = orvalix.mfcc(signal, info.rate, settings)
    for features in (from_file, from_memory):
        assert features.dtype == numpy.float32 and features.flags.c_contiguous
        assert not features.flags.owndata  # the library's buffer, handed over
        assert features.shape[1] == settings.coefficients + settings.include_c0
        assert text_of(features, tmp_path) == expected


def corpus_cases():
    path = os.path.join(CORPUS, "cases.json")
    if not os.path.exists(path):
        return []
    with open(path) as fh:
        return [c for c in json.load(fh)["cases"] if "src" in c["files"][0]]


@pytest.mark.parametrize("case", corpus_cases(), ids=[c["id"] for c in corpus_cases()])
def test_shared_reference_runs(tmp_path, case):
    options = [a for a in case["argv"] if a.startswith("-")]
    path = os.path.join(CORPUS, case["files"][0]["src"])
    out = case["expect"]["files"].get("out.txt")
    if case["expect"]["status"] != 0:
        with pytest.raises((orvalix.WaveError, orvalix.AnalysisError)):
            orvalix.mfcc_file(path, orvalix.Settings.from_options(options))
        return
    features = orvalix.mfcc_file(path, orvalix.Settings.from_options(options))
    with open(os.path.join(CORPUS, "blobs", out["blob"]), "rb") as fh:
        assert text_of(features, tmp_path) == fh.read()


def test_long_input_takes_the_chunked_path_with_the_same_bytes(tmp_path):
    with wave.open(SAMPLE) as w:
        params, frames = w.getparams(), w.readframes(w.getnframes())
    long_path = str(tmp_path / "long.wav")
    with wave.open(long_path, "wb") as w:  # 72 s: the program analyses it a chunk at a time
        w.setparams(params)
        w.writeframes(frames * 11)
    features = orvalix.mfcc_file(long_path, include_c0=True)
    assert text_of(features, tmp_path) == program_file(tmp_path, long_path, ["-C"])
    signal, info = orvalix.load_wave(long_path)
    assert numpy.array_equal(orvalix.mfcc(signal, info.rate, include_c0=True), features)


def test_threads_give_the_one_thread_results_and_errors_stay_per_file(tmp_path):
    not_wave = tmp_path / "text.wav"
    not_wave.write_text("not a wave file\n")
    inputs = [SAMPLE, os.path.join(GOLDEN, "noise11k_u8.wav"), str(tmp_path / "missing.wav"),
              os.path.join(GOLDEN, "stereo48k.wav"), str(not_wave)] * 3
    one = orvalix.mfcc_files(inputs, threads=1, coefficients=16)
    two = orvalix.mfcc_files(inputs, threads=2, coefficients=16)
    for path, a, b in zip(inputs, one, two):
        if path.endswith("text.wav") or path.endswith("missing.wav"):
            assert isinstance(a, orvalix.WaveError) and isinstance(b, orvalix.WaveError)
            assert a.path == path and a.name.startswith("RFX_") and a.name in str(a)
        else:
            assert a.tobytes() == b.tobytes() == orvalix.mfcc_file(path, coefficients=16).tobytes()


@pytest.mark.parametrize("options,keywords", [
    ("", {}),
    ("-L25 -S5 -M13 -C", dict(window_ms=25, shift_ms=5, coefficients=13, include_c0=True)),
    ("-W4 -I3 -A2 -H0", dict(window="blackman", lifter="half_raised_sine", domain="power",
                             pre_emphasis=0)),
    ("-U -V -N24 -W2 -I2 -H50", dict(fft_below=True, remove_dc=True, filters=24,
                                     window="rectangular", lifter="raised_sine", pre_emphasis=0.5)),
])
def test_options_and_keywords_mean_the_same(options, keywords):
    parsed = orvalix.Settings.from_options(options)
    assert parsed == orvalix.Settings(**keywords) == orvalix.Settings.from_options(parsed.options())
    changed = dict(include_c0=False, coefficients=4)
    assert orvalix.Settings.from_options(options + " -C -M3").replace(**changed) == \
        orvalix.Settings(**keywords).replace(**changed)
    signal, info = orvalix.load_wave(SAMPLE)
    assert numpy.array_equal(orvalix.mfcc(signal, info.rate, parsed),
                             orvalix.mfcc(signal, info.rate, **keywords))


def test_input_scales_and_types_agree():
    signal, info = orvalix.load_wave(SAMPLE)
    expected = orvalix.mfcc(signal, info.rate)
    as_int16 = signal.astype(numpy.int16)
    assert numpy.array_equal(orvalix.mfcc(as_int16, info.rate), expected)
    assert numpy.array_equal(orvalix.mfcc(as_int16 / 32768.0, info.rate, scale=32768), expected)
    assert numpy.array_equal(orvalix.mfcc(signal.tolist(), info.rate), expected)


@pytest.mark.parametrize("call,error,words", [
    (lambda: orvalix.Settings(window_ms=0), ValueError,
     "window_ms=0 is out of range [1,100] (option -L)"),
    (lambda: orvalix.Settings(coefficients=-1), ValueError, "coefficients=-1 is out of range"),
    (lambda: orvalix.Settings(filters=101), ValueError, "filters=101 is out of range [0,100]"),
    (lambda: orvalix.Settings(window="hann"), ValueError, "expected one of hamming"),
    (lambda: orvalix.Settings(pre_emphasis=0.975), ValueError, "whole hundredths"),
    (lambda: orvalix.Settings(pre_emphasis=1.5), ValueError, "pre_emphasis=1.5 is out of "
     "range [0,1]"),
    (lambda: orvalix.Settings(windowms=3), TypeError, "unknown setting 'windowms'"),
    (lambda: orvalix.Settings.from_options("-M21"), ValueError,
     "ERROR: Parameter M(1) = 21 is out of range [1,20]."),
    (lambda: orvalix.Settings.from_options("-L25 in.wav"), ValueError, "Not an option: in.wav"),
    (lambda: orvalix.mfcc(numpy.zeros((2, 2)), 16000), ValueError, "one-dimensional"),
    (lambda: orvalix.mfcc(numpy.zeros(99), 0), ValueError, "rate=0"),
    (lambda: orvalix.mfcc(numpy.zeros(99), 999, shift_ms=1), orvalix.AnalysisError,
     "ORVALIX_ANALYSIS_FAILED"),
    (lambda: orvalix.load_wave("/nonexistent/x.wav"), orvalix.WaveError,
     "RFX_FILE_ERROR: /nonexistent/x.wav"),
    (lambda: orvalix.mfcc_file(GOLDEN), orvalix.WaveError, GOLDEN),
    (lambda: orvalix.write_text(numpy.zeros((1, 2), numpy.float32), "/nonexistent/x.txt"),
     OSError, "cannot write /nonexistent/x.txt"),
])
def test_errors_name_what_went_wrong(call, error, words):
    with pytest.raises(error) as raised:
        call()
    assert words in str(raised.value)


def test_a_signal_shorter_than_a_window_gives_no_rows(tmp_path):
    assert orvalix.mfcc(numpy.zeros(479, numpy.int16), 16000).shape == (0, 12)
    empty = orvalix.mfcc(numpy.zeros(0), 16000, include_c0=True)
    assert empty.shape == (0, 13) and empty.dtype == numpy.float32
    short = os.path.join(GOLDEN, "short481.wav")  # 481 samples: one frame
    assert orvalix.mfcc_file(short).shape == (1, 12)
    assert text_of(empty, tmp_path) == b""


def test_memory_does_not_grow_over_a_thousand_calls(tmp_path):
    def resident_kib():
        with open("/proc/self/statm") as fh:
            return int(fh.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024

    short = os.path.join(GOLDEN, "short481.wav")
    signal = orvalix.load_wave(SAMPLE)[0][:16000]

    def calls(count):
        for _ in range(count):
            orvalix.mfcc(signal, 16000, include_c0=True)
            orvalix.mfcc(signal, 16000)
            orvalix.mfcc_files([short, "/nonexistent.wav"], threads=2)
            orvalix.load_wave(short)
    calls(100)
    before = resident_kib()
    calls(1000)
    assert resident_kib() - before < 1024


def test_plot_tool_draws_a_wave_file_through_the_package(tmp_path):
    tool = os.path.join(SOURCE, "tools", "orvalix-plot")
    png = tmp_path / "plot.png"
    drawn = subprocess.run([sys.executable, tool, SAMPLE, str(png), "--options=-C -M16"],
                           capture_output=True)
    assert drawn.returncode == 0 and png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    refused = subprocess.run([sys.executable, tool, SAMPLE, str(png), "--options=-M30"],
                             capture_output=True)
    assert refused.returncode == 1 and b"out of range [1,20]" in refused.stderr

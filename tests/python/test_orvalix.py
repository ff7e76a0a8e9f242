"""The Python package against the program: the same floats, bytes and refusals; its front end as
calls and as keywords (the library's numbers are held against NumPy in tests/frontend/)."""
import functools
import json
import os
import platform
import re
import stat
import subprocess
import sys
import threading
import warnings
import wave

import numpy
import pytest
from numpy import array_equal

import orvalix
from orvalix import (AnalysisError, Settings, SettingsWarning, WaveError, cmvn, deltas, fbank, fbank_file, load_wave,
                     mfcc, mfcc_file, mfcc_files, vad, write_text)

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SAMPLE = os.path.join(SOURCE, "samples", "speech16k.wav")
SPEECH, RATE = load_wave(SAMPLE)[0], 16000  # the sample in memory, for the calls on arrays
GOLDEN = os.path.join(SOURCE, "tests", "golden", "local")
# The repository's copy of the reference runs, and the corpus beside the checkout when there.
CORPORA = [os.path.join(SOURCE, "tests", "golden", "shared"), os.environ["ORVALIX_CORPUS"]]


def text_of(features, tmp_path):
    write_text(features, tmp_path / "python.txt")
    return (tmp_path / "python.txt").read_bytes()


def reference_runs():  # name, wave file, options, the program's output file (None: refused)
    for name, source, *options in map(str.split, open(os.path.join(GOLDEN, "cases.txt"))):
        yield name, SAMPLE if source == "sample" else os.path.join(GOLDEN, source), options, \
            os.path.join(GOLDEN, name + ".txt")
    for corpus in (c for c in CORPORA if os.path.exists(os.path.join(c, "cases.json"))):
        for case in json.load(open(os.path.join(corpus, "cases.json")))["cases"]:
            if "src" in case["files"][0]:
                out = case["expect"]["status"] == 0 and case["expect"]["files"]["out.txt"]["blob"]
                options = [a for a in case["argv"] if a.startswith("-")]
                yield case["id"], os.path.join(corpus, case["files"][0]["src"]), options, \
                    out and os.path.join(corpus, "blobs", out)


@pytest.mark.parametrize("name,path,options,expected", list(reference_runs()))
def test_reference_runs_from_file_and_from_memory(tmp_path, name, path, options, expected):
    settings = Settings.from_options(options)
    if not expected:
        with pytest.raises((WaveError, AnalysisError)):
            mfcc_file(path, settings)
        return
    signal, info = load_wave(path)
    for features in (mfcc_file(path, settings), mfcc(signal, info.rate, settings)):
        assert features.dtype == numpy.float32 and features.flags.c_contiguous
        assert not features.flags.owndata  # the library's buffer, handed over
        assert text_of(features, tmp_path) == open(expected, "rb").read()


def test_long_input_takes_the_chunked_path_with_the_same_bytes(tmp_path):
    long_path, out = str(tmp_path / "long.wav"), tmp_path / "program.txt"
    with wave.open(SAMPLE) as w, wave.open(long_path, "wb") as copy:  # 72 s: chunk by chunk
        copy.setparams(w.getparams())
        copy.writeframes(w.readframes(w.getnframes()) * 11)
    subprocess.run([os.environ["ORVALIX_BIN"], long_path, str(out), "-Q0", "-O", "-C"], check=True)
    features = mfcc_file(long_path, include_c0=True)
    assert text_of(features, tmp_path) == out.read_bytes()
    signal, info = load_wave(long_path)
    assert array_equal(mfcc(signal, info.rate, include_c0=True), features)


def test_threads_give_the_one_thread_results_and_errors_stay_per_file(tmp_path):
    (tmp_path / "text.wav").write_text("not a wave file\n")
    inputs = [SAMPLE, os.path.join(GOLDEN, "noise11k_u8.wav"), str(tmp_path / "missing.wav"),
              os.path.join(GOLDEN, "stereo48k.wav"), str(tmp_path / "text.wav")] * 3
    one = mfcc_files(inputs, threads=1, coefficients=16)
    for path, a, b in zip(inputs, one, mfcc_files(inputs, threads=2, coefficients=16)):
        if path.startswith(str(tmp_path)):
            assert isinstance(a, WaveError) and isinstance(b, WaveError)
            assert a.path == path and a.name.startswith("RFX_") and a.name in str(a)
        else:
            assert a.tobytes() == b.tobytes() == mfcc_file(path, coefficients=16).tobytes()


@pytest.mark.parametrize("options,keywords", [
    ("", {}),
    ("-L25 -S5 -M13 -C", dict(window_ms=25, shift_ms=5, coefficients=13, include_c0=True)),
    ("-W4 -I3 -A2 -H0", dict(window="blackman", lifter="half_raised_sine", domain="power",
                             pre_emphasis=0)),
    ("-U -V -N24 -W2 -I2 -H50", dict(fft_below=True, remove_dc=True, filters=24, pre_emphasis=0.5,
                                     window="triangular", lifter="raised_sine"))])
def test_options_and_keywords_mean_the_same(options, keywords):
    parsed = Settings.from_options(options)
    assert parsed == Settings(**keywords) == Settings.from_options(parsed.options())
    assert (Settings(window="rectangular"), Settings(window="bartlett").window) == (  # old names
        Settings.from_options("-W2"), "hann")
    new = dict(include_c0=False, coefficients=4)  # replace() overrides what the options gave
    assert Settings.from_options(options + " -C -M3").replace(**new) == Settings(**keywords | new)
    rows = mfcc(SPEECH, RATE, parsed)
    as_int16 = SPEECH.astype(numpy.int16)  # the rows from keywords, int16, a list, [-1, 1] scaled
    for same in (mfcc(SPEECH, RATE, **keywords), mfcc(as_int16, RATE, parsed),
                 mfcc(SPEECH.tolist(), RATE, parsed),
                 mfcc(as_int16 / 32768.0, RATE, parsed, scale=32768)):
        assert array_equal(same, rows)


@pytest.mark.parametrize("call,error,words", [
    (lambda: Settings(window_ms=0), ValueError,
     "window_ms=0 (option -L): windowLengthMs = 0 is out of range [1,100]"),
    (lambda: Settings(window="kaiser"), ValueError, "expected one of hamming, triangular, hann"),
    (lambda: Settings(pre_emphasis=0.975), ValueError, "whole hundredths"),
    (lambda: Settings(pre_emphasis=1.5), ValueError, "preEmphasis = 1.5 is out of range [0,1]"),
    (lambda: Settings(filters=-1), ValueError, "filters=-1 (option -N): melFilterCount = -1 is"),
    (lambda: Settings(windowms=3), TypeError, "unknown setting 'windowms'"),
    (lambda: Settings.from_options("-M21"), ValueError, "M(1) = 21 is out of range [1,20]."),
    (lambda: Settings.from_options("-L25 in.wav"), ValueError, "Not an option: in.wav"),
    (lambda: mfcc(numpy.zeros((2, 2)), 16000), ValueError, "one-dimensional"),
    (lambda: mfcc(numpy.zeros(99), 0), ValueError, "rate=0"),
    (lambda: mfcc(numpy.zeros(99), 999, shift_ms=1), AnalysisError, "ORVALIX_ANALYSIS_FAILED"),
    (lambda: load_wave("/nonexistent/x"), WaveError, "RFX_FILE_ERROR: /nonexistent/x"),
    (lambda: mfcc_file(GOLDEN), WaveError, GOLDEN),
    (lambda: write_text(numpy.zeros((1, 2), "f4"), "/no/x"), OSError,
     "cannot write /no/x: No such file or directory"),
    (lambda: mfcc_file(SAMPLE + "\0junk"), ValueError, "embedded null byte"),
    (lambda: load_wave(SAMPLE + "\0junk"), ValueError, "embedded null byte"),
    (lambda: fbank_file(SAMPLE + "\0junk"), ValueError, "embedded null byte"),
    (lambda: mfcc_files([SAMPLE, SAMPLE + "\0"]), ValueError, "embedded null byte"),
    (lambda: write_text(numpy.zeros((1, 2), "f4"), "/tmp/x.txt\0.npy"), ValueError,
     "embedded null byte"),
    (lambda: mfcc_files(SAMPLE), TypeError, "not one name"),
    (lambda: mfcc(b"\0" * 99999, RATE), TypeError, "signal: expected an array of numbers, not bytes"),
    (lambda: deltas(numpy.zeros((5, 2), "f4"), 2 ** 40), ValueError, "order=1099511627776 is out"),
    (lambda: vad(numpy.zeros((5, 2), "f4"), frames_context=2 ** 70), ValueError, "frames_context="),
    (lambda: mfcc_files([SAMPLE], threads=2 ** 40), ValueError, "threads=1099511627776 is out"),
    (lambda: mfcc(SPEECH, RATE, scale=float("nan")), ValueError, "scale=nan: expected a finite"),
    (lambda: fbank(SPEECH, RATE, scale=0), ValueError, "scale=0.0: expected a finite"),
    (lambda: mfcc(SPEECH, 100, strict=True), ValueError, "mel filter 1 of 14 covers no bin"),
    (lambda: mfcc_file(SAMPLE, window_ms=4, strict=True), ValueError, "at 16000 Hz"),
    (lambda: cmvn(numpy.zeros((5, 0), "f4")), ValueError, "expected 1 to 2147483647 columns"),
    (lambda: cmvn(numpy.zeros((5, 2), "f4"), "global"), ValueError, "expected one of utterance"),
    (lambda: deltas(numpy.zeros((5, 2), "f4"), 3), ValueError, "delta order = 3 is out of range"),
    (lambda: vad(numpy.zeros((5, 2), "f4"), energy_column=2), ValueError, "energyColumn = 2 is not"),
    (lambda: mfcc_file(SAMPLE, deltas=3), ValueError, "out of range")])
def test_errors_name_what_went_wrong(call, error, words):
    with pytest.raises(error, match=re.escape(words)):
        call()


def test_settings_that_give_non_finite_rows_are_warned_about_once_per_rate():
    with pytest.warns(SettingsWarning) as said:
        rows = mfcc_files([SAMPLE, SAMPLE], window_ms=10, filters=80)[0]
    assert len(said) == 1 and "-L10" in str(said[0].message) and "-N80" in str(said[0].message)
    assert not numpy.isfinite(rows).all()  # the program's own rows, told but unchanged
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        mfcc(SPEECH, RATE, filters=40)


def test_outputs_that_are_no_regular_file_are_written_into_and_kept(tmp_path):
    fifo, rows = str(tmp_path / "fifo"), mfcc_file(SAMPLE)
    os.mkfifo(fifo)
    got = []
    reader = threading.Thread(target=lambda: got.append(open(fifo, "rb").read()), daemon=True)
    reader.start()
    write_text(rows, fifo)
    reader.join(60)
    assert stat.S_ISFIFO(os.lstat(fifo).st_mode) and got == [text_of(rows, tmp_path)]
    if os.geteuid() == 0:  # a null device made here, never one of the system's
        os.mknod(tmp_path / "null", stat.S_IFCHR | 0o666, os.makedev(1, 3))
        write_text(rows, tmp_path / "null")
        assert stat.S_ISCHR(os.lstat(tmp_path / "null").st_mode)


def test_a_truncated_file_is_analysed_and_its_info_shows_the_cut(tmp_path):
    cut = tmp_path / "cut.wav"
    cut.write_bytes(open(SAMPLE, "rb").read()[:44 + 2 * 8000])
    signal, info = load_wave(cut)
    assert info.samples == len(signal) == 8000 and info.announced == len(SPEECH)


def test_a_signal_shorter_than_a_window_gives_no_rows(tmp_path):
    assert mfcc(numpy.zeros(479, numpy.int16), 16000).shape == (0, 12)
    empty = mfcc(numpy.zeros(0), 16000, include_c0=True)
    assert empty.shape == (0, 13) and empty.dtype == numpy.float32
    assert text_of(empty, tmp_path) == b""


def test_memory_does_not_grow_over_a_thousand_calls():
    short, second = os.path.join(GOLDEN, "short481.wav"), SPEECH[:RATE]

    def resident_kib_after(count):
        for _ in range(count):
            mfcc(second, RATE, include_c0=True)
            mfcc(second, RATE, deltas=2, cmvn="sliding", voiced_only=True)
            mfcc_files([short, "/nonexistent.wav"], threads=2)
            load_wave(os.path.join(GOLDEN, "stereo48k.wav"))
        return int(open("/proc/self/statm").read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024
    before = resident_kib_after(100)
    assert resident_kib_after(1000) - before < 1024


def test_plot_tool_draws_a_wave_file_through_the_package(tmp_path):
    tool, png = os.path.join(SOURCE, "scripts", "orvalix-plot"), tmp_path / "plot.png"
    refused = b"orvalix-plot: ERROR: Parameter M(1) = 30 is out of range [1,20].\n"
    for options, status, said in (("-C -M16", 0, b""), ("-M30", 1, refused)):
        run = subprocess.run([sys.executable, tool, SAMPLE, str(png), "--options=" + options],
                             capture_output=True)
        assert (run.returncode, run.stderr) == (status, said)
    assert png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_front_end_keywords_are_the_calls_in_order_and_settings_reach_the_library():
    # VAD on c0 before c0 is dropped, deltas before CMVN, voiced rows last: file, memory, threads.
    static = mfcc_file(SAMPLE, include_c0=True)
    labels = vad(static)
    assert labels.dtype == bool and 0 < labels.sum() < len(labels)
    expected = cmvn(deltas(numpy.ascontiguousarray(static[:, 1:]), 2, 2))[labels]
    keywords = dict(deltas=2, cmvn="sliding", voiced_only=True)
    for got in (mfcc_file(SAMPLE, **keywords), mfcc(SPEECH, RATE, **keywords),
                mfcc_files([SAMPLE, SAMPLE], threads=2, **keywords)[1]):
        assert array_equal(got, expected)
    assert array_equal(mfcc_file(SAMPLE, voiced_only=True), static[labels, 1:])
    assert array_equal(mfcc_file(SAMPLE, include_c0=True, cmvn="utterance", cmvn_variance=True),
                       cmvn(static, "utterance", variance=True))
    assert array_equal(cmvn(static), cmvn(static, "sliding", False, 600, 100, False))  # Kaldi's
    for changed in (cmvn(static, "utterance"), cmvn(static, window=40, min_window=10),
                    cmvn(static, centred=True), cmvn(static, variance=True)):
        assert not array_equal(changed, cmvn(static))
    for changed in (dict(frames_context=0), dict(energy_column=5), dict(energy_threshold=9),
                    dict(energy_mean_scale=0.5), dict(proportion_threshold=0.9)):
        assert not array_equal(vad(static, **changed), labels)
    assert deltas(static, 1, 3).shape == (len(static), 26)


def test_fbank_rows_are_what_the_cosine_transform_sums_into_c0():
    rows, c0 = fbank(SPEECH, RATE), mfcc(SPEECH, RATE, include_c0=True)[:, 0]
    assert rows.shape == (len(c0), 30) and rows.dtype == numpy.float32
    assert array_equal(fbank_file(SAMPLE), rows)
    assert array_equal(functools.reduce(numpy.add, rows.T), c0)  # float sum, filter by filter
    assert fbank(SPEECH, RATE, filters=40, domain="power").shape == (len(c0), 40)
    assert array_equal(fbank_file(SAMPLE, deltas=1, cmvn="utterance", voiced_only=True),
                       cmvn(deltas(rows, 1), "utterance")[vad(rows, energy_column=-1)])


def test_the_package_runs_the_widest_lanes_this_processor_has():
    # Run on the pip-installed package too (dev/check_python_install.sh): a build that
    # compiled a vector width without its flags would run narrower lanes or fault.
    lines = [line.split(":", 1)[1].split() for line in open("/proc/cpuinfo")
             if line.startswith(("flags", "Features"))]
    flags = set(lines[0]) if lines else set()
    expected = {"x86_64": 8 if "avx512f" in flags else 4 if "avx2" in flags else 2,
                "aarch64": 2}.get(platform.machine(), 1)
    assert orvalix.lane_width() == expected


@pytest.mark.parametrize("live, keywords", [(False, {}), (False, {"include_c0": True, "deltas": 2, "cmvn": "sliding"}),
                                            (True, {"pre_emphasis": 0}), (True, {"include_c0": True})])
def test_a_stream_in_random_pieces_gives_the_whole_signals_rows(live, keywords):
    stream, whole = orvalix.Stream(RATE, live=live, keep=True, **keywords), mfcc(SPEECH, RATE, **keywords)
    pieces = numpy.split(SPEECH, numpy.cumsum(numpy.random.default_rng(7).integers(1, 2000, 400)))
    handed = [(stream.push(p if i % 2 else p.astype(numpy.int16)), stream.frames) for i, p in enumerate(pieces)]
    handed.append((stream.finish(), stream.frames))
    assert all(len(rows) == len(frames) for rows, frames in handed)
    assert stream.rows().shape == whole.shape
    assert array_equal(stream.rows()[1:], whole[1:]) and (live or array_equal(stream.rows()[0], whole[0]))
    stream.reset()  # the same tables, a new signal
    stream.push(SPEECH[:RATE]), stream.finish()
    assert array_equal(stream.rows()[1:], mfcc(SPEECH[:RATE], RATE, **keywords)[1:])


def test_audio_files_of_other_formats_give_the_programs_rows(tmp_path):
    flac, cut = tmp_path / "speech.flac", tmp_path / "cut.flac"
    subprocess.run(["sox", SAMPLE, "-b", "24", str(flac)], check=True)
    cut.write_bytes(flac.read_bytes()[:len(flac.read_bytes()) // 2])
    signal, info = orvalix.load_audio(flac)
    assert (info.rate, info.source_rate, info.channels, info.bits) == (16000, 16000, 1, 24)
    assert array_equal(signal, SPEECH) and array_equal(mfcc_file(flac, include_c0=True), mfcc_file(SAMPLE, include_c0=True))
    low, _ = orvalix.load_audio(SAMPLE, rate=8000)
    assert array_equal(mfcc_file(flac, rate=8000), mfcc(low, 8000)) and array_equal(fbank_file(flac), fbank(SPEECH, RATE))
    with pytest.raises(orvalix.AudioError, match="cut.flac"):
        orvalix.load_audio(cut)
    assert isinstance(mfcc_files([SAMPLE, tmp_path / "none.wav"])[1], WaveError)


def test_a_long_signal_on_two_threads_gives_one_threads_rows():
    hour = numpy.tile(SPEECH, 12)  # over four chunks: analysed a chunk at a time
    assert array_equal(mfcc(hour, RATE, threads=2, include_c0=True), mfcc(hour, RATE, include_c0=True))

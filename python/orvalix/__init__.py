"""Orvalix in Python: exact MFCC features as NumPy arrays, the very floats the orvalix program
writes (``write_text`` gives its output file byte for byte). docs/python.md has the keywords.

    >>> import orvalix
    >>> orvalix.mfcc_file("samples/speech16k.wav").shape           # float32 c1..c12
    (653, 12)

Keywords are fields of the library's settings record, with the program's defaults and ranges;
the front-end keywords (deltas, delta_window, cmvn, cmvn_variance, voiced_only) fill the record of
its one front-end call (VAD on the static rows, deltas, CMVN, voiced rows last).
"""

import math
import operator
import os
import warnings
from collections import namedtuple

import numpy

from . import _orvalix

__version__ = _orvalix.version
__all__ = ["Settings", "WaveInfo", "WaveError", "AnalysisError", "SettingsWarning", "load_wave",
           "AudioInfo", "AudioError", "load_audio",
           "mfcc", "mfcc_file", "mfcc_files", "write_text", "format_coefficient", "fbank",
           "fbank_file", "deltas", "cmvn", "vad", "lane_width", "Stream"]

# keyword: (field of the settings record, the program's option letter)
_KEYWORDS = {
    "window_ms": ("windowLengthMs", "L"), "shift_ms": ("windowShiftMs", "S"),
    "window": ("windowType", "W"), "pre_emphasis": ("preEmphasis", "H"),
    "remove_dc": ("removeDcOffset", "V"), "fft_below": ("powerOfTwoBelow", "U"),
    "filters": ("melFilterCount", "N"), "coefficients": ("cepstralCount", "M"),
    "lifter": ("lifterType", "I"), "domain": ("filterDomain", "A"), "include_c0": ("includeC0", "C"),
    "threads": ("threads", None),  # a long signal's chunks on this many threads; no option
}
_FLAGS = ("remove_dc", "fft_below", "include_c0")
_CHOICES = {"window": ("hamming", "triangular", "hann", "blackman"),
            "lifter": ("none", "raised_sine", "half_raised_sine"), "domain": ("magnitude", "power")}
_ALIASES = {"rectangular": "triangular", "bartlett": "hann"}  # the names of earlier versions
_CMVN_MODES = ("utterance", "sliding")
_LARGEST = 2147483647
lane_width = _orvalix.lane_width  # frames analysed side by side on this processor: 8, 4, 2 or 1


class WaveError(Exception):
    """A wave file the program refuses: ``name`` is the program's result code (RFX_...)."""

    def __init__(self, code, path):
        self.code, self.name, self.path = code, _orvalix.result_name(code), path
        super().__init__("%s: %s" % (self.name, path))


class AnalysisError(ValueError):
    """Settings that cannot be applied to this signal (ORVALIX_ANALYSIS_FAILED)."""

    def __init__(self, code, message, path=None):
        self.code, self.name, self.path = code, _orvalix.result_name(code), path
        super().__init__("%s: %s%s" % (self.name, message, "" if path is None else " (%s)" % path))


class AudioError(Exception):
    """An audio file no decoder reads: the message names the file, its format when known and the
    decoder's reason."""

    def __init__(self, message, path):
        self.path = path
        super().__init__(message)


class SettingsWarning(UserWarning):
    """Settings within every option's range that give rows of infinities or NaN at this rate."""


def _name(path):
    """A file name for the library as bytes (the library refuses one with a NUL byte)."""
    if isinstance(path, (str, bytes)) or hasattr(path, "__fspath__"):
        return os.fsencode(path)
    raise TypeError("expected a file name (str, bytes or os.PathLike), not %s" % type(path).__name__)


def _integer(name, value, low=-_LARGEST - 1, high=_LARGEST):
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError("%s: expected an integer, not %s" % (name, type(value).__name__)) from None
    if not low <= number <= high:
        raise ValueError("%s=%d is out of range [%d,%d]" % (name, number, low, high))
    return number


def _number(name, value):
    try:
        return float(value)
    except (TypeError, ValueError):
        raise TypeError("%s: expected a number, not %s" % (name, type(value).__name__)) from None


def _choice(name, value, names):
    if not isinstance(value, str):
        return _integer(name, value)
    if _ALIASES.get(value, value) not in names:
        raise ValueError("%s=%r: expected one of %s" % (name, value, ", ".join(names)))
    return names.index(_ALIASES.get(value, value)) + 1


def _array(name, value, dimensions):
    """A float32 array of the given dimensions; short messages for anything else."""
    if isinstance(value, (str, bytes, bytearray, memoryview)):
        raise TypeError("%s: expected an array of numbers, not %s" % (name, type(value).__name__))
    try:
        array = numpy.asarray(value, dtype=numpy.float32)
    except (TypeError, ValueError):
        raise TypeError("%s: expected an array of numbers, not %s" % (name, type(value).__name__)) from None
    if array.ndim != dimensions:
        raise ValueError("%s: expected a %s array" % (
            name, "one-dimensional" if dimensions == 1 else "(frames, columns)"))
    return array


def _field_value(keyword, value):
    if keyword in _FLAGS:
        return int(bool(value))
    if keyword in _CHOICES:
        return _choice(keyword, value, _CHOICES[keyword])
    if keyword == "pre_emphasis":  # the program takes whole hundredths and stores H / 100.0
        hundredths = round(_number(keyword, value) * 100)
        if abs(float(value) * 100 - hundredths) > 1e-9:
            raise ValueError("pre_emphasis=%r: the program takes whole hundredths (option -H)" % value)
        return hundredths / 100.0
    return _integer(keyword, value)


class Settings:
    """Analysis settings, the program's defaults changed by keywords or by its options:
    ``Settings(coefficients=13, include_c0=True) == Settings.from_options("-M13 -C")``."""

    __slots__ = ("_record",)

    def __init__(self, **keywords):
        self._record = _orvalix.Settings()
        self._apply(keywords)

    @classmethod
    def from_options(cls, options):
        """Settings from the program's options ("-L25 -M13 -C" or a list), read by its parser."""
        settings = cls()
        settings._record = _orvalix.parse_options(
            settings._record, options.split() if isinstance(options, str) else list(options))
        return settings

    def _apply(self, keywords):
        for keyword, value in keywords.items():
            if keyword not in _KEYWORDS:
                raise TypeError("unknown setting %r (known: %s)" % (keyword, ", ".join(_KEYWORDS)))
            field, letter = _KEYWORDS[keyword]
            setattr(self._record, field, _field_value(keyword, value))
            refused = _orvalix.check_settings(self._record)  # only this field can be out of range
            if refused is not None:
                option = " (option -%s)" % letter if letter else ""
                raise ValueError("%s=%r%s: %s" % (keyword, value, option, refused))

    def replace(self, **keywords):
        """These settings with some keywords changed."""
        settings = Settings()
        settings._record = self._record.copy()
        settings._apply(keywords)
        return settings

    def options(self):
        """The program's options that give these settings."""
        options = []
        for keyword, (field, letter) in _KEYWORDS.items():
            value = getattr(self._record, field)
            if letter is None:
                continue
            if keyword == "pre_emphasis":
                options.append("-H%d" % round(value * 100))
            elif keyword not in _FLAGS:
                options.append("-%s%d" % (letter, value))
            elif value:
                options.append("-" + letter)
        return options

    def __getattr__(self, keyword):
        if keyword not in _KEYWORDS:
            raise AttributeError(keyword)
        value = getattr(self._record, _KEYWORDS[keyword][0])
        if keyword in _CHOICES:
            return _CHOICES[keyword][value - 1]
        if keyword == "pre_emphasis":
            return round(value * 100) / 100
        return bool(value) if keyword in _FLAGS else value

    def _values(self):
        return tuple(getattr(self._record, field) for field, _ in _KEYWORDS.values())

    def __eq__(self, other):
        return isinstance(other, Settings) and self._values() == other._values()

    def __hash__(self):
        return hash(self._values())

    def __repr__(self):
        return "Settings(%s)" % ", ".join("%s=%r" % (k, getattr(self, k)) for k in _KEYWORDS)


def _chosen(settings, keywords):
    """The analysis settings and the library's front-end record the keywords ask for."""
    if settings is not None and not isinstance(settings, Settings):
        raise TypeError("settings must be an orvalix.Settings")
    front = _orvalix.FrontEnd()
    front.deltaOrder = _integer("deltas", keywords.pop("deltas", front.deltaOrder))
    front.deltaWindow = _integer("delta_window", keywords.pop("delta_window", front.deltaWindow))
    mode = keywords.pop("cmvn", None)
    front.cmvn = int(mode is not None)
    if mode is not None:
        front.cmvnSettings.mode = _choice("cmvn", mode, _CMVN_MODES)
    front.cmvnSettings.normaliseVariance = int(bool(keywords.pop("cmvn_variance", False)))
    front.voicedOnly = int(bool(keywords.pop("voiced_only", False)))
    return (settings or Settings()).replace(**keywords), front


def _check(settings, rate, strict):
    """Warns when these settings give non-finite rows at rate; with strict, the ValueError."""
    said = _orvalix.check_rows(settings._record, rate)
    if said is None:
        return None
    text = "%s (options %s)" % (said, " ".join(settings.options()))
    if strict:
        return ValueError(text)
    warnings.warn(text, SettingsWarning, stacklevel=4)
    return None


WaveInfo = namedtuple("WaveInfo", "rate channels bits samples announced")
WaveInfo.__doc__ = """A wave file's rate, channels, bits, samples read and samples its header
announces (more than those read when the file was cut short)."""


def load_wave(path):
    """(signal, WaveInfo) of a wave file, loaded as the program does: float32 on its scale
    (16-bit as -32768..32767, 8-bit as 0..255, stereo as the mono mix), or WaveError."""
    signal, info = _orvalix.load_wave(_name(path), os.fspath(path))
    return signal, WaveInfo(*info)


AudioInfo = namedtuple("AudioInfo", "rate source_rate channels bits samples format")
AudioInfo.__doc__ = """An audio file's rate (after resampling), its own rate, channels, bits,
samples and format (container and encoding, as its decoder names them)."""


def _audio_choice(rate, channel):
    """The library's rate and channel: None keeps the file's rate and mixes the channels."""
    return (-1 if channel is None else _integer("channel", channel, 0),
            0 if rate is None else _integer("rate", rate, 1))


def load_audio(path, rate=None, channel=None):
    """(signal, AudioInfo) of any audio file (FLAC, MP3, Ogg, Opus, AIFF, CAF, W64, wave of any
    encoding) on the program's 16-bit scale, one channel (0-based) or the mix, resampled to rate
    when given; what the program reads goes through its own reader (docs/audio.md)."""
    channel, rate = _audio_choice(rate, channel)
    signal, info = _orvalix.load_audio(_name(path), os.fspath(path), channel, rate)
    return signal, AudioInfo(*info)


def _analyse(signal, rate, settings, scale, strict, keywords, filterbank):
    chosen, front = _chosen(settings, keywords)
    rate, scale = _integer("rate", rate, 1), _number("scale", scale)
    if not math.isfinite(scale) or scale == 0:
        raise ValueError("scale=%r: expected a finite number other than 0" % scale)
    signal = _array("signal", signal, 1)
    refused = _check(chosen, rate, strict)
    if refused:
        raise refused
    return _orvalix.analyse(signal, rate, chosen._record, scale, filterbank, front)


def mfcc(signal, rate, settings=None, scale=1.0, strict=False, **keywords):
    """MFCCs of a signal on the program's scale (one in [-1, 1] takes scale=32768): float32
    (frames, columns) in the library's own buffer. Settings that give rows of infinities or NaN
    at this rate raise a SettingsWarning, or ValueError with strict=True."""
    return _analyse(signal, rate, settings, scale, strict, keywords, False)


def fbank(signal, rate, settings=None, scale=1.0, strict=False, **keywords):
    """Log-mel filterbank features, float32 (frames, filters): the base-10 log filter energies
    the analysis hands its cosine transform; the VAD takes each row's sum (c0 of the frame)."""
    return _analyse(signal, rate, settings, scale, strict, keywords, True)


def fbank_file(path, settings=None, strict=False, rate=None, channel=None, **keywords):
    """fbank of any audio file, loaded as load_audio does."""
    signal, info = load_audio(path, rate, channel)
    return fbank(signal, info.rate, settings, strict=strict, **keywords)


def mfcc_file(path, settings=None, strict=False, rate=None, channel=None, **keywords):
    """MFCCs of a wave file, analysed exactly as the program does (in bounded memory), or of any
    other audio file (or with rate or channel) loaded as load_audio does."""
    result = mfcc_files([path], 1, settings, strict, rate, channel, **keywords)[0]
    if isinstance(result, Exception):
        raise result
    return result


def mfcc_files(paths, threads=None, settings=None, strict=False, rate=None, channel=None, **keywords):
    """MFCCs of many wave files on `threads` threads (default: one per processor): a list in the
    order of `paths` of arrays, or each refused file's exception. Non-finite rows are warned
    about once per rate (with strict=True, those files get a ValueError in the list)."""
    if isinstance(paths, (str, bytes)) or hasattr(paths, "__fspath__"):
        raise TypeError("paths: expected a list of file names, not one name (use mfcc_file)")
    paths = [os.fspath(path) for path in paths]
    names = [_name(path) for path in paths]
    threads = _integer("threads", (os.cpu_count() or 1) if threads is None else threads, 1)
    chosen, front = _chosen(settings, keywords)
    results = _orvalix.analyse_files(names, paths, chosen._record, front, threads,
                                     *_audio_choice(rate, channel))
    said = {}
    for rate in sorted({rate for result, rate in results if not isinstance(result, Exception)}):
        said[rate] = _check(chosen, rate, strict)
    return [result if isinstance(result, Exception) or not said[rate]
            else ValueError("%s: %s" % (said[rate], path))
            for path, (result, rate) in zip(paths, results)]


class Stream:
    """Rows while the signal comes in, each the row mfcc (or fbank) gives for the same samples and
    keywords: push samples (float32 on the program's scale or int16; (n,) or (n, 2) stereo, as
    the program mixes it) and get the rows they complete, float32 (rows, columns), possibly none;
    ``frames`` holds the frame index of each row last handed out. finish() ends the signal and
    hands out the rest; reset() starts a new one with the same tables. With pre-emphasis on, row
    0 depends on the signal's last sample: it comes at finish(), unless live=True computes it at
    once with the first sample filtered against 0 (then the only row that may differ from the
    file's). keep=True keeps every row handed out for rows(). The analysis runs without the
    interpreter's lock, so asyncio code can push through a thread (asyncio.to_thread)."""

    def __init__(self, rate, settings=None, live=False, keep=False, filterbank=False, **keywords):
        chosen, front = _chosen(settings, keywords)
        rate = _integer("rate", rate, 1)
        self._stream = _orvalix.Stream(chosen._record, rate, bool(live), bool(filterbank), front)
        self.frames, self._kept = numpy.zeros(0, dtype=numpy.int64), [] if keep else None

    def _hand_out(self, rows_and_frames):
        rows, self.frames = rows_and_frames
        if self._kept is not None and len(rows):
            self._kept.append((self.frames, rows))
        return rows

    def push(self, samples):
        if not isinstance(samples, numpy.ndarray) or samples.dtype != numpy.int16:
            samples = _array("samples", samples, numpy.ndim(samples) if numpy.ndim(samples) in (1, 2) else 1)
        return self._hand_out(self._stream.push(samples))

    def finish(self):
        return self._hand_out(self._stream.finish())

    def reset(self):
        self._stream.reset()
        self.frames = numpy.zeros(0, dtype=numpy.int64)
        if self._kept is not None:
            self._kept = []

    def rows(self):
        """Every row handed out since the start (keep=True), in frame order."""
        if self._kept is None:
            raise ValueError("rows() needs a Stream made with keep=True")
        if not self._kept:
            return numpy.zeros((0, 0), dtype=numpy.float32)
        frames = numpy.concatenate([f for f, _ in self._kept])
        return numpy.concatenate([r for _, r in self._kept])[numpy.argsort(frames, kind="stable")]


def write_text(features, path):
    """Writes features as the program's output file ("%f " per column, a line per frame): whole
    or not at all; a FIFO or device is written into, never replaced; else OSError."""
    _orvalix.write_text(_array("features", features, 2), _name(path))


def format_coefficient(value):
    """One coefficient as the program writes it ("%f" of the float)."""
    return _orvalix.format_coefficient(value)


def deltas(features, order=2, window=2):
    """The rows followed by their deltas of order 1 (and 2) over `window` frames, as Kaldi's."""
    return _orvalix.deltas(_array("features", features, 2), _integer("order", order),
                           _integer("window", window))


def _fill(record, given):  # (field, keyword, value or None for the default, conversion)
    for field, name, value, kind in given:
        if value is not None:
            setattr(record, field, kind(name, value))
    return record


def cmvn(features, mode=None, variance=None, window=None, min_window=None, centred=None):
    """Mean (and variance) normalisation: 'sliding' as Kaldi's apply-cmvn-sliding, or 'utterance'."""
    mode = None if mode is None else _choice("mode", mode, _CMVN_MODES)
    record = _fill(_orvalix.CmvnSettings(), (
        ("mode", "mode", mode, _integer), ("normaliseVariance", "variance", variance, _integer),
        ("window", "window", window, _integer), ("minWindow", "min_window", min_window, _integer),
        ("centred", "centred", centred, _integer)))
    return _orvalix.cmvn(_array("features", features, 2), record)


def vad(features, energy_threshold=None, energy_mean_scale=None, frames_context=None,
        proportion_threshold=None, energy_column=None):
    """One bool per row, voiced or not, as Kaldi's compute-vad, on column energy_column (0: c0;
    -1: the row's sum). None takes the library's default."""
    record = _fill(_orvalix.VadSettings(), (
        ("energyThreshold", "energy_threshold", energy_threshold, _number),
        ("energyMeanScale", "energy_mean_scale", energy_mean_scale, _number),
        ("framesContext", "frames_context", frames_context, _integer),
        ("proportionThreshold", "proportion_threshold", proportion_threshold, _number),
        ("energyColumn", "energy_column", energy_column, _integer)))
    return _orvalix.vad(_array("features", features, 2), record)

"""Orvalix in Python: exact MFCC features as NumPy arrays.

The rows are the very floats the orvalix program writes, on every platform and in every version:
``write_text`` gives the program's output file byte for byte. See docs/python.md.

    >>> import orvalix
    >>> features = orvalix.mfcc_file("samples/speech16k.wav")      # (frames, 12) float32
    >>> signal, info = orvalix.load_wave("samples/speech16k.wav")
    >>> orvalix.mfcc(signal, info.rate, window_ms=25, include_c0=True).shape[1]
    13

Settings are readable keywords with the program's defaults and ranges, each standing for one of
the program's options; they go through the program's own option parser:

    ============  ======  =================================================  ===========
    keyword       option  meaning                                            default
    ============  ======  =================================================  ===========
    window_ms     -L      analysis window length in ms                       30
    shift_ms      -S      frame shift in ms                                  10
    window        -W      'hamming', 'rectangular', 'bartlett', 'blackman'   'hamming'
    pre_emphasis  -H      pre-emphasis in whole hundredths (0 turns it off)  0.97
    remove_dc     -V      subtract the signal's mean first                   False
    fft_below     -U      FFT length is the power of two below the window    False
    filters       -N      mel filter count, 0 for automatic                  0
    coefficients  -M      cepstral coefficients c1..cM                       12
    lifter        -I      'none', 'raised_sine', 'half_raised_sine'          'none'
    domain        -A      filters on 'magnitude' or 'power'                  'magnitude'
    include_c0    -C      the first column is c0 (columns c0..cM)            False
    ============  ======  =================================================  ===========

Columns follow the program's output file: c1..cM, or c0..cM with ``include_c0=True`` (-C).

``fbank`` and ``fbank_file`` give log-mel filterbank features instead: the log filter energies the
analysis hands its cosine transform.

The front end after the analysis (docs/frontend.md) is there as calls over any feature array,
``deltas``, ``cmvn`` and ``vad``, and as keywords of ``mfcc``, ``mfcc_file``, ``mfcc_files``,
``fbank`` and ``fbank_file``:

    ==============  ====================================================  =======
    keyword         meaning                                               default
    ==============  ====================================================  =======
    deltas          append deltas of order 1 or 2 (0: none)               0
    delta_window    frames on each side of the deltas                     2
    cmvn            'sliding' (Kaldi's apply-cmvn-sliding) or 'utterance'  None
    cmvn_variance   also normalise the variance                           False
    voiced_only     keep only the frames the energy VAD finds voiced      False
    ==============  ====================================================  =======

The VAD reads c0 of the static rows (whether or not it is kept); deltas come before CMVN, and the
voiced frames are chosen last.
"""

import math
import operator
import os
import re
import warnings
from collections import namedtuple

import numpy

from . import _orvalix

__version__ = _orvalix.version
__all__ = ["Settings", "WaveInfo", "WaveError", "AnalysisError", "load_wave", "mfcc",
           "mfcc_file", "mfcc_files", "write_text", "format_coefficient", "fbank", "fbank_file",
           "deltas", "cmvn", "vad"]

# The library's settings record, field by field, as the compiled module hands it over.
_FIELDS = ("L", "S", "F", "N", "D", "E", "C", "R", "V", "U", "M", "W", "I", "A", "O", "H")
_FLAGS = "DECRVUO"

_CHOICES = {
    "W": ("hamming", "rectangular", "bartlett", "blackman"),
    "I": ("none", "raised_sine", "half_raised_sine"),
    "A": ("magnitude", "power"),
}
_KEYWORDS = {
    "window_ms": "L", "shift_ms": "S", "window": "W", "pre_emphasis": "H", "remove_dc": "V",
    "fft_below": "U", "filters": "N", "coefficients": "M", "lifter": "I", "domain": "A",
    "include_c0": "C",
}
_KEYWORD_OF = {letter: keyword for keyword, letter in _KEYWORDS.items()}
_LARGEST = 2147483647


class WaveError(Exception):
    """A wave file the program refuses: ``name`` is the program's result code (RFX_...)."""

    def __init__(self, code, path):
        self.code, self.name, self.path = code, _orvalix.result_name(code), path
        super().__init__("%s: %s" % (self.name, path))


class AnalysisError(ValueError):
    """Settings that cannot be applied to this signal (ORVALIX_ANALYSIS_FAILED)."""

    def __init__(self, code, path=None):
        self.code, self.name, self.path = code, _orvalix.result_name(code), path
        what = "the settings cannot be applied to this signal"
        super().__init__("%s: %s%s" % (self.name, what, "" if path is None else " (%s)" % path))


class SettingsWarning(UserWarning):
    """Settings within every option's range that give rows of infinities or NaN at this rate."""


def _name(path):
    """A file name for the library: whole, or ValueError as open() gives."""
    if isinstance(path, (str, bytes)) or hasattr(path, "__fspath__"):
        name = os.fsencode(path)
        if b"\0" in name:
            raise ValueError("embedded null byte in file name %r" % (path,))
        return name
    raise TypeError("expected a file name (str, bytes or os.PathLike), not %s"
                    % type(path).__name__)


def _integer(name, value, low=-_LARGEST - 1, high=_LARGEST):
    """An integer argument within the library's range, with a short message otherwise."""
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError("%s: expected an integer, not %s" % (name, type(value).__name__)) from None
    if not low <= number <= high:
        raise ValueError("%s=%d is out of range [%d,%d]" % (name, number, low, high))
    return number


def _array(name, value, dimensions):
    """A float32 array of the given dimensions; short messages for anything else."""
    if isinstance(value, (str, bytes, bytearray, memoryview)):
        raise TypeError("%s: expected an array of numbers, not %s" % (name, type(value).__name__))
    try:
        array = numpy.asarray(value, dtype=numpy.float32)
    except (TypeError, ValueError):
        raise TypeError("%s: expected an array of numbers, not %s"
                        % (name, type(value).__name__)) from None
    if array.ndim != dimensions:
        raise ValueError("%s: expected a %s array" % (
            name, "one-dimensional" if dimensions == 1 else "(frames, columns)"))
    return array


def _scale(scale):
    try:
        scale = float(scale)
    except (TypeError, ValueError):
        raise TypeError("scale: expected a number, not %s" % type(scale).__name__) from None
    if not math.isfinite(scale) or scale == 0:
        raise ValueError("scale=%r: expected a finite number other than 0" % scale)
    return scale


def _rate(rate):
    return _integer("rate", rate, 1, _LARGEST)


def _check(values, rate, strict):
    """Warns (or with strict raises ValueError) when the settings give non-finite rows at rate."""
    message = _orvalix.check_settings(values, rate)
    if message is None:
        return None
    text = "%s (options %s)" % (message, " ".join(_options_of(values)))
    if strict:
        raise ValueError(text)
    warnings.warn(text, SettingsWarning, stacklevel=3)
    return text


def _error(code, path=None):
    return AnalysisError(code, path) if code == 100 else WaveError(code, path)


def _range_error(keyword, value, message):
    letter = re.search(r"Parameter (.)\(", message).group(1)
    keyword = keyword or _KEYWORD_OF.get(letter, letter)
    limits = re.search(r"\[(-?\d+),(-?\d+)\]", message).groups()
    if letter == "H":  # the option takes percent, the keyword the coefficient
        limits = ["%g" % (int(limit) / 100) for limit in limits]
    return ValueError("%s=%r is out of range [%s,%s] (option -%s)"
                      % (keyword, value, limits[0], limits[1], letter))


def _parse(options):
    message, values = _orvalix.parse_options(list(options))
    if message is not None:
        raise ValueError(message)
    return values


def _option(keyword, value):
    """The program's option for one keyword, or None for a flag left off."""
    letter = _KEYWORDS.get(keyword)
    if letter is None:
        raise TypeError("unknown setting %r (known: %s)" % (keyword, ", ".join(_KEYWORDS)))
    if letter in _FLAGS:
        return "-" + letter if value else None
    number = value
    if letter in _CHOICES and isinstance(value, str):
        if value not in _CHOICES[letter]:
            raise ValueError("%s=%r: expected one of %s"
                             % (keyword, value, ", ".join(_CHOICES[letter])))
        number = _CHOICES[letter].index(value) + 1
    elif letter == "H":
        number = round(float(value) * 100)
        if abs(float(value) * 100 - number) > 1e-9:
            raise ValueError("pre_emphasis=%r: the program takes whole hundredths (option -H)"
                             % value)
    else:
        number = operator.index(value)
    if not 0 <= number <= _LARGEST:
        # The option syntax has no sign: the message for the largest value gives the range.
        message, _ = _orvalix.parse_options(["-%s%d" % (letter, _LARGEST)])
        raise _range_error(keyword, value, message)
    return "-%s%d" % (letter, number)


class Settings:
    """Analysis settings: the program's defaults, changed by keywords or by its options.

    ``Settings(coefficients=13, include_c0=True) == Settings.from_options("-M13 -C")``.
    """

    __slots__ = ("_values",)

    def __init__(self, **keywords):
        self._values = _with_keywords(_orvalix.default_settings(), keywords)

    @classmethod
    def from_options(cls, options):
        """Settings from the program's option syntax ("-L25 -M13 -C", or a list of options),
        read by the program's own parser; a refused option raises ValueError with its message."""
        if isinstance(options, str):
            options = options.split()
        settings = cls.__new__(cls)
        settings._values = _parse(options)
        return settings

    def replace(self, **keywords):
        """These settings with some keywords changed."""
        settings = Settings.__new__(Settings)
        settings._values = _with_keywords(self._values, keywords)
        return settings

    def options(self):
        """The program's options that give these settings."""
        return _options_of(self._values)

    def _get(self, letter):
        value = self._values[_FIELDS.index(letter)]
        if letter in _CHOICES:
            return _CHOICES[letter][value - 1]
        if letter == "H":
            return round(value * 100) / 100
        return bool(value) if letter in _FLAGS else value

    def __getattr__(self, keyword):
        if keyword in _KEYWORDS:
            return self._get(_KEYWORDS[keyword])
        raise AttributeError(keyword)

    def __eq__(self, other):
        return isinstance(other, Settings) and self._values == other._values

    def __hash__(self):
        return hash(self._values)

    def __repr__(self):
        return "Settings(%s)" % ", ".join("%s=%r" % (k, getattr(self, k)) for k in _KEYWORDS)


def _options_of(values):
    out = []
    for letter, value in zip(_FIELDS, values):
        if letter == "H":
            out.append("-H%d" % round(value * 100))
        elif letter not in _FLAGS:
            out.append("-%s%d" % (letter, value))
        elif value:
            out.append("-" + letter)
    return out


def _with_keywords(values, keywords):
    """The settings record `values` with keywords applied, through the program's parser."""
    if not keywords:
        return values
    changed = {_KEYWORDS.get(keyword) for keyword in keywords}
    base = [option for option in _options_of(values) if option[1] not in changed]
    given = [_option(keyword, value) for keyword, value in keywords.items()]
    message, parsed = _orvalix.parse_options(base + [o for o in given if o])
    if message is not None:
        letter = re.search(r"Parameter (.)\(", message).group(1)
        keyword = _KEYWORD_OF[letter]
        raise _range_error(keyword, keywords[keyword], message)
    return parsed


def _settings(settings, keywords):
    if settings is None:
        return Settings(**keywords)
    if not isinstance(settings, Settings):
        raise TypeError("settings must be an orvalix.Settings")
    return settings.replace(**keywords) if keywords else settings


WaveInfo = namedtuple("WaveInfo", "rate channels bits samples announced")
WaveInfo.__doc__ = """What a wave file holds: rate in Hz, channels, bits per sample, samples read
(the signal's length: frames for a mixed two-channel file) and samples its header announces
(more than those read when the file was cut short; those present for a streamed file)."""


def load_wave(path):
    """Loads a wave file as the program does: (signal, WaveInfo).

    The signal is float32 on the program's scale: 16-bit samples as -32768..32767, 8-bit as
    0..255, two channels as their mono mix. Raises WaveError for a file the program refuses."""
    code, signal, info = _orvalix.load_wave(_name(path))
    if code:
        raise _error(code, os.fspath(path))
    return signal, WaveInfo(*info)


def mfcc(signal, rate, settings=None, scale=1.0, strict=False, **keywords):
    """MFCCs of a one-dimensional signal: a float32 C-contiguous array (frames, columns).

    The signal is on the program's scale (int16 arrays as they are, 8-bit as 0..255); a signal
    in [-1, 1] (torchaudio, soundfile) takes scale=32768. `settings` (a Settings) and keywords
    (see the module's help) choose the analysis and the front end after it. A signal shorter than
    one window gives (0, columns). The array owns the library's buffer: no copy is made.
    Settings that give rows of infinities or NaN at this rate (a mel filter without any FFT bin)
    raise a SettingsWarning, or ValueError with strict=True."""
    front = _front_end(keywords)
    chosen = _settings(settings, keywords)
    rate, scale, signal = _rate(rate), _scale(scale), _array("signal", signal, 1)
    _check(chosen._values, rate, strict)
    code, features = _orvalix.analyse(signal, rate, _analysed(chosen, front), scale, False)
    if code:
        raise _error(code)
    return _finish(features, chosen, front)


def fbank(signal, rate, settings=None, scale=1.0, strict=False, **keywords):
    """Log-mel filterbank features of a one-dimensional signal: float32 (frames, filters), the
    base-10 log filter energies of every frame (of the magnitude or power spectrum, as `domain`
    says), the very floats the analysis hands its cosine transform. Takes mfcc's settings (those
    of the cepstrum, coefficients, lifter and include_c0, do not matter) and the front-end
    keywords; the VAD then takes each row's sum, which is c0 of the same frame."""
    front = _front_end(keywords)
    chosen = _settings(settings, keywords)
    rate, scale, signal = _rate(rate), _scale(scale), _array("signal", signal, 1)
    _check(chosen._values, rate, strict)
    code, features = _orvalix.analyse(signal, rate, chosen._values, scale, True)
    if code:
        raise _error(code)
    return _finish(features, chosen, front, filterbank=True)


def fbank_file(path, settings=None, strict=False, **keywords):
    """fbank of a wave file, loaded as the program loads it. Raises WaveError for a file the
    program refuses."""
    signal, info = load_wave(path)
    return fbank(signal, info.rate, settings, strict=strict, **keywords)


def mfcc_file(path, settings=None, strict=False, **keywords):
    """MFCCs of a wave file, exactly as the program analyses it (long files a chunk at a time,
    in bounded memory). Raises WaveError for a file the program refuses; settings that give
    non-finite rows at the file's rate as mfcc does."""
    result = mfcc_files([path], 1, settings, strict, **keywords)[0]
    if isinstance(result, Exception):
        raise result
    return result


def mfcc_files(paths, threads=None, settings=None, strict=False, **keywords):
    """MFCCs of many wave files on `threads` threads (default: one per processor), without the
    interpreter's lock. Returns a list in the order of `paths`: an array for each file analysed,
    or the WaveError (or AnalysisError) of a file refused; the other files go on. Settings that
    give non-finite rows at a file's rate are warned about once per rate (with strict=True,
    those files get a ValueError in the list)."""
    if isinstance(paths, (str, bytes)) or hasattr(paths, "__fspath__"):
        raise TypeError("paths: expected a list of file names, not one name (use mfcc_file)")
    paths = list(paths)
    names = [_name(path) for path in paths]
    threads = _integer("threads", (os.cpu_count() or 1) if threads is None else threads, 1)
    front = _front_end(keywords)
    chosen = _settings(settings, keywords)
    results = _orvalix.analyse_files(names, _analysed(chosen, front), threads)
    said = {}
    out = []
    for path, (code, features, rate) in zip(paths, results):
        if code:
            out.append(_error(code, os.fspath(path)))
            continue
        if rate not in said:
            said[rate] = _orvalix.check_settings(chosen._values, rate)
            if said[rate] is not None and not strict:
                _check(chosen._values, rate, False)
        if said[rate] is not None and strict:
            out.append(ValueError("%s (options %s): %s" % (
                said[rate], " ".join(_options_of(chosen._values)), os.fspath(path))))
        else:
            out.append(_finish(features, chosen, front))
    return out


def write_text(features, path):
    """Writes features as the program's output file: every column "%f " (the program's exact
    formatter), one line per frame. An array from mfcc(..., include_c0=X) gives the file the
    program writes with (or without) -C. The file is replaced whole or not at all."""
    error = _orvalix.write_text(_array("features", features, 2), _name(path))
    if error:
        raise OSError(error, os.strerror(error), os.fspath(path))


def format_coefficient(value):
    """One coefficient as the program writes it ("%f" of the float)."""
    return _orvalix.format_coefficient(value)


# ---- The front end after the analysis (docs/frontend.md) ----------------------------------

_CMVN_MODES = {"utterance": 1, "sliding": 2}


def _checked(result):
    code, value = result
    if code:
        raise ValueError("a front-end setting is out of range (docs/frontend.md gives the ranges)")
    return value


def deltas(features, order=2, window=2):
    """The rows followed by their deltas, as Kaldi's add-deltas: order 1 or 2 over `window`
    (1..100) frames on each side, frame indices clamped to the first and last frame. Returns a
    float32 array of columns x (order + 1) columns."""
    return _checked(_orvalix.deltas(_array("features", features, 2), _integer("order", order),
                                    _integer("window", window)))


def cmvn(features, mode=None, variance=None, window=None, min_window=None, centred=None):
    """Mean normalisation (and variance normalisation with variance=True) of every column.
    mode 'sliding' (the default) is Kaldi's apply-cmvn-sliding with its defaults (window 600
    frames, min_window 100, centred False); 'utterance' uses every frame. Returns a new array."""
    if mode is not None and mode not in _CMVN_MODES:
        raise ValueError("mode=%r: expected one of %s" % (mode, ", ".join(_CMVN_MODES)))
    given = (_CMVN_MODES.get(mode), variance, window, min_window, centred)
    names = ("mode", "variance", "window", "min_window", "centred")
    chosen = tuple(default if value is None else _integer(name, value)
                   for name, value, default in zip(names, given, _orvalix.cmvn_defaults()))
    return _checked(_orvalix.cmvn(_array("features", features, 2), chosen))


def vad(features, energy_threshold=None, energy_mean_scale=None, frames_context=None,
        proportion_threshold=None, energy_column=None):
    """Energy voice-activity labels, one bool per row, in the manner of Kaldi's compute-vad. A
    frame's energy is column energy_column (default 0: c0 of rows from include_c0=True), or with
    -1 the sum of its row; it counts as above when over energy_threshold (-2.5) plus
    energy_mean_scale (1) x the mean energy, and a frame is voiced when at least
    proportion_threshold (0.4) of the frames within frames_context (15) on each side are above."""
    kinds = (float, float, lambda v: _integer("frames_context", v), float,
             lambda v: _integer("energy_column", v))
    given = (energy_threshold, energy_mean_scale, frames_context, proportion_threshold,
             energy_column)
    chosen = tuple(default if value is None else kind(value)
                   for value, default, kind in zip(given, _orvalix.vad_defaults(), kinds))
    return _checked(_orvalix.vad(_array("features", features, 2), chosen))


_FRONT_END_DEFAULTS = {"deltas": 0, "delta_window": 2, "cmvn": None, "cmvn_variance": False,
                       "voiced_only": False}


def _front_end(keywords):
    """The front-end keywords, taken out of the analysis keywords."""
    return {name: keywords.pop(name, default) for name, default in _FRONT_END_DEFAULTS.items()}


def _analysed(chosen, front):
    """The settings to analyse with: with c0 whenever the VAD needs it."""
    return chosen.replace(include_c0=True)._values if front["voiced_only"] else chosen._values


def _finish(features, chosen, front, filterbank=False):
    """Voice labels from c0 (or the row sums of log filter energies), c0 dropped unless kept,
    deltas, CMVN, then the voiced rows."""
    if front == _FRONT_END_DEFAULTS:
        return features
    labels = None
    if front["voiced_only"]:
        labels = vad(features, energy_column=-1 if filterbank else 0)
    if labels is not None and not filterbank and not chosen.include_c0:
        features = numpy.ascontiguousarray(features[:, 1:])
    if front["deltas"]:
        features = deltas(features, front["deltas"], front["delta_window"])
    if front["cmvn"] is not None:
        features = cmvn(features, front["cmvn"], bool(front["cmvn_variance"]))
    return features[labels] if labels is not None else features

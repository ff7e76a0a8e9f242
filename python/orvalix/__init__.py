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
"""

import operator
import os
import re
from collections import namedtuple

from . import _orvalix

__version__ = _orvalix.version
__all__ = ["Settings", "WaveInfo", "WaveError", "AnalysisError", "load_wave", "mfcc",
           "mfcc_file", "mfcc_files", "write_text", "format_coefficient"]

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
(the signal's length: frames for a mixed two-channel file) and samples announced by the file."""


def load_wave(path):
    """Loads a wave file as the program does: (signal, WaveInfo).

    The signal is float32 on the program's scale: 16-bit samples as -32768..32767, 8-bit as
    0..255, two channels as their mono mix. Raises WaveError for a file the program refuses."""
    code, signal, info = _orvalix.load_wave(os.fsencode(path))
    if code:
        raise _error(code, os.fspath(path))
    return signal, WaveInfo(*info)


def mfcc(signal, rate, settings=None, scale=1.0, **keywords):
    """MFCCs of a one-dimensional signal: a float32 C-contiguous array (frames, columns).

    The signal is on the program's scale (int16 arrays as they are, 8-bit as 0..255); a signal
    in [-1, 1] (torchaudio, soundfile) takes scale=32768. `settings` (a Settings) and keywords
    (see the module's help) choose the analysis. A signal shorter than one window gives
    (0, columns). The array owns the library's buffer: no copy is made."""
    chosen = _settings(settings, keywords)
    rate = operator.index(rate)
    if not 0 < rate <= _LARGEST:
        raise ValueError("rate=%r: expected a positive sample rate in Hz" % rate)
    code, features = _orvalix.analyse(signal, rate, chosen._values, float(scale))
    if code:
        raise _error(code)
    return features


def mfcc_file(path, settings=None, **keywords):
    """MFCCs of a wave file, exactly as the program analyses it (long files a chunk at a time,
    in bounded memory). Raises WaveError for a file the program refuses."""
    chosen = _settings(settings, keywords)
    code, features = _orvalix.analyse_files([os.fsencode(path)], chosen._values, 1)[0]
    if code:
        raise _error(code, os.fspath(path))
    return features


def mfcc_files(paths, threads=None, settings=None, **keywords):
    """MFCCs of many wave files on `threads` threads (default: one per processor), without the
    interpreter's lock. Returns a list in the order of `paths`: an array for each file analysed,
    or the WaveError (or AnalysisError) of a file refused; the other files go on."""
    paths = list(paths)
    threads = (os.cpu_count() or 1) if threads is None else operator.index(threads)
    if threads < 1:
        raise ValueError("threads=%r: expected at least 1" % threads)
    results = _orvalix.analyse_files([os.fsencode(p) for p in paths],
                                     _settings(settings, keywords)._values, threads)
    return [features if code == 0 else _error(code, os.fspath(path))
            for path, (code, features) in zip(paths, results)]


def write_text(features, path):
    """Writes features as the program's output file: every column "%f " (the program's exact
    formatter), one line per frame. An array from mfcc(..., include_c0=X) gives the file the
    program writes with (or without) -C. The file is replaced whole or not at all."""
    if _orvalix.write_text(features, os.fsencode(path)):
        raise OSError("cannot write %s" % os.fspath(path))


def format_coefficient(value):
    """One coefficient as the program writes it ("%f" of the float)."""
    return _orvalix.format_coefficient(value)

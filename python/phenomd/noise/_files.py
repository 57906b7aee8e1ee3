"""Noise curves read from a user's two-column text file (``from_file``),
converted to the package's convention and interpolated in log-log
(``TabulatedNoise``)."""

from __future__ import annotations

import math
import os
import re

import numpy as np

from .._inputs import InputError
from ._base import NoiseCurve
from ._names import _CURVES, curve, names
from ._spline import Spline
from ._table import NoiseSample, frequencies

class NoiseFileError(ValueError):
    """A noise file that cannot be used; ``path`` and ``line`` (1-based, or
    None for a fault of the whole file) say where."""

    def __init__(self, path, line, message):
        self.path = str(path)
        self.line = line
        where = f"{self.path}, line {line}" if line is not None else self.path
        super().__init__(f"{where}: {message}")


KINDS = {
    "asd": "amplitude spectral density sqrt(S), Hz^-1/2",
    "psd": "power spectral density S, Hz^-1",
    "hn": "noise characteristic strain sqrt(f S), dimensionless",
}

INTERPOLATIONS = ("auto", "cubic", "pchip", "linear")

#: Adjacent frequencies of a noise file closer than this (relative) are
#: refused: in ln f they are a few ulp apart, below what any slope between
#: them could mean.
MIN_RELATIVE_SPACING = 1e-9

_SPLIT = re.compile(r"[\s,;]+")
_LN_SMALLEST = math.log(5e-324)
_LN_LARGEST = math.log(np.finfo(np.float64).max)


def _number(text):
    try:
        return float(text)
    except ValueError:
        return None


#: The smallest normal double: below it a value keeps fewer digits.
_TINY = np.finfo(np.float64).tiny


def _ln(text, value):
    """ln of a positive number written as ``text`` (whose float is
    ``value``): from the float where it is normal, else from the decimal
    text itself, so that values below 2.2e-308 (subnormal or 0 as floats,
    e.g. a noise file in strain units of 1e-300) and above 1.8e308 keep
    every digit."""
    if _TINY <= value < math.inf:
        return math.log(value)
    from decimal import Decimal, InvalidOperation

    try:
        return float(Decimal(text.strip()).ln())
    except (InvalidOperation, ValueError):
        return math.nan


class TabulatedNoise(NoiseCurve):
    """A noise curve tabulated at ascending frequencies, already converted
    to the package's convention, interpolated in (ln f, ln h_n):

    * ``interpolation="auto"`` (default): the cubic spline below, unless
      it overshoots the data somewhere (it leaves, on some interval, the
      range of the four nodes around it by more than that range: the
      ringing that unevenly spaced or noisy nodes excite, e.g. two
      frequencies 1e-4 apart whose values disagree with their neighbours'
      slope), in which case the whole curve is interpolated by PCHIP; the
      choice and its reason are in ``interpolation`` and the repr;
    * ``"cubic"``: the cubic spline with not-a-knot ends (error O(h^4) up
      to the ends), twice continuously differentiable, so that its table
      (``table()``) reaches 5e-10 in ln h_n at a moderate density; it
      reproduces the nodes and any power law exactly;
    * ``"pchip"``: the piecewise cubic Hermite interpolant whose slopes
      are weighted harmonic means of the neighbouring secants (Fritsch &
      Carlson 1980; Fritsch & Butland 1984), as scipy's
      PchipInterpolator: monotone between monotone nodes, never beyond
      the two nodes of an interval, so no data can make it ring; only
      once continuously differentiable, so its table needs more nodes
      and may stop short of 5e-10 (``max_ln_error`` says what it reached);
    * ``"linear"``: straight lines between nodes (power laws piecewise).

    No extrapolation: frequencies outside [freqs[0], freqs[-1]] get
    h_n = inf.  (Beyond the ends the end intervals' cubics are evaluated
    only to pad the table by a fraction of an interval.)

    ``table()``: the spline's third derivative jumps at every node, so a
    file whose nodes barely resolve its curve's wiggles (fewer than ~50
    nodes per wiggle) may need a finer table than the finest the builder
    makes (1/65536 dex); the table's ``max_ln_error`` then says the bound
    reached (e.g. 4e-8 for 4,000 nodes over 1e-5 - 1 Hz of the LISA curve
    with the numerical response), and a smooth or densely sampled file
    reaches 5e-10 like the built-in curves.
    """

    _share_tables = False

    def __init__(self, freqs, hn, path=None, kind="hn", interpolation="auto", convention_note="", *, ln_hn=None):
        if interpolation not in INTERPOLATIONS:
            raise InputError(
                "interpolation", None, f"interpolation = {interpolation!r}: must be 'auto', 'cubic', 'pchip' or 'linear'"
            )
        self.freqs = np.asarray(freqs, dtype=np.float64)
        # ln h_n given directly (from_file) keeps noise levels whose h_n is
        # subnormal at full precision.
        y = np.log(np.asarray(hn, dtype=np.float64)) if ln_hn is None else np.asarray(ln_hn, dtype=np.float64)
        self.hn_table = np.exp(y)
        self.path = path
        self.kind = kind
        self.interpolation = interpolation
        self.convention_note = convention_note
        self.name = f"file:{os.path.basename(path)}" if path else "tabulated"
        self.f_min = float(self.freqs[0])
        self.f_max = float(self.freqs[-1])
        x = np.log(self.freqs)
        self.interpolation_note = ""
        if interpolation == "pchip":
            self._spline = _pchip(x, y)
        else:
            self._spline = Spline(x, y, linear=interpolation == "linear")
        if interpolation == "auto":
            i = _overshoot(self._spline, y)
            if i is None:
                self.interpolation = "cubic"
            else:
                self.interpolation = "pchip"
                self.interpolation_note = (
                    f"the cubic spline overshoots the data between {self.freqs[i]:.6g} and "
                    f"{self.freqs[i + 1]:.6g} Hz")
                self._spline = _pchip(x, y)
        # Straight lines in log-log bend at every node, and PCHIP's second
        # derivative jumps there: the quadrature breaks at the nodes of both
        # (the cubic spline is C^2 and needs no breaks).
        self.kinks = self.freqs[1:-1].copy() if self.interpolation in ("linear", "pchip") else ()

    def __repr__(self):
        lo, hi = self.range
        note = f", {self.convention_note}" if self.convention_note else ""
        why = f" ({self.interpolation_note})" if self.interpolation_note else ""
        return (
            f"TabulatedNoise({self.path!r}, kind={self.kind!r}{note}, interpolation={self.interpolation!r}{why}, "
            f"{len(self.freqs)} points, {lo:g}-{hi:g} Hz)"
        )

    def _ln_hn(self, f):
        return self._spline(np.log(np.asarray(f, dtype=np.float64)))

    def _psd(self, f):
        return np.exp(2.0 * self._ln_hn(f)) / f

    def evaluate(self, f):
        f = frequencies(f)
        inside = self._inside(f)
        hn = np.full(f.shape, np.inf)
        if inside.any():
            hn[inside] = np.exp(self._ln_hn(f[inside]))
        outside = ~inside
        return NoiseSample(hn, outside.sum(axis=-1).astype(np.int64) if f.ndim else np.int64(bool(outside)))


def _pchip(x, y):
    from scipy.interpolate import PchipInterpolator

    # Beyond the ends only to pad the table by a fraction of an interval.
    return PchipInterpolator(x, y, extrapolate=True)


def _overshoot(spline, y):
    """The first interval i on which the spline (a ``Spline``) leaves the
    range [lo, hi] of the nodes y[i-1 .. i+2] around it by more than
    hi - lo, or None.  A smooth curve's spline stays well inside that
    bound (between nodes it departs from the chord by O(h^2 y''), less
    than the four nodes' own spread); ringing exceeds it by orders of
    magnitude."""
    n = len(y)
    if n < 4:
        return None
    h = np.diff(spline.xs)
    c0, c1, c2, c3 = spline.c0, spline.c1, spline.c2, spline.c3
    lo_v = np.minimum(y[:-1], y[1:])
    hi_v = np.maximum(y[:-1], y[1:])
    # Stationary points: c1 + 2 c2 u + 3 c3 u^2 = 0 with 0 < u < h.
    a, b = 3.0 * c3, 2.0 * c2
    with np.errstate(all="ignore"):
        root = np.sqrt(b * b - 4.0 * a * c1)
        candidates = [(-b + root) / (2.0 * a), (-b - root) / (2.0 * a), -c1 / b]
        for u in candidates:
            ok = np.isfinite(u) & (u > 0) & (u < h)
            u = np.where(ok, u, 0.0)
            v = c0 + u * (c1 + u * (c2 + u * c3))
            lo_v = np.where(ok, np.minimum(lo_v, v), lo_v)
            hi_v = np.where(ok, np.maximum(hi_v, v), hi_v)
    padded = np.concatenate([[y[0]], y, [y[-1]]])
    window = np.lib.stride_tricks.sliding_window_view(padded, 4)[: n - 1]
    lo4, hi4 = window.min(axis=1), window.max(axis=1)
    slack = (hi4 - lo4) + 1e-12 * (1.0 + np.abs(hi4))
    bad = np.flatnonzero((lo_v < lo4 - slack) | (hi_v > hi4 + slack))
    return int(bad[0]) if bad.size else None


def _response_function(response):
    """R(f), two-channel sky-averaged response, from the ``response``
    argument of from_file."""
    if response is None:
        raise InputError(
            "response",
            None,
            "a file that is not sky-averaged needs the detector's response: response='lisa' (numerical), "
            "a curve name or object with .response, 'low-frequency' (R = 3/10) or a callable R(f)",
        )
    if isinstance(response, str):
        if response == "low-frequency":
            return lambda f: np.full(np.shape(f), 0.3)
        if response in _CURVES:
            return curve(response).response
        raise InputError(
            "response", None, f"response = {response!r}: a curve name ({', '.join(names())}) or 'low-frequency'"
        )
    if hasattr(response, "response"):
        return response.response
    if callable(response):
        return response
    raise InputError("response", None, f"response: expected a name, a curve or a callable; got {type(response).__name__}")


def _read_lines(path):
    """A noise file's lines: a regular file (a FIFO or device could stream
    without end), UTF-8 with or without a byte-order mark; a byte that is
    not UTF-8 is reported with its line and byte."""
    import stat

    try:
        with open(path, "rb") as fh:
            mode = os.fstat(fh.fileno()).st_mode
            if not stat.S_ISREG(mode):
                raise NoiseFileError(path, None, "not a regular file (a device, FIFO or directory): give a text "
                                                 "file of two columns")
            raw = fh.read()
    except OSError as exc:
        raise NoiseFileError(path, None, f"cannot read: {exc.strerror or exc}") from None
    if raw.startswith(b"\xef\xbb\xbf"):
        raw = raw[3:]
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError as exc:
        line = raw.count(b"\n", 0, exc.start) + 1
        byte = exc.start - (raw.rfind(b"\n", 0, exc.start) + 1) + 1
        raise NoiseFileError(path, line, f"byte {byte} (0x{raw[exc.start]:02x}) is not UTF-8 text; save the "
                                         "file as UTF-8 (or plain ASCII)") from None
    return text.splitlines(keepends=True)


def from_file(path, kind, *, channels=None, sky_averaged=True, response=None, interpolation="auto"):
    r"""Load a noise curve from a two-column text file and convert it to the
    package's convention (S_n sky- and polarisation-averaged, summed over
    the detector's two channels; h_n = sqrt(f S_n)).

    Column 1: frequency in Hz, strictly ascending; column 2 as ``kind``
    says.  Columns are separated by blanks, commas or semicolons; text after
    '#' is a comment; one header line of non-numbers is allowed before the
    data.  At least two points, every value finite and positive.  Values
    are converted in logarithms, so that a file in units far from the usual
    (an ASD of 1e-300, below the smallest normal double) keeps its digits;
    the h_n they give must lie within a double's range.

    What S in the file is (Robson, Cornish & Liu 2019, sec. 2; P_n is the
    noise of one Michelson channel in strain units, their eq. 2, and R(f)
    the sky- and polarisation-averaged response summed over two channels,
    R = 2 R_1 -> 2 x 3/20 = 3/10 at low frequency for 60-degree arms):

    * ``sky_averaged=True, channels=2`` (default): the package's own
      convention, S = P_n / R (-> (10/3) P_n at low frequency); used as is;
    * ``sky_averaged=True, channels=1``: the sky-averaged sensitivity of
      ONE channel, S = P_n / R_1 = 2 P_n / R (-> (20/3) P_n at low
      frequency); the package uses S_n = S / 2 (the two channels combined);
    * ``sky_averaged=False`` (``channels=1``): the non-averaged noise PSD
      P_n of one channel; the package uses S_n = P_n / R(f), i.e.
      (10/3) P_n at low frequency, with R from ``response``.

    In short, at low frequency: S_n = S (two channels, averaged) =
    S / 2 (one channel, averaged) = (10/3) P_n (one channel, not averaged).

    Parameters
    ----------
    path : str or path-like
        The text file.
    kind : {"asd", "psd", "hn"}
        Column 2: amplitude spectral density sqrt(S) (Hz^-1/2), power
        spectral density S (Hz^-1) or noise characteristic strain sqrt(f S).
    channels : {1, 2} or None
        Channels the file's S covers; None (default) means 2 for a
        sky-averaged file and 1 for a non-averaged one.
    sky_averaged : bool
        Whether S is sky- and polarisation-averaged (default True).
    response : str, noise curve or callable, optional
        For ``sky_averaged=False``: "lisa" (the numerically averaged LISA
        response), any curve name or curve object (its ``.response``),
        "low-frequency" (R = 3/10 at all f, valid for f << f*) or a callable
        R(f).
    interpolation : {"auto", "cubic", "pchip", "linear"}
        In (ln f, ln h_n) (see TabulatedNoise).  "auto" (default): the
        not-a-knot cubic spline, whose table reaches 5e-10, or PCHIP where
        the spline would overshoot the data; "cubic"; "pchip"
        (shape-preserving: never beyond an interval's two nodes); "linear":
        straight lines in log-log.  Adjacent frequencies closer than
        MIN_RELATIVE_SPACING (1e-9, relative) are refused with both lines.
        Never extrapolated: h_n = inf outside [first, last] frequency.

    Returns
    -------
    TabulatedNoise
        The curve: ``curve(f)`` gives h_n, ``range`` the file's first and
        last frequency.

    Raises
    ------
    NoiseFileError
        A file that cannot be read or used, naming the file and the line of
        the first fault.
    InputError
        An unknown ``kind``, ``channels``, ``interpolation`` or ``response``,
        or a non-averaged file without a response.

    Examples
    --------
    >>> import os, tempfile
    >>> from phenomd import noise
    >>> path = os.path.join(tempfile.mkdtemp(), "asd.txt")
    >>> with open(path, "w") as fh:
    ...     _ = fh.write("# f [Hz]  ASD [Hz^-1/2]\n1e-4 1e-17\n1e-3 1e-18\n1e-2 1e-19\n1 1e-18\n")
    >>> curve = noise.from_file(path, "asd")
    >>> curve.range
    (0.0001, 1.0)
    >>> print(f"{curve(1e-2):.3g}")  # h_n = sqrt(f) ASD at a node
    1e-20
    >>> float(curve(2.0))  # outside the file's range: no sensitivity
    inf
    """
    if kind not in KINDS:
        raise InputError("kind", None, f"kind = {kind!r}: must be one of {', '.join(repr(k) for k in KINDS)}")
    if sky_averaged not in (True, False):
        raise InputError("sky_averaged", None, f"sky_averaged = {sky_averaged!r}: must be True or False")
    if channels is None:
        channels = 2 if sky_averaged else 1
    if channels not in (1, 2):
        raise InputError("channels", None, f"channels = {channels!r}: must be 1 or 2")
    if not sky_averaged and channels != 1:
        raise InputError(
            "channels", None, "a non-sky-averaged PSD is the noise of one channel: use channels=1 with sky_averaged=False"
        )
    r_of_f = None if sky_averaged else _response_function(response)
    if interpolation not in INTERPOLATIONS:
        raise InputError("interpolation", None,
                         f"interpolation = {interpolation!r}: must be 'auto', 'cubic', 'pchip' or 'linear'")
    path = os.fspath(path)
    lines = _read_lines(path)
    freqs, values, linenos = [], [], []
    seen_data = False
    header_allowed = True
    for lineno, raw in enumerate(lines, start=1):
        text = raw.split("#", 1)[0].strip()
        if not text:
            continue
        fields = [t for t in _SPLIT.split(text) if t]
        numbers = [_number(t) for t in fields]
        if header_allowed and not seen_data and all(x is None for x in numbers):
            header_allowed = False
            continue
        if len(fields) != 2 or any(x is None for x in numbers):
            raise NoiseFileError(path, lineno, f"expected two numbers (frequency, {kind}); got {text!r}")
        f, v = numbers
        # "inf" and "nan" are refused; 1e400 is a number beyond a double's
        # range, whose logarithm is kept.
        if not math.isfinite(f) or math.isnan(v) or (math.isinf(v) and fields[1].lstrip("+-").isalpha()):
            raise NoiseFileError(path, lineno, f"non-finite value in {text!r}")
        ln_v = _ln(fields[1], v)
        if f <= 0 or not math.isfinite(ln_v):
            raise NoiseFileError(path, lineno, f"values must be positive; got {text!r}")
        if freqs and f <= freqs[-1]:
            raise NoiseFileError(
                path,
                lineno,
                f"frequency {f!r} is not above the previous point's {freqs[-1]!r}: frequencies must be strictly ascending",
            )
        freqs.append(f)
        values.append(ln_v)
        linenos.append(lineno)
        seen_data = True
    if len(freqs) < 2:
        raise NoiseFileError(path, None, f"{len(freqs)} data point(s); at least 2 are needed to interpolate")
    f = np.array(freqs)
    close = np.flatnonzero(np.diff(f) < MIN_RELATIVE_SPACING * f[:-1])
    if close.size:
        i = int(close[0])
        raise NoiseFileError(
            path, linenos[i + 1],
            f"frequency {f[i + 1]!r} is within a relative {MIN_RELATIVE_SPACING:g} of line {linenos[i]}'s "
            f"{f[i]!r}: points that close cannot be told apart in log frequency; keep one of them")
    # ln h_n, in logs throughout: a file's values may lie below the
    # smallest normal double (an ASD in odd units) and still give an SNR
    # that a double holds.
    ln_v = np.array(values)
    if kind == "asd":
        ln_hn = 0.5 * np.log(f) + ln_v
    elif kind == "psd":
        ln_hn = 0.5 * (np.log(f) + ln_v)
    else:
        ln_hn = ln_v
    note = ""
    if not sky_averaged:
        r = np.asarray(r_of_f(f), dtype=np.float64) * np.ones_like(f)
        if not (np.isfinite(r).all() and (r > 0).all()):
            raise InputError("response", None, "the response R(f) must be finite and positive at the file's frequencies")
        ln_hn = ln_hn - 0.5 * np.log(r)
        note = f"channels=1, sky_averaged=False, response={response if isinstance(response, str) else repr(response)!s}"
    elif channels == 1:
        ln_hn = ln_hn - 0.5 * math.log(2.0)
        note = "channels=1, sky_averaged=True"
    # h_n itself must be a double (curve(f) returns it): from the smallest
    # subnormal, 4.9e-324, to the largest, 1.8e308.
    representable = (ln_hn >= _LN_SMALLEST) & (ln_hn <= _LN_LARGEST)
    if not representable.all():
        bad = int(np.flatnonzero(~representable)[0])
        raise NoiseFileError(path, linenos[bad], f"gives h_n = exp({ln_hn[bad]:.6g}), beyond the range of a double "
                                                 "(4.9e-324 to 1.8e308)")
    return TabulatedNoise(f, None, path=path, kind=kind, interpolation=interpolation, convention_note=note,
                          ln_hn=ln_hn)

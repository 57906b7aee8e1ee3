"""Noise curves as the noise characteristic strain h_n(f) = sqrt(f S_n(f)).

The library computes no noise; these give the ``hn`` its SNR integral
needs, on any array of frequencies (Hz, or astropy Quantities).

* ``lisa(f, years=4)`` / ``LISA(years)``: the analytic sky-averaged LISA
  sensitivity of Robson, Cornish & Liu (2019, CQG 36 105011), with their
  galactic confusion noise for 0.5, 1, 2 or 4 years of observation.
* ``from_file(path, kind)``: a user's curve from a two-column text file,
  interpolated in log-log and never extrapolated.

Every curve object has ``__call__(f)`` -> h_n (same shape as f) and
``evaluate(f)`` -> NoiseSample(hn, n_outside), where n_outside counts the
frequencies outside the curve's range (summed over the last axis, so per
binary for an (n, length) grid); those get h_n = inf and contribute
nothing to an SNR.
"""

from __future__ import annotations

import math
import os
import re
from collections import namedtuple

import numpy as np

from ._inputs import InputError, as_float_array, require, within

__all__ = [
    "CONFUSION_PARAMETERS",
    "LISA",
    "NoiseFileError",
    "NoiseSample",
    "TabulatedNoise",
    "from_file",
    "lisa",
    "lisa_psd",
]

NoiseSample = namedtuple("NoiseSample", ["hn", "n_outside"])

SPEED_OF_LIGHT = 299792458.0  # m/s
ARM_LENGTH = 2.5e9  # L, m
F_STAR = SPEED_OF_LIGHT / (2 * math.pi * ARM_LENGTH)  # transfer frequency, 19.09 mHz

# Galactic confusion noise, Robson, Cornish & Liu (2019) eq. (14):
#   S_c(f) = A f^(-7/3) exp(-f^alpha + beta f sin(kappa f)) [1 + tanh(gamma (f_k - f))]
# with A = 9e-45 and, per observation time in years, their Table 1:
CONFUSION_AMPLITUDE = 9e-45
CONFUSION_PARAMETERS = {
    #      alpha   beta    kappa   gamma   f_k (Hz)
    0.5: (0.133, 243.0, 482.0, 917.0, 2.58e-3),
    1.0: (0.171, 292.0, 1020.0, 1680.0, 2.15e-3),
    2.0: (0.165, 299.0, 611.0, 1340.0, 1.73e-3),
    4.0: (0.138, -221.0, 521.0, 1680.0, 1.13e-3),
}


def _frequencies(f, name="f"):
    arr = as_float_array(f, name, "Hz", max_ndim=64)
    if not within(arr, 0.0):
        require(arr, name, np.isfinite(arr) & (arr > 0), "frequencies must be finite and positive (Hz)")
    return arr


class LISA:
    """Sky-averaged LISA sensitivity of Robson, Cornish & Liu (2019).

    S_n(f) = 10/(3 L^2) [P_OMS + 2 (1 + cos^2(f/f*)) P_acc / (2 pi f)^4]
             (1 + 6/10 (f/f*)^2) + S_c(f)                      (their eq. 1)

    with L = 2.5 Gm, f* = c/(2 pi L) = 19.09 mHz,
    P_OMS = (1.5e-11 m)^2 (1 + (2 mHz/f)^4) Hz^-1               (eq. 10)
    P_acc = (3e-15 m s^-2)^2 (1 + (0.4 mHz/f)^2) (1 + (f/8 mHz)^4) Hz^-1
                                                                (eq. 11)
    and S_c the galactic confusion noise for ``years`` = 0.5, 1, 2 or 4
    (eq. 14, Table 1); ``years=None`` leaves it out (instrument only).

    Transfer function: this uses the approximate sky-averaged response
    R(f) = 3/10 / (1 + 0.6 (f/f*)^2) (their eq. 9), i.e. S_n = P_n/R + S_c,
    not the full numerically averaged R(f); above ~f* the two differ by
    some per cent in the wiggles.  Returns h_n(f) = sqrt(f S_n(f)).

    The confusion fits for different observation times cross (the 4-year
    fit has beta < 0): a longer observation does not lower S_c at every
    frequency.
    """

    def __init__(self, years=4):
        if years is not None:
            try:
                y = float(years)
            except (TypeError, ValueError):
                y = None
            if y not in CONFUSION_PARAMETERS:
                raise InputError(
                    "years",
                    None,
                    f"years = {years!r}: the confusion-noise fits exist for 0.5, 1, 2 and 4 years "
                    "(None: no confusion noise)",
                )
            years = y
        self.years = years

    def __repr__(self):
        return f"LISA(years={self.years})"

    def instrument_psd(self, f):
        """S_n(f) without confusion noise, Hz^-1."""
        f = _frequencies(f)
        x = f / F_STAR
        p_oms = 1.5e-11**2 * (1.0 + (2e-3 / f) ** 4)
        p_acc = 3e-15**2 * (1.0 + (0.4e-3 / f) ** 2) * (1.0 + (f / 8e-3) ** 4)
        p_n = (p_oms + 2.0 * (1.0 + np.cos(x) ** 2) * p_acc / (2.0 * math.pi * f) ** 4) / ARM_LENGTH**2
        response = 0.3 / (1.0 + 0.6 * x**2)
        return p_n / response

    def confusion_psd(self, f):
        """Galactic confusion S_c(f), Hz^-1 (zero for years=None)."""
        f = _frequencies(f)
        if self.years is None:
            return np.zeros_like(f)
        alpha, beta, kappa, gamma, f_k = CONFUSION_PARAMETERS[self.years]
        # Summed in logarithms: far above f_k the factor 1 + tanh(...) =
        # 2 / (1 + exp(2 gamma (f - f_k))) vanishes while exp(beta f sin)
        # overflows, and inf * 0 would give NaN instead of 0.
        log_sc = (
            math.log(2.0 * CONFUSION_AMPLITUDE)
            - (7.0 / 3.0) * np.log(f)
            - f**alpha
            + beta * f * np.sin(kappa * f)
            - np.logaddexp(0.0, 2.0 * gamma * (f - f_k))
        )
        return np.exp(log_sc)

    def psd(self, f):
        """S_n(f) = instrument + confusion, Hz^-1."""
        return self.instrument_psd(f) + self.confusion_psd(f)

    def __call__(self, f):
        """h_n(f) = sqrt(f S_n(f))."""
        f = _frequencies(f)
        return np.sqrt(f * self.psd(f))

    def evaluate(self, f):
        hn = self(f)
        n_out = np.zeros(hn.shape[:-1], dtype=np.int64) if hn.ndim else np.int64(0)
        return NoiseSample(hn, n_out)


def lisa(f, years=4):
    """LISA h_n(f) = sqrt(f S_n(f)) (Robson, Cornish & Liu 2019); see LISA."""
    return LISA(years)(f)


def lisa_psd(f, years=4):
    """LISA S_n(f) in Hz^-1 (Robson, Cornish & Liu 2019); see LISA."""
    return LISA(years).psd(f)


# ------------------------------------------------------------ from files


class NoiseFileError(ValueError):
    """A noise file that cannot be used; ``path`` and ``line`` (1-based, or
    None for a fault of the whole file) say where."""

    def __init__(self, path, line, message):
        self.path = str(path)
        self.line = line
        where = f"{self.path}, line {line}" if line is not None else self.path
        super().__init__(f"{where}: {message}")


KINDS = {
    "asd": "amplitude spectral density sqrt(S_n), Hz^-1/2",
    "psd": "power spectral density S_n, Hz^-1",
    "hn": "noise characteristic strain sqrt(f S_n), dimensionless",
}

_SPLIT = re.compile(r"[\s,;]+")


def _number(text):
    try:
        return float(text)
    except ValueError:
        return None


class TabulatedNoise:
    """A noise curve tabulated at ascending frequencies, interpolated
    linearly in (log f, log h_n); zero width of extrapolation: frequencies
    outside [freqs[0], freqs[-1]] get h_n = inf."""

    def __init__(self, freqs, hn, path=None, kind="hn"):
        self.freqs = np.asarray(freqs, dtype=np.float64)
        self.hn_table = np.asarray(hn, dtype=np.float64)
        self.path = path
        self.kind = kind
        self._logf = np.log(self.freqs)
        self._logh = np.log(self.hn_table)

    @property
    def range(self):
        return float(self.freqs[0]), float(self.freqs[-1])

    def __repr__(self):
        lo, hi = self.range
        return f"TabulatedNoise({self.path!r}, kind={self.kind!r}, {len(self.freqs)} points, {lo:g}-{hi:g} Hz)"

    def evaluate(self, f):
        f = _frequencies(f)
        inside = (f >= self.freqs[0]) & (f <= self.freqs[-1])
        hn = np.full(f.shape, np.inf)
        hn[inside] = np.exp(np.interp(np.log(f[inside]), self._logf, self._logh))
        outside = (~inside).sum(axis=-1) if f.ndim else np.int64(not inside)
        return NoiseSample(hn, outside)

    def __call__(self, f):
        return self.evaluate(f).hn


def from_file(path, kind):
    """Load a noise curve from a two-column text file.

    Column 1: frequency in Hz, strictly ascending; column 2 as ``kind``
    says: "asd" (sqrt(S_n), Hz^-1/2), "psd" (S_n, Hz^-1) or "hn"
    (sqrt(f S_n)).  Columns are separated by blanks, commas or semicolons;
    text after '#' is a comment; one header line of non-numbers is allowed
    before the data.  At least two points, every value finite and positive.
    Raises NoiseFileError naming the file and line of the first fault.
    """
    if kind not in KINDS:
        raise InputError("kind", None, f"kind = {kind!r}: must be one of {', '.join(repr(k) for k in KINDS)}")
    path = os.fspath(path)
    try:
        with open(path, encoding="utf-8") as fh:
            lines = fh.readlines()
    except OSError as exc:
        raise NoiseFileError(path, None, f"cannot read: {exc.strerror or exc}") from None
    except UnicodeDecodeError:
        raise NoiseFileError(path, None, "not a text file") from None
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
        if not (math.isfinite(f) and math.isfinite(v)):
            raise NoiseFileError(path, lineno, f"non-finite value in {text!r}")
        if f <= 0 or v <= 0:
            raise NoiseFileError(path, lineno, f"values must be positive; got {text!r}")
        if freqs and f <= freqs[-1]:
            raise NoiseFileError(
                path,
                lineno,
                f"frequency {f!r} is not above the previous point's {freqs[-1]!r}: frequencies must be strictly ascending",
            )
        freqs.append(f)
        values.append(v)
        linenos.append(lineno)
        seen_data = True
    if len(freqs) < 2:
        raise NoiseFileError(path, None, f"{len(freqs)} data point(s); at least 2 are needed to interpolate")
    f = np.array(freqs)
    v = np.array(values)
    if kind == "asd":
        hn = np.sqrt(f) * v
    elif kind == "psd":
        hn = np.sqrt(f * v)
    else:
        hn = v
    if not (np.isfinite(hn).all() and (hn > 0).all()):
        bad = int(np.flatnonzero(~(np.isfinite(hn) & (hn > 0)))[0])
        raise NoiseFileError(path, linenos[bad], f"gives h_n = {hn[bad]!r} (overflow or underflow)")
    return TabulatedNoise(f, hn, path=path, kind=kind)

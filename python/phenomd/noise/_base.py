"""The base every noise curve of the package shares: range, h_n from
S_n, and the curve's table (built once per curve configuration)."""

from __future__ import annotations

import math
import threading

import numpy as np

from ._table import NoiseSample, _count_outside, build_table, frequencies


class NoiseCurve:
    """Base of the package's noise curves.

    A subclass sets ``name`` and ``f_min``, ``f_max`` (Hz) and implements
    ``_psd(f)``: the effective sky- and polarisation-averaged PSD S_n(f)
    (Hz^-1), summed over the detector's independent channels, for finite
    positive f, without regard to the range (it is also evaluated a few
    table nodes beyond it).  The base adds the range (h_n = +inf outside,
    counted), ``h_n = sqrt(f S_n)``, and a cached ``table()``.
    """

    name = "noise"
    f_min = 0.0
    f_max = math.inf
    #: Frequencies (Hz) where h_n is not smooth (a knee of a piecewise fit,
    #: a linearly interpolated file's nodes): the SNR quadrature breaks its
    #: panels there (``binary_snr(method="gauss")``).  Empty for a smooth curve.
    kinks = ()
    #: The convention every curve's h_n follows (also for provenance).
    convention = (
        "h_n = sqrt(f S_n), S_n the sky- and polarisation-averaged effective PSD summed over the "
        "detector's independent channels (two for a triangle: S_n = P_n / R, R(f -> 0) = 3/10)"
    )

    #: A warning a user must see with this curve's numbers (shown in its
    #: label and by the command line), or None.
    caveat = None

    def _psd(self, f):  # pragma: no cover - every subclass implements it
        raise NotImplementedError

    @property
    def range(self):
        """(f_min, f_max) in Hz: h_n is +inf outside."""
        return float(self.f_min), float(self.f_max)

    def _inside(self, f):
        return (f >= self.f_min) & (f <= self.f_max)

    def psd(self, f):
        """S_n(f) in Hz^-1 (+inf outside the range)."""
        f = frequencies(f)
        inside = self._inside(f)
        out = np.full(f.shape, np.inf)
        if inside.all():
            return np.asarray(self._psd(f), dtype=np.float64) + np.zeros(f.shape)
        if inside.any():
            out[inside] = self._psd(f[inside])
        return out

    def evaluate(self, f):
        """NoiseSample(hn, n_outside): h_n = sqrt(f S_n) (+inf outside the
        range) and the number of frequencies outside it, summed over the
        last axis (per binary for an (n, length) grid)."""
        f = frequencies(f)
        inside = self._inside(f)
        if inside.all():
            hn = np.sqrt(f * self._psd(f)) + np.zeros(f.shape)
        else:
            hn = np.full(f.shape, np.inf)
            if inside.any():
                fi = f[inside]
                hn[inside] = np.sqrt(fi * self._psd(fi))
        return NoiseSample(hn, _count_outside(~inside))

    def __call__(self, f):
        """h_n(f) = sqrt(f S_n(f)), dimensionless; +inf outside the range."""
        return self.evaluate(f).hn

    def _ln_hn(self, f):
        return 0.5 * (np.log(f) + np.log(self._psd(f)))

    def __getstate__(self):
        # A shared table is rebuilt (once per process) rather than shipped
        # with every pickled curve, e.g. to distributed workers.
        state = dict(self.__dict__)
        if self._share_tables:
            state.pop("_table", None)
        return state

    #: Built-in curves are fixed by their repr (class and options), so one
    #: table serves every object with the same repr; file curves keep their own.
    _share_tables = True

    def table(self):
        """The curve as a NoiseTable (built once per curve configuration,
        thread-safe)."""
        cached = self.__dict__.get("_table")
        if cached is not None:
            return cached
        key = (type(self), repr(self)) if self._share_tables else None
        with _TABLES_LOCK:
            cached = _TABLES.get(key) if key else None
            if cached is None:
                cached = build_table(self._ln_hn, self.f_min, self.f_max, source=repr(self))
                if key:
                    _TABLES[key] = cached
        self.__dict__["_table"] = cached
        return cached


_TABLES = {}
_TABLES_LOCK = threading.Lock()

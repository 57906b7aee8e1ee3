"""Sky- and polarisation-averaged response R(f) of LISA's two Michelson channels.

What R is.  For one equal-arm Michelson (X-like) channel with arms of length
L = 2.5 Gm at 60 degrees, each arm carrying the full transfer function of a
plane wave (Larson, Hiscock & Hellings 2000, PRD 62 062001; Cornish & Larson
2001, CQG 18 3473), the antenna patterns F_+(f, k, psi), F_x(f, k, psi) are
complex.  Averaged uniformly over the propagation direction k and the
polarisation angle psi,

    R(f) = 2 channels x < |F_+|^2 >  =  < |F_+|^2 + |F_x|^2 >  (one channel),

with R -> 3/10 as f -> 0.  This is the R of Robson, Cornish & Liu (2019,
CQG 36 105011, eqs. 2-9), who treat LISA's two independent channels as two
such Michelsons: the sky-averaged sensitivity of the pair is
S_n(f) = P_n(f) / R(f), P_n the noise of one Michelson channel in strain
units (their sec. 2), and h_n = sqrt(f S_n) = sqrt(f P_n / R).  With that
S_n the sky- and polarisation-averaged squared SNR of a source, summed over
the two channels, is <rho^2> = 4 int (|h_+|^2 + |h_x|^2) / S_n df.  One
channel alone has S_n = P_n / (R/2) (the factor 20/3 at low frequency
instead of 10/3).  Their eq. 9, R ~ (3/10) / (1 + 0.6 (f/f*)^2),
approximates this R.

R depends on f only through x = f/f*, f* = c / (2 pi L) (19.09 mHz for LISA),
so ``response(f, arm_length=L)`` serves any equal-arm 60-degree Michelson.

Where the numbers come from.  ``tools/lisa_response/generate.py`` integrates
|F_+|^2 + |F_x|^2 over the sky (Gauss-Legendre in cos(theta), periodic
trapezoid in phi; the psi average is analytic) and writes
``data/lisa_response.txt``: R on 7394 nodes from x = 1e-4 to x = 200.02
(3.82 Hz for LISA), converged in the quadrature to about 1e-14.  Between
nodes, ln R is interpolated in ln x by the not-a-knot cubic spline (twice
continuously differentiable, so that finer tables built from it converge
smoothly; relative error below 1e-7, measured at every interval's midpoint
against the quadrature).  Below the first node the low-frequency series
R = 3/10 - (169/1680) x^2 is used (error O(x^4), below 1e-16 there).  Above
the last node R is NaN: the table does not cover it.
"""

from __future__ import annotations

import math
import threading
from pathlib import Path

import numpy as np

from ._spline import Spline

__all__ = [
    "ARM_LENGTH",
    "F_STAR",
    "LOW_FREQUENCY_LIMIT",
    "response",
    "spline_coefficients",
    "spline_evaluate",
    "table_path",
    "x_range",
]

SPEED_OF_LIGHT = 299792458.0  # m/s
ARM_LENGTH = 2.5e9  # m, LISA (Robson, Cornish & Liu 2019, sec. 2)
F_STAR = SPEED_OF_LIGHT / (2 * math.pi * ARM_LENGTH)  # transfer frequency, Hz

LOW_FREQUENCY_LIMIT = 0.3  # 2 channels x <F_+^2> = (2/5) sin^2(60 deg)

# Long-wavelength expansion R = 3/10 - C2 x^2 + O(x^4).  Expanding the arm
# transfer function to second order, T = 1 - i (x/2) mu - (1/6) x^2 (1 + mu^2)
# (common phase removed, mu = k.arm), and averaging |F_+|^2 + |F_x|^2 over the
# sky gives C2 = 169/1680 (tests/test_lisa_response.py recomputes it).
_C2 = 169.0 / 1680.0

_TABLE = Path(__file__).resolve().parent.parent / "data" / "lisa_response.txt"
_lock = threading.Lock()
_cache = None


def table_path() -> Path:
    """Path of the committed response table (columns x = f/f*, R)."""
    return _TABLE


def spline_coefficients(xs, ys):
    """Not-a-knot cubic spline through (xs, ys), xs increasing (at least 4
    nodes): per interval i, y = c0 + u (c1 + u (c2 + u c3)), u = x - xs[i]
    (``phenomd.noise._spline.Spline``, which the noise files use too)."""
    s = Spline(xs, ys)
    return s.xs, s.c0, s.c1, s.c2, s.c3


def spline_evaluate(coefficients, x):
    """The spline of ``spline_coefficients`` at x (within its nodes)."""
    xs, c0, c1, c2, c3 = coefficients
    i = np.searchsorted(xs, x, side="right") - 1
    np.clip(i, 0, xs.size - 2, out=i)
    u = x - xs[i]
    return c0[i] + u * (c1[i] + u * (c2[i] + u * c3[i]))


def _load():
    global _cache
    if _cache is None:
        with _lock:
            if _cache is None:
                data = np.loadtxt(_TABLE, comments="#", dtype=float, ndmin=2)
                if data.shape[0] < 4 or data.shape[1] != 2:
                    raise ValueError(f"{_TABLE}: expected at least 4 rows of two columns (x, R)")
                x, r = data[:, 0], data[:, 1]
                if not (np.all(np.isfinite(data)) and np.all(x > 0) and np.all(r > 0)
                        and np.all(np.diff(x) > 0)):
                    raise ValueError(f"{_TABLE}: x must increase and x, R be finite and positive")
                spline = spline_coefficients(np.log(x), np.log(r))
                _cache = (spline, float(x[0]), float(x[-1]))
    return _cache


def x_range():
    """(x_min, x_max): the table's first and last node in x = f/f*."""
    _, x0, x1 = _load()
    return x0, x1


def response(f, arm_length=ARM_LENGTH):
    """R(f): sky- and polarisation-averaged response of the two Michelson
    channels (2 x <|F_+|^2> per channel; -> 3/10 as f -> 0), see the module
    docstring for the exact definition and convention S_n = P_n / R.

    ``f`` in Hz, any shape (a float in, a float out); ``arm_length`` in m
    (default LISA's 2.5e9).  Returns NaN for f above the table's last node
    (x = 200.02, i.e. 3.82 Hz for LISA), for negative f and for NaN; f = 0
    gives 3/10.
    """
    f_arr = np.asarray(f, dtype=float)
    f_star = SPEED_OF_LIGHT / (2 * math.pi * float(arm_length))
    x = np.atleast_1d(f_arr / f_star).ravel()
    spline, x0, x1 = _load()
    out = np.full(x.shape, np.nan)
    low = (x >= 0) & (x < x0)
    out[low] = LOW_FREQUENCY_LIMIT - _C2 * x[low] ** 2
    mid = (x >= x0) & (x <= x1)
    if mid.any():
        out[mid] = np.exp(spline_evaluate(spline, np.log(x[mid])))
    if f_arr.ndim == 0:
        return float(out[0])
    return out.reshape(f_arr.shape)

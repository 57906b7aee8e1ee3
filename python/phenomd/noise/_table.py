"""Noise curves tabulated uniformly in log10 f (``NoiseTable``), the form
the population module reads.

A table holds y_k = ln h_n(f_k) at f_k = 10**(log10_f0 + k dlog10_f) and is
read back by four-point (cubic) Lagrange interpolation in log10 f:

    x = (log10 f - log10_f0) / dlog10_f,  i = floor(x),  t = x - i,
    ln h = -t(t-1)(t-2)/6 y[i-1] + (t+1)(t-1)(t-2)/2 y[i]
           - (t+1)t(t-2)/2 y[i+1] + (t+1)t(t-1)/6 y[i+2],

the scheme the C population module implements.  The table starts one
node below f_min and ends at least two past f_max, so that every f in
[f_min, f_max] has its four nodes; outside that range h_n = +inf.

Density.  The SNR integrand is (h_c/h_n)^2, so a relative error e in h_n
at every point changes any SNR by at most e (relative).  The builder
starts at 1/512 dex and halves the spacing until the interpolation error
|ln h_table - ln h_curve|, checked at three points inside every interval,
is below 5e-10, i.e. every SNR from the table is within 5e-10 (relative)
of the SNR from the curve itself, whatever the binary.  The reached bound
is kept as ``max_ln_error``.  Smooth analytic curves need 1/1024 to
1/16384 dex (5,000-80,000 nodes over 5 decades); the LISA curve with the
numerically averaged response, whose spline has a jump in its third
derivative at every node of the response table, needs 1/32768 dex.  A
table has at most MAX_TABLE_NODES (4,194,304) nodes: a curve that would
need more is refused before they are made.
"""

from __future__ import annotations

import math
from collections import namedtuple

import numpy as np

from .._inputs import as_float_array, require, within

NoiseSample = namedtuple("NoiseSample", ["hn", "n_outside"])

#: Target of the table's interpolation error in ln h_n (see module doc).
TABLE_TOLERANCE = 5e-10
_START_SPACING = 1.0 / 512  # dex
_FINEST_SPACING = 1.0 / 65536  # dex; 5 decades -> 327,680 nodes, 2.6 MB
#: The most nodes a table may have (32 MiB of ln h_n): 64 decades at the
#: finest spacing, 8,192 at the coarsest, where a curve from space-borne to
#: ground-based bands spans about 10.  A curve that needs more (a file over
#: 1e-300 - 1e300 Hz whose interpolant must be resolved everywhere) is
#: refused, naming both numbers, before its nodes are made.
MAX_TABLE_NODES = 1 << 22
_CHUNK = 1 << 16  # nodes per slice of the error check


def frequencies(f, name="f"):
    """Frequencies in Hz (astropy Quantities converted) as a float array,
    checked finite and positive."""
    arr = as_float_array(f, name, "Hz", max_ndim=64)
    if not within(arr, 0.0):
        require(arr, name, np.isfinite(arr) & (arr > 0), "frequencies must be finite and positive (Hz)")
    return arr


def _count_outside(outside):
    if outside.ndim == 0:
        return np.int64(bool(outside))
    return outside.sum(axis=-1).astype(np.int64)


def _lagrange(y, x):
    """Cubic Lagrange interpolation of y at fractional indices x (the
    table's read-back; i clamped to [1, len - 3])."""
    i = np.floor(x)
    i = np.clip(i, 1, len(y) - 3)
    t = x - i
    i = i.astype(np.intp)
    tm1, tm2, tp1 = t - 1.0, t - 2.0, t + 1.0
    return (
        -(t * tm1 * tm2) / 6.0 * y[i - 1]
        + (tp1 * tm1 * tm2) / 2.0 * y[i]
        - (tp1 * t * tm2) / 2.0 * y[i + 1]
        + (tp1 * t * tm1) / 6.0 * y[i + 2]
    )


class NoiseTable:
    """ln h_n tabulated uniformly in log10 f (see the module doc).

    Fields: ``log10_f0`` (log10 of the first node's frequency), ``dlog10_f``
    (node spacing, dex), ``ln_hn`` (float64, C-contiguous), ``f_min`` and
    ``f_max`` (Hz; h_n = +inf outside), ``max_ln_error`` (largest checked
    |ln h_table - ln h_curve|), ``source`` (repr of the tabulated curve).
    Calling it gives h_n like the curve it was made from (same convention).
    """

    __slots__ = ("log10_f0", "dlog10_f", "ln_hn", "f_min", "f_max", "max_ln_error", "source")

    def __init__(self, log10_f0, dlog10_f, ln_hn, f_min, f_max, max_ln_error=float("nan"), source=""):
        self.log10_f0 = float(log10_f0)
        self.dlog10_f = float(dlog10_f)
        self.ln_hn = np.ascontiguousarray(ln_hn, dtype=np.float64)
        self.f_min = float(f_min)
        self.f_max = float(f_max)
        self.max_ln_error = float(max_ln_error)
        self.source = source
        if self.ln_hn.ndim != 1 or len(self.ln_hn) < 4:
            raise ValueError("a noise table needs at least 4 nodes")
        # Every f in [f_min, f_max] must have its four nodes.
        x_lo = (math.log10(self.f_min) - self.log10_f0) / self.dlog10_f
        x_hi = (math.log10(self.f_max) - self.log10_f0) / self.dlog10_f
        if x_lo < 1.0 - 1e-9 or math.floor(x_hi) + 2 > len(self.ln_hn) - 1:
            raise ValueError("the noise table does not cover [f_min, f_max] with its padding")

    def __len__(self):
        return len(self.ln_hn)

    @property
    def range(self):
        return self.f_min, self.f_max

    def __repr__(self):
        return (
            f"NoiseTable({len(self.ln_hn)} nodes, {self.dlog10_f:.3g} dex, "
            f"{self.f_min:g}-{self.f_max:g} Hz, of {self.source})"
        )

    def evaluate(self, f):
        """NoiseSample(hn, n_outside) at frequencies f (Hz); n_outside is
        summed over the last axis."""
        f = np.asarray(f, dtype=np.float64)
        inside = (f >= self.f_min) & (f <= self.f_max)
        hn = np.full(f.shape, np.inf)
        if inside.all():
            x = (np.log10(f) - self.log10_f0) / self.dlog10_f
            hn = np.exp(_lagrange(self.ln_hn, x))
        elif inside.any():
            x = (np.log10(f[inside]) - self.log10_f0) / self.dlog10_f
            hn[inside] = np.exp(_lagrange(self.ln_hn, x))
        return NoiseSample(hn, _count_outside(~inside))

    def __call__(self, f):
        return self.evaluate(f).hn


def build_table(ln_hn, f_min, f_max, source="", tolerance=TABLE_TOLERANCE):
    """Tabulate ``ln_hn`` (a function of an array of frequencies, defined a
    few nodes beyond [f_min, f_max]) densely enough that the checked
    interpolation error is below ``tolerance`` (or the finest spacing is
    reached; ``max_ln_error`` then says what was reached).  Raises
    InputError when the spacing needed makes more than MAX_TABLE_NODES
    nodes, or more than the memory limit allows."""
    from .._inputs import InputError
    from .._limits import check_memory

    lo, hi = math.log10(f_min), math.log10(f_max)
    d = _START_SPACING
    while True:
        log10_f0 = lo - d
        n = int(math.floor((hi - log10_f0) / d)) + 4
        if n > MAX_TABLE_NODES:
            raise InputError("noise", None, (
                f"the noise table of {source} would need {n:,} nodes ({d:.3g} dex over {hi - lo:.4g} decades) to "
                f"reach {tolerance:g} in ln h_n, above the limit of {MAX_TABLE_NODES:,} nodes: give the curve "
                "over the frequencies the binaries reach (LISA's band is 1e-5 - 1 Hz, a ground detector's "
                "1 - 1e4 Hz)"))
        # The nodes and their frequencies, and the error check's
        # temporaries (a slice at a time).
        check_memory(2 * 8 * n + 24 * 8 * min(n, _CHUNK), f"the noise table of {source} ({n:,} nodes at "
                                                         f"{d:.3g} dex over {hi - lo:.4g} decades)", "noise")
        y = np.asarray(ln_hn(10.0 ** (log10_f0 + d * np.arange(n))), dtype=np.float64)
        if not np.isfinite(y).all():
            raise ValueError(f"{source}: the curve is not finite at the table's nodes")
        # Error at three points inside every interval that [f_min, f_max]
        # meets, a slice of intervals at a time.
        err = 0.0
        for start in range(1, n - 2, _CHUNK):
            k = np.arange(start, min(start + _CHUNK, n - 2), dtype=np.float64)
            for t in (0.2, 0.5, 0.8):
                x = k + t
                lf = log10_f0 + d * x
                keep = (lf >= lo) & (lf <= hi)
                err = max(err, float(np.max(np.abs(_lagrange(y, x[keep]) - ln_hn(10.0 ** lf[keep])),
                                            initial=0.0)))
        if err <= tolerance or d <= _FINEST_SPACING:
            return NoiseTable(log10_f0, d, y, f_min, f_max, err, source)
        d /= 2.0

"""When a binary becomes detectable: the SNR accumulated before merger and
the time at which it reaches a threshold.

For a binary observed from ``t_start`` years before merger, the SNR
accumulated up to a time ``t`` before merger is the integral of
``binary_snr``'s converged quadrature over the part of the band the signal
has swept by then,

    rho(t)^2 = int_{f(t_start)}^{f(t)} (h_c / h_n)^2 d ln f,

with f(t) the library's own time-frequency relation (the Newtonian chirp
with its 1PN correction, ``phenomd._band``) and the integral that of the
population module's Gauss-Legendre entry
(``phenomd._population.population_snr_gauss``) with the band's end at
``t_end = t``: no second approximation of the relation or of the integral.
The band of the model ends at Mf = 0.2 (the end of its ringdown), reached
``t_model_end`` before merger in that relation (its exact inverse,
``t_start_for_frequency``); for ``t`` closer to merger than that the
accumulated SNR is that of the whole band.

Convention: by default (``inclination="average"``) every SNR here is the
sky-, polarisation- and inclination-averaged one of ``binary_snr``,
rho^2 = (16/5) int |h~|^2 / S_n df, S_n sky- and polarisation-averaged and
summed over the detector's channels; times are observer-frame years before
merger.

The detection time solves rho(t) = threshold in two stages.  One pass of
the quadrature over the whole band returns rho^2 accumulated at the edges
of its Gauss-Legendre panels (``population_snr_edges``); the crossing lies
in the first panel whose upper edge reaches threshold^2, and the panel's
edge frequencies become times by the exact inverse of the library's
relation.  Inside that bracket a root-finder in ln t evaluates the
quadrature with the band's end at each trial time, for all binaries still
unconverged at once, until rho is within rtol / 2 of the threshold: the
secant through the last two trial points, replaced by false position on
the bracket (with the Illinois modification) where it leaves the bracket.
(With a population module built before the cumulative entry the bracket
is the whole accumulation instead: from the later of the band's start and
the time the binary enters the noise curve's range, to the earlier of the
time it leaves the range and the model's end.)
"""

from __future__ import annotations

import math
import re
from dataclasses import dataclass, field

import numpy as np

from . import _inputs as inp
from ._executor import run, spans
from ._library import load_library
from .core import (DEFAULT_LENGTH, InputError, _factor, _population_module, _prepare, _Provenance, _record,
                   noise_curve)

__all__ = [
    "AccumulatedSNR",
    "DetectionTime",
    "DURATION_UNITS",
    "FLAG_NAMES",
    "accumulated_snr",
    "detection_time",
    "parse_duration",
]

#: Durations the short forms stand for, in seconds.  A year is the Julian
#: year of the library's time-frequency relation (SECONDS_PER_YEAR,
#: 365.25 d); a month is a twelfth of it (30.4375 d); a week 7 d.
DURATION_UNITS = {
    "s": 1.0,
    "min": 60.0,
    "h": 3600.0,
    "d": 86400.0,
    "w": 7 * 86400.0,
    "mo": 31557600.0 / 12.0,
    "yr": 31557600.0,
}
_SECONDS_PER_YEAR = 31557600.0

#: detection_time's flag: 0 the threshold is crossed inside the band;
#: 1 never (the whole band's SNR is below it; t_detect NaN); 2 at the start
#: (crossed within ``start_fraction`` of the band's span of its start:
#: detectable as soon as the band, i.e. the observation, begins).
FLAG_NAMES = {0: "band", 1: "never", 2: "start"}
CROSSED, NEVER, AT_START = 0, 1, 2

# Nodes per binary of the quadrature, about: for the chunking of a batch.
_NODES = 200


# ------------------------------------------------------------ durations


_SHORT = re.compile(r"^\s*([0-9]*\.?[0-9]+(?:[eE][-+]?[0-9]+)?)\s*([a-zA-Z]+)\s*$")


def parse_duration(text):
    """A duration before merger, in years, and a label for column names.

    Parameters
    ----------
    text : str
        A number and a unit: ``s``, ``min``, ``h``, ``d``, ``w`` (7 days),
        ``mo`` (a twelfth of a Julian year, 30.4375 d), ``yr`` (Julian year,
        365.25 d), e.g. "1mo", "36h", "2.5 d"; or any time astropy reads
        ("3 hour", "1 week"); a bare number is in years.

    Returns
    -------
    (float, str)
        Years, and a label such as "1mo", "36h" or "0.5yr".

    Raises
    ------
    InputError
        An unknown or non-time unit, "m" (minutes or months? write "min"
        or "mo"), or a duration that is not finite and >= 0.

    Examples
    --------
    >>> from phenomd.early_warning import parse_duration
    >>> parse_duration("1mo")
    (0.08333333333333333, '1mo')
    >>> round(parse_duration("1w")[0] * 365.25, 12)
    7.0
    """
    raw = str(text).strip()
    try:
        value = float(raw)
    except ValueError:
        value = None
    if value is not None:
        years, label = value, f"{value:g}yr"
    else:
        m = _SHORT.match(raw)
        if m and m.group(2) in DURATION_UNITS:
            number, unit = float(m.group(1)), m.group(2)
            years, label = number * DURATION_UNITS[unit] / _SECONDS_PER_YEAR, f"{number:g}{unit}"
        elif m and m.group(2) == "m":
            raise InputError("before", None, f"duration {raw!r}: 'm' is ambiguous; write 'min' (minutes) or "
                                             "'mo' (months)")
        else:
            years, label = _astropy_duration(raw)
    if not (math.isfinite(years) and years >= 0):
        raise InputError("before", None, f"duration {raw!r}: must be finite and >= 0")
    return years, label.replace(".", "p")


def _astropy_duration(raw):
    from astropy import units as u

    units = ", ".join(DURATION_UNITS)
    try:
        q = u.Quantity(raw)
        seconds = q.to_value(u.s)
    except (TypeError, ValueError, u.UnitsError):
        raise InputError("before", None, f"duration {raw!r}: not a time; use a number and one of {units} "
                                         "(e.g. 1mo, 1w, 1d, 1h) or an astropy time such as '3 hour'") from None
    if not (math.isfinite(seconds) and seconds >= 0):
        raise InputError("before", None, f"duration {raw!r}: must be finite and >= 0")
    best = "s"
    for unit, size in DURATION_UNITS.items():  # a label in the largest short unit that divides it
        if seconds and abs(seconds / size - round(seconds / size)) < 1e-12 and seconds >= size:
            best = unit
    label = f"{seconds / DURATION_UNITS[best]:g}{best}" if seconds else "0s"
    return seconds / _SECONDS_PER_YEAR, label


def _as_before(before):
    """(years as a (k,) float64 array, whether ``before`` was a scalar)."""
    if isinstance(before, str):
        return np.array([parse_duration(before)[0]]), True
    if isinstance(before, (list, tuple)) and any(isinstance(b, str) for b in before):
        return np.array([parse_duration(b)[0] if isinstance(b, str) else float(b) for b in before]), False
    arr = inp.as_float_array(before, "before", "yr")
    scalar = arr.ndim == 0
    arr = np.atleast_1d(arr).astype(np.float64)
    if arr.size == 0:
        raise InputError("before", None, "before has no values")
    inp.require(arr, "before", np.isfinite(arr) & (arr >= 0),
                "times before merger (years, observer frame) must be finite and >= 0 (0: merger)")
    return arr, scalar


# ------------------------------------------------------------ the setup


@dataclass
class _Setup:
    values: np.ndarray  # (8, n) checked inputs (core._prepare)
    k: np.ndarray
    module: object
    table: object
    curve: object
    t_model_end: np.ndarray  # years before merger at Mf = 0.2
    record: dict
    threads: int
    chunk: int
    library: object


def _setup(m1, m2, spin1, spin2, distance, redshift, t_start, noise, inclination, cosmology, library, fast,
           threads, chunk, rtol):
    from ._band import t_start_for_frequency
    from ._population import RTOL_RANGE

    curve = noise_curve(noise)
    rtol = float(rtol)
    if not RTOL_RANGE[0] <= rtol <= RTOL_RANGE[1]:
        raise InputError("rtol", None, f"rtol = {rtol!r}: outside [{RTOL_RANGE[0]:g}, {RTOL_RANGE[1]:g}]")
    batch = _prepare(m1, m2, spin1, spin2, distance, redshift, t_start, 0.0, DEFAULT_LENGTH, cosmology)
    k, _ = _factor(inclination, batch.n)
    k = np.ascontiguousarray(np.broadcast_to(k, (batch.n,)), dtype=np.float64)
    pop = _population_module(curve, library, fast)
    if pop is None:
        raise InputError("noise", None, "the SNR accumulated before merger needs the population module and a "
                                        "noise curve with a table (a built-in or file curve, not a plain "
                                        "callable)")
    lib = load_library(library, fast=fast)
    v = batch.stacked()
    mtsun = float(lib.constants()["MTSUN"])
    # The model's band ends at Mf = 0.2: the time before merger of that
    # frequency by the exact inverse of the library's relation.
    f_end = 0.2 / (mtsun * (1.0 + v[5]) * (v[0] + v[1]))
    t_model_end = np.asarray(t_start_for_frequency(v[0], v[1], v[5], f_end, library=library), dtype=np.float64)
    record = _record(lib, fast, "none (Gauss-Legendre quadrature)", inclination, cosmology, distance is not None,
                     noise=curve, snr_path=f"population module, Gauss-Legendre quadrature in ln f, rtol {rtol:g}",
                     times="years before merger, observer frame (Julian year, 365.25 d)")
    return _Setup(v, k, pop[0], pop[1], curve, np.atleast_1d(t_model_end), record, inp.as_threads(threads),
                  inp.as_chunk(chunk), library)


def _snr_to(s, t_end, rtol, fast, rows=None):
    """SNR of each binary (or of ``rows``) over its band from t_start to
    ``t_end`` years before merger (<= 0: through ringdown), by the
    quadrature."""
    from ._population import population_snr_gauss

    values = s.values if rows is None else s.values[:, rows]
    k = s.k if rows is None else s.k[rows]
    n = values.shape[1]
    t_end = np.ascontiguousarray(np.broadcast_to(t_end, (n,)), dtype=np.float64)
    out = np.empty(n, dtype=np.float64)

    def work(a, b):
        cols = [np.ascontiguousarray(values[i, a:b]) for i in range(7)]
        r = population_snr_gauss(s.module, *cols, t_end[a:b], k[a:b], s.table, rtol, fast)
        out[a:b] = r["snr_all"]

    run(spans(n, _NODES, s.chunk), work, s.threads, None, n)
    return out


# ------------------------------------------------------- accumulated SNR


@dataclass(frozen=True)
class AccumulatedSNR(_Provenance):
    """The SNR accumulated before merger (``accumulated_snr``).

    Convention: SNRs are ``binary_snr``'s (by default sky-, polarisation-
    and inclination-averaged), of the part of each band between its start
    and ``before`` years (observer frame) before merger.

    Attributes
    ----------
    snr : numpy.ndarray
        (n, k) accumulated SNR of binary i up to ``before[j]``; (n,) when
        ``before`` was a scalar.
    before : numpy.ndarray
        (k,) the times, years before merger.
    snr_total : numpy.ndarray
        (n,) the whole band's SNR (through ringdown).
    t_model_end : numpy.ndarray
        (n,) years before merger at which the model's band ends (Mf = 0.2);
        closer to merger the accumulated SNR is ``snr_total``.
    provenance : dict
        str -> str.
    """

    snr: np.ndarray
    before: np.ndarray
    snr_total: np.ndarray
    t_model_end: np.ndarray
    _record: dict = field(default=None, repr=False, compare=False)

    def __len__(self):
        return self.snr_total.shape[0]


def accumulated_snr(m1, m2, spin1, spin2, distance, redshift, t_start, before, *, noise=None,
                    inclination="average", cosmology=None, rtol=1e-6, fast=False, library=None, threads=1,
                    chunk=None):
    """The SNR each binary has accumulated from ``t_start`` up to each time
    ``before`` merger.

    rho(t)^2 = int (h_c/h_n)^2 d ln f from f(t_start) to f(t), f(t) the
    library's time-frequency relation; by default the sky-, polarisation-
    and inclination-averaged SNR of ``binary_snr`` (see the module
    docstring).  Equal to ``binary_snr(..., t_end=t)`` by the converged
    quadrature; 0 for t >= t_start; the whole band's SNR for t at or after
    the model's end (Mf = 0.2) or t = 0.

    Parameters
    ----------
    m1, m2, spin1, spin2, distance, redshift, t_start
        As for ``binary_snr`` (source-frame masses in M_sun, aligned
        spins, luminosity distance in Mpc or None for the redshift's,
        redshift, band start in observer-frame years before merger).
    before : float, str, Quantity or sequence of them
        Times before merger: years, astropy time Quantities (``1*u.day``)
        or duration strings (``parse_duration``: "1mo", "1w", "1d", "1h").
    noise : noise curve, optional
        A curve with a table (``phenomd.noise``; default ``LISA(years=4)``).
    inclination, cosmology, library, threads, chunk
        As for ``binary_snr``.
    rtol : float
        Relative tolerance of the quadrature, in [1e-9, 0.1].
    fast : bool
        The quadrature's SIMD powers (agree to ~1e-15).

    Returns
    -------
    AccumulatedSNR
        ``snr`` (n, k), or (n,) for a scalar ``before``; ``snr_total``;
        ``provenance``.

    Raises
    ------
    InputError
        An input outside its range, a time that is not finite and >= 0 or
        an unknown unit, a curve without a table.

    Examples
    --------
    >>> import phenomd

    A 10^6 M_sun binary at z = 3 against LISA, observed from 4 years
    before merger: its SNR a week and a day before merger, and at merger.

    >>> r = phenomd.accumulated_snr(5e5, 5e5, 0.0, 0.0, None, 3.0, 4.0, ["1w", "1d", 0.0])
    >>> print(" ".join(f"{v:.4g}" for v in r.snr[0]))
    7.78 35.75 2183
    """
    years, scalar = _as_before(before)
    s = _setup(m1, m2, spin1, spin2, distance, redshift, t_start, noise, inclination, cosmology, library, fast,
               threads, chunk, rtol)
    n = s.values.shape[1]
    total = _snr_to(s, 0.0, rtol, fast)
    out = np.empty((n, years.size), dtype=np.float64)
    for j, t in enumerate(years):
        whole = t <= s.t_model_end
        if whole.all():
            out[:, j] = total
            continue
        te = np.where(whole, 0.0, t)
        out[:, j] = _snr_to(s, te, rtol, fast)
    record = dict(s.record, before=", ".join(f"{t:.6g}" for t in years) + " years before merger",
                  snr="accumulated from t_start to each time before merger, " + _convention(inclination))
    return AccumulatedSNR(out[:, 0] if scalar else out, years, total, s.t_model_end, record)


def _convention(inclination):
    from ._conventions import convention_label

    return convention_label(inclination)


# -------------------------------------------------------- detection time


@dataclass(frozen=True)
class DetectionTime(_Provenance):
    """When each binary's accumulated SNR reaches a threshold
    (``detection_time``).

    Attributes
    ----------
    t_detect : numpy.ndarray
        (n,) years before merger (observer frame) at which the accumulated
        SNR first equals ``threshold``; NaN where it never does.
    flag : numpy.ndarray
        (n,) int8: 0 crossed inside the band, 1 never (whole-band SNR below
        the threshold), 2 at the band's start (see ``FLAG_NAMES``).
    f_detect : numpy.ndarray
        (n,) observed-frame frequency at t_detect, Hz (NaN where never).
    snr_total : numpy.ndarray
        (n,) the whole band's SNR.
    t_first : numpy.ndarray
        (n,) the start of the accumulation: the later of t_start and the
        time the binary enters the noise curve's range.
    threshold : float
    provenance : dict
    """

    t_detect: np.ndarray
    flag: np.ndarray
    f_detect: np.ndarray
    snr_total: np.ndarray
    t_first: np.ndarray
    threshold: float
    _record: dict = field(default=None, repr=False, compare=False)

    @property
    def flag_names(self):
        return np.array([FLAG_NAMES[int(f)] for f in self.flag], dtype=object)

    def __len__(self):
        return self.t_detect.shape[0]


def _bracket(s):
    """(t_hi, t_lo): where the accumulation starts (SNR 0 there) and where it
    is complete (the whole band's SNR), years before merger."""
    from ._band import t_start_for_frequency

    v = s.values
    f_min, f_max = float(s.table.f_min), float(s.table.f_max)
    t_enter = np.atleast_1d(t_start_for_frequency(v[0], v[1], v[5], f_min, library=s.library))
    t_leave = np.atleast_1d(t_start_for_frequency(v[0], v[1], v[5], f_max, library=s.library))
    return np.minimum(v[6], t_enter), np.maximum(s.t_model_end, t_leave)


def _panel_bracket(s, thr, rtol, fast, max_edges=128):
    """(whole-band SNR, t above and t below the crossing, and rho / thr - 1
    at each) per binary, from the cumulative rho^2 at the panel edges,
    their frequencies turned into times by the exact inverse of the
    library's relation.  Binaries below the threshold get NaN times."""
    from ._band import t_start_for_frequency
    from ._population import population_snr_edges

    v, n = s.values, s.values.shape[1]
    total = np.zeros(n)
    f_a, f_b = np.full(n, np.nan), np.full(n, np.nan)
    r_a, r_b = np.full(n, np.nan), np.full(n, np.nan)

    def work(a, b):
        cols = [np.ascontiguousarray(v[i, a:b]) for i in range(7)]
        ef, er, num = population_snr_edges(s.module, *cols, np.zeros(b - a), s.k[a:b], s.table, rtol, fast,
                                           max_edges)
        rows = np.arange(b - a)
        last = np.maximum(num - 1, 0)
        total[a:b] = np.where(num > 0, er[rows, last], 0.0)
        inside = np.arange(max_edges)[np.newaxis, :] < num[:, np.newaxis]
        with np.errstate(invalid="ignore"):
            reached = inside & (er >= thr)
        j = np.argmax(reached, axis=1)  # first edge at or above thr (>= 1: rho = 0 at the first)
        ok = reached.any(axis=1) & (j >= 1)
        jj, rr = j[ok], rows[ok]
        f_a[a:b][ok], f_b[a:b][ok] = ef[rr, jj - 1], ef[rr, jj]
        r_a[a:b][ok], r_b[a:b][ok] = er[rr, jj - 1], er[rr, jj]

    run(spans(n, _NODES, s.chunk), work, s.threads, None, n)
    ok = np.isfinite(f_a)
    t_a, t_b = np.full(n, np.nan), np.full(n, np.nan)
    if ok.any():
        t_a[ok] = np.atleast_1d(t_start_for_frequency(v[0][ok], v[1][ok], v[5][ok], f_a[ok], library=s.library))
        t_b[ok] = np.atleast_1d(t_start_for_frequency(v[0][ok], v[1][ok], v[5][ok], f_b[ok], library=s.library))
        t_a[ok] = np.minimum(t_a[ok], v[6][ok])  # the first edge is the band's start, to rounding
    total = np.where(ok | ~(total >= thr), total, np.nan)  # above the threshold but no edge reached: NaN
    return total, t_a, t_b, r_a / thr - 1.0, r_b / thr - 1.0


def detection_time(m1, m2, spin1, spin2, distance, redshift, t_start, *, snr=10.0, noise=None,
                   inclination="average", cosmology=None, rtol=1e-6, fast=False, library=None, threads=1,
                   chunk=None, start_fraction=1e-3, max_steps=100):
    """The time before merger at which each binary's accumulated SNR first
    reaches ``snr``.

    Solves rho(t) = snr for t, rho the SNR accumulated from ``t_start``
    (``accumulated_snr``; by default the sky-, polarisation- and
    inclination-averaged SNR), to ``rtol`` / 2 in rho: the quadrature's
    panel edges bracket the crossing in one pass, then a safeguarded
    secant in ln t refines it (module docstring).  The crossing time is exact for the library's
    time-frequency relation: every step evaluates the quadrature with the
    band's end at the trial time.

    Parameters
    ----------
    m1, m2, spin1, spin2, distance, redshift, t_start
        As for ``binary_snr``.
    snr : float
        The threshold, > 0.
    noise, inclination, cosmology, rtol, fast, library, threads, chunk
        As for ``accumulated_snr``; the quadrature runs at rtol / 10.
    start_fraction : float
        A crossing within this fraction of the accumulation's span of its
        start is flagged "start" (detectable as soon as the band begins).
    max_steps : int
        Root-finding steps at most (each one quadrature of the binaries
        still unconverged).

    Returns
    -------
    DetectionTime
        ``t_detect`` (years before merger, NaN where never), ``flag``
        (``FLAG_NAMES``), ``f_detect`` (Hz), ``snr_total``, ``t_first``,
        ``provenance``.

    Raises
    ------
    InputError
        As ``accumulated_snr``; a threshold that is not finite and > 0.

    Examples
    --------
    >>> import phenomd
    >>> d = phenomd.detection_time(5e5, 5e5, 0.0, 0.0, None, 3.0, 4.0, snr=10)
    >>> print(f"{d.t_detect[0] * 365.25:.3f} days before merger", d.flag_names.tolist())
    5.197 days before merger ['band']
    """
    thr = float(getattr(snr, "value", snr))
    if not (math.isfinite(thr) and thr > 0):
        raise InputError("snr", None, f"snr = {snr!r}: the threshold must be finite and > 0")
    if not (0 <= float(start_fraction) < 1):
        raise InputError("start_fraction", None, f"start_fraction = {start_fraction!r}: must lie in [0, 1)")
    s = _setup(m1, m2, spin1, spin2, distance, redshift, t_start, noise, inclination, cosmology, library, fast,
               threads, chunk, rtol)
    q_rtol = max(1e-9, float(rtol) / 10.0)
    tol = float(rtol) / 2.0
    n = s.values.shape[1]
    t_hi, t_lo = _bracket(s)
    flag = np.full(n, NEVER, dtype=np.int8)
    t_det = np.full(n, np.nan)
    if getattr(s.module, "_snr_edges", None) is not None:
        # One pass: rho^2 accumulated at the quadrature's panel edges; the
        # crossing lies in the first panel whose upper edge reaches thr^2.
        total, a_hi, a_lo, ga, gb = _panel_bracket(s, thr, q_rtol, fast)
        act = np.flatnonzero(total >= thr)
        x_lo, x_hi = np.log(a_lo[act]), np.log(a_hi[act])
        g_lo, g_hi = gb[act], ga[act]
        path = "bracketed by the quadrature's cumulative rho^2 at its panel edges (phenomd_population_snr_edges)"
    else:  # a module built before the cumulative entry: the whole band
        total = _snr_to(s, 0.0, q_rtol, fast)
        act = np.flatnonzero((total >= thr) & (t_lo < t_hi))
        x_lo, x_hi = np.log(t_lo[act]), np.log(t_hi[act])
        g_lo, g_hi = total[act] / thr - 1.0, np.full(act.size, -1.0)
        path = "bracketed by the band's ends in the noise curve's range"
    last = np.zeros(act.size, dtype=np.int8)  # +1: the last step moved lo, -1: hi
    # The last two trial points (true values), for the secant: first the
    # bracket's ends.
    xp, gp, xc, gc = x_hi.copy(), g_hi.copy(), x_lo.copy(), g_lo.copy()
    best = np.exp(x_lo)
    done = g_lo <= tol  # the upper edge already meets the threshold
    steps = 0
    while steps < max_steps and not done.all():
        steps += 1
        i = np.flatnonzero(~done)
        a, b, ga, gb = x_lo[i], x_hi[i], g_lo[i], g_hi[i]
        with np.errstate(divide="ignore", invalid="ignore"):
            x = xc[i] - gc[i] * (xc[i] - xp[i]) / (gc[i] - gp[i])
            # Outside the bracket: false position on it (inside by construction).
            x = np.where((x > a) & (x < b), x, (a * gb - b * ga) / (gb - ga))
        x = np.where((x > a) & (x < b), x, 0.5 * (a + b))
        t = np.exp(x)
        rho = _snr_to(s, np.where(t <= s.t_model_end[act[i]], 0.0, t), q_rtol, fast, rows=act[i])
        g = rho / thr - 1.0
        best[i] = t
        xp[i], gp[i], xc[i], gc[i] = xc[i], gc[i], x, g
        up = g > 0  # above the threshold: the crossing lies earlier (larger t)
        # Illinois: halve the retained end's value when one end moves twice.
        lo_again = up & (last[i] == 1)
        hi_again = ~up & (last[i] == -1)
        g_hi[i[lo_again]] *= 0.5
        g_lo[i[hi_again]] *= 0.5
        x_lo[i[up]], g_lo[i[up]] = x[up], g[up]
        x_hi[i[~up]], g_hi[i[~up]] = x[~up], g[~up]
        last[i] = np.where(up, 1, -1)
        narrow = (x_hi[i] - x_lo[i]) <= 4e-16 * np.maximum(np.abs(x_hi[i]), 1.0)
        done[i] = (np.abs(g) <= tol) | narrow | ~np.isfinite(g)
    t_det[act] = best
    flag[act] = CROSSED
    span = t_hi[act] - t_lo[act]
    flag[act[(t_hi[act] - best) <= float(start_fraction) * span]] = AT_START
    from ._band import frequency_at_time

    f_det = np.full(n, np.nan)
    if act.size:
        v = s.values[:, act]
        f_det[act] = np.atleast_1d(frequency_at_time(v[0], v[1], v[5], best))
    record = dict(s.record, threshold=f"{thr:g} ({_convention(inclination)} SNR accumulated from t_start)",
                  t_detect="years before merger, observer frame, at which the accumulated SNR first reaches "
                           "the threshold (NaN: never)",
                  flag=f"0 band (crossed inside the band), 1 never, 2 start (within {start_fraction:g} of the "
                       "accumulation's span of its start)",
                  root_steps=str(steps),
                  root=f"secant in ln t safeguarded by false position (Illinois) in the bracket, {path}")
    return DetectionTime(t_det, flag, f_det, total, t_hi, thr, record)

"""The two ways ``binary_snr`` integrates rho^2 = int (h_c/h_n)^2 d ln f,
and the converged one's chunk work.

* ``method="gauss"`` (default): composite Gauss-Legendre quadrature in
  ln f in the population module (``phenomd_population_snr_gauss``), panels
  broken at the band's ends, both phase boundaries, the model's piece
  joins, the noise curve's range edges and the points where the curve
  declares itself non-smooth (``NoiseCurve.kinks``; a linearly
  interpolated file's data frequencies).  Each SNR is the integral to a
  relative ``rtol`` (every phase carrying at least 1e-3 of the total
  rho^2), each phase integrated exactly from its boundary frequency.  A
  curve with a table is read from it; any other callable is evaluated at
  the quadrature's nodes (``phenomd_population_nodes``).
* ``method="trapezoid"``: the C library's ``SNR_function`` on the
  ``length``-point grid of ``Amplitude``, each interval given to a phase by
  its midpoint: bitwise the results the package gave before the quadrature.

``n_outside`` differs: under "gauss" it is how many of the band's two
ends lie outside the noise curve's range (0, 1 or 2); under "trapezoid"
the number of grid points outside it (0 .. length).
"""

from __future__ import annotations

import math

import numpy as np

from . import _inputs as inp

__all__ = ["DEFAULT_RTOL", "METHODS", "curve_kinks", "gauss_work", "resolve"]

METHODS = ("gauss", "trapezoid")
DEFAULT_RTOL = 1e-6
#: Rows per library call under "gauss" when a batch is split (spans'
#: length: about 200 nodes per binary, so ~16k rows a call).
SPAN_LENGTH = 64

InputError = inp.InputError


def resolve(method, length, rtol, default_length):
    """(method, length, rtol) checked: under "gauss" length is None and rtol
    a float in the module's range; under "trapezoid" rtol is None and
    length the grid.  A ``length`` other than the default with "gauss", or
    an ``rtol`` with "trapezoid", is a conflicting option (InputError)."""
    from ._population import RTOL_RANGE

    if not isinstance(method, str) or method not in METHODS:
        raise InputError("method", None, f"method = {method!r}: must be 'gauss' (converged to rtol) or 'trapezoid' "
                                         "(the C library's grid of length points)")
    if method == "trapezoid":
        if rtol is not None:
            raise InputError("rtol", None, f"rtol = {rtol!r} applies to method='gauss'; method='trapezoid' integrates "
                                           "on a grid of length points (drop rtol, or use method='gauss')")
        return method, default_length if length is None else length, None
    if length is not None and not (isinstance(length, (int, np.integer)) and int(length) == default_length):
        raise InputError("length", None, f"length = {length!r} is the grid of method='trapezoid'; method='gauss' "
                                         "integrates to rtol instead (drop length, or pass method='trapezoid')")
    value = DEFAULT_RTOL if rtol is None else rtol
    try:
        value = float(inp.strip_units(value, "rtol", ""))
    except (TypeError, ValueError):
        raise InputError("rtol", None, f"rtol = {rtol!r}: must be a number") from None
    if not RTOL_RANGE[0] <= value <= RTOL_RANGE[1]:
        raise InputError("rtol", None, f"rtol = {rtol!r}: must lie in [{RTOL_RANGE[0]:g}, {RTOL_RANGE[1]:g}]")
    return method, None, value


def curve_kinks(curve):
    """The frequencies (Hz) where ``curve`` declares h_n not smooth: its
    ``kinks`` attribute (NoiseCurve: empty; a linearly interpolated file:
    its data frequencies), or none."""
    kinks = getattr(curve, "kinks", None)
    if kinks is None:
        return np.empty(0)
    arr = np.asarray(kinks, dtype=np.float64).ravel()
    return arr[np.isfinite(arr) & (arr > 0)]


def _callable_range(curve):
    """(f_min, f_max) in Hz for the nodes of a callable: its declared range
    (``range`` or ``f_min``/``f_max``) clipped to what the module takes,
    else effectively all frequencies."""
    lo, hi = 1e-300, 1e300
    rng = getattr(curve, "range", None)
    if rng is None and hasattr(curve, "f_min") and hasattr(curve, "f_max"):
        rng = (curve.f_min, curve.f_max)
    if rng is not None:
        try:
            a, b = (float(v) for v in rng)
        except (TypeError, ValueError):
            a, b = lo, hi
        lo, hi = max(a, lo) if a == a else lo, min(b, hi) if b == b else hi
    if not (0 < lo < hi and math.isfinite(hi)):
        raise InputError("noise", None, f"the noise's range ({lo!r}, {hi!r}) Hz is not 0 < f_min < f_max")
    return lo, hi


def gauss_work(module, table, curve, values_rows, k, fast, rtol, out, fm, fr, n_out, inverted, check_noise):
    """``work(a, b)`` for ``_executor.run``: the converged SNRs of rows
    [a, b), written into the result arrays.  ``table``: the curve's
    NoiseTable, or None to evaluate ``curve`` at the nodes (``check_noise``
    validates its values).  ``values_rows(a, b)``: the eight inputs of the
    rows as contiguous float64 arrays."""
    from . import _population

    names = ("snr_all", "snr_ins", "snr_mrg", "snr_rd")
    kinks = curve_kinks(curve)
    if table is None:
        f_range = _callable_range(curve)

        def hn(f):
            values = curve(f)
            arr = np.asarray(values, dtype=np.float64) if not hasattr(values, "hn") else values.hn
            arr = np.broadcast_to(np.asarray(arr, dtype=np.float64), f.shape)
            check_noise(arr, "noise")
            return arr

    def work(a, b):
        res = dict(zip(names, (o[a:b] for o in out)), f_merger_start=fm[a:b], f_ringdown_start=fr[a:b],
                   n_outside=n_out[a:b], inverted=inverted[a:b])
        rows = values_rows(a, b)
        factor = np.ascontiguousarray(k[a:b], dtype=np.float64)
        if table is not None:
            _population.population_snr_gauss(module, *rows, factor, table, rtol, fast, noise_kinks=kinks, out=res)
        else:
            _population.population_snr_nodes(module, *rows, factor, hn, f_range, rtol, fast, noise_kinks=kinks,
                                             out=res)

    return work

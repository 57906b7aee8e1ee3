"""Observation times of the galactic-foreground fits: a duration given in
years (a number or an astropy time Quantity), checked, and the fit's
parameters at that duration, interpolated between the tabulated ones.

The published fits are tables of parameters per observation time T
(Robson, Cornish & Liu 2019 Table 1; Huang et al. 2020 Table II; Liu, Ruan
& Guo 2023 Table I).  Between two tabulated times T_a < T < T_b every
parameter p is interpolated linearly in ln T,

    p(T) = p(T_a) + (p(T_b) - p(T_a)) ln(T/T_a) / ln(T_b/T_a),

so the tabulated durations are reproduced exactly.  For the polynomial
fits of TianQin and Taiji (log S_c linear in the coefficients) this is
linear interpolation of log S_c(f) in ln T at every frequency, so the
foreground at T lies between those of T_a and T_b.  No fit is extrapolated
beyond the tabulated times.
"""

from __future__ import annotations

import math

import numpy as np

from .._inputs import InputError, strip_units

#: The default observation time of every curve with a foreground: four
#: years, LISA's nominal mission duration, the same for every detector so
#: that curves are compared at one observation time.
DEFAULT_YEARS = 4.0


def observation_years(years, name="years"):
    """``years`` as a float in years, or None for no foreground (None or 0).

    Accepts a number (years) or an astropy Quantity in time units; anything
    else, a negative or non-finite value, raises InputError naming it."""
    if years is None:
        return None
    if hasattr(years, "unit") and hasattr(years, "to_value"):
        value = strip_units(years, name, "yr")
    else:
        value = years
    if isinstance(value, (str, bytes, bool)):
        raise InputError(name, None, f"{name} = {years!r}: an observation time in years (a number, or a "
                                     "Quantity in time units; None or 0: no foreground)")
    try:
        y = float(value)
    except (TypeError, ValueError):
        raise InputError(name, None, f"{name} = {years!r}: an observation time in years (a number, or a "
                                     "Quantity in time units; None or 0: no foreground)") from None
    if not math.isfinite(y) or y < 0:
        raise InputError(name, None, f"{name} = {years!r}: must be finite and >= 0 (0 or None: no foreground)")
    return None if y == 0 else y


def interpolated(table, years, curve_name):
    """The fit's parameters (a tuple) at ``years`` (already checked by
    ``observation_years``), interpolated in ln T between the tabulated
    times of ``table`` ({T: parameters}); InputError outside them."""
    times = sorted(table)
    if years in table:
        return tuple(table[years])
    lo, hi = times[0], times[-1]
    if not lo <= years <= hi:
        listed = ", ".join(f"{t:g}" for t in times)
        raise InputError(
            "years", None,
            f"years = {years:g}: the {curve_name} foreground is fitted for {listed} years and interpolated "
            f"between them ({lo:g} to {hi:g} years); 'lisa-scird' takes any time from 0.5 to 10 years "
            "(None or 0: no foreground)")
    b = next(t for t in times if t > years)
    a = times[times.index(b) - 1]
    w = math.log(years / a) / math.log(b / a)
    pa, pb = np.asarray(table[a], dtype=np.float64), np.asarray(table[b], dtype=np.float64)
    return tuple(float(x) for x in pa + w * (pb - pa))

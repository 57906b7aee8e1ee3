"""How much SNR a binary's band could carry beyond a noise curve's range.

A curve is defined only over its range [f_min, f_max] (h_n = +inf outside:
those frequencies contribute nothing).  Where a band reaches beyond it,
the SNR there is unknown; a warning matters only when that part could
carry a share of the SNR a user should know about.  This module bounds it
per binary from quantities at hand: the band's ends, the curve's value at
its edges, and the leading-order strain.

Bound.  The characteristic strain of the model is h_c = k f A(f) (k the
inclination factor, ``phenomd._conventions``), and the leading-order
stationary-phase amplitude (Cutler & Flanagan 1994 eq. 3.7) gives

    h_0(f) = k sqrt(5/24) pi^(-2/3) (G Mc_z / c^3)^(5/6) f^(-1/6) c / D_L,

Mc_z the redshifted chirp mass.  Over the accepted inputs (mass ratio up
to 1000, spins in [-1, 1]) the model's A(f) / A_0(f) stays below B(f):
``INSPIRAL_RATIO_BOUND`` = 1.1 below the inspiral/merger boundary
f_merger_start (largest seen: 1.0004; the post-Newtonian corrections vanish
as f -> 0) and ``AMPLITUDE_RATIO_BOUND`` = 3 above it (largest seen: 2.54,
for q ~ 950 and spins ~ 0.8-1), over 2e4 random binaries (q from 1 to
1000, spins uniform in [-1, 1] and at +-1) on 2000 points through
ringdown.  Taking the noise beyond an edge f_e to be no lower than the
curve's value there (every built-in curve rises steeply past its range),
the SNR^2 beyond the range is at most

    (h_0(f_e) / h_n(f_e))^2 int B(f)^2 (f/f_e)^(-1/3) d ln f

over the part of the band [f_lo, f_hi] outside the range, in closed form:
int_a^b (f/f_e)^(-1/3) d ln f = 3 [(a/f_e)^(-1/3) - (b/f_e)^(-1/3)].
The share is lost / (lost + rho^2), an upper bound on the fraction of the
SNR^2 the binary would have with the curve continued at its edge values.
"""

from __future__ import annotations

import math

import numpy as np

#: Bounds on the model's amplitude over the leading-order one, below and
#: above f_merger_start (see the module docstring for how they were found).
INSPIRAL_RATIO_BOUND = 1.1
AMPLITUDE_RATIO_BOUND = 3.0

#: A share of rho^2 beyond the range above which a user is warned.
WARN_SHARE = 1e-3

_G = 6.67430e-11  # m^3 kg^-1 s^-2 (CODATA 2018)
_C = 299792458.0  # m/s
_MSUN = 1.988409870698051e30  # kg (IAU 2015 nominal GM_sun / G)
_MPC = 3.085677581491367e22  # m


def leading_order_strain(f, m1, m2, redshift, distance, k):
    """h_0(f) = k f A_0(f): the leading-order characteristic strain (module
    docstring) at frequencies ``f`` (Hz), masses in M_sun (source frame),
    distance in Mpc, k the inclination factor; arrays broadcast."""
    m1, m2 = np.asarray(m1, dtype=np.float64), np.asarray(m2, dtype=np.float64)
    mc_z = (m1 * m2) ** 0.6 / (m1 + m2) ** 0.2 * (1.0 + np.asarray(redshift, dtype=np.float64))
    tm = _G * mc_z * _MSUN / _C**3  # seconds
    return (np.asarray(k) * math.sqrt(5.0 / 24.0) * math.pi ** (-2.0 / 3.0) * tm ** (5.0 / 6.0)
            * np.asarray(f, dtype=np.float64) ** (-1.0 / 6.0) * _C / (np.asarray(distance) * _MPC))


def _power_integral(a, b, edge):
    """int_a^b (f/edge)^(-1/3) d ln f (0 where a >= b)."""
    with np.errstate(divide="ignore", invalid="ignore"):
        value = 3.0 * ((a / edge) ** (-1.0 / 3.0) - (b / edge) ** (-1.0 / 3.0))
    return np.where(b > a, value, 0.0)


def outside_share(curve, f_lo, f_hi, f_merger_start, m1, m2, redshift, distance, k, snr_all):
    """Per binary: (beyond, share).  ``beyond`` (bool) says whether the band
    [f_lo, f_hi] (Hz) reaches past the curve's range; ``share`` bounds the
    fraction of the SNR^2 that lies there (module docstring), 0 where the
    band stays inside.  A curve without a ``range`` gives no bound (beyond
    False everywhere)."""
    f_lo = np.asarray(f_lo, dtype=np.float64)
    f_hi = np.asarray(f_hi, dtype=np.float64)
    n = f_lo.shape[0]
    rng = getattr(curve, "range", None)
    if rng is None:
        return np.zeros(n, dtype=bool), np.zeros(n)
    f_min, f_max = (float(x) for x in rng)
    every = [np.broadcast_to(np.asarray(x, dtype=np.float64), (n,)) for x in (f_merger_start, m1, m2, redshift,
                                                                              distance, k)]
    low = f_lo < f_min
    high = f_hi > f_max
    # lost / rho^2, each term divided by the SNR before squaring, so that
    # neither overflows for a noise far below usual levels (h_n ~ 1e-300).
    snr = np.broadcast_to(np.asarray(snr_all, dtype=np.float64), (n,))
    ratio = np.zeros(n)
    with np.errstate(over="ignore", divide="ignore", invalid="ignore"):
        for mask, edge, a, b in ((low, f_min, f_lo, np.minimum(f_hi, f_min)),
                                 (high, f_max, np.maximum(f_lo, f_max), f_hi)):
            if not mask.any() or not (math.isfinite(edge) and edge > 0):
                continue
            hn = float(np.asarray(curve(np.array([edge])), dtype=np.float64).ravel()[0])
            fm, m1_, m2_, z, d, k_ = (x[mask] for x in every)
            a_, b_ = a[mask], b[mask]
            split = np.clip(fm, a_, b_)
            weight = (INSPIRAL_RATIO_BOUND**2 * _power_integral(a_, split, edge)
                      + AMPLITUDE_RATIO_BOUND**2 * _power_integral(split, b_, edge))
            ratio[mask] += (leading_order_strain(edge, m1_, m2_, z, d, k_) / hn / snr[mask]) ** 2 * weight
        share = np.where(ratio > 0, ratio / (1.0 + ratio), 0.0)
    return low | high, np.nan_to_num(share, nan=1.0)

"""Luminosity distances from a table built once per cosmology.

astropy integrates the comoving distance afresh for every redshift (one
quadrature each for cosmologies with massive neutrinos, such as Planck18:
about 10 us per binary).  Here each cosmology's D_L is tabulated once, at
``NODES + 1`` redshifts uniform in u = ln(1 + z) from z = 0 to ``Z_MAX``,
as g(u) = ln(D_L(z) / z), which is analytic at z = 0 with
g(0) = ln(c/H0) (D_L = (1 + z) D_M and D_M -> c z / H0; Hogg 1999,
eqs. 16 and 21), and is interpolated by the cubic Lagrange polynomial
through the four nearest nodes.  With 4096 intervals (step 1.7e-3 in u) the
interpolation error is below 1e-12 relative.

The nodes integrate the cosmology's own E(z) (``cosmology.efunc``, which
includes radiation and massive neutrinos as astropy models them):
D_C = D_H int_0^z dz'/E(z') = D_H int_0^u e^u' / E du' (Hogg 1999, eq. 15),
8-point Gauss-Legendre on each table interval, summed node to node, and
D_M from D_C by the curvature (eq. 16).  This is accurate to rounding, where
astropy's adaptive quadrature with its default tolerance is off by up to
5e-8 at some redshifts (e.g. Planck18 at z = 75.25).  Redshifts outside
[0, Z_MAX] are passed to astropy.

Also here: the choice of cosmology (``resolve_cosmology``: None is
Planck18) and the inverse, the redshift at a luminosity distance
(``redshift_at_distance``, and ``log_grid`` for plots' distance axes).
"""

from __future__ import annotations

import math
import threading
from collections import OrderedDict

import numpy as np

from ._inputs import InputError, require

__all__ = [
    "Z_MAX",
    "NODES",
    "DistanceTable",
    "distance_one",
    "log_grid",
    "luminosity_distance",
    "redshift_at_distance",
    "resolve_cosmology",
]

Z_MAX = 1000.0
NODES = 4096
_KEEP = 16  # cosmologies whose tables are kept


class DistanceTable:
    """D_L(z) in Mpc for one astropy cosmology, on 0 <= z <= Z_MAX."""

    def __init__(self, cosmology, z_max=Z_MAX, nodes=NODES):
        from astropy import units as u

        self.cosmology = cosmology
        self.z_max = float(z_max)
        self.nodes = int(nodes)
        self.step = math.log1p(self.z_max) / self.nodes
        uu = np.arange(self.nodes + 1) * self.step
        z = np.expm1(uu)
        d_h = cosmology.hubble_distance.to_value(u.Mpc)
        # int e^u / E(e^u - 1) du over each interval, 8-point Gauss-Legendre.
        x, w = np.polynomial.legendre.leggauss(8)
        mid = uu[:-1, None] + 0.5 * self.step * (x[None, :] + 1.0)
        f = np.exp(mid) / np.asarray(cosmology.efunc(np.expm1(mid)), dtype=np.float64)
        pieces = 0.5 * self.step * (f @ w)
        d_c = np.concatenate([[0.0], np.cumsum(pieces)])  # in units of D_H
        ok = float(cosmology.Ok0)
        if ok > 0:
            d_m = np.sinh(math.sqrt(ok) * d_c) / math.sqrt(ok)
        elif ok < 0:
            d_m = np.sin(math.sqrt(-ok) * d_c) / math.sqrt(-ok)
        else:
            d_m = d_c
        g = np.empty_like(z)
        g[0] = math.log(d_h)
        g[1:] = np.log(d_h * (1.0 + z[1:]) * d_m[1:] / z[1:])
        self.g = g

    def scalar(self, z):
        """D_L (Mpc) at one redshift in [0, z_max]: the same arithmetic as
        ``__call__`` (numpy's log1p and exp, so the same bits) on scalars, a
        few microseconds where the array path's per-call costs are tens."""
        x = float(np.log1p(z)) / self.step
        i = min(max(int(math.floor(x)), 1), self.nodes - 2)
        t = x - i
        g = self.g
        tm1, tp1, tm2 = t - 1.0, t + 1.0, t - 2.0
        lag = (-(t * tm1 * tm2) / 6.0 * g[i - 1] + (tp1 * tm1 * tm2) / 2.0 * g[i]
               - (tp1 * t * tm2) / 2.0 * g[i + 1] + (tp1 * t * tm1) / 6.0 * g[i + 2])
        return z * float(np.exp(lag))

    def __call__(self, z):
        """D_L (Mpc) at ``z`` (float64 array, every value in [0, z_max])."""
        x = np.log1p(z) / self.step
        i = np.clip(np.floor(x).astype(np.intp), 1, self.nodes - 2)
        t = x - i
        g = self.g
        tm1, tp1, tm2 = t - 1.0, t + 1.0, t - 2.0
        lag = (-(t * tm1 * tm2) / 6.0 * g[i - 1] + (tp1 * tm1 * tm2) / 2.0 * g[i]
               - (tp1 * t * tm2) / 2.0 * g[i + 1] + (tp1 * t * tm1) / 6.0 * g[i + 2])
        return z * np.exp(lag)


def resolve_cosmology(cosmology):
    """An astropy cosmology: None is Planck18, a string names one of
    astropy's realizations (e.g. "WMAP9"), a Cosmology instance is used as
    is."""
    from astropy import cosmology as ac

    if cosmology is None:
        return ac.Planck18
    if isinstance(cosmology, str):
        if cosmology in ac.realizations.available:
            return getattr(ac.realizations, cosmology)
        raise InputError(
            "cosmology",
            None,
            f"unknown cosmology {cosmology!r}; astropy has {', '.join(ac.realizations.available)}",
        )
    if isinstance(cosmology, ac.Cosmology):
        return cosmology
    raise InputError("cosmology", None, f"cosmology must be an astropy Cosmology or a name; got {type(cosmology).__name__}")


_tables = OrderedDict()
_lock = threading.Lock()


def table(cosmology):
    """The DistanceTable of an astropy cosmology, built at the first call
    (a few milliseconds) and kept for the process (the last
    16 cosmologies used).  Thread-safe: concurrent first calls build it
    once."""
    key = id(cosmology)
    with _lock:
        entry = _tables.get(key)
        if entry is not None and entry[0] is cosmology:
            _tables.move_to_end(key)
            return entry[1]
        tab = DistanceTable(cosmology)
        # Holding the cosmology keeps its id from being reused.
        _tables[key] = (cosmology, tab)
        while len(_tables) > _KEEP:
            _tables.popitem(last=False)
        return tab


def distance_one(z, cosmology=None):
    """``luminosity_distance`` of one redshift (a float), as a float: the
    same double, without the array bookkeeping."""
    cosmo = resolve_cosmology(cosmology)
    if 0.0 <= z <= Z_MAX:
        return table(cosmo).scalar(z)
    return float(luminosity_distance(np.array([z]), cosmo)[0])


def luminosity_distance(z, cosmology=None):
    """Luminosity distance in Mpc at redshifts ``z`` (any shape; float64
    array out).  ``cosmology``: an astropy Cosmology, a realization's name
    ("Planck18", "WMAP9", ...) or None for Planck18.  Redshifts in
    [0, Z_MAX] come from the cosmology's table (<= 1e-9 relative to
    astropy's own integration), others, and NaN, from astropy itself."""
    cosmo = resolve_cosmology(cosmology)
    z = np.asarray(z, dtype=np.float64)
    if z.size == 1 and 0.0 <= z.flat[0] <= Z_MAX:
        return np.full(z.shape, table(cosmo).scalar(float(z.flat[0])))
    inside = (z >= 0.0) & (z <= Z_MAX)
    if inside.all():
        return np.asarray(table(cosmo)(z), dtype=np.float64)
    from astropy import units as u

    out = np.empty(z.shape, dtype=np.float64)
    if inside.any():
        out[inside] = table(cosmo)(z[inside])
    rest = ~inside
    with np.errstate(all="ignore"):
        out[rest] = cosmo.luminosity_distance(z[rest]).to_value(u.Mpc)
    return out


def log_grid(cosmology=None, nodes=2000):
    """(ln z, ln D_L) on ``nodes`` redshifts spaced logarithmically over
    1e-9 <= z <= 1e4 (D_L in Mpc): the monotone table that maps a
    luminosity distance back to its redshift."""
    zs = np.geomspace(1e-9, 1e4, nodes)
    return np.log(zs), np.log(luminosity_distance(zs, cosmology))


def redshift_at_distance(distance, cosmology=None):
    """Redshift at which ``cosmology`` (default Planck18) gives luminosity
    distance ``distance`` (Mpc; any shape), by a cubic spline of ln z in
    ln D_L on 0 < z <= 1e4 followed by one Newton step on the spline's
    slope (about 1e-12 relative).  Distances beyond D_L(1e4) raise
    InputError."""
    from scipy.interpolate import CubicSpline

    d = np.asarray(distance, dtype=np.float64)
    cosmo = resolve_cosmology(cosmology)
    ln_z_nodes, ln_d = log_grid(cosmo, 1200)
    if not (np.isfinite(d).all() and (d > 0).all()):
        require(d.ravel(), "distance", np.isfinite(d.ravel()) & (d.ravel() > 0), "distances must be finite and positive")
    if (np.log(d) > ln_d[-1]).any() or (np.log(d) < ln_d[0]).any():
        raise InputError(
            "distance", None,
            f"distances must lie between {np.exp(ln_d[0]):.3g} and {np.exp(ln_d[-1]):.3g} Mpc "
            f"(redshifts 1e-9 to 1e4 in {getattr(cosmo, 'name', cosmo)})",
        )
    z_of_d = CubicSpline(ln_d, ln_z_nodes)
    d_of_z = CubicSpline(ln_z_nodes, ln_d)
    ln_z = z_of_d(np.log(d))
    # Newton on ln D(ln z) with the exact distance at the estimate.
    ln_z = ln_z - (np.log(luminosity_distance(np.exp(ln_z), cosmo)) - np.log(d)) / d_of_z(ln_z, 1)
    return np.exp(ln_z)

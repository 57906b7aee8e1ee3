"""Waterfalls: the SNR over a grid of any two binary or observation parameters.

Parameters an axis (or ``fixed``) can take, with their units:

=============  =====================================================  ==========
name           meaning                                                default
=============  =====================================================  ==========
``mass``       total mass M = m1 + m2, source frame, M_sun            1e6
``q``          mass ratio q = m2/m1 (q > 1: m2 the heavier body)      0.2
``redshift``   z; the luminosity distance from the cosmology          1.0
``distance``   luminosity distance D_L, Mpc; z from the cosmology     (from z)
``spin1``      aligned dimensionless spin of m1                       0.8
``spin2``      aligned dimensionless spin of m2                       0.8
``spin``       both spins, equal                                      (none)
``t_start``    band start, observer-frame years before merger         4.0
``t_end``      band end, years before merger (<= 0: through merger)   0.0
``tobs``       observation time T_obs, observer-frame years           (none)
=============  =====================================================  ==========

Observation time.  The observed stretch ends at ``t_end`` (fixed, default
0: the observation runs through merger and ringdown) and lasts T_obs
years, so the band starts at t_start = max(t_end, 0) + T_obs years before
merger.  With t_end <= 0, T_obs and t_start are the same number; with
t_end > 0 (a binary that merges after the observation ends) T_obs is the
length of the observed stretch of inspiral.

An axis is ``(name, low, high, n)`` or ``(name, low, high, n, scale)``
with scale "log" or "linear" (default: log for mass, redshift, distance,
t_start and tobs; linear otherwise), or ``(name, values)`` with explicit
values.  Aliases: "total_mass" for mass, "mass_ratio" for q, "z" for
redshift, "luminosity_distance" for distance, "observation_time" for tobs.
"""

from __future__ import annotations

from dataclasses import dataclass, field

import numpy as np

from . import _inputs as inp
from ._cosmology import redshift_at_distance, resolve_cosmology
from .core import DEFAULT_LENGTH
from . import _gauss
from .core import _method_record as core_method_record
from .core import binary_snr, noise_curve
from ._conventions import PHASE_NAMES, PHASES, check_phase, component_masses, convention_label
from .horizon import noise_label

__all__ = ["WaterfallGrid", "waterfall", "PARAMETERS", "redshift_at_distance"]

# name -> (axis label, default value, default scale, unit for Quantities)
PARAMETERS = {
    "mass": (r"total mass $M$, source frame [$M_\odot$]", 1e6, "log", "solMass"),
    "q": (r"mass ratio $q = m_2/m_1$", 0.2, "linear", ""),
    "redshift": (r"redshift $z$", 1.0, "log", ""),
    "distance": (r"luminosity distance $D_L$ [Mpc]", None, "log", "Mpc"),
    "spin1": (r"spin $\chi_1$", 0.8, "linear", ""),
    "spin2": (r"spin $\chi_2$", 0.8, "linear", ""),
    "spin": (r"spins $\chi_1 = \chi_2$", None, "linear", ""),
    "t_start": (r"$t_\mathrm{start}$, years before merger (observer frame)", 4.0, "log", "yr"),
    "t_end": (r"$t_\mathrm{end}$, years before merger (observer frame)", 0.0, "linear", "yr"),
    "tobs": (r"observation time $T_\mathrm{obs}$ [yr]", None, "log", "yr"),
}
ALIASES = {
    "total_mass": "mass",
    "mass_ratio": "q",
    "z": "redshift",
    "luminosity_distance": "distance",
    "observation_time": "tobs",
}
# Parameters that describe the same thing: at most one of each group may be
# given (on an axis or fixed).
_EXCLUSIVE = (("redshift", "distance"), ("spin", "spin1"), ("spin", "spin2"), ("t_start", "tobs"))
_SYMBOLS = {
    "mass": ("M", r"$M_\odot$"),
    "q": ("q", ""),
    "redshift": ("z", ""),
    "distance": (r"$D_L$", "Mpc"),
    "spin1": (r"$\chi_1$", ""),
    "spin2": (r"$\chi_2$", ""),
    "spin": (r"$\chi_1 = \chi_2$", ""),
    "t_start": (r"$t_\mathrm{start}$", "yr"),
    "t_end": (r"$t_\mathrm{end}$", "yr"),
    "tobs": (r"$T_\mathrm{obs}$", "yr"),
}


def _canonical(name, argument):
    if not isinstance(name, str):
        raise inp.InputError(argument, None, f"{argument}: parameter name must be a string; got {name!r}")
    key = ALIASES.get(name, name)
    if key not in PARAMETERS:
        names = ", ".join(sorted(PARAMETERS) + sorted(ALIASES))
        raise inp.InputError(argument, None, f"{argument}: unknown parameter {name!r}; use one of {names}")
    return key


@dataclass(frozen=True)
class Axis:
    """One axis of a waterfall: parameter ``name``, ``values`` and ``scale``."""

    name: str
    values: np.ndarray
    scale: str

    @property
    def label(self):
        return PARAMETERS[self.name][0]


def _axis(given, argument):
    if isinstance(given, Axis):
        return given
    if not isinstance(given, (tuple, list)) or len(given) not in (2, 4, 5):
        raise inp.InputError(
            argument, None,
            f"{argument} = {given!r}: give (name, low, high, n[, 'log'|'linear']) or (name, values)",
        )
    name = _canonical(given[0], argument)
    unit = PARAMETERS[name][3]
    if len(given) == 2:
        values = inp.as_float_array(given[1], argument, unit)
        if values.ndim != 1 or values.size < 2:
            raise inp.InputError(argument, None, f"{argument}: give at least two values")
        step = np.diff(values)
        if not ((step > 0).all() or (step < 0).all()):
            raise inp.InputError(argument, None, f"{argument}: values must be strictly monotonic")
        positive = (values > 0).all()
        scale = "log" if positive and PARAMETERS[name][2] == "log" else "linear"
        return Axis(name, np.ascontiguousarray(values, dtype=np.float64), scale)
    lo = float(inp.as_float_array(given[1], argument, unit))
    hi = float(inp.as_float_array(given[2], argument, unit))
    n = given[3]
    scale = given[4] if len(given) == 5 else PARAMETERS[name][2]
    if not isinstance(n, (int, np.integer)) or isinstance(n, bool) or n < 2:
        raise inp.InputError(argument, None, f"{argument}: number of points {n!r} must be an integer >= 2")
    if scale not in ("log", "linear"):
        raise inp.InputError(argument, None, f"{argument}: scale {scale!r} must be 'log' or 'linear'")
    if not (np.isfinite(lo) and np.isfinite(hi) and lo != hi):
        raise inp.InputError(argument, None, f"{argument}: need finite, distinct ends; got {lo!r}, {hi!r}")
    if scale == "log":
        if not (lo > 0 and hi > 0):
            raise inp.InputError(argument, None, f"{argument}: a log axis needs positive ends; got {lo!r}, {hi!r}")
        values = np.geomspace(lo, hi, int(n))
    else:
        values = np.linspace(lo, hi, int(n))
    return Axis(name, values, scale)


@dataclass(frozen=True)
class WaterfallGrid:
    """The SNR over a grid of two parameters (``waterfall``).

    The SNR is sky- and polarisation-averaged, and for ``inclination``
    "average" also inclination-averaged (``convention`` says which).

    Attributes
    ----------
    x, y : Axis
        The axes (``.name``, ``.values``, ``.scale``).
    snr : numpy.ndarray
        (ny, nx) SNR of ``phase`` ("all", "ins", "mrg" or "rd"), rows along
        y.
    snr_all, snr_ins, snr_mrg, snr_rd : numpy.ndarray
        (ny, nx) the SNR of every phase.
    outside : numpy.ndarray
        (ny, nx) bool: cells whose whole band lies outside the noise curve's
        frequency range (SNR 0 because the curve says nothing there, not
        because the signal is weak).
    inverted : numpy.ndarray
        (ny, nx) bool: cells with an empty band (t_start below t_end, or a
        start above the model's last frequency).
    uncalibrated : numpy.ndarray
        (ny, nx) bool: outside the model's calibration region (mass ratio
        above 18 or |spin| above 0.85).
    redshift, distance : numpy.ndarray
        (ny, nx) the values used (distance in Mpc).
    fixed : dict
        Every parameter not on an axis, with its value.
    noise_name : str
        The curve.
    provenance : dict
        str -> str: how the grid was made.
    p_det : numpy.ndarray or None
        (ny, nx) with ``threshold``: the fraction of sky positions,
        polarisations and inclinations whose SNR of the whole band exceeds
        ``threshold`` (``binary_snr(..., threshold=)``); else None.
    threshold : float or None
        The SNR threshold of ``p_det``.

    Examples
    --------
    >>> import phenomd
    >>> w = phenomd.waterfall(x=("mass", 1e4, 1e8, 3), y=("redshift", 1, 10, 2))
    >>> w.x.name, w.y.name, w.snr.shape
    ('mass', 'redshift', (2, 3))
    >>> w.convention
    'sky-, polarisation- and inclination-averaged'
    """

    x: Axis
    y: Axis
    snr: np.ndarray
    snr_all: np.ndarray
    snr_ins: np.ndarray
    snr_mrg: np.ndarray
    snr_rd: np.ndarray
    outside: np.ndarray
    inverted: np.ndarray
    uncalibrated: np.ndarray
    redshift: np.ndarray
    distance: np.ndarray
    phase: str
    inclination: object
    fixed: dict
    noise_name: str
    length: int  # grid points of method "trapezoid"; None under "gauss"
    provenance: dict = field(default_factory=dict)
    p_det: np.ndarray = None
    threshold: float = None
    method: str = "gauss"
    rtol: float = None  # the quadrature's tolerance; None under "trapezoid"

    @property
    def shape(self):
        return self.snr.shape

    @property
    def convention(self):
        return convention_label(self.inclination)

    def snr_label(self):
        """Colour-bar label: which SNR and its averaging convention."""
        what = "SNR" if self.phase == "all" else f"SNR, {PHASE_NAMES[self.phase]}"
        return f"{what} ({self.convention})"

    def title(self, number=lambda v: f"{v:.3g}", band=""):
        """The noise curve and the fixed parameters, for a figure title:
        numbers written by ``number``, a "band" start followed by ``band``."""
        parts = []
        for name, value in self.fixed.items():
            if name == "t_end" and value <= 0:
                parts.append("through merger")
                continue
            symbol, unit = _SYMBOLS[name]
            if isinstance(value, str):  # t_start = "band"
                parts.append(f"{symbol}: {value}{band}")
                continue
            parts.append(f"{symbol} = {number(value)}" + (f" {unit}" if unit else ""))
        return f"{self.noise_name}; " + ", ".join(parts)

    def columns(self):
        """The grid as flat table columns (name -> 1-D array, row-major over
        (y, x)): the two axes, the redshift and luminosity distance (Mpc)
        used, the four SNRs and the three flags."""
        X, Y = np.meshgrid(self.x.values, self.y.values)
        cols = {self.x.name: X.ravel(), self.y.name: Y.ravel()}
        for name, values in (("redshift", self.redshift), ("distance", self.distance)):
            if name not in cols:  # the one not on an axis, as used
                cols[name] = values.ravel()
        extra = {} if self.p_det is None else {"p_det": self.p_det.ravel()}
        return {
            **cols,
            **extra,
            "snr_all": self.snr_all.ravel(),
            "snr_ins": self.snr_ins.ravel(),
            "snr_mrg": self.snr_mrg.ravel(),
            "snr_rd": self.snr_rd.ravel(),
            "outside": self.outside.ravel(),
            "inverted": self.inverted.ravel(),
            "uncalibrated": self.uncalibrated.ravel(),
        }

    def draw(self, ax, **kwargs):
        """Draw onto a matplotlib Axes; see ``phenomd.plotting.draw_waterfall``
        (``draw_p_det`` where the grid has ``p_det``)."""
        from .plotting import draw_p_det, draw_waterfall

        if self.p_det is not None:
            return draw_p_det(ax, self, **kwargs)
        return draw_waterfall(ax, self, **kwargs)


def _parameters(xa, ya, fixed):
    """Fixed values by canonical name, checked against the axes."""
    on_axes = {xa.name, ya.name}
    if xa.name == ya.name:
        raise inp.InputError("y", None, f"x and y are both {xa.name!r}")
    given = {}
    for key, value in dict(fixed or {}).items():
        name = _canonical(key, "fixed")
        if name in on_axes:
            raise inp.InputError("fixed", None, f"fixed[{key!r}]: {name!r} is already an axis")
        if name in given:
            raise inp.InputError("fixed", None, f"fixed gives {name!r} twice (through an alias)")
        v = inp.as_float_array(value, f"fixed[{key!r}]", PARAMETERS[name][3])
        if v.ndim != 0:
            raise inp.InputError("fixed", None, f"fixed[{key!r}] must be a single number")
        given[name] = float(v)
    chosen = on_axes | set(given)
    for a, b in _EXCLUSIVE:
        if a in chosen and b in chosen:
            raise inp.InputError("fixed", None, f"{a!r} and {b!r} describe the same thing: give only one")
    values = {}
    for name in ("mass", "q", "redshift", "spin1", "spin2", "t_start", "t_end"):
        if name in on_axes:
            continue
        if name == "redshift" and "distance" in chosen:
            name = "distance"
        if name in ("spin1", "spin2") and "spin" in chosen:
            name = "spin"
        if name == "t_start" and "tobs" in chosen:
            name = "tobs"
        if name in on_axes or name in values:
            continue
        values[name] = given.get(name, PARAMETERS[name][1])
    return values


def waterfall(
    x=("mass", 1e2, 1e10, 49, "log"),
    y=("redshift", 1e-2, 20.0, 31, "log"),
    fixed=None,
    *,
    noise=None,
    phase="all",
    inclination="average",
    cosmology=None,
    length=None,
    threads=1,
    progress=None,
    library=None,
    fast=False,
    threshold=None,
    noise_fluctuations=False,
    method="gauss",
    rtol=None,
):
    """The SNR over a grid of two parameters.

    The module docstring gives the parameter names, units and the
    observation-time convention.  The whole grid is one ``binary_snr``
    batch.

    Parameters
    ----------
    x, y : tuple
        Axis specifications ``(name, low, high, points[, "log"|"linear"])``.
    fixed : dict, optional
        {name: value} for any parameter not on an axis (others take the
        defaults in the module docstring).
    noise : noise curve, str or callable, optional
        Default: ``LISA(years=4)``; a curve, a built-in curve's name or a
        callable, as for ``binary_snr``.
    phase : {"all", "ins", "mrg", "rd"}
        Which SNR ``.snr`` holds (all four are kept).
    inclination : {"average", "face-on", "edge-on"} or float
        "average" (default): the sky-, polarisation- and
        inclination-averaged SNR; or one angle in radians for the whole grid.
    cosmology, length, threads, progress, library, fast, method, rtol
        As for ``binary_snr`` (default: the converged SNRs of
        ``method="gauss"`` at rtol 1e-6; ``method="trapezoid"`` with
        ``length`` for the grid sums).
    threshold, noise_fluctuations
        As for ``binary_snr``: with a threshold the grid also holds
        ``p_det`` (and draws it).  ``fixed={"t_start": "band"}``: each
        cell's band starts where it enters the curve's range.

    Returns
    -------
    WaterfallGrid
        (ny, nx) SNRs of every phase, rows along y, with the cells' flags
        and ``provenance``.

    Raises
    ------
    InputError
        An unknown parameter or phase, a malformed axis, or a cell outside
        the core's ranges (named by its index in the grid flattened row by
        row, rows along y).

    Examples
    --------
    >>> import phenomd
    >>> w = phenomd.waterfall(x=("mass", 1e4, 1e8, 5), y=("redshift", 0.1, 10, 4))
    >>> w.snr.shape
    (4, 5)
    >>> print(f"highest SNR {w.snr.max():.4g}")
    highest SNR 6.178e+04
    """
    check_phase(phase)
    xa = _axis(x, "x")
    ya = _axis(y, "y")
    band = None
    if fixed is not None and isinstance(dict(fixed).get("t_start"), str):
        fixed = dict(fixed)
        band = fixed.pop("t_start")
        if "tobs" in {xa.name, ya.name} | {_canonical(k, "fixed") for k in fixed}:
            raise inp.InputError("fixed", None, "'t_start' and 'tobs' describe the same thing: give only one")
    fixed_values = _parameters(xa, ya, fixed)
    if band is not None:
        fixed_values["t_start"] = band
    cosmo = resolve_cosmology(cosmology)

    X, Y = np.meshgrid(xa.values, ya.values)  # (ny, nx): rows along y
    cells = {**{k: np.full(X.shape, v) for k, v in fixed_values.items() if not isinstance(v, str)}, xa.name: X,
             ya.name: Y}
    if "spin" in cells:
        cells["spin1"] = cells["spin2"] = cells["spin"]
    if "tobs" in cells:
        if not (cells["tobs"] > 0).all():
            raise inp.InputError("tobs", None, "observation times must be positive")
        cells["t_start"] = np.maximum(cells["t_end"], 0.0) + cells["tobs"]
    if "q" in cells:
        inp.check_positive(cells["q"].ravel(), "q", "mass ratios m2/m1")
    inp.check_positive(cells["mass"].ravel(), "mass", "total masses (source frame, solar masses)")
    if "distance" in cells:
        distance = cells["distance"].ravel()
        inp.check_positive(distance, "distance", "luminosity distances (Mpc)")
        redshift = redshift_at_distance(distance, cosmo)
    else:
        distance = None
        redshift = cells["redshift"].ravel()
    m1, m2 = component_masses(cells["mass"].ravel(), cells["q"].ravel())

    from ._provenance import provenance

    curve = noise_curve(noise)
    res = binary_snr(
        m1, m2, cells["spin1"].ravel(), cells["spin2"].ravel(), distance, redshift,
        band if band is not None else cells["t_start"].ravel(),
        cells["t_end"].ravel(), length, noise=curve, inclination=inclination, cosmology=cosmo, threads=threads,
        progress=progress, library=library, fast=fast, threshold=threshold, noise_fluctuations=noise_fluctuations,
        method=method, rtol=rtol,
    )
    method, length, rtol = _gauss.resolve(method, length, rtol, DEFAULT_LENGTH)
    shape = X.shape
    snrs = {name: np.asarray(getattr(res, key)).reshape(shape) for name, key in PHASES.items()}
    inverted = np.asarray(res.inverted, dtype=bool).reshape(shape)
    n_out = np.asarray(res.n_outside).reshape(shape)
    if method == "trapezoid":
        # The library gives every grid point a frequency (the sentinel 1e-30
        # for an empty band), so a band entirely outside the curve's range
        # is one whose every point the curve counted as outside.
        outside = (n_out >= int(length)) & ~inverted
    else:
        # n_outside counts the band's two ends: both outside and nothing
        # integrated (a band straddling the whole range has SNR > 0).
        outside = (n_out == 2) & (snrs["all"] == 0) & ~inverted
    uncalibrated = np.asarray(res.uncalibrated, dtype=bool).reshape(shape)

    record = provenance(
        library=res._record["library"], fast=fast, noise=curve, inclination=inclination, cosmology=cosmo, length=length,
        **core_method_record(method, rtol), phase=phase,
        x=f"{xa.name} {xa.scale} {xa.values[0]:.6g}..{xa.values[-1]:.6g} ({xa.values.size})",
        y=f"{ya.name} {ya.scale} {ya.values[0]:.6g}..{ya.values[-1]:.6g} ({ya.values.size})",
        fixed=", ".join(f"{k}={v}" if isinstance(v, str) else f"{k}={v:.6g}" for k, v in fixed_values.items()),
        snr_convention=convention_label(inclination),
        **{k: v for k, v in (res._record or {}).items() if k.startswith("p_det") or k in ("threshold",
                                                                                          "noise_fluctuations",
                                                                                          "members")},
    )
    return WaterfallGrid(
        x=xa,
        y=ya,
        snr=snrs[phase],
        snr_all=snrs["all"],
        snr_ins=snrs["ins"],
        snr_mrg=snrs["mrg"],
        snr_rd=snrs["rd"],
        outside=outside,
        inverted=inverted,
        uncalibrated=uncalibrated,
        redshift=np.asarray(res.redshift).reshape(shape),
        distance=np.asarray(res.distance).reshape(shape),
        phase=phase,
        inclination=inclination,
        fixed=fixed_values,
        noise_name=noise_label(curve),
        length=None if length is None else int(length),
        provenance=record,
        p_det=None if res.p_det is None else np.asarray(res.p_det).reshape(shape),
        threshold=None if threshold is None else float(threshold),
        method=method,
        rtol=rtol,
    )

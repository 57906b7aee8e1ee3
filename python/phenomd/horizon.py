"""Detection horizons: the redshift at which a binary's SNR falls to a threshold.

For each source-frame total mass M the horizon z_h(M) solves

    rho(M, q, chi_1, chi_2, z) = rho_threshold,

where rho is the SNR of ``binary_snr`` (of the whole band or of one phase)
with the luminosity distance taken from the cosmology at z.  All masses
are solved together: every step of the search is one ``binary_snr`` batch.

Search.  rho is first evaluated on a logarithmic grid of redshifts
z_min ... z_max (``per_decade`` points per decade), every mass at every
grid redshift in one batch.  For each mass the horizon is the first
crossing from low z: the first grid point at which the SNR is below the
threshold after one at which it is at or above it.  That interval is then
refined on ln z by regula falsi on ln rho with the Illinois modification
(Dowell & Jarratt 1971, BIT 11, 168), each step falling back to bisection
when the bracket has not halved over two steps, until the bracket is
narrower than ``rtol`` in ln z.  The returned redshift lies inside the
final bracket, so it is within ``rtol`` (relative) of a redshift at which
the SNR crosses the threshold.  Where the SNR is continuous in z it there
equals the threshold to |d ln rho / d ln z| * rtol.  It can also jump, by
about one grid interval's share: when a point of the binary's frequency
grid crosses the edge of a noise curve's range (h_n infinite beyond it)
its contribution switches on or off, and the SNR of one phase jumps when
the midpoint of a grid interval crosses the phase's boundary frequency
(the module gives each interval to the phase of its midpoint; the grid
and the boundaries scale differently with 1 + z).  No redshift then has the SNR
equal to the threshold; the horizon is the jump, bracketed to ``rtol``
all the same.

Why "first crossing from low z" and not simply "where rho = threshold".
At fixed source-frame mass and fixed observer-frame ``t_start`` the band
moves with z: the observed frequencies scale as 1/(1+z), so with
redshift a band can move into a noise curve's range (the SNR then rises
with z before the distance wins) or out of it.  The SNR is therefore not
monotone in z in general and there may be several crossings; the first
downward crossing is the far end of the nearest redshift interval in
which the binary is detectable.  Where that interval does not start at
z_min (SNR below the threshold at z_min, above it further out),
``rising`` is True for that mass.  A detectable interval narrower than
the grid spacing can be missed; raise ``per_decade`` to look closer.

Bounds kept out of the values.  Where the SNR stays below the threshold
at every grid redshift, ``reached`` = "below": the horizon lies below
z_min; where it is still at or above the threshold at z_max, ``reached`` =
"above": it lies beyond z_max.  There ``redshift`` and
``luminosity_distance`` are NaN (no horizon was found) and
``redshift_bound`` holds the bound (z_min or z_max); elsewhere
``reached`` = "ok", ``redshift_bound`` is NaN and ``redshift`` the
horizon.  A table of horizons then never shows a search bound as if it
were a horizon.
"""

from __future__ import annotations

from dataclasses import dataclass, field

import numpy as np

from . import _inputs as inp
from ._conventions import PHASES, check_phase, component_masses, convention_label
from ._cosmology import luminosity_distance, resolve_cosmology
from . import core
from . import _gauss
from .core import DEFAULT_LENGTH, binary_snr

__all__ = ["HorizonResult", "horizon", "PHASES", "component_masses", "convention_label", "noise_label"]

@dataclass(frozen=True)
class HorizonResult:
    """Horizons of n binaries, one per total mass (``horizon``).

    The SNR is the sky- and polarisation-averaged SNR for the chosen
    inclination convention ("average": also averaged over inclination).

    Attributes
    ----------
    mass : numpy.ndarray
        (n,) source-frame total masses, M_sun.
    mass_ratio, spin1, spin2 : numpy.ndarray
        (n,) the values used.
    redshift : numpy.ndarray
        (n,) the horizon z_h; NaN where ``reached`` is not "ok".
    luminosity_distance : numpy.ndarray
        (n,) D_L(z_h) in Mpc from ``cosmology``; NaN where ``redshift`` is.
    reached : numpy.ndarray
        (n,) str: "ok" where the threshold is crossed between z_min and
        z_max, "below" where the SNR is below it at every searched redshift
        (the horizon lies below z_min), "above" where it is still at or
        above it at z_max (the horizon lies beyond z_max).
    redshift_bound : numpy.ndarray
        (n,) the bound the horizon lies beyond: z_max where ``reached`` is
        "above", z_min where it is "below", NaN where it is "ok".
    rising : numpy.ndarray
        (n,) bool: the SNR at z_min is below the threshold but reaches it
        further out (the horizon is then the far end of that interval).
    z_low, z_high : numpy.ndarray
        (n,) the final bracket of the search (the bound where ``reached`` is
        not "ok").
    snr_threshold, phase, inclination
        What was solved for.
    noise_name : str
        The curve.
    evaluations : int
        The number of SNR batches the search took.
    uncalibrated : numpy.ndarray
        (n,) bool: outside the model's calibration region (mass ratio above
        18 or |spin| above 0.85).
    cosmology : astropy Cosmology
        The cosmology of D_L.
    provenance : dict
        str -> str: how it was made.

    Examples
    --------
    >>> import phenomd
    >>> h = phenomd.horizon(1e7, snr=10)
    >>> h.reached.tolist(), bool(h.z_low[0] <= h.redshift[0] <= h.z_high[0])
    (['ok'], True)
    >>> list(h.columns())[:3]
    ['total_mass', 'mass_ratio', 'spin1']
    """

    mass: np.ndarray
    mass_ratio: np.ndarray
    spin1: np.ndarray
    spin2: np.ndarray
    redshift: np.ndarray
    luminosity_distance: np.ndarray
    reached: np.ndarray
    rising: np.ndarray
    z_low: np.ndarray
    z_high: np.ndarray
    snr_threshold: float
    phase: str
    inclination: object
    noise_name: str
    evaluations: int
    uncalibrated: np.ndarray = None
    cosmology: object = None
    provenance: dict = field(default_factory=dict)
    redshift_bound: np.ndarray = None

    def __len__(self):
        return self.mass.shape[0]

    @property
    def ok(self):
        """(n,) bool: the threshold is crossed inside [z_min, z_max]."""
        return self.reached == "ok"

    @property
    def convention(self):
        return convention_label(self.inclination)

    def columns(self):
        """The result as table columns (name -> 1-D array)."""
        return {
            "total_mass": self.mass,
            "mass_ratio": self.mass_ratio,
            "spin1": self.spin1,
            "spin2": self.spin2,
            "redshift": self.redshift,
            "luminosity_distance": self.luminosity_distance,
            "reached": self.reached,
            "redshift_bound": self.redshift_bound,
            "rising": self.rising,
            "uncalibrated": self.uncalibrated,
            "z_low": self.z_low,
            "z_high": self.z_high,
        }


def noise_label(curve):
    """A short name for a noise curve in a figure: the built-in curve's name
    with its foreground's observation time, a file curve's name, else its
    repr."""
    name = getattr(curve, "name", None)
    if not isinstance(name, str) or not name:
        return repr(curve)
    if hasattr(curve, "years"):
        years = curve.years
        extra = [f"{years:g} yr foreground" if years is not None else "no foreground"]
        if getattr(curve, "caveat", None):
            extra[0] += " uncertain ×3"
        kind = getattr(curve, "response_kind", None)
        if kind not in (None, "numerical"):
            extra.append(f"{kind} response")
        return f"{name} ({', '.join(extra)})"
    return name


def _positive_scalar(value, name, what):
    try:
        x = float(value)
    except (TypeError, ValueError):
        raise inp.InputError(name, None, f"{name} = {value!r}: {what} must be a number") from None
    if not (np.isfinite(x) and x > 0):
        raise inp.InputError(name, None, f"{name} = {value!r}: {what} must be finite and positive")
    return x


def _first_crossings(g, zs, f, rtol, max_iterations):
    """The first downward crossing of zero from low z, per row (module
    docstring): ``g`` (n, nz) holds ln rho - ln threshold on the grid
    ``zs``; ``f(index, z)`` evaluates it for the rows ``index`` at
    redshifts z (arrays of one length).  Regula falsi on ln z with the
    Illinois modification and a bisection fallback, to ``rtol`` in ln z or
    ``max_iterations`` steps.  Returns (z, z_low, z_high, reached, rising),
    each (n,)."""
    n, nz = g.shape
    z_min, z_max = zs[0], zs[-1]
    above = g >= 0.0
    reached = np.full(n, "ok", dtype="<U5")
    rising = np.zeros(n, dtype=bool)
    z_out = np.empty(n)
    z_lo = np.empty(n)
    z_hi = np.empty(n)

    never = ~above.any(axis=1)
    reached[never] = "below"
    z_out[never] = z_lo[never] = z_hi[never] = z_min

    first_up = np.argmax(above, axis=1)  # first grid point at or above the threshold
    cols = np.arange(nz)
    after = ~above & (cols[None, :] > first_up[:, None])
    has_down = after.any(axis=1) & ~never
    always = ~never & ~has_down
    reached[always] = "above"
    z_out[always] = z_lo[always] = z_hi[always] = z_max
    rising[~never] = first_up[~never] > 0

    idx = np.flatnonzero(has_down)
    k = np.argmax(after[idx], axis=1)
    a = np.log(zs[k - 1])  # ln z where rho >= threshold
    b = np.log(zs[k])  # ln z where rho < threshold
    fa = g[idx, k - 1]
    fb = g[idx, k]
    ga, gb = fa.copy(), fb.copy()  # unmodified values, for the final estimate
    side = np.zeros(idx.size, dtype=np.int8)  # which end the last step replaced: +1 a, -1 b
    width_1 = np.full(idx.size, np.inf)  # bracket width one step ago
    width_2 = np.full(idx.size, np.inf)  # and two steps ago
    active = np.ones(idx.size, dtype=bool)
    for _ in range(max_iterations):
        active &= (b - a) > rtol
        if not active.any():
            break
        j = np.flatnonzero(active)
        aj, bj, faj, fbj = a[j], b[j], fa[j], fb[j]
        fb_finite = np.where(np.isfinite(fbj), fbj, -1e3)  # rho = 0 at b: treat as far below
        with np.errstate(invalid="ignore", divide="ignore"):
            x = bj - fb_finite * (bj - aj) / (fb_finite - faj)
        width = bj - aj
        slow = ~(width <= 0.5 * width_2[j])
        bisect = slow | ~np.isfinite(x)
        # Keep regula falsi points off the ends: a step that does not move
        # the bracket would make no progress.
        margin = 1e-3 * width
        x = np.where(bisect, 0.5 * (aj + bj), np.clip(x, aj + margin, bj - margin))
        fx = f(idx[j], np.exp(x))
        up = fx >= 0.0
        width_2[j] = width_1[j]
        width_1[j] = width
        # Illinois: when the same end is kept twice, halve its function value.
        keep_b = up & (side[j] == 1)
        keep_a = ~up & (side[j] == -1)
        fb[j[keep_b]] *= 0.5
        fa[j[keep_a]] *= 0.5
        a[j[up]], fa[j[up]], ga[j[up]] = x[up], fx[up], fx[up]
        b[j[~up]], fb[j[~up]], gb[j[~up]] = x[~up], fx[~up], fx[~up]
        side[j] = np.where(up, 1, -1)
    # Final point: the regula falsi estimate inside the last bracket.
    with np.errstate(invalid="ignore", divide="ignore"):
        gb_finite = np.where(np.isfinite(gb), gb, -1e3)
        x = b - gb_finite * (b - a) / (gb_finite - ga)
    x = np.where(np.isfinite(x), np.clip(x, a, b), 0.5 * (a + b))
    z_out[idx] = np.exp(x)
    z_lo[idx] = np.exp(a)
    z_hi[idx] = np.exp(b)
    return z_out, z_lo, z_hi, reached, rising


def horizon(
    masses,
    mass_ratio=1.0,
    spin1=0.0,
    spin2=0.0,
    *,
    snr=10.0,
    noise=None,
    inclination="average",
    phase="all",
    t_start=4.0,
    t_end=0.0,
    cosmology=None,
    length=None,
    fast=False,
    threads=1,
    library=None,
    z_min=1e-4,
    z_max=100.0,
    per_decade=4,
    rtol=1e-5,
    max_iterations=60,
    p_det=None,
    noise_fluctuations=False,
    method="gauss",
    snr_rtol=None,
):
    """Redshift and luminosity distance at which each binary's SNR equals ``snr``.

    The search (module docstring) covers ``z_min`` <= z <= ``z_max`` with
    ``per_decade`` grid points per decade and refines to ``rtol`` in ln z.
    Where the threshold is never reached or always exceeded, ``redshift``
    is NaN, ``reached`` says which and ``redshift_bound`` holds the bound.

    Parameters
    ----------
    masses : float or array_like
        Source-frame total masses M, solar masses.
    mass_ratio : float or array_like
        q = m2/m1 (q > 1 accepted: m2 the heavier, see
        ``component_masses``); a scalar or one per mass.
    spin1, spin2 : float or array_like
        Aligned spins of m1 and m2, a scalar or one per mass.
    snr : float
        The SNR threshold (with ``p_det``: the detection threshold on the
        SNR at the source's own orientation).
    noise : noise curve, str or callable, optional
        Default: ``LISA(years=4)``; a curve, a built-in curve's name or a
        callable, as for ``binary_snr``.
    inclination : {"average", "face-on", "edge-on"} or float or array_like
        "average" (default): the sky-, polarisation- and
        inclination-averaged SNR; or as for ``binary_snr``.
    phase : {"all", "ins", "mrg", "rd"}
        Whose SNR: the whole band (default), inspiral, merger or ringdown.
    t_start, t_end : float or array_like
        The band, observer-frame years before merger (``t_end`` <= 0:
        through merger and ringdown); ``t_start="band"``: from where each
        binary, at each redshift searched, enters the curve's range (as
        ``binary_snr``).
    cosmology : astropy Cosmology, str or None
        Gives D_L(z); None is Planck18.
    length, fast, threads, library
        As for ``binary_snr``.
    method, snr_rtol : optional
        ``binary_snr``'s ``method`` and ``rtol``: by default the converged
        SNR of "gauss" at 1e-6 (``snr_rtol``); "trapezoid" with ``length``
        for the grid sum.
    z_min, z_max : float
        The redshifts searched (default 1e-4 to 100; the cosmology's
        distance table reaches z = 1000, the largest accepted redshift).
    per_decade : int
        Coarse grid points per decade of z.
    rtol : float
        Tolerance in ln z (1e-5: the redshift is good to 1e-5 relative).
    max_iterations : int
        Bound on the refinement steps: the bisection fallback halves the
        bracket at least every second step, so 60 reach 1e-5 from any grid
        interval; the final bracket is returned as ``z_low``, ``z_high``
        whatever ``rtol`` asked.
    p_det : float or None
        In (0, 1): the horizon is the redshift at which a fraction p_det of
        sky positions, polarisations and inclinations has SNR above
        ``snr``, i.e. where the averaged SNR equals
        ``required_snr(p_det, snr, noise, noise_fluctuations)`` (needs the
        averaged SNR of the whole band and a curve whose geometry is known,
        see ``phenomd.detection``); None: where the averaged SNR equals
        ``snr``.
    noise_fluctuations : bool
        With ``p_det``: as for ``detection_probability``.

    Returns
    -------
    HorizonResult
        Per mass: the horizon redshift and distance (NaN beyond the
        bounds searched), ``reached``, ``redshift_bound``, ``rising``, the
        final bracket and flags, and ``provenance``.

    Raises
    ------
    InputError
        A threshold, bound or tolerance that is not finite and positive,
        ``z_max`` <= ``z_min``, an unknown phase, or a binary outside the
        core's ranges (naming the mass's index).

    Examples
    --------
    >>> import phenomd
    >>> h = phenomd.horizon([1e6, 1e7], snr=10)
    >>> h.reached.tolist()
    ['ok', 'ok']
    >>> print(", ".join(f"z = {z:.4g}" for z in h.redshift))
    z = 73.73, z = 20.46
    """
    key = check_phase(phase)
    threshold = _positive_scalar(snr, "snr", "the SNR threshold")
    curve = None if noise is None else noise
    detection = None
    if p_det is not None:
        from . import noise as noise_module
        from .detection import check_request, describe, required_snr

        curve = noise_module.LISA(4) if noise is None else noise
        check_request(threshold, noise_fluctuations, inclination)
        if phase != "all":
            raise inp.InputError("phase", None, f"phase = {phase!r}: p_det is that of the whole band (phase 'all')")
        if hasattr(curve, "member_names") and getattr(curve, "sites", None) is None:
            raise inp.InputError("p_det", None, f"network {curve.name}: a p_det horizon needs the network's "
                                                "geometry (ground members CURVE@SITE); for detectors on different "
                                                "orbits p_det depends on each member's SNR, not on the network's "
                                                "alone (even in the independent-members approximation)")
        averaged = required_snr(p_det, threshold, curve, noise_fluctuations)
        detection = dict(p_det=f"{float(p_det):g} of sky positions, polarisations and inclinations with SNR > "
                               f"{threshold:g}", p_det_detector=describe(curve),
                         noise_fluctuations="included" if noise_fluctuations else "not included",
                         required_averaged_snr=f"{averaged:.10g}")
        threshold = float(averaged)
    z_min = _positive_scalar(z_min, "z_min", "the lowest redshift searched")
    z_max = _positive_scalar(z_max, "z_max", "the highest redshift searched")
    if not z_max > z_min:
        raise inp.InputError("z_max", None, f"z_max = {z_max!r} must exceed z_min = {z_min!r}")
    if z_max > core.REDSHIFT_RANGE[1]:
        raise inp.InputError("z_max", None, f"z_max = {z_max:g}: redshifts are accepted up to "
                                            f"{core.REDSHIFT_RANGE[1]:g}")
    rtol = _positive_scalar(rtol, "rtol", "the tolerance in ln z")
    per_decade = int(_positive_scalar(per_decade, "per_decade", "grid points per decade"))

    arrays = {
        "masses": inp.as_float_array(masses, "masses", "solMass"),
        "mass_ratio": inp.as_float_array(mass_ratio, "mass_ratio", ""),
        "spin1": inp.as_float_array(spin1, "spin1", ""),
        "spin2": inp.as_float_array(spin2, "spin2", ""),
        "t_start": inp.as_float_array(1.0 if isinstance(t_start, str) else t_start, "t_start", "yr"),
        "t_end": inp.as_float_array(t_end, "t_end", "yr"),
    }
    n = inp.broadcast_length(arrays)
    inp.check_positive(arrays["masses"], "masses", "total masses (source frame, solar masses)")
    inp.check_positive(arrays["mass_ratio"], "mass_ratio", "mass ratios m2/m1")
    full = {k: np.ascontiguousarray(np.broadcast_to(v, (n,)), dtype=np.float64) for k, v in arrays.items()}
    m1, m2 = component_masses(full["masses"], full["mass_ratio"])
    cosmo = resolve_cosmology(cosmology)

    from ._library import load_library
    from ._provenance import provenance

    curve = core.noise_curve(noise)
    threads = inp.as_threads(threads)
    band = isinstance(t_start, str)
    if band:
        from ._band import band_start

        band_start(t_start, m1, m2, z_min, curve, library)  # checks the word and the curve

    # Inputs checked once per mass (a two-point grid), so that an error
    # names the mass's index rather than a place in the batches below.
    method, length, snr_rtol = _gauss.resolve(method, length, snr_rtol, DEFAULT_LENGTH)
    binary_snr(m1, m2, full["spin1"], full["spin2"], None, z_min, t_start if band else full["t_start"],
               full["t_end"], 2,
               inclination=inclination, noise=curve, cosmology=cosmo, library=library, fast=fast,
               method="trapezoid")
    k, scale = core._factor(inclination, n)  # a name, one angle or one per mass (units kept: see check_radians)
    lib = load_library(library, fast=fast)
    counter = [0]

    # Coarse grid: every mass at every grid redshift, one batch, prepared
    # and checked (every redshift and its distance) as binary_snr does.
    decades = np.log10(z_max / z_min)
    zs = np.geomspace(z_min, z_max, max(2, int(np.ceil(decades * per_decade)) + 1))
    nz = zs.size
    every = np.repeat(np.arange(n), nz)
    starts = full["t_start"][every]
    if band:
        starts = band_start(t_start, m1[every], m2[every], np.tile(zs, n), curve, library)
    coarse = core._prepare(m1[every], m2[every], full["spin1"][every], full["spin2"][every], None, np.tile(zs, n),
                           starts, full["t_end"][every], DEFAULT_LENGTH if length is None else length, cosmo)
    base = np.stack([m1, m2, full["spin1"], full["spin2"], np.zeros(n), np.zeros(n), full["t_start"],
                     full["t_end"]])

    def ln_snr(batch, index):
        """ln rho - ln threshold of a prepared batch of the masses ``index``,
        and the batch's result."""
        res = core._batch_snr(batch, curve, k[index], scale, lib, library, fast, threads, method=method,
                              rtol=snr_rtol)
        counter[0] += 1
        with np.errstate(divide="ignore"):
            return np.log(getattr(res, key)) - np.log(threshold), res

    def refine(index, z):
        # Redshifts inside [z_min, z_max], whose distances the coarse grid's
        # checks bound: only z and D_L(z) change from the checked rows.
        values = base.take(index, axis=1)  # C-contiguous (8, m), as _prepare makes it
        values[5] = z
        values[4] = luminosity_distance(z, cosmo)
        if band:  # the band's start moves with the redshifted mass
            values[6] = band_start(t_start, values[0], values[1], z, curve, library)
        return ln_snr(core._Batch(values=values, n=index.size, length=coarse.length), index)[0]

    g, res = ln_snr(coarse, every)
    g = g.reshape(n, nz)
    uncalibrated = np.asarray(res.uncalibrated, dtype=bool).reshape(n, nz)[:, 0]
    z_out, z_lo, z_hi, reached, rising = _first_crossings(g, zs, refine, rtol, max_iterations)
    found = reached == "ok"
    bound = np.where(found, np.nan, z_out)
    z_out = np.where(found, z_out, np.nan)
    distance = np.full(n, np.nan)
    distance[found] = luminosity_distance(z_out[found], cosmo)
    lib = load_library(library, fast=fast)
    record = provenance(
        library=lib, fast=fast, noise=curve, inclination=inclination, cosmology=cosmo, length=length,
        method=core._method_record(method, snr_rtol)["method"],
        **({"snr_rtol": repr(float(snr_rtol))} if snr_rtol is not None else {}),
        snr_threshold=threshold, phase=phase, z_min=z_min, z_max=z_max, rtol=rtol,
        snr_convention=convention_label(inclination),
        **({"t_start": f"band: from the noise curve's f_min = {curve.range[0]:g} Hz"} if band else {}),
        **(detection or {}),
    )
    return HorizonResult(
        mass=full["masses"],
        mass_ratio=full["mass_ratio"],
        spin1=full["spin1"],
        spin2=full["spin2"],
        redshift=z_out,
        luminosity_distance=distance,
        reached=reached,
        rising=rising,
        z_low=z_lo,
        z_high=z_hi,
        snr_threshold=threshold,
        phase=phase,
        inclination=inclination,
        noise_name=noise_label(curve),
        evaluations=counter[0],
        uncalibrated=uncalibrated,
        cosmology=cosmo,
        provenance=record,
        redshift_bound=bound,
    )

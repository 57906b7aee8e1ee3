"""Detection probability: the fraction of sky positions, polarisations and
inclinations for which a binary's SNR exceeds a threshold, given its
averaged SNR.

Convention.  The package's SNR is the sky-, polarisation- and
inclination-averaged one, rho_avg^2 = (16/5) int |h~|^2 / S_n df with S_n
the averaged PSD summed over the detector's independent channels
(docs/conventions.md): rho_avg^2 = <rho(Omega)^2>.  For a source at angles
Omega the SNR is rho(Omega) = rho_max w(Omega), w in [0, 1] the projection
factor (``phenomd._antenna``), and rho_max = rho_avg / sqrt(<w^2>), so

    p_det(rho_avg) = P(w > w_th),   w_th = (threshold / rho_avg) sqrt(<w^2>).

<w^2> = 4/25 for one L-shaped interferometer (<Theta^2> = 64/25, max Theta
= 4: Finn & Chernoff 1993), and also for the 60-degree triangle and for
LISA's two channels (both coplanar, both reaching their largest response
for a face-on source overhead); rho_avg / rho_max = 2/5 there.

For the space detectors the geometry is the long-wavelength one (LISA's
two channels with the constellation fixed while the signal lasts): right
for signals whose SNR accrues below the transfer frequency c/(2 pi L)
(19 mHz for LISA, 16 mHz for Taiji, 0.28 Hz for TianQin) and that last
days to weeks; a source observed over a year sees the orbit average the
pattern, which narrows the distribution of w.

With ``noise_fluctuations=True`` the observed SNR^2 is drawn from the
non-central chi^2 distribution with 2 N degrees of freedom (two quadratures
per independent channel, N channels) and non-centrality rho(Omega)^2
(Gerosa & Bellotti 2024, "Quick recipes for gravitational-wave selection
effects", arXiv:2404.16930, whose closed form is the Marcum Q function
Q_N; Essick 2023, "Semianalytic sensitivity estimates for catalogs of
gravitational-wave transients"), so p_det = < P(chi'^2_{2N}(rho(Omega)^2) > threshold^2) >_Omega,
which is above zero even for rho_avg = 0 (the false-alarm probability).
"""

from __future__ import annotations

import functools
import math
import threading
from pathlib import Path

import numpy as np

from . import _antenna
from ._inputs import InputError, as_float_array, require, within

__all__ = ["Projection", "attach_p_det", "check_request", "describe", "detection_probability", "ground_network",
           "projection", "required_snr"]

_DATA = Path(__file__).resolve().parent / "data" / "projection.txt"

#: Curve names (as ``noise.curve`` knows them) and the geometry each has.
CURVE_GEOMETRY = {
    "aligo": "L",
    "et": "triangle",
    "lisa": "lisa",
    "lisa-scird": "lisa",
    "taiji": "lisa",
    "tianqin": "lisa",
}
GEOMETRY_ALIASES = {"l": "L", "l-shaped": "L", "triangle": "triangle", "lisa-channels": "lisa"}
_MEMBERS = {"L": 1, "triangle": 3, "lisa": 2}
_DESCRIPTION = {
    "L": "one L-shaped interferometer (90-degree arms)",
    "triangle": "three 60-degree interferometers on an equilateral triangle, independent equal noise (ET-like)",
    "lisa": "LISA-like two independent low-frequency channels, constellation fixed during the signal "
            "(long-wavelength limit)",
}


class Projection:
    """The distribution of the projection factor w = rho(Omega)/rho_max of
    one detector geometry, and the detection probability it implies.

    Attributes: ``name``; ``channels`` (independent channels or members,
    N); ``mean_w2`` (<w^2> = (rho_avg / rho_max)^2); ``w`` and ``sf`` (the
    survival function P(w' > w) on a grid, interpolated linearly);
    ``description``.
    """

    def __init__(self, name, channels, mean_w2, w, sf, description=""):
        self.name = name
        self.channels = int(channels)
        self.mean_w2 = float(mean_w2)
        self.w = np.ascontiguousarray(w, dtype=np.float64)
        self.sf = np.ascontiguousarray(sf, dtype=np.float64)
        self.description = description
        self._noise_cache = {}
        self._lock = threading.Lock()

    def __repr__(self):
        return f"Projection({self.name!r}, channels={self.channels}, <w^2>={self.mean_w2:.6g})"

    def survival(self, w):
        """P(w' > w): the fraction of orientations whose SNR exceeds w rho_max."""
        w = np.asarray(w, dtype=np.float64)
        return np.interp(w, self.w, self.sf, left=1.0, right=0.0)

    def p_det(self, snr, threshold, noise_fluctuations=False):
        """Detection probability for averaged SNRs ``snr`` (see
        ``detection_probability``; inputs checked there)."""
        snr = np.asarray(snr, dtype=np.float64)
        threshold = np.asarray(threshold, dtype=np.float64)
        if not noise_fluctuations:
            return self._p_noiseless(snr, threshold)
        out = np.empty(np.broadcast(snr, threshold).shape)
        snr_b, thr_b = np.broadcast_arrays(snr, threshold)
        for thr in np.unique(thr_b):
            sel = thr_b == thr
            out[sel] = self._p_noisy(snr_b[sel], float(thr))
        return out

    def snr_for(self, p, threshold, noise_fluctuations=False):
        """The averaged SNR at which the detection probability is ``p``
        (0 < p < 1; inputs checked by ``required_snr``): the inverse of
        ``p_det`` in its first argument, e.g. for a horizon defined by the
        fraction of orientations detected."""
        p = np.asarray(p, dtype=np.float64)
        # Noiseless: rho_avg = threshold sqrt(<w^2>) / w_p, P(w > w_p) = p.
        keep = np.r_[True, np.diff(self.sf) < 0]  # strictly decreasing part
        w_p = np.interp(p, self.sf[keep][::-1], self.w[keep][::-1])
        rho = threshold * math.sqrt(self.mean_w2) / w_p
        if not noise_fluctuations:
            return rho
        from scipy.optimize import brentq

        ln_rho, spline, _ = self._noise_table(float(threshold))
        out = np.empty(p.shape)
        for i, (pi, guess) in enumerate(zip(p.ravel(), rho.ravel())):
            f = lambda x: float(self._p_noisy(np.array([math.exp(x)]), float(threshold))[0]) - pi  # noqa: E731
            lo, hi = math.log(guess) - 1.0, math.log(guess) + 1.0
            while f(lo) > 0:
                lo -= 1.0
            while f(hi) < 0:
                hi += 1.0
            out.flat[i] = math.exp(brentq(f, lo, hi, xtol=1e-12))
        return out

    def _p_noiseless(self, snr, threshold):
        with np.errstate(divide="ignore", invalid="ignore"):
            w_th = np.where(snr > 0, threshold / snr, np.inf) * math.sqrt(self.mean_w2)
        return np.interp(w_th, self.w, self.sf, left=1.0, right=0.0)

    # Observed SNR^2 ~ ncx2(2N, rho^2).  With T = rho_max w the true SNR and
    # g(t) = P(chi'^2_{2N}(t^2) > threshold^2), increasing in t,
    #   p = E[g(T)] = g(0) + int_0^inf g'(t) P(T > t) dt
    #     = g(0) + sum_j [g(t_j+1) - g(t_j)] S(t_j+1/2 / rho_max),
    # a Stieltjes sum on a fine t grid (the kernel g' does not depend on
    # rho).  It is tabulated on a grid in ln rho_avg and read back by a
    # cubic spline; above the grid the noise no longer matters (rho_max >
    # 1e4 threshold) and the noiseless value is used.
    _T_STEP = 0.005
    _PER_DECADE = 400
    _DECADES = (-3.0, 4.0)

    def _noise_table(self, threshold):
        with self._lock:
            cached = self._noise_cache.get(threshold)
            if cached is not None:
                return cached
        from scipy.interpolate import CubicSpline
        from scipy.stats import ncx2, chi2

        dof = 2 * self.channels
        t = np.arange(0.0, threshold + 12.0 + math.sqrt(dof) * 4, self._T_STEP)
        g = np.empty_like(t)
        g[0] = chi2.sf(threshold**2, dof)
        g[1:] = ncx2.sf(threshold**2, dof, t[1:] ** 2)
        dg = np.diff(g)
        t_mid = 0.5 * (t[1:] + t[:-1])
        lo, hi = self._DECADES
        ln_rho = np.log(threshold) + np.log(10.0) * np.linspace(lo, hi, int((hi - lo) * self._PER_DECADE) + 1)
        rho_max = np.exp(ln_rho) / math.sqrt(self.mean_w2)
        p = np.empty_like(ln_rho)
        for i0 in range(0, len(ln_rho), 256):
            sl = slice(i0, i0 + 256)
            p[sl] = g[0] + self.survival(t_mid[None, :] / rho_max[sl, None]) @ dg
        table = (ln_rho, CubicSpline(ln_rho, p), g[0])
        with self._lock:
            self._noise_cache[threshold] = table
        return table

    def _p_noisy(self, snr, threshold):
        ln_rho, spline, floor = self._noise_table(threshold)
        out = np.empty(snr.shape)
        with np.errstate(divide="ignore"):
            x = np.log(snr)
        low, high = x < ln_rho[0], x > ln_rho[-1]
        mid = ~(low | high)
        out[mid] = spline(x[mid])
        out[low] = spline(ln_rho[0]) if snr[low].size else 0.0
        out[high] = self._p_noiseless(snr[high], threshold)
        return np.clip(out, 0.0, 1.0)


@functools.lru_cache(maxsize=None)
def _tables():
    data = np.loadtxt(_DATA, comments="#")
    moments = {}
    for line in _DATA.read_text().splitlines():
        if line.startswith("# Moments:"):
            for part in line[len("# Moments:"):].split(";"):
                key, rest = part.split(":", 1)
                fields = dict(f.strip().split(" = ") for f in rest.split(","))
                moments[key.strip()] = float(fields["<w^2>"])
    return data, moments


@functools.lru_cache(maxsize=None)
def _tabulated(geometry):
    data, moments = _tables()
    col = {"L": 1, "triangle": 2, "lisa": 3}[geometry]
    return Projection(geometry, _MEMBERS[geometry], moments[geometry], data[:, 0], data[:, col],
                      _DESCRIPTION[geometry])


#: Quadrature for networks computed on first use (``ground_network``).
NETWORK_NODES = (48, 96, 48)
NETWORK_W = np.linspace(0.0, 1.0, 201)


@functools.lru_cache(maxsize=64)
def _network(sites, gains):
    tensors = [_antenna.ground_tensor(s) for s in sites]
    g = np.asarray(gains, dtype=np.float64)
    # Member k's averaged SNR^2 share is g_k <Q_k>: with <Q_k> = 4/25 for
    # every L-shaped member, weights proportional to the shares.
    q_max = _antenna.max_q(tensors, g)
    mean = _antenna.mean_q(tensors, g)
    sf = _antenna.survival(tensors, NETWORK_W, _antenna.product_nodes(*NETWORK_NODES), gains=g, q_max=q_max)
    desc = (f"ground network {'+'.join(sites)} (Earth-fixed geometry, LALSuite detector constants), "
            f"members' shares of the averaged SNR^2 {', '.join(f'{x:.4g}' for x in g / g.sum())}")
    return Projection("+".join(sites), len(sites), mean / q_max, NETWORK_W, sf, desc)


def ground_network(sites, sensitivities=None):
    """The projection distribution of a network of ground interferometers.

    Parameters
    ----------
    sites : sequence of str, or str joined by "+"
        Any subset of "H1", "L1", "V1", "K1" (positions and arm
        orientations: LALSuite's detector constants, LALDetectors.h, after
        LIGO-T980044 and JGW-G1503824).
    sensitivities : sequence of float, optional
        Each member's share of the network's averaged SNR^2 (e.g. the
        squares of their BNS ranges); default equal.  The shares are taken
        to be the same for every binary: exact when the members' curves
        differ by constant factors, an approximation otherwise.

    Returns
    -------
    Projection
        Computed on first use by the quadrature of ``phenomd._antenna``
        (48 x 96 sky nodes, 48 in cos i; within 1e-4 of twice the nodes
        for H1+L1+V1) and cached.

    Raises
    ------
    InputError
        Unknown or repeated sites, or sensitivities that are not positive,
        finite and one per site.

    Examples
    --------
    >>> net = ground_network("H1+L1+V1")
    >>> float(net.p_det(20.0, 8.0)) > float(projection("aligo").p_det(20.0, 8.0))
    True
    """
    if isinstance(sites, str):
        sites = sites.split("+")
    sites = tuple(str(s).strip().upper() for s in sites)
    unknown = [s for s in sites if s not in _antenna.GROUND_SITES]
    if unknown or not sites:
        raise InputError("sites", None, f"network sites {unknown or list(sites)}: each must be one of "
                         f"{', '.join(_antenna.GROUND_SITES)}")
    if len(set(sites)) != len(sites):
        raise InputError("sites", None, f"network sites {list(sites)}: a site is repeated")
    if sensitivities is None:
        gains = (1.0,) * len(sites)
    else:
        g = as_float_array(sensitivities, "sensitivities", "")
        if g.shape != (len(sites),):
            raise InputError("sensitivities", None, f"sensitivities: one per site ({len(sites)}); got shape {g.shape}")
        require(g, "sensitivities", np.isfinite(g) & (g > 0), "must be finite and positive")
        gains = tuple(float(x) for x in g / g.sum())
    return _network(sites, gains)


def projection(detector):
    """The Projection of a detector given by name, curve, network or
    Projection.

    ``detector`` may be a curve name ("aligo", "et", "lisa", "lisa-scird",
    "taiji", "tianqin"), a geometry ("L", "triangle", "lisa-channels"), a
    ground network ("H1+L1+V1", any subset of H1, L1, V1, K1, equal
    sensitivities), a noise curve object (its ``name`` decides), an object
    with a ``projection`` attribute (a network), or a Projection.
    Raises InputError for anything else, e.g. a file curve, whose geometry
    the package cannot know: pass the geometry's name instead.
    """
    if isinstance(detector, Projection):
        return detector
    proj = getattr(detector, "projection", None)
    if isinstance(proj, Projection):
        return proj
    if callable(proj):
        return projection(proj())
    name = detector if isinstance(detector, str) else getattr(detector, "name", None)
    if isinstance(name, str):
        key = name.strip()
        low = key.lower()
        if low in CURVE_GEOMETRY:
            return _tabulated(CURVE_GEOMETRY[low])
        if low in GEOMETRY_ALIASES:
            return _tabulated(GEOMETRY_ALIASES[low])
        parts = key.upper().split("+")
        if all(p in _antenna.GROUND_SITES for p in parts):
            return ground_network(parts)
    known = ", ".join(list(CURVE_GEOMETRY) + ["L", "triangle", "lisa-channels", "H1+L1+V1+K1 (any subset)"])
    raise InputError("detector", None, f"detector {name if name is not None else detector!r}: its geometry is "
                     f"unknown; give one of {known}")


def detection_probability(snr, threshold, detector, noise_fluctuations=False):
    """Fraction of sky positions, polarisations and inclinations for which
    a binary of averaged SNR ``snr`` has SNR above ``threshold``.

    Parameters
    ----------
    snr : float or array_like
        The package's averaged SNR (sky-, polarisation- and inclination-
        averaged, rho_avg^2 = <rho^2> = (16/5) int |h~|^2 / S_n df, S_n
        summed over the detector's channels), >= 0; any shape.
    threshold : float or array_like
        SNR threshold (finite, > 0), broadcast against ``snr``.
    detector : str, noise curve, network or Projection
        See ``projection``: "aligo" (one L), "et" (60-degree triangle),
        "lisa" / "lisa-scird" / "taiji" / "tianqin" (two low-frequency
        channels, long-wavelength limit, constellation fixed during the
        signal), "H1+L1+V1" (ground network, equal sensitivities; use
        ``ground_network(sites, sensitivities)`` for others).
    noise_fluctuations : bool
        False: the SNR is rho(Omega) = rho_avg w / sqrt(<w^2>).  True: the
        observed SNR^2 is non-central chi^2 with 2 dof per independent
        channel and non-centrality rho(Omega)^2 (Gerosa & Bellotti 2024,
        arXiv:2404.16930; Essick 2023).

    Returns
    -------
    float or ndarray
        p_det in [0, 1], shape of the broadcast inputs (float for scalars).
        Without noise, p_det = P(w > (threshold/snr) sqrt(<w^2>)).

    Raises
    ------
    InputError
        A negative or NaN SNR, a threshold that is not finite and
        positive, an unknown detector.

    Examples
    --------
    One L-shaped detector, averaged SNR 20, threshold 8: w_th = (8/20)(2/5):

    >>> round(detection_probability(20.0, 8.0, "aligo"), 3)
    0.843
    >>> detection_probability([0.0, 3.0, 10.0, 200.0], 8.0, "et").round(3).tolist()
    [0.0, 0.0, 0.512, 1.0]
    """
    proj = projection(detector)
    s = as_float_array(snr, "snr", "", max_ndim=32)
    if not within(s, 0.0, low_inclusive=True, high=np.inf, high_inclusive=True):
        require(s, "snr", (s >= 0) & ~np.isnan(s), "SNRs must be >= 0 (and not NaN)")
    t = as_float_array(threshold, "threshold", "", max_ndim=32)
    require(t, "threshold", np.isfinite(t) & (t > 0), "the SNR threshold must be finite and positive")
    try:
        np.broadcast(s, t)
    except ValueError:
        raise InputError("threshold", None, f"threshold of shape {t.shape} does not broadcast against snr "
                         f"of shape {s.shape}") from None
    if not isinstance(noise_fluctuations, (bool, np.bool_)):
        raise InputError("noise_fluctuations", None, f"noise_fluctuations = {noise_fluctuations!r}: True or False")
    p = proj.p_det(s, t, bool(noise_fluctuations))
    return float(p) if p.ndim == 0 else p


def required_snr(p_det, threshold, detector, noise_fluctuations=False):
    """The averaged SNR at which a fraction ``p_det`` of orientations and
    sky positions is detected: the inverse of ``detection_probability``.

    Parameters
    ----------
    p_det : float or array_like
        Detection probabilities, each in (0, 1) (1 is reached only at
        infinite SNR for these geometries; with noise, p_det must also
        exceed the false-alarm probability).
    threshold : float
        SNR threshold (finite, > 0).
    detector, noise_fluctuations
        As for ``detection_probability``.

    Returns
    -------
    float or ndarray
        The averaged SNR (the package's convention), shape of ``p_det``.
        Without noise, threshold sqrt(<w^2>) / w_p with P(w > w_p) = p_det:
        for one L and p_det = 1/2, 8 (2/5) / w_1/2.

    Raises
    ------
    InputError
        p_det outside (0, 1) (or at or below the false-alarm probability
        with noise), a bad threshold or detector.

    Examples
    --------
    >>> rho = required_snr(0.5, 8.0, "aligo")
    >>> round(detection_probability(rho, 8.0, "aligo"), 9)
    0.5
    """
    proj = projection(detector)
    p = as_float_array(p_det, "p_det", "", max_ndim=32)
    require(p, "p_det", (p > 0) & (p < 1), "a detection probability must lie strictly between 0 and 1")
    t = as_float_array(threshold, "threshold", "")
    if t.ndim != 0:
        raise InputError("threshold", None, "required_snr takes one threshold")
    require(t, "threshold", np.isfinite(t) & (t > 0), "the SNR threshold must be finite and positive")
    if noise_fluctuations:
        from scipy.stats import chi2

        floor = chi2.sf(float(t) ** 2, 2 * proj.channels)
        require(p, "p_det", p > floor * (1 + 1e-9),
                f"with noise fluctuations p_det must exceed the false-alarm probability {floor:.3g}")
    rho = proj.snr_for(p, float(t), bool(noise_fluctuations))
    return float(rho) if np.ndim(rho) == 0 else rho


# ------------------------------------------------- p_det of binary_snr


def check_request(threshold, noise_fluctuations, inclination):
    """The checks of ``binary_snr(..., threshold=)`` made before any work:
    a finite positive threshold, a bool, and the averaged SNR (the
    projection distributions are over inclination too)."""
    t = as_float_array(threshold, "threshold", "", max_ndim=32)
    require(t, "threshold", np.isfinite(t) & (t > 0), "the SNR threshold must be finite and positive")
    if not isinstance(noise_fluctuations, (bool, np.bool_)):
        raise InputError("noise_fluctuations", None, f"noise_fluctuations = {noise_fluctuations!r}: True or False")
    if not (isinstance(inclination, str) and inclination == "average"):
        raise InputError("threshold", None, f"p_det averages over sky, polarisation and inclination: it needs the "
                                            f"averaged SNR (inclination='average'), not inclination={inclination!r}")


def describe(detector):
    """One line naming the geometry behind a p_det (for provenance)."""
    approx = getattr(detector, "p_det_approximation", None)
    if approx == "independent" and getattr(detector, "sites", None) is None:
        parts = [f"{name}: {projection(m).description}" for name, m in zip(detector.member_names, detector.members)]
        return (f"network {detector.name}, independent-members approximation: P(sum_i rho_avg,i^2 w_i^2 / <w_i^2> "
                f"> threshold^2) with each member's w_i independent ({'; '.join(parts)})")
    proj = projection(detector)
    return f"{proj.name}: {proj.description}"


def attach_p_det(res, curve, threshold, noise_fluctuations=False, detector=None):
    """``res`` (a BinarySNR) with ``p_det`` of its ``snr_all`` added and
    the detector, threshold and noise choice in its provenance."""
    from dataclasses import replace

    nf = bool(noise_fluctuations)
    if detector is None and res.members is not None and hasattr(curve, "member_names"):
        snrs = [res.members[name].snr_all for name in curve.member_names]
        p = curve.p_det(snrs, threshold, nf)
        what = describe(curve)
    else:
        target = curve if detector is None else detector
        p = np.atleast_1d(detection_probability(res.snr_all, threshold, target, nf))
        what = describe(target)
    record = res._record if res._record is not None else {}
    record.update(
        p_det="fraction of sky positions, polarisations and inclinations whose SNR of the whole band exceeds the "
              "threshold, from the averaged SNR",
        p_det_detector=what,
        threshold=f"{float(np.max(threshold)):g}" if np.ndim(threshold) == 0 else "per binary",
        noise_fluctuations=("included: observed SNR^2 non-central chi^2, 2 dof per independent channel"
                            if nf else "not included (SNR = its expectation)"),
    )
    return replace(res, p_det=np.asarray(p, dtype=np.float64), _record=record)

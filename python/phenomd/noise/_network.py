"""Networks of detectors with independent noise (``network``).

Averaged SNR.  With independent noise the network's SNR^2 is the sum of
its members' SNR^2, and so is its sky-, polarisation- and
inclination-averaged SNR^2.  In the package's convention each member's is
int (h_c,avg / h_n,i)^2 d ln f, so the network is the curve

    1 / h_n^2 = sum_i 1 / h_n,i^2      (1 / S_n = sum_i 1 / S_n,i),

members counting only inside their own ranges.  On a binary's grid this
is the same sum as adding the members' SNR^2 (trapezoid rule term by
term); ``binary_snr`` gives the members' SNRs beside the network's.

Detection probability.  p_det needs the distribution of the network's
projection factor, which the package knows only where the geometry is
fixed and known:

* ground interferometers at known sites, written ``"CURVE@SITE"`` with one
  L-shaped curve for every member (``network("aligo@H1", "aligo@L1",
  "aligo@V1")``): Earth-fixed geometry, equal noise, ``ground_network``
  of ``phenomd.detection``;
* otherwise (space detectors on different orbits, e.g. LISA + Taiji, or a
  mix of ground and space) the relative orientation of the members during
  the signal is not a fixed thing and p_det is refused, unless
  ``p_det_approximation="independent"``: each member's projection factor
  w_i is drawn from its own distribution independently of the others', as
  if the members saw unrelated sky positions and orientations, and

      p_det = P( sum_i rho_avg,i^2 w_i^2 / <w_i^2> > threshold^2 ),

  the network's SNR^2 being the sum of the members' SNR^2 at their
  angles.  It keeps each member's average (so the network's averaged
  SNR^2 is right) but not their correlation: two detectors that see the
  same source in similar orientations have correlated w_i, which widens
  the true distribution of the sum; the approximation is narrower.
"""

from __future__ import annotations

import numpy as np

from .._inputs import InputError
from ._base import NoiseCurve
from ._table import NoiseSample, _count_outside, frequencies

APPROXIMATIONS = ("independent",)


class Network(NoiseCurve):
    """A network of detectors with independent noise (see ``network``).

    ``members`` (a tuple of curves), ``member_names`` (unique labels, e.g.
    "lisa", "taiji", "aligo@H1"), ``sites`` (the ground sites or None),
    ``p_det_approximation``.  As a curve: h_n with 1/h_n^2 = sum over the
    members inside their ranges of 1/h_n,i^2; ``range`` the union of the
    members' ranges (a frequency outside every member's range is outside
    the network's, and counted); ``table()`` only where every member has
    the same range (else the per-point path of ``binary_snr``).
    """

    _share_tables = False

    def __init__(self, members, member_names, sites=None, p_det_approximation=None):
        self.members = tuple(members)
        self.member_names = tuple(member_names)
        self.sites = None if sites is None else tuple(sites)
        self.p_det_approximation = p_det_approximation
        self.name = "+".join(self.member_names)
        self.f_min = min(m.range[0] for m in self.members)
        self.f_max = max(m.range[1] for m in self.members)
        self.convention = (NoiseCurve.convention + "; network of independent-noise detectors: "
                           "1/S_n = sum of the members' 1/S_n (averaged SNR^2 summed over members)")

    def __repr__(self):
        extra = f", p_det_approximation={self.p_det_approximation!r}" if self.p_det_approximation else ""
        return f"network({', '.join(self._member_reprs())}{extra})"

    def _member_reprs(self):
        out = []
        for name, m in zip(self.member_names, self.members):
            site = name.partition("@")[2]
            out.append(repr(m) + (f"@{site}" if site else ""))
        return out

    @property
    def years(self):
        """The members' foreground observation times (labels)."""
        ys = {getattr(m, "years", None) for m in self.members}
        return ys.pop() if len(ys) == 1 else None

    def _inside(self, f):
        inside = np.zeros(np.shape(f), dtype=bool)
        for m in self.members:
            lo, hi = m.range
            inside |= (f >= lo) & (f <= hi)
        return inside

    def _inverse_psd(self, f, raw):
        total = np.zeros(np.shape(f))
        for m in self.members:
            if raw:
                s = np.asarray(m._psd(f), dtype=np.float64) + np.zeros(np.shape(f))
            else:
                s = m.psd(f)
            with np.errstate(divide="ignore"):
                total += 1.0 / s
        return total

    def _psd(self, f):
        f = np.asarray(f, dtype=np.float64)
        inv = self._inverse_psd(f, raw=False)
        # Beyond every member's range (the table's few nodes past the
        # ends): the members' own formulae, continued.
        none = inv == 0
        if none.any():
            inv[none] = self._inverse_psd(f[none], raw=True)
        with np.errstate(divide="ignore"):
            return 1.0 / inv

    def evaluate(self, f):
        f = frequencies(f)
        inside = self._inside(f)
        hn = np.full(f.shape, np.inf)
        if inside.any():
            fi = f[inside]
            with np.errstate(divide="ignore"):
                hn[inside] = np.sqrt(fi / self._inverse_psd(fi, raw=False))
        return NoiseSample(hn, _count_outside(~inside))

    @property
    def table(self):
        """``table()`` where every member has the same range (the network
        then has no jump inside its range); None otherwise."""
        if len({m.range for m in self.members}) == 1 and all(callable(getattr(m, "table", None))
                                                             for m in self.members):
            return super().table
        return None

    # ---------------------------------------------------------------- p_det

    @property
    def projection(self):
        """The network's Projection where its geometry is known (ground
        members at sites, one curve); InputError otherwise, naming the
        independent-members approximation."""
        if self.sites is not None:
            from ..detection import ground_network

            return ground_network(self.sites)
        raise InputError(
            "detector", None,
            f"network {self.name}: the members' relative orientation is not fixed (detectors on different "
            "orbits or sites of unknown geometry), so the network's projection distribution is unknown; ask for "
            "p_det_approximation='independent' (each member's orientation independent) by name, or give "
            "ground members as CURVE@SITE")

    def member_projections(self):
        from ..detection import projection

        return [projection(m) for m in self.members]

    def p_det(self, member_snrs, threshold, noise_fluctuations=False):
        """Detection probability from the members' averaged SNRs.

        Parameters
        ----------
        member_snrs : sequence of array_like
            One array of averaged SNRs per member (same shape).
        threshold : float
            SNR threshold on the network's SNR.
        noise_fluctuations : bool
            As for ``detection_probability`` (refused with the
            independent-members approximation).

        Returns
        -------
        ndarray
            p_det, the members' common shape.

        Raises
        ------
        InputError
            No known geometry and no approximation asked for, or noise
            fluctuations with the independent-members approximation.
        """
        snrs = [np.asarray(s, dtype=np.float64) for s in member_snrs]
        if self.sites is not None or self.p_det_approximation is None:
            proj = self.projection  # refuses where unknown
            total = np.sqrt(sum(s * s for s in snrs))
            return proj.p_det(total, threshold, noise_fluctuations)
        if noise_fluctuations:
            raise InputError("noise_fluctuations", None,
                             f"network {self.name}: noise fluctuations are not available with the "
                             "independent-members approximation")
        return independent_p_det(self.member_projections(), snrs, float(threshold))


def independent_p_det(projections, snrs, threshold):
    """P( sum_i a_i w_i^2 > threshold^2 ), w_i independent with the
    members' distributions, a_i = rho_avg,i^2 / <w_i^2>.

    Each w_i is discretised on its Projection's grid as masses
    dP_j = S(w_j) - S(w_j+1) at the interval midpoints, the last member's
    survival function is read exactly (interpolated) at the remaining
    threshold: a nested sum of 200^(N-1) terms per binary."""
    snrs = [np.asarray(s, dtype=np.float64) for s in snrs]
    shape = np.broadcast(*snrs).shape
    a = [np.broadcast_to(s * s / p.mean_w2, shape).ravel() for s, p in zip(snrs, projections)]
    need = np.full(a[0].shape, threshold * threshold)

    def tail(k, need):
        # P(sum_{i >= k} a_i w_i^2 > need) for rows whose need varies.
        ak = a[k][:, None] if need.ndim == 2 else a[k]
        p = projections[k]
        if k == len(a) - 1:
            with np.errstate(divide="ignore", invalid="ignore"):
                w_th = np.sqrt(np.maximum(need, 0.0) / ak)
            w_th = np.where(need <= 0, -1.0, w_th)
            return p.survival(np.nan_to_num(w_th, nan=np.inf, posinf=np.inf))
        mass = -np.diff(p.sf)
        mid = 0.5 * (p.w[1:] + p.w[:-1])
        out = np.zeros(need.shape)
        for j in np.flatnonzero(mass > 0):
            out += mass[j] * tail(k + 1, need - ak * mid[j] ** 2)
        # Mass at w = 0 exactly (P(w = 0) = 1 - S(0)): no contribution.
        return out + (1.0 - p.sf[0]) * tail(k + 1, need) if p.sf[0] < 1.0 else out

    return np.clip(tail(0, need), 0.0, 1.0).reshape(shape)


def _parse_member(item, years):
    """A member: a curve, a name ("lisa"), or "CURVE@SITE"."""
    from ..detection import CURVE_GEOMETRY
    from .._antenna import GROUND_SITES
    from ._names import curve, names

    if not isinstance(item, str):
        if not callable(getattr(item, "evaluate", None)) and not callable(item):
            raise InputError("members", None, f"network member {item!r}: not a noise curve or a name")
        name = getattr(item, "name", None)
        if not isinstance(name, str) or not hasattr(item, "range"):
            raise InputError("members", None, f"network member {item!r}: a member needs a name and a range "
                                              "(a curve of phenomd.noise)")
        return item, name, None
    text = item.strip()
    base, at, site = text.partition("@")
    key = base.strip().lower()
    if key not in names():
        raise InputError("members", None, f"network member {item!r}: unknown curve {base.strip()!r}; use one of "
                                          f"{', '.join(names())}, optionally CURVE@SITE for a ground site")
    if not at:
        return curve(key, years=years if key not in _GROUND else None), key, None
    site = site.strip().upper()
    if site not in GROUND_SITES:
        raise InputError("members", None, f"network member {item!r}: unknown site {site!r}; use one of "
                                          f"{', '.join(GROUND_SITES)}")
    if CURVE_GEOMETRY.get(key) != "L":
        raise InputError("members", None, f"network member {item!r}: a site takes an L-shaped "
                                          f"interferometer's curve ({', '.join(k for k, g in CURVE_GEOMETRY.items() if g == 'L')})")
    return curve(key), f"{key}@{site}", site


#: Built-in curves without a galactic foreground (``years`` does not apply).
_GROUND = ("aligo", "et")


def network(*members, p_det_approximation=None, years=None):
    """A network of detectors with independent noise.

    Parameters
    ----------
    *members : str, noise curve, or one list of them; or "A+B" strings
        Built-in names ("lisa", "taiji", ...), curves, or ground
        interferometers at sites, "CURVE@SITE" (sites H1, L1, V1, K1 with
        an L-shaped curve, "aligo"): e.g. ``network("lisa", "taiji")``,
        ``network(["lisa", "taiji"])``, ``network("lisa+taiji")``,
        ``network("aligo@H1", "aligo@L1", "aligo@V1")``.  At least two,
        none repeated.
    p_det_approximation : None or "independent"
        How p_det is computed where the geometry is unknown (module
        docstring): None refuses; "independent" treats the members'
        projection factors as independent.
    years : float or None
        The foreground observation time of the members given by name that
        have one (the space curves; see ``curve``); None: instrument noise
        only.  Curves given as objects keep their own.

    Returns
    -------
    Network
        A noise curve (1/h_n^2 = sum of the members' 1/h_n^2) with
        ``members``, ``member_names``, ``projection`` (ground sites only)
        and ``p_det(member_snrs, threshold)``.

    Raises
    ------
    InputError
        An unknown name or site, a repeated member, fewer than two, sites
        mixed with other members, or an unknown approximation.

    Examples
    --------
    >>> from phenomd import noise
    >>> net = noise.network("lisa", "taiji")
    >>> net.name, net.range
    ('lisa+taiji', (1e-05, 1.0))
    >>> f = 3e-3
    >>> lisa, taiji = noise.curve("lisa"), noise.curve("taiji")
    >>> bool(abs(net(f) ** -2 - lisa(f) ** -2 - taiji(f) ** -2) < 1e-12 * net(f) ** -2)
    True
    """
    if len(members) == 1 and isinstance(members[0], (list, tuple)):
        members = tuple(members[0])
    items = []
    for m in members:
        items.extend(m.split("+") if isinstance(m, str) else [m])
    if len(items) < 2:
        raise InputError("members", None, f"a network needs at least two members; got {len(items)}")
    if p_det_approximation is not None and p_det_approximation not in APPROXIMATIONS:
        raise InputError("p_det_approximation", None, f"p_det_approximation = {p_det_approximation!r}: None or "
                                                      f"{', '.join(map(repr, APPROXIMATIONS))}")
    parsed = [_parse_member(m, years) for m in items]
    names = [p[1] for p in parsed]
    if len(set(names)) != len(names):
        raise InputError("members", None, f"network members {names}: a member is repeated")
    sites = [p[2] for p in parsed]
    if any(s is not None for s in sites):
        if any(s is None for s in sites):
            raise InputError("members", None, f"network members {names}: give every member at a site "
                                              "(CURVE@SITE) or none")
        if len({n.partition('@')[0] for n in names}) != 1:
            raise InputError("members", None, f"network members {names}: a network of sites takes one curve for "
                                              "every site (equal noise)")
        if p_det_approximation is not None:
            raise InputError("p_det_approximation", None, "a network of sites has a known geometry: "
                                                          "no approximation is needed")
    else:
        sites = None
    return Network([p[0] for p in parsed], names, sites, p_det_approximation)


__all__ = ["Network", "network", "independent_p_det", "APPROXIMATIONS"]

"""Antenna patterns of interferometers and the distribution of the
projection factor w over sky position, polarisation and inclination.

Long-wavelength response.  An interferometer with unit arm vectors u, v
has the detector tensor D = (u u - v v)/2, and a plane wave travelling
along k with polarisation tensors e_+ = p p - q q, e_x = p q + q p
((p, q, k) right-handed) gives F_A = D : e_A (Thorne 1987, in "300 Years
of Gravitation"; Finn & Chernoff 1993, PRD 47 2198, sec. III).

Projection factor.  A binary at inclination i has h_+ = |h~| (1+c^2)/2,
h_x = |h~| c (c = cos i; |h~| the face-on amplitude of one polarisation),
so member k of a detector (one interferometer, or one channel) sees

    rho_k^2 = 4 int |h~|^2 / P_k df  *  Q_k,
    Q_k = F_+k^2 alpha + F_xk^2 beta,   alpha = (1+c^2)^2/4,  beta = c^2,

and, members with independent noise adding in quadrature,
rho^2 = sum_k rho_k^2.  The projection factor is w = sqrt(Q / Q_max),
Q = sum_k g_k Q_k (g_k the members' relative sensitivities), Q_max its
largest value over all angles: w = rho / rho_max.  For one L-shaped
detector w = Theta/4 of Finn & Chernoff (1993, sec. III).

The polarisation average is analytic.  Write z_k = F_+k + i F_xk at
psi = 0; a rotation of the polarisation basis by psi turns z_k into
z_k exp(-2i psi).  With S = sum g_k |z_k|^2, Z = sum g_k z_k^2:

    Q = A + B cos(chi),  A = (alpha + beta) S / 2,  B = (alpha - beta) |Z| / 2,

chi = 4 psi + arg Z uniform, and alpha - beta = (1 - c^2)^2 / 4 >= 0.  So
P(Q > q | sky, c) = arccos(clip((q - A)/B, -1, 1)) / pi, and the survival
function of w is a quadrature of that over the sky and cos i only.

The package's averaged SNR (docs/conventions.md) is rho_avg^2 = <rho^2>
over sky, polarisation and inclination, so for every geometry

    rho(Omega) = rho_avg * w / sqrt(<w^2>),   rho_max = rho_avg / sqrt(<w^2>),

and the fraction of orientations with rho > threshold is the survival
function of w at w_th = (threshold / rho_avg) sqrt(<w^2>).
"""

from __future__ import annotations

import math

import numpy as np

__all__ = [
    "GROUND_SITES",
    "detector_tensor",
    "ground_tensor",
    "l_shaped",
    "lisa_channels",
    "triangle",
    "pattern",
    "sky_quadrature",
    "sky_monte_carlo",
    "survival",
    "mean_q",
    "max_q",
]

# Vertex geodetic latitude and longitude, arm azimuths (from North towards
# East) and arm altitudes (above the local horizontal), in radians: the
# LALSuite detector constants (LALDetectors.h, from LIGO-T980044 for H1
# and L1, the Virgo site survey for V1, and Y. Saito, "KAGRA location",
# JGW-G1503824, for K1).
GROUND_SITES = {
    "H1": dict(lat=0.81079526383, lon=-2.08405676917, x_az=5.65487724844, y_az=4.08408092164,
               x_alt=-6.195e-4, y_alt=1.25e-5),
    "L1": dict(lat=0.53342313506, lon=-1.58430937078, x_az=4.40317772346, y_az=2.83238139666,
               x_alt=-3.121e-4, y_alt=-6.107e-4),
    "V1": dict(lat=0.76151183984, lon=0.18333805213, x_az=0.33916285222, y_az=5.05155183261,
               x_alt=0.0, y_alt=0.0),
    "K1": dict(lat=0.6355068497, lon=2.396441015, x_az=1.054113, y_az=-0.5166798,
               x_alt=0.0031414, y_alt=-0.0036270),
}


def detector_tensor(u, v):
    """D = (u u - v v) / 2 for unit arm vectors u, v."""
    u = np.asarray(u, dtype=np.float64)
    v = np.asarray(v, dtype=np.float64)
    return 0.5 * (np.outer(u, u) - np.outer(v, v))


def _arm(lat, lon, azimuth, altitude):
    """Unit vector of an arm in the Earth-fixed frame (z to the North pole,
    x through longitude 0): azimuth from local North towards East."""
    east = np.array([-math.sin(lon), math.cos(lon), 0.0])
    north = np.array([-math.sin(lat) * math.cos(lon), -math.sin(lat) * math.sin(lon), math.cos(lat)])
    up = np.array([math.cos(lat) * math.cos(lon), math.cos(lat) * math.sin(lon), math.sin(lat)])
    return math.cos(altitude) * (math.cos(azimuth) * north + math.sin(azimuth) * east) + math.sin(altitude) * up


def ground_tensor(site):
    """Detector tensor of a ground interferometer ("H1", "L1", "V1", "K1")
    in the Earth-fixed frame."""
    s = GROUND_SITES[site]
    return detector_tensor(_arm(s["lat"], s["lon"], s["x_az"], s["x_alt"]),
                           _arm(s["lat"], s["lon"], s["y_az"], s["y_alt"]))


def _planar(angle):
    return np.array([math.cos(angle), math.sin(angle), 0.0])


def l_shaped():
    """One interferometer with 90-degree arms along x and y."""
    return [detector_tensor(_planar(0.0), _planar(math.pi / 2))]


def triangle():
    """Three 60-degree interferometers at the corners of an equilateral
    triangle in the xy plane (ET-like): interferometer k has arms at
    120k and 120k + 60 degrees (long-wavelength limit: only the arm
    directions matter)."""
    return [detector_tensor(_planar(2 * math.pi * k / 3), _planar(2 * math.pi * k / 3 + math.pi / 3)) for k in range(3)]


def lisa_channels():
    """LISA's two independent low-frequency channels: two 60-degree
    Michelsons in the constellation plane whose bisectors are 45 degrees
    apart, so that their tensors are orthogonal (the long-wavelength
    equivalent of the A, E channels: Cutler 1998, PRD 57 7089, sec. II)."""
    out = []
    for rot in (0.0, math.pi / 4):
        a = rot - math.pi / 6  # bisector at `rot`
        out.append(detector_tensor(_planar(a), _planar(a + math.pi / 3)))
    return out


def pattern(tensors, cos_theta, phi):
    """Complex antenna patterns z_k = F_+k + i F_xk (psi = 0) of each
    tensor for propagation directions k(theta, phi) = -n (n the direction
    to the source; the sign does not change F).  Returns (n_members, ...)."""
    ct = np.asarray(cos_theta, dtype=np.float64)
    st = np.sqrt(np.maximum(0.0, 1.0 - ct * ct))
    cp, sp = np.cos(phi), np.sin(phi)
    # Polarisation axes: p = e_theta, q = e_phi of the source direction.
    p = np.stack([ct * cp, ct * sp, -st + 0.0 * cp])
    q = np.stack([-sp + 0.0 * ct, cp + 0.0 * ct, np.zeros(np.broadcast(ct, cp).shape)])
    out = []
    for d in tensors:
        dp = np.einsum("ij,j...->i...", d, p)
        dq = np.einsum("ij,j...->i...", d, q)
        fp = np.einsum("i...,i...->...", p, dp) - np.einsum("i...,i...->...", q, dq)
        fx = 2.0 * np.einsum("i...,i...->...", p, dq)
        out.append(fp + 1j * fx)
    return np.stack(out)


def _gauss_legendre(n):
    """Gauss-Legendre nodes and weights on [-1, 1] (scipy's O(n) rule:
    numpy's eigenvalue method is O(n^3), slow for the thousands of nodes
    used here)."""
    from scipy.special import roots_legendre

    x, w = roots_legendre(n)
    return np.asarray(x, dtype=np.float64), np.asarray(w, dtype=np.float64)


def sky_quadrature(n_cos, n_phi):
    """Gauss-Legendre in cos(theta) on [-1, 1] times the periodic trapezoid
    rule in phi: (cos_theta, phi, weight), weights summing to 1."""
    c, w = _gauss_legendre(n_cos)
    phi = (np.arange(n_phi) + 0.5) * 2 * math.pi / n_phi
    cc, pp = np.meshgrid(c, phi, indexing="ij")
    ww = np.repeat(w[:, None] / 2 / n_phi, n_phi, axis=1)
    return cc.ravel(), pp.ravel(), ww.ravel()


def inclination_quadrature(n):
    """Gauss-Legendre in cos(i) on [0, 1] (the integrand is even in cos i):
    (cos_i, weight), weights summing to 1."""
    c, w = _gauss_legendre(n)
    return 0.5 * (c + 1.0), 0.5 * w


def sky_monte_carlo(n, seed):
    """n isotropic directions and uniform cos(i) from a fixed seed:
    (cos_theta, phi, cos_i, weight)."""
    rng = np.random.default_rng(seed)
    return rng.uniform(-1, 1, n), rng.uniform(0, 2 * math.pi, n), rng.uniform(0, 1, n), np.full(n, 1.0 / n)


def _sky_sums(tensors, gains, cos_theta, phi):
    z = pattern(tensors, cos_theta, phi)
    g = np.asarray(gains, dtype=np.float64).reshape((-1,) + (1,) * (z.ndim - 1))
    s = np.sum(g * np.abs(z) ** 2, axis=0)
    big_z = np.abs(np.sum(g * z * z, axis=0))
    return s, big_z


def mean_q(tensors, gains=None):
    """<Q> over sky, polarisation and inclination: (4/5) sum_k g_k <F_+k^2>,
    by a quadrature exact for the degree-4 polynomials involved."""
    gains = np.ones(len(tensors)) if gains is None else gains
    c, p, w = sky_quadrature(8, 16)
    s, _ = _sky_sums(tensors, gains, c, p)
    # <alpha + beta>/2 = (7/15 + 1/3)/2 = 2/5 and <cos chi> = 0.
    return float(np.sum(w * s) * 0.4)


def max_q(tensors, gains=None):
    """Q_max = the largest S = sum g_k |z_k|^2 over the sky (reached for a
    face-on or face-off binary, where alpha = beta = 1), by a grid search
    refined with a local optimiser."""
    from scipy.optimize import minimize

    gains = np.ones(len(tensors)) if gains is None else gains
    c, p, _ = sky_quadrature(64, 128)
    s, _ = _sky_sums(tensors, gains, c, p)
    best = []
    for i in np.argsort(s)[-8:]:
        def neg(x):
            ct = math.cos(x[0])
            return -float(_sky_sums(tensors, gains, np.array(ct), np.array(x[1]))[0])
        res = minimize(neg, [math.acos(c[i]), p[i]], method="Nelder-Mead",
                       options=dict(xatol=1e-12, fatol=1e-15, maxiter=4000))
        best.append(-res.fun)
    return max(max(best), float(s.max()))


def survival(tensors, w, nodes, gains=None, q_max=None, chunk=65536):
    """P(w' > w) for each w, over the given (sky, inclination) nodes.

    ``nodes`` is either (cos_theta, phi, cos_i, weight) flattened alike
    (weights summing to 1; e.g. a Monte-Carlo sample), or a product rule
    ((cos_theta, phi, sky_weight), (cos_i, incl_weight)) as made by
    ``product_nodes`` and ``reduced_nodes``.  The polarisation average is
    analytic (module doc).
    """
    gains = np.ones(len(tensors)) if gains is None else np.asarray(gains, dtype=np.float64)
    q_max = max_q(tensors, gains) if q_max is None else q_max
    q = (np.asarray(w, dtype=np.float64) ** 2 * q_max)[None, :]
    if len(nodes) == 2:
        (ct, ph, ws), (ci, wi) = nodes
        s_sky, z_sky = _sky_sums(tensors, gains, np.asarray(ct, float), np.asarray(ph, float))
        n_i = len(ci)
        s = np.repeat(s_sky, n_i)
        big_z = np.repeat(z_sky, n_i)
        cos_i = np.tile(np.asarray(ci, float), len(ct))
        wt = np.outer(ws, wi).ravel()
    else:
        ct, ph, cos_i, wt = (np.asarray(a, dtype=np.float64) for a in nodes)
        s, big_z = _sky_sums(tensors, gains, ct, ph)
    c2 = cos_i**2
    alpha, beta = 0.25 * (1 + c2) ** 2, c2
    a_all = 0.5 * (alpha + beta) * s
    # B = 0 (a face-on source, or |Z| = 0) makes Q = A at every psi: a
    # step, which the tiny floor reproduces through the clip below.
    inv_b = 1.0 / np.maximum(0.5 * (alpha - beta) * big_z, 1e-300)
    out = np.zeros(q.shape[1])
    for lo in range(0, len(wt), chunk):
        sl = slice(lo, lo + chunk)
        x = (q - a_all[sl, None]) * inv_b[sl, None]
        np.clip(x, -1.0, 1.0, out=x)
        np.arccos(x, out=x)
        out += wt[sl] @ x
    return np.clip(out / math.pi, 0.0, 1.0)


def reduced_nodes(n_cos, n_phi, n_incl, phi_max):
    """Product Gauss-Legendre quadrature over cos(theta) in [0, 1], phi in
    [0, phi_max] (n_phi = 1: the single direction phi = 0) and cos(i) in
    [0, 1], for geometries whose S and |Z| are even in cos(theta) and
    repeat with period phi_max in phi (one L: pi/4 with its mirror
    symmetry; the coplanar triangle and LISA's channels: S and |Z| do not
    depend on phi at all).  Returns ((cos_theta, phi, weight), (cos_i,
    weight)), a product rule for ``survival``."""
    c, wc = inclination_quadrature(n_cos)
    if n_phi == 1:
        p, wp = np.zeros(1), np.ones(1)
    else:
        x, wx = _gauss_legendre(n_phi)
        p, wp = 0.5 * phi_max * (x + 1.0), 0.5 * wx
    cc, pp = np.meshgrid(c, p, indexing="ij")
    return (cc.ravel(), pp.ravel(), np.outer(wc, wp).ravel()), inclination_quadrature(n_incl)


def product_nodes(n_cos, n_phi, n_incl):
    """Product rule over the whole sky and cos(i) in [0, 1]: ((cos_theta,
    phi, weight), (cos_i, weight)), for ``survival``."""
    return sky_quadrature(n_cos, n_phi), inclination_quadrature(n_incl)

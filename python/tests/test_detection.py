"""Antenna patterns, the projection-factor distributions (the committed
table and its generator, tools/antenna/generate.py) and the detection
probability built on them."""

import importlib.util
import math
import time
from pathlib import Path

import numpy as np
import pytest
from scipy import stats

from phenomd import _antenna, detection
from phenomd.noise import _ground
from phenomd._inputs import InputError

GENERATOR = Path(__file__).resolve().parents[2] / "tools" / "antenna" / "generate.py"
TABLE = Path(detection.__file__).resolve().parent / "data" / "projection.txt"


@pytest.fixture(scope="module")
def gen():
    found = importlib.util.spec_from_file_location("antenna_generate", GENERATOR)
    mod = importlib.util.module_from_spec(found)
    found.loader.exec_module(mod)
    return mod


@pytest.fixture(scope="module")
def table():
    return np.loadtxt(TABLE, comments="#")


def finn_chernoff(cos_th, phi, psi, cos_i):
    """Theta of one L (arms on x, y) with the textbook patterns
    F+ = (1+cos^2 th)/2 cos 2ph cos 2ps - cos th sin 2ph sin 2ps,
    Fx = (1+cos^2 th)/2 cos 2ph sin 2ps + cos th sin 2ph cos 2ps
    (Finn & Chernoff 1993, PRD 47 2198, sec. III)."""
    a = 0.5 * (1 + cos_th**2)
    fp = a * np.cos(2 * phi) * np.cos(2 * psi) - cos_th * np.sin(2 * phi) * np.sin(2 * psi)
    fx = a * np.cos(2 * phi) * np.sin(2 * psi) + cos_th * np.sin(2 * phi) * np.cos(2 * psi)
    return 2 * np.sqrt(fp**2 * (1 + cos_i**2) ** 2 + 4 * fx**2 * cos_i**2)


def isotropic(n, seed):
    rng = np.random.default_rng(seed)
    return (rng.uniform(-1, 1, n), rng.uniform(0, 2 * np.pi, n), rng.uniform(0, np.pi, n), rng.uniform(-1, 1, n))


# --- Antenna patterns and their moments ---------------------------------------

def test_single_l_theta_moments_and_patterns():
    # <Theta^2> = 64/25 and max Theta = 4 (Finn & Chernoff 1993, sec. III):
    # Gauss quadrature exact for the polynomial Theta^2 in every angle.
    c, w = np.polynomial.legendre.leggauss(6)
    ang = 2 * np.pi * np.arange(12) / 12
    ct, ph, ps, ci = np.meshgrid(c, ang, ang, c, indexing="ij")
    wt = (w[:, None, None, None] * w[None, None, None, :]) / 4 / 144
    theta = finn_chernoff(ct, ph, ps, ci)
    assert np.sum(wt * theta**2) == pytest.approx(64 / 25, rel=1e-13)
    assert finn_chernoff(1.0, 0.0, 0.0, 1.0) == 4.0  # overhead, face-on
    edges = np.linspace(-1, 1, 41)
    assert finn_chernoff(*np.meshgrid(edges, ang, ang, edges, indexing="ij")).max() <= 4.0 + 1e-12
    # The package's geometry gives the same: 16 <w^2> = 16 <Q>/Q_max.
    l_shaped = _antenna.l_shaped()
    assert 16 * _antenna.mean_q(l_shaped) / _antenna.max_q(l_shaped) == pytest.approx(64 / 25, rel=1e-12)
    # ... and the same patterns, up to the sign convention of (p, q).
    ct, ph = np.array([0.3, -0.7, 0.95]), np.array([0.2, 2.0, 4.1])
    z = _antenna.pattern(l_shaped, ct, ph)[0]
    assert np.abs(z) ** 2 == pytest.approx((0.5 * (1 + ct**2) * np.cos(2 * ph)) ** 2 + (ct * np.sin(2 * ph)) ** 2,
                                           rel=1e-12)


def test_summed_responses_match_the_noise_conventions():
    # Sum over members of <F+^2> = <Q>/(4/5): 1/5 for one L, 9/20 for the
    # 60-degree triangle (3 x sin^2 60 / 5), 3/10 for LISA's two channels:
    # the R the LISA response table tends to at low frequency (its first row,
    # x = 1e-4, is 3/10 to O(x^2) ~ 1e-9).
    lisa_first = np.loadtxt(TABLE.parent / "lisa_response.txt", comments="#")[0, 1]
    for tensors, r in ((_antenna.l_shaped(), _ground.RESPONSE_L),
                       (_antenna.triangle(), _ground.RESPONSE_TRIANGLE),
                       (_antenna.lisa_channels(), lisa_first)):
        assert _antenna.mean_q(tensors) / 0.8 == pytest.approx(r, rel=1e-8)
    assert _ground.RESPONSE_TRIANGLE == pytest.approx(9 / 20, rel=1e-15)


def test_ground_sites_are_the_published_geometry():
    # Arms orthogonal and horizontal within the published tilts, the
    # Hanford-Livingston pair nearly anti-aligned (|D_H : D_L| / |D|^2 ~ 0.9:
    # the LIGO sites were oriented to share polarisation sensitivity).
    for site in _antenna.GROUND_SITES:
        d = _antenna.ground_tensor(site)
        assert np.trace(d) == pytest.approx(0.0, abs=1e-6)
        assert np.sum(d * d) == pytest.approx(0.5, rel=1e-5)  # |D|^2 = 1/2 for 90-degree arms
    h, l1 = _antenna.ground_tensor("H1"), _antenna.ground_tensor("L1")
    assert -np.sum(h * l1) / 0.5 > 0.85


# --- The committed table -------------------------------------------------------

def test_table_regenerates_and_states_its_command(gen, table):
    rows = [150, 400]  # w = 0.3, 0.8
    fresh, moments = gen.columns(table[rows, 0])
    for col, name in enumerate(("L", "triangle", "lisa"), start=1):
        assert fresh[name] == pytest.approx(table[rows, col], abs=1e-8)
        assert moments[name][0] / moments[name][1] == pytest.approx(4 / 25, rel=1e-12)
    assert gen.COMMAND in TABLE.read_text().splitlines()[2]


def test_table_against_independent_quadratures(table):
    w = table[:, 0]
    for col, make in ((1, _antenna.l_shaped), (2, _antenna.triangle), (3, _antenna.lisa_channels)):
        sf = table[:, col]
        assert np.all(np.diff(sf) <= 1e-12) and sf[0] == 1.0 and sf[-1] == 0.0
        # <w^2> = int_0^1 2 w P(w' > w) dw = 4/25 (closed form above).
        assert np.trapz(2 * w * sf, w) == pytest.approx(4 / 25, abs=2e-6)
    # The symmetry reductions of the generator, checked by the full-sphere
    # product rule (its own error ~2e-3 at these node counts).
    nodes = _antenna.product_nodes(48, 96, 48)
    rows = [100, 250, 400]
    for col, make in ((1, _antenna.l_shaped), (2, _antenna.triangle)):
        t = make()
        full = _antenna.survival(t, w[rows], nodes)
        assert full == pytest.approx(table[rows, col], abs=3e-3)
    # Three 60-degree interferometers and two orthogonal channels share one
    # distribution: both sum to an isotropic quadratic form in the plane.
    assert table[:, 2] == pytest.approx(table[:, 3], abs=1e-7)


def test_single_detector_against_published_fit(table):
    # Dominik et al. 2015 (ApJ 806 263, appendix; arXiv:1405.7016), fit to
    # the cumulative distribution of w for one L:
    # P(w) = a2 (1-w)^2 + a4 (1-w)^4 + a8 (1-w)^8 + (1-a2-a4-a8)(1-w)^10,
    # a2 = 0.374222, a4 = 2.04216, a8 = -2.63948 (alpha = 1).  Measured:
    # largest |P_fit - P| = 7.5e-3 (at w = 0.49), median 3.4e-3.
    a2, a4, a8 = 0.374222, 2.04216, -2.63948
    x = 1 - table[:, 0]
    fit = a2 * x**2 + a4 * x**4 + a8 * x**8 + (1 - a2 - a4 - a8) * x**10
    dev = np.abs(fit - table[:, 1])
    assert dev.max() < 8e-3
    assert np.median(dev) < 4e-3


# --- Detection probability ------------------------------------------------------

def test_p_det_matches_a_direct_monte_carlo():
    # Independent of the table: angles drawn at random, the SNR of each from
    # Finn & Chernoff's Theta with the package's averaged SNR as the RMS,
    # rho(Omega) = rho_avg Theta / <Theta^2>^(1/2) = rho_avg Theta 5/8.
    n = 400_000
    ct, ph, ps, ci = isotropic(n, 7)
    theta = finn_chernoff(ct, ph, ps, ci)
    for rho_avg in (4.0, 10.0, 25.0):
        frac = np.mean(rho_avg * theta * 5 / 8 > 8.0)
        err = 4 * math.sqrt(frac * (1 - frac) / n) + 1e-5
        assert detection.detection_probability(rho_avg, 8.0, "aligo") == pytest.approx(frac, abs=err)
    # rho_max = rho_avg / (2/5): nothing is detected for rho_avg < (2/5) threshold.
    assert detection.detection_probability([0.0, 3.199], 8.0, "aligo").tolist() == [0.0, 0.0]
    assert detection.detection_probability(3.21, 8.0, "aligo") > 0.0
    assert detection.detection_probability(math.inf, 8.0, "et") == 1.0
    p = detection.detection_probability(np.linspace(0, 200, 2001), 8.0, "lisa")
    assert np.all(np.diff(p) >= 0) and p[-1] > 0.999


def test_network_p_det_matches_a_direct_monte_carlo():
    # H1 + L1 + V1 with unequal shares of the averaged SNR^2 (2:2:1): the
    # network SNR^2 is sum_k rho_avg,k^2 Q_k / <Q_k>, <Q_k> = 4/25.
    sites, shares = ("H1", "L1", "V1"), np.array([0.4, 0.4, 0.2])
    n = 200_000
    ct, ph, ps, ci = isotropic(n, 11)
    st = np.sqrt(1 - ct**2)
    k = np.stack([st * np.cos(ph), st * np.sin(ph), ct])
    e_th = np.stack([ct * np.cos(ph), ct * np.sin(ph), -st])
    e_ph = np.stack([-np.sin(ph), np.cos(ph), 0 * ph])
    p = np.cos(ps) * e_th + np.sin(ps) * e_ph
    q = -np.sin(ps) * e_th + np.cos(ps) * e_ph
    assert np.allclose(np.einsum("in,in->n", p, k), 0)
    rho2 = 0.0
    for site, share in zip(sites, shares):
        d = _antenna.ground_tensor(site)
        fp = np.einsum("in,ij,jn->n", p, d, p) - np.einsum("in,ij,jn->n", q, d, q)
        fx = 2 * np.einsum("in,ij,jn->n", p, d, q)
        rho2 = rho2 + share * (fp**2 * (1 + ci**2) ** 2 / 4 + fx**2 * ci**2) / (4 / 25)
    net = detection.ground_network(sites, sensitivities=[2, 2, 1])
    assert net.channels == 3
    for rho_avg in (5.0, 9.0, 15.0):
        frac = np.mean(rho_avg**2 * rho2 > 64.0)
        assert net.p_det(rho_avg, 8.0) == pytest.approx(frac, abs=4 * math.sqrt(frac * (1 - frac) / n) + 2e-3)


def test_noise_fluctuations_noncentral_chi2():
    # Observed SNR^2 ~ ncx2(2N, rho(Omega)^2): checked by drawing w from the
    # table (inverse CDF) and the noise from scipy's ncx2.
    rng = np.random.default_rng(3)
    for det, channels in (("aligo", 1), ("et", 3)):
        proj = detection.projection(det)
        assert proj.channels == channels
        # No signal: the false-alarm probability of the chi^2_{2N} statistic.
        assert detection.detection_probability(0.0, 8.0, det, noise_fluctuations=True) == pytest.approx(
            stats.chi2.sf(64.0, 2 * channels), rel=1e-6)
        u = rng.uniform(0, 1, 300_000)
        w = np.interp(u, proj.sf[::-1], proj.w[::-1])  # P(w' > w) = u
        for rho_avg in (3.0, 8.0, 14.0):
            rho = rho_avg / math.sqrt(proj.mean_w2) * w
            obs = stats.ncx2.rvs(2 * channels, rho**2, random_state=rng)
            frac = np.mean(obs > 64.0)
            got = detection.detection_probability(rho_avg, 8.0, det, noise_fluctuations=True)
            assert got == pytest.approx(frac, abs=4 * math.sqrt(frac * (1 - frac) / u.size) + 1e-3)
    # Far above threshold the noise no longer matters.
    loud = detection.detection_probability(400.0, 8.0, "aligo", noise_fluctuations=True)
    assert loud == pytest.approx(detection.detection_probability(400.0, 8.0, "aligo"), abs=1e-4)


def test_vectorised_shapes_speed_and_refusals():
    snr = np.random.default_rng(0).uniform(0, 100, 1_000_000)
    t0 = time.perf_counter()
    p = detection.detection_probability(snr, 8.0, "aligo")
    assert time.perf_counter() - t0 < 1.0
    assert p.shape == snr.shape and p.dtype == np.float64 and 0 <= p.min() and p.max() <= 1
    grid = detection.detection_probability(np.full((2, 3), 20.0), [8.0, 10.0, 12.0], "et", noise_fluctuations=True)
    assert grid.shape == (2, 3) and np.all(np.diff(grid[0]) < 0)
    assert isinstance(detection.detection_probability(20.0, 8.0, "tianqin"), float)
    for bad in (dict(snr=-1.0), dict(snr=math.nan), dict(threshold=math.inf), dict(threshold=0.0),
                dict(detector="virgo-o3"), dict(detector=type("FileCurve", (), {"name": "file:o4.txt"})()),
                dict(detector="H1+H1"), dict(noise_fluctuations="yes"), dict(threshold=[8.0, 9.0])):
        args = dict(snr=[10.0, 20.0, 30.0], threshold=8.0, detector="aligo") | bad
        with pytest.raises(InputError):
            detection.detection_probability(**args)
    with pytest.raises(InputError):
        detection.ground_network("H1+L1", sensitivities=[1.0])


def test_required_snr_inverts_p_det():
    p = np.array([0.05, 0.5, 0.95])
    for det in ("aligo", "lisa", "H1+L1+V1"):
        for noise in (False, True):
            rho = detection.required_snr(p, 8.0, det, noise_fluctuations=noise)
            assert detection.detection_probability(rho, 8.0, det, noise_fluctuations=noise) == pytest.approx(p, abs=1e-9)
    # Noiseless, one L: rho_avg(1/2) = 8 (2/5) / w_1/2, w_1/2 the median of w.
    w_half = np.interp(0.5, detection.projection("aligo").sf[::-1], detection.projection("aligo").w[::-1])
    assert detection.required_snr(0.5, 8.0, "aligo") == pytest.approx(3.2 / w_half, rel=1e-12)
    for bad in (0.0, 1.0, -0.1, math.nan):
        with pytest.raises(InputError):
            detection.required_snr(bad, 8.0, "et")
    with pytest.raises(InputError):  # below the false-alarm probability of chi^2_2 > 64
        detection.required_snr(1e-16, 8.0, "aligo", noise_fluctuations=True)

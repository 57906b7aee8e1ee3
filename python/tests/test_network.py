"""Networks of detectors, p_det through binary_snr/horizon, and the band
inverse t_start_for_frequency."""

import numpy as np
import pytest

import phenomd
from phenomd import cli, noise
from phenomd._band import frequency_at_time, t_start_for_frequency
from phenomd._inputs import InputError
from phenomd.detection import detection_probability, projection

pytestmark = pytest.mark.needs_library


def test_band_inverse_round_trips_through_the_library_grid():
    # Random binaries over the accepted masses, mass ratios up to 100 and
    # redshifts 1e-3..10: amplitude(..., t_start=t) must start its grid at
    # the frequency asked for.  Starts past the model's last frequency
    # (Mf = 0.2) give the library's empty-band sentinel and are left out.
    rng = np.random.default_rng(20)
    n = 300
    m1 = 10 ** rng.uniform(0, 8, n)
    m2 = m1 * 10 ** rng.uniform(-2, 0, n)
    z = 10 ** rng.uniform(-3, 1, n)
    f = 10 ** rng.uniform(-5, 3, n)
    t = t_start_for_frequency(m1, m2, z, f)
    keep = t < 1e8
    a = phenomd.amplitude(m1[keep], m2[keep], 0.0, 0.0, None, z[keep], t[keep], 0.0, length=2)
    started = a.freqs[:, 0] != 1e-30
    assert started.sum() > 100
    np.testing.assert_allclose(a.freqs[started, 0], f[keep][started], rtol=1e-13, atol=0)
    # and the Python transcription of the forward relation agrees with it
    np.testing.assert_allclose(frequency_at_time(m1[keep], m2[keep], z[keep], t[keep])[started],
                               a.freqs[started, 0], rtol=1e-13, atol=0)


def test_band_start_puts_the_whole_band_inside_the_curve():
    aligo = noise.curve("aligo")
    r = phenomd.binary_snr([36.0, 10.0, 5.0], [29.0, 10.0, 5.0], 0.0, 0.0, None, [0.09, 0.5, 0.01], "band",
                           noise=aligo)
    # The first grid point at f_min, none below it (and these bands end
    # below 5 kHz, Mf = 0.2 at (1 + z) M >= 10 Msun: none above).
    assert r.n_outside.tolist() == [0, 0, 0]
    assert "band" in r.provenance["t_start"]
    with pytest.raises(InputError, match="band"):
        phenomd.binary_snr(1e6, 1e6, 0, 0, None, 1.0, "bnad")


def test_network_snr2_is_the_sum_of_its_members():
    # Independent computation: each member alone through binary_snr; the
    # network's SNR^2 (one curve, 1/h_n^2 summed) must equal their sum.
    lisa, taiji = noise.curve("lisa", years=4), noise.curve("taiji", years=4)
    m = np.array([1e4, 1e6, 3e7])
    args = (m, m / 2, 0.3, 0.1, None, [0.5, 1.0, 3.0], 4.0)
    net = phenomd.binary_snr(*args, noise=noise.network(lisa, taiji))
    alone = [phenomd.binary_snr(*args, noise=c).snr_all for c in (lisa, taiji)]
    # Each side is converged to the default rtol = 1e-6 (its own panels: the
    # network's break at the members' range ends), so they agree to 2 rtol.
    np.testing.assert_allclose(net.snr_all ** 2, alone[0] ** 2 + alone[1] ** 2, rtol=2e-6)
    np.testing.assert_allclose(net.members["taiji"].snr_all, alone[1], rtol=1e-12)
    assert "taiji" in net.provenance["members"]


def test_binary_snr_threshold_is_detection_probability_of_its_snr():
    r = phenomd.binary_snr([36.0, 20.0], [29.0, 20.0], 0.0, 0.0, None, [0.09, 0.9], "band",
                           noise=noise.curve("et"), threshold=8.0, noise_fluctuations=True)
    np.testing.assert_array_equal(r.p_det, detection_probability(r.snr_all, 8.0, "et", noise_fluctuations=True))
    assert r.provenance["threshold"] == "8" and "triangle" in r.provenance["p_det_detector"]
    assert r.provenance["noise_fluctuations"].startswith("included")
    with pytest.raises(InputError, match="inclination"):
        phenomd.binary_snr(36.0, 29.0, 0, 0, None, 0.09, 4.0, noise=noise.curve("et"), threshold=8.0,
                           inclination="face-on")


def test_space_network_p_det_refused_unless_independent_approximation_asked():
    with pytest.raises(InputError, match="independent"):
        phenomd.binary_snr(1e6, 1e6, 0, 0, None, 1.0, 4.0, noise=noise.network("lisa", "taiji"), threshold=8)


def test_independent_members_p_det_against_monte_carlo():
    # The approximation: P(sum_i rho_i^2 w_i^2 / <w_i^2> > thr^2), w_i
    # independent.  Monte Carlo: draw each w_i by inverting its survival
    # function, count.  Limit: one member silent gives the other's own
    # p_det (through detection_probability).
    net = noise.network("lisa", "taiji", p_det_approximation="independent")
    projs = [projection("lisa"), projection("taiji")]
    rho = (np.array([5.0, 7.0, 3.0]), np.array([6.0, 2.0, 0.0]))
    p = net.p_det(rho, 8.0)
    rng = np.random.default_rng(3)
    k = 400_000
    draws = []
    for proj in projs:
        keep = np.r_[True, np.diff(proj.sf) < 0]
        u = rng.uniform(size=k)
        draws.append(np.interp(u, proj.sf[keep][::-1], proj.w[keep][::-1]))
    for i in range(3):
        snr2 = sum(r[i] ** 2 * w ** 2 / pr.mean_w2 for r, w, pr in zip(rho, draws, projs))
        mc = np.mean(snr2 > 64.0)
        assert abs(p[i] - mc) < 4 * np.sqrt(mc * (1 - mc) / k) + 2e-3, (i, p[i], mc)
    assert p[2] == pytest.approx(detection_probability(3.0, 8.0, "lisa"), abs=1e-12)


def test_ground_network_of_sites_uses_the_network_geometry():
    net = noise.network("aligo@H1", "aligo@L1", "aligo@V1")
    r = phenomd.binary_snr(36.0, 29.0, 0.0, 0.0, None, 0.3, "band", noise=net, threshold=8.0)
    one = r.members["aligo@H1"].snr_all
    np.testing.assert_allclose(r.snr_all, np.sqrt(3) * one, rtol=1e-9)  # three equal members
    assert r.p_det == pytest.approx(projection("H1+L1+V1").p_det(r.snr_all, 8.0), rel=1e-12)
    for members, words in ((("aligo@X9", "aligo@L1"), "unknown site"), (("et@H1", "aligo@L1"), "L-shaped"),
                           (("lisa+taij",), "unknown curve"), (("aligo@H1", "lisa"), "every member")):
        with pytest.raises(InputError, match=words):
            noise.network(*members)


def test_horizon_p_det_is_where_binary_snr_gives_that_p_det():
    aligo = noise.curve("aligo")
    h = phenomd.horizon([20.0, 65.0], snr=8.0, noise=aligo, t_start="band", p_det=0.5, z_max=10.0)
    m = np.array([20.0, 65.0]) / 2
    r = phenomd.binary_snr(m, m, 0.0, 0.0, None, h.redshift, "band", noise=aligo, threshold=8.0)
    np.testing.assert_allclose(r.p_det, 0.5, atol=1e-4)
    assert h.provenance["p_det"].startswith("0.5 of sky positions")


def test_cli_network_columns_and_typo(tmp_path, capsys):
    src = tmp_path / "in.csv"
    src.write_text("m1,m2,redshift\n36,29,0.09\n5e5,5e5,1\n")
    out = tmp_path / "out.csv"
    assert cli.main(["snr", str(src), "--noise", "lisa+taiji", "--p-det-approximation", "independent",
                     "--threshold", "8", "--method", "trapezoid", "--length", "300", "-o", str(out), "-q"]) == 0
    header = next(line for line in out.read_text().splitlines() if not line.startswith("#"))
    assert header.split(",")[-3:] == ["snr_all_lisa", "snr_all_taiji", "p_det"]
    assert "independent-members approximation" in (tmp_path / "out.csv.meta.json").read_text()
    assert cli.main(["snr", str(src), "--noise", "lisa+taij"]) == 2
    assert "unknown curve 'taij'" in capsys.readouterr().err


def test_waterfall_draws_p_det_of_its_cells():
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    w = phenomd.waterfall(x=("mass", 5.0, 500.0, 4), y=("redshift", 0.01, 2.0, 3), fixed={"t_start": "band"},
                          noise=noise.curve("aligo"), threshold=8.0, method="trapezoid", length=200)
    np.testing.assert_array_equal(w.p_det, detection_probability(w.snr_all, 8.0, "aligo"))
    assert w.p_det.min() < 0.1 and w.p_det.max() > 0.9 and "band" in w.provenance["fixed"]
    fig, ax = plt.subplots()
    artists = w.draw(ax)
    assert "detection probability" in artists["colorbar"].ax.get_ylabel()
    plt.close(fig)

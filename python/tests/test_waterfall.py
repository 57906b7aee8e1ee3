"""Waterfalls over any two parameters: grid layout, cells against direct
binary_snr calls, the parameter conventions, outside-range flags."""

import numpy as np
import pytest

import phenomd
from phenomd import noise
from phenomd.waterfall import redshift_at_distance, waterfall

pytestmark = pytest.mark.needs_library

LENGTH = 150


def _lisa():
    try:
        return noise.curve("lisa", years=4)
    except phenomd.InputError:  # no response table in this checkout
        return noise.LISA(4, response="approximate")


def _direct(M, q, spin1, spin2, z, t_start, t_end=0.0, distance=None, curve=None, inclination="average"):
    """One binary by binary_snr, its masses from (M, q) computed here."""
    m1, m2 = M / (1.0 + q), M * q / (1.0 + q)
    return phenomd.binary_snr(m1, m2, spin1, spin2, distance, z, t_start, t_end, LENGTH, method="trapezoid", noise=curve or _lisa(),
                              inclination=inclination)


def test_mass_by_mass_ratio_cells_are_the_binaries_they_name():
    curve = _lisa()
    g = waterfall(("mass", 1e4, 1e8, 5), ("q", 0.1, 1.0, 4, "linear"), fixed={"z": 2.0, "spin": 0.4},
                  noise=curve, method="trapezoid", length=LENGTH, phase="ins")
    assert g.shape == (4, 5) and g.snr.shape == g.outside.shape == (4, 5)
    assert np.allclose(g.x.values, np.geomspace(1e4, 1e8, 5)) and np.allclose(g.y.values, [0.1, 0.4, 0.7, 1.0])
    assert g.fixed == {"redshift": 2.0, "spin": 0.4, "t_start": 4.0, "t_end": 0.0}
    for j, i in [(0, 0), (2, 3), (3, 4)]:  # rows along y (q), columns along x (M)
        r = _direct(g.x.values[i], g.y.values[j], 0.4, 0.4, 2.0, 4.0, curve=curve)
        assert g.snr[j, i] == pytest.approx(r.snr_ins[0], rel=1e-12)
        assert g.snr_all[j, i] == pytest.approx(r.snr_all[0], rel=1e-12)
    np.testing.assert_array_equal(g.snr, g.snr_ins)
    # The title carries every fixed value, the colour-bar label the convention.
    assert "z = 2" in g.title() and "0.4" in g.title() and "4 yr" in g.title()
    assert "inclination-averaged" in g.snr_label() and "inspiral" in g.snr_label()


def test_mass_by_redshift_and_by_distance_agree_with_the_cosmology():
    curve = _lisa()
    g = waterfall(("mass", 1e5, 1e7, 3), ("redshift", 0.1, 5.0, 4), fixed={"q": 0.5, "spin1": 0.9, "spin2": -0.5},
                  noise=curve, method="trapezoid", length=LENGTH, inclination="face-on")
    assert g.shape == (4, 3)
    r = _direct(g.x.values[1], 0.5, 0.9, -0.5, g.y.values[2], 4.0, curve=curve, inclination="face-on")
    assert g.snr[2, 1] == pytest.approx(r.snr_all[0], rel=1e-12)
    assert "face-on" in g.snr_label()

    # A distance axis: the redshift of each cell is the cosmology's at that
    # distance (astropy, here), and the SNR is that of binary_snr given both.
    from astropy.cosmology import Planck18

    d = waterfall(("mass", 1e5, 1e7, 3), ("distance", 1e3, 1e5, 3), noise=curve, method="trapezoid", length=LENGTH)
    assert np.allclose(Planck18.luminosity_distance(d.redshift).value, d.distance, rtol=1e-9)
    np.testing.assert_allclose(d.distance[:, 0], [1e3, 1e4, 1e5], rtol=1e-15)
    r = _direct(1e6, 0.2, 0.8, 0.8, d.redshift[1, 1], 4.0, distance=1e4, curve=curve)
    assert d.snr[1, 1] == pytest.approx(r.snr_all[0], rel=1e-12)
    z = redshift_at_distance(np.geomspace(0.1, 1e7, 9))
    assert np.allclose(Planck18.luminosity_distance(z).value, np.geomspace(0.1, 1e7, 9), rtol=1e-10)


def test_observation_time_and_start_time_axes():
    curve = _lisa()
    # T_obs with the observation ending 2 years before merger: the band
    # runs from 2 + T_obs to 2 years before merger.
    g = waterfall(("tobs", 0.5, 8.0, 3), ("mass", 1e3, 1e5, 3), fixed={"t_end": 2.0, "z": 0.5}, noise=curve,
                  method="trapezoid", length=LENGTH)
    r = _direct(g.y.values[1], 0.2, 0.8, 0.8, 0.5, 2.0 + g.x.values[2], 2.0, curve=curve)
    assert g.snr[1, 2] == pytest.approx(r.snr_all[0], rel=1e-12)
    assert (np.diff(g.snr, axis=1) >= 0).all()  # a longer observation of the same inspiral adds signal
    # t_start below t_end: an empty band, flagged as such and not as outside.
    s = waterfall(("t_start", 0.2, 15.0, 5), ("spin", -0.5, 0.5, 3), fixed={"t_end": 1.0}, noise=curve,
                  method="trapezoid", length=LENGTH)
    empty = s.x.values < 1.0
    assert s.inverted[:, empty].all() and not s.inverted[:, ~empty].any()
    assert (s.snr[:, empty] == 0).all() and (s.snr[:, ~empty] > 0).all()
    assert not s.outside.any()


def test_cells_outside_the_noise_curves_range_are_flagged(tmp_path):
    # A curve known only at 0.1-3 mHz: heavy binaries end below it, light
    # ones start above it.
    f = np.geomspace(1e-4, 3e-3, 30)
    path = tmp_path / "narrow.txt"
    np.savetxt(path, np.column_stack([f, _lisa()(f)]))
    curve = noise.from_file(path, "hn")
    g = waterfall(("mass", 1e2, 1e10, 9), ("redshift", 0.1, 10.0, 3), fixed={"q": 1.0}, noise=curve, method="trapezoid", length=LENGTH)
    assert g.outside.any() and (~g.outside).any()
    assert (g.snr[g.outside] == 0).all()
    # Independently: a band entirely outside has every grid point outside.
    for j, i in zip(*np.nonzero(np.ones(g.shape, dtype=bool))):
        r = _direct(g.x.values[i], 1.0, 0.8, 0.8, g.y.values[j], 4.0, curve=curve)
        assert g.outside[j, i] == (r.n_outside[0] == LENGTH)
    assert g.outside[:, -1].all()  # 1e10 Msun ends below 0.1 mHz at every z
    # 100 Msun starts above 3 mHz at z <= 1; at z = 10 the redshifted band
    # reaches into the curve: a weak signal (SNR below 1), not "outside".
    assert g.outside[:2, 0].all() and not g.outside[2, 0] and 0 < g.snr[2, 0] < 1
    cols = g.columns()
    assert cols["outside"].sum() == g.outside.sum() and cols["snr_all"].shape == (27,)
    assert list(cols)[:3] == ["mass", "redshift", "distance"]  # the axes first, z not repeated
    np.testing.assert_array_equal(cols["distance"].reshape(g.shape), g.distance)
    np.testing.assert_array_equal(cols["mass"].reshape(g.shape)[1], g.x.values)  # row-major over (y, x)


@pytest.mark.parametrize("x, y, fixed, argument", [
    (("mass", 1e4, 1e6, 3), ("total_mass", 1e4, 1e6, 3), None, "y"),
    (("mass", 1e4, 1e6, 3), ("redshift", 0.1, 1, 3), {"distance": 100.0}, "fixed"),
    (("spin", -0.5, 0.5, 3), ("mass", 1e4, 1e6, 3), {"spin1": 0.1}, "fixed"),
    (("mass", 1e4, 1e6, 3), ("redshift", 0.1, 1, 3), {"mass": 1e5}, "fixed"),
    (("chirp", 1e4, 1e6, 3), ("redshift", 0.1, 1, 3), None, "x"),
    (("mass", -1.0, 1e6, 3), ("redshift", 0.1, 1, 3), None, "x"),
    (("mass", 1e4, 1e6, 1), ("redshift", 0.1, 1, 3), None, "x"),
])
def test_conflicting_or_bad_axes_are_refused(x, y, fixed, argument):
    with pytest.raises(phenomd.InputError) as err:
        waterfall(x, y, fixed, method="trapezoid", length=LENGTH)
    assert err.value.argument == argument

"""Horizons: the SNR at the returned redshift is the threshold; bounds are
finite and flagged; the first crossing is taken where the SNR is not
monotone in z."""

import numpy as np
import pytest

import phenomd
from phenomd import noise
from phenomd.horizon import component_masses, horizon

pytestmark = pytest.mark.needs_library

LENGTH = 200


def _lisa():
    try:
        return noise.curve("lisa", years=4)
    except phenomd.InputError:  # no response table in this checkout
        return noise.LISA(4, response="approximate")


def _evaluate(mass, q, z, inclination="average", curve=None, spin1=0.0, spin2=0.0, t_start=4.0):
    """binary_snr at these redshifts, independently of the search."""
    m1, m2 = np.asarray(mass) / (1 + q), np.asarray(mass) * q / (1 + q)
    return phenomd.binary_snr(m1, m2, spin1, spin2, None, z, t_start, method="trapezoid", length=LENGTH, noise=curve or _lisa(),
                              inclination=inclination)


def _snr(mass, q, z, phase="all", **kwargs):
    return getattr(_evaluate(mass, q, z, **kwargs), "snr_" + phase)


@pytest.mark.parametrize("phase, inclination, threshold", [("all", "average", 10.0), ("ins", "face-on", 8.0),
                                                            ("rd", 0.7, 20.0)])
def test_snr_at_the_horizon_is_the_threshold(phase, inclination, threshold):
    masses = np.geomspace(1e5, 1e9, 5)
    h = horizon(masses, 0.5, 0.3, -0.2, snr=threshold, phase=phase, inclination=inclination, noise=_lisa(),
                method="trapezoid", length=LENGTH, rtol=1e-5)
    ok = h.reached == "ok"
    assert ok.sum() >= 3, h.reached
    z = h.redshift[ok]
    spins = dict(inclination=inclination, spin1=0.3, spin2=-0.2)
    rho = _snr(masses[ok], 0.5, z, phase, **spins)
    # The redshift is good to rtol = 1e-5 relative (bracket), so the SNR is
    # good to |d ln rho / d ln z| * 1e-5; the slope from a finite
    # difference computed here.
    rho_up = _snr(masses[ok], 0.5, z * 1.001, phase, **spins)
    slope = np.abs(np.log(rho_up / rho)) / np.log(1.001)
    equal = np.abs(rho / threshold - 1) <= 1.5 * slope * 1e-5 + 1e-12
    # Where a grid point crosses the edge of the curve's range, or a grid
    # interval's midpoint a phase boundary, inside the final bracket, the
    # SNR jumps there (no redshift
    # has it equal to the threshold); the horizon is then the jump,
    # bracketed to 1e-5: across the bracket the SNR changes far more than
    # the slope allows.
    low = getattr(_evaluate(masses[ok], 0.5, h.z_low[ok], **spins), "snr_" + phase)
    high = getattr(_evaluate(masses[ok], 0.5, h.z_high[ok], **spins), "snr_" + phase)
    jump = np.log(low / high) > 10 * slope * np.log(h.z_high[ok] / h.z_low[ok])
    assert np.all(equal | jump), (rho, slope)
    assert equal.sum() >= 3
    assert np.all(low >= threshold) and np.all(high < threshold)
    assert np.all(np.log(h.z_high[ok] / h.z_low[ok]) <= 1e-5)
    assert np.all((h.z_low[ok] <= z) & (z <= h.z_high[ok]))
    # Distances: Planck18 at z (astropy, independently).
    from astropy.cosmology import Planck18

    found = h.reached == "ok"
    assert np.allclose(h.luminosity_distance[found], Planck18.luminosity_distance(h.redshift[found]).value, rtol=1e-8)
    assert np.isnan(h.luminosity_distance[~found]).all()
    assert h.provenance["phase"] == phase and h.provenance["snr_threshold"] == repr(threshold)


def test_never_and_always_reached_keep_the_bound_out_of_the_values():
    curve = _lisa()
    # 1e6 Msun at z_max = 0.05 is still far above SNR 10 (always);
    # 2 Msun does not reach SNR 10 in the LISA band even at z_min (never).
    # A bound written as the horizon (z = z_max) read as a horizon in every
    # table: the value is NaN, the bound in its own column.
    h = horizon([2.0, 1e6, 30.0], 1.0, snr=10.0, noise=curve, method="trapezoid", length=LENGTH, z_min=1e-3, z_max=0.05)
    assert list(h.reached) == ["below", "above", "ok"]
    assert np.isnan(h.redshift[:2]).all() and np.isnan(h.luminosity_distance[:2]).all()
    assert h.redshift_bound[0] == 1e-3 and h.redshift_bound[1] == 0.05 and np.isnan(h.redshift_bound[2])
    assert np.isfinite(h.redshift[2]) and np.isfinite(h.luminosity_distance[2])
    assert list(h.columns()).index("redshift_bound") > list(h.columns()).index("redshift")
    assert h.ok.tolist() == [False, False, True]
    # The flags say what the SNR does at the bounds (checked here directly).
    assert _snr(2.0, 1.0, 1e-3, curve=curve) < 10.0
    assert _snr(1e6, 1.0, 0.05, curve=curve) >= 10.0
    # A threshold nothing reaches: every mass flagged, at the bound.
    h = horizon(np.geomspace(1e3, 1e8, 4), snr=1e15, noise=curve, method="trapezoid", length=LENGTH)
    assert (h.reached == "below").all() and (h.redshift_bound == 1e-4).all() and np.isnan(h.redshift).all()
    with pytest.raises(phenomd.InputError, match="z_max = 2000") as err:
        horizon(1e6, noise=curve, method="trapezoid", length=LENGTH, z_max=2000)
    assert err.value.argument == "z_max"


def test_first_crossing_where_the_band_moves_into_the_curves_range(tmp_path):
    # A curve valid only at 10-30 uHz: at low z a 1e6 Msun binary's last
    # 4 years lie above it (SNR 0); with redshift the band moves down into
    # it, the SNR rises, then falls with distance.
    f = np.geomspace(1e-5, 3e-5, 40)
    path = tmp_path / "narrow.txt"
    np.savetxt(path, np.column_stack([f, _lisa()(f)]))
    curve = noise.from_file(path, "hn")
    zs = np.geomspace(1e-2, 50, 60)
    scan = _snr(np.full(zs.size, 1e6), 1.0, zs, curve=curve)
    assert scan[0] == 0.0 and scan.max() > 0
    threshold = 0.5 * scan.max()  # reached in the middle, not at either end
    h = horizon(1e6, 1.0, snr=threshold, noise=curve, method="trapezoid", length=LENGTH, z_min=1e-2, z_max=50.0)
    assert h.reached[0] == "ok" and h.rising[0]
    z_h = h.redshift[0]
    # The far end of the detectable interval: beyond the SNR's peak, with
    # the SNR at or above the threshold just before it.
    assert z_h > zs[np.argmax(scan)]
    assert _snr(1e6, 1.0, h.z_low[0], curve=curve) >= threshold > _snr(1e6, 1.0, h.z_high[0], curve=curve)
    assert _snr(1e6, 1.0, 1e-2, curve=curve) < threshold


def test_mass_ratio_above_one_is_the_same_binary_with_bodies_exchanged():
    curve = _lisa()
    a = horizon([1e5, 1e7], 4.0, 0.6, -0.3, noise=curve, method="trapezoid", length=LENGTH)
    b = horizon([1e5, 1e7], 0.25, -0.3, 0.6, noise=curve, method="trapezoid", length=LENGTH)
    assert np.allclose(a.redshift, b.redshift, rtol=1e-9)
    m1, m2 = component_masses(1e6, 4.0)
    assert m2 == pytest.approx(4 * m1) and m1 + m2 == pytest.approx(1e6)


def test_a_curves_name_is_the_curve_everywhere():
    # binary_snr, horizon and waterfall take a built-in curve's name (any
    # case) for the curve noise.curve(name) makes, with its 4-year default.
    u = pytest.importorskip("astropy.units")
    by_name = phenomd.binary_snr(1e6, 5e5, 0.0, 0.0, None, 1.0, 4.0, method="trapezoid", length=LENGTH, noise="TianQin")
    by_curve = phenomd.binary_snr(1e6, 5e5, 0.0, 0.0, None, 1.0, 4.0, method="trapezoid", length=LENGTH,
                                  noise=noise.TianQin(years=4 * u.yr))
    assert by_name.snr_all[0] == by_curve.snr_all[0] and by_name.provenance["noise"] == "TianQin(years=4.0)"
    assert (horizon(1e6, noise="LISA", method="trapezoid", length=LENGTH).redshift[0]
            == horizon(1e6, method="trapezoid", length=LENGTH).redshift[0])
    w = phenomd.waterfall(x=("mass", 1e5, 1e6, 2), y=("redshift", 1, 2, 2), noise="taiji", method="trapezoid",
                          length=LENGTH)
    assert w.noise_name == "taiji (4 yr foreground)"
    with pytest.raises(phenomd.InputError, match="did you mean 'lisa'") as err:
        horizon(1e6, noise="lisaa", method="trapezoid", length=LENGTH)
    assert err.value.argument == "noise"


def test_one_inclination_per_mass():
    curve = _lisa()
    both = horizon([1e6, 1e6], inclination=[0.0, np.pi / 2], noise=curve, method="trapezoid", length=LENGTH)
    face = horizon(1e6, inclination="face-on", noise=curve, method="trapezoid", length=LENGTH)
    edge = horizon(1e6, inclination="edge-on", noise=curve, method="trapezoid", length=LENGTH)
    assert both.redshift[0] == pytest.approx(face.redshift[0], rel=2e-5)
    assert both.redshift[1] == pytest.approx(edge.redshift[0], rel=2e-5)
    assert both.redshift[0] > both.redshift[1]  # face-on is louder (k = sqrt 8 against 1)


@pytest.mark.parametrize("kwargs, argument", [
    (dict(phase="merger"), "phase"),
    (dict(snr=0.0), "snr"),
    (dict(z_min=1.0, z_max=0.5), "z_max"),
    (dict(mass_ratio=-1.0), "mass_ratio"),
    (dict(spin2=[0.1, 0.2, 1.5]), "spin2"),
])
def test_bad_arguments_name_themselves(kwargs, argument):
    with pytest.raises(phenomd.InputError) as err:
        horizon([1e5, 1e6, 1e7], method="trapezoid", length=LENGTH, **kwargs)
    assert err.value.argument == argument
    if argument == "spin2":  # the mass's index, not a place in the search's batches
        assert err.value.index == 2

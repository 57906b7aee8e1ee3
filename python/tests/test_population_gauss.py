"""The population module's quadrature entry through its wrapper, against
scipy's adaptive quadrature of the same integrand: (k h_c / h_n)^2 over
ln f, h_c a not-a-knot cubic spline of ln h_c through a dense grid of
amplitude() (joined at the model's two piece joins) and h_n the table's own
read-back (NoiseTable.evaluate), each phase integrated between its
boundaries.  Two curves: a built-in one and a file curve."""

import os

import numpy as np
import pytest
from scipy import integrate, interpolate

import phenomd
from phenomd import _population, noise

pytestmark = pytest.mark.needs_library

RTOL = 1e-6


@pytest.fixture(scope="module")
def population(gauss_population):
    return gauss_population


def _file_curve(tmp_path):
    """A ground-detector-like ASD written to a file: a wall below 20 Hz, a
    bucket near 200 Hz and a rise above, at 400 log-spaced points."""
    f = np.geomspace(5.0, 5000.0, 400)
    asd = 4e-24 * np.sqrt((20.0 / f) ** 8 + 1.0 + (f / 200.0) ** 2)
    path = tmp_path / "asd.txt"
    np.savetxt(path, np.column_stack([f, asd]))
    return noise.from_file(path, "asd")


def _reference(library_path, b, i, table):
    """scipy.integrate.quad of each phase, on a spline of a 40001-point row."""
    lib = os.path.dirname(library_path)
    a = phenomd.amplitude(*(np.array([b[k][i]]) for k in ("m1", "m2", "spin1", "spin2", "dist", "z",
                                                          "t_start", "t_end")),
                          40001, inclination="edge-on", library=lib)
    f, hc = a.freqs[0], a.hc[0] * b["factor"][i]
    x = np.log(f)
    # The amplitude is only C^1 at Mf = 0.014 and at its merger-ringdown
    # piece's start (f_ringdown_start): one spline between joins.  Mf = 0.014
    # in Hz from f_merger_start, Mf = 1 / (6^(3/2) pi) with the model's pi.
    f_ins_join = 0.014 * a.f_merger_start[0] * (3.1415926536 * 14.696938456699069)
    inner = sorted(v for v in (np.log(f_ins_join), np.log(a.f_ringdown_start[0])) if x[0] < v < x[-1])
    joins = [x[0], *inner, x[-1]]
    splines = []
    for lo, hi in zip(joins[:-1], joins[1:]):
        m = (x >= lo) & (x <= hi)
        if m.sum() >= 4:
            splines.append((lo, hi, interpolate.CubicSpline(x[m], np.log(hc[m]))))

    def g(u):
        for lo, hi, s in splines:
            if lo <= u <= hi:
                hn = table.evaluate(np.array([np.exp(u)])).hn[0]
                return float(np.exp(2 * s(u)) / hn**2)
        return 0.0

    lo = max(x[0], np.log(table.f_min))
    hi = min(x[-1], np.log(table.f_max))
    fm, fr = np.log(a.f_merger_start[0]), np.log(a.f_ringdown_start[0])

    def part(u0, u1):
        if not u0 < u1:
            return 0.0
        pts = [p for p in inner if u0 < p < u1]
        return integrate.quad(g, u0, u1, points=pts or None, limit=2000, epsabs=0, epsrel=1e-11)[0]

    ins = part(lo, min(hi, fm))
    mrg = part(max(lo, fm), min(hi, fr))
    rd = part(max(lo, fm, fr), hi)
    return np.sqrt([ins + mrg + rd, ins, mrg, rd])


@pytest.mark.parametrize("which", ["builtin", "file"])
def test_gauss_snrs_match_scipy_quadrature(population, library_path, tmp_path, which):
    if which == "builtin":
        table = noise.curve("lisa").table()
        m = np.array([2e6, 3e5, 4e7])
        z = np.array([1.0, 0.3, 3.0])
        t0 = np.array([4.0, 1.0, 4.0])
    else:
        table = _file_curve(tmp_path).table()
        m = np.array([30.0, 150.0, 8.0])
        z = np.array([0.1, 0.5, 0.01])
        t0 = np.array([1e-6, 1e-6, 1e-5])
    n = len(m)
    b = dict(m1=m * 0.6, m2=m * 0.4, spin1=np.array([0.3, -0.5, 0.9]), spin2=np.array([0.1, 0.2, -0.4]),
             dist=np.array([6.7e3, 1.6e3, 2.6e4]), z=z, t_start=t0, t_end=np.zeros(n),
             factor=np.full(n, np.sqrt(16 / 5)))
    got = _population.population_snr_gauss(population, b["m1"], b["m2"], b["spin1"], b["spin2"], b["dist"],
                                            b["z"], b["t_start"], b["t_end"], b["factor"], table, RTOL, True)
    for i in range(n):
        ref = _reference(library_path, b, i, table)
        g = np.array([got[k][i] for k in ("snr_all", "snr_ins", "snr_mrg", "snr_rd")])
        carried = ref**2 >= 1e-3 * ref[0] ** 2
        assert carried[0] and ref[0] > 0
        np.testing.assert_allclose(g[carried], ref[carried], rtol=RTOL, err_msg=f"binary {i}")


def test_gauss_refuses_bad_tolerance_and_kinks(population):
    one = np.ones(1)
    args = (population, 1e6 * one, 5e5 * one, 0 * one, 0 * one, 1e4 * one, one, 4 * one, 0 * one, one,
            noise.curve("lisa").table())
    for rtol in (0.0, 1e-12, 0.5, float("nan")):
        with pytest.raises(ValueError, match="rtol"):
            _population.population_snr_gauss(*args, rtol, False)
    with pytest.raises(ValueError, match="noise_kinks"):
        _population.population_snr_gauss(*args, 1e-6, False, noise_kinks=[1e-3, -1.0])

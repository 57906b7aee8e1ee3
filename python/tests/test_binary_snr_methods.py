"""binary_snr's two methods.

The default, method="gauss", against an independent integration written
here: scipy's adaptive quadrature of (k h_c / h_n)^2 over ln f, h_c a
not-a-knot cubic spline of ln h_c through a 40001-point row of amplitude()
(one spline between the model's two piece joins, where it is only C^1),
h_n the curve itself (not its table), each phase integrated between its
boundary frequencies and broken at the curve's range edges and kinks.  One
binary per built-in curve, a ground curve, a linearly interpolated file
curve (its nodes are kinks) and a plain callable (evaluated at the
quadrature's nodes), bands inside and across the curves' ranges.

method="trapezoid" is the C library's grid and SNR_function: bitwise
amplitude() + snr().
"""

import os
import shlex
import subprocess
import sys

import numpy as np
import pytest
from scipy import integrate, interpolate

import phenomd
from phenomd import noise
from phenomd.cli import main as cli_main

pytestmark = pytest.mark.needs_library

RTOL = 1e-6
PHASES = ("snr_all", "snr_ins", "snr_mrg", "snr_rd")


def _file_curve(tmp_path):
    """A ground-detector-like ASD at 25 points, interpolated linearly in
    log-log: a wall below 20 Hz, a bucket near 200 Hz, a rise above."""
    f = np.geomspace(5.0, 5000.0, 25)
    asd = 4e-24 * np.sqrt((20.0 / f) ** 8 + 1.0 + (f / 200.0) ** 2)
    path = tmp_path / "asd.txt"
    np.savetxt(path, np.column_stack([f, asd]))
    return noise.from_file(path, "asd", interpolation="linear")


def _reference(b, hn, f_range, kinks):
    """(total, ins, mrg, rd) SNR of binary ``b`` (a dict of scalars) by
    scipy.integrate.quad; ``hn`` the noise function."""
    kw = {k: np.array([v]) for k, v in b.items()}
    a = phenomd.amplitude(kw["m1"], kw["m2"], kw["spin1"], kw["spin2"], None, kw["redshift"], kw["t_start"], 0.0,
                          40001)
    f, hc = a.freqs[0], a.hc[0]
    x = np.log(f)
    # Mf = 0.014 in Hz from f_merger_start (Mf = 1 / (6^(3/2) pi)), and the
    # merger-ringdown piece's start, f_ringdown_start.
    f_ins_join = 0.014 * a.f_merger_start[0] * (3.1415926536 * 14.696938456699069)
    joins = sorted(v for v in (np.log(f_ins_join), np.log(a.f_ringdown_start[0])) if x[0] < v < x[-1])
    edges = [x[0], *joins, x[-1]]
    splines = [(lo, hi, interpolate.CubicSpline(x[(x >= lo) & (x <= hi)], np.log(hc[(x >= lo) & (x <= hi)])))
               for lo, hi in zip(edges[:-1], edges[1:])]

    def g(u):
        for lo, hi, s in splines:
            if lo <= u <= hi:
                h = float(np.asarray(hn(np.array([np.exp(u)])), dtype=float).ravel()[0])
                return float(np.exp(2 * s(u))) / h**2
        return 0.0

    lo, hi = max(x[0], np.log(f_range[0])), min(x[-1], np.log(f_range[1]))
    breaks = joins + [float(np.log(k)) for k in kinks]

    def part(u0, u1):
        if not u0 < u1:
            return 0.0
        pts = sorted(p for p in breaks if u0 < p < u1)
        return integrate.quad(g, u0, u1, points=pts or None, limit=4000, epsabs=0, epsrel=1e-11)[0]

    fm, fr = np.log(a.f_merger_start[0]), np.log(a.f_ringdown_start[0])
    ins, mrg, rd = part(lo, min(hi, fm)), part(max(lo, fm), min(hi, fr)), part(max(lo, fm, fr), hi)
    return np.sqrt([ins + mrg + rd, ins, mrg, rd])


SPACE = dict(m1=1.2e6, m2=4e5, spin1=0.6, spin2=-0.3, redshift=1.5, t_start=4.0)
GROUND = dict(m1=36.0, m2=29.0, spin1=0.3, spin2=-0.1, redshift=0.2, t_start=1e-6)


def _cases(tmp_path):
    lisa = noise.curve("lisa")
    ground = ("aligo", "et")
    cases = [(name, noise.curve(name), GROUND if name in ground else SPACE) for name in noise.names()]
    # A light binary whose band starts inside LISA's range and ends above
    # f_max = 1 Hz (n_outside = 1).
    cases.append(("lisa, band across f_max", lisa, dict(m1=2e3, m2=1e3, spin1=0.0, spin2=0.0, redshift=0.05,
                                                        t_start=0.1)))
    cases.append(("linear file", _file_curve(tmp_path), GROUND))

    class Callable:  # a plain callable with a declared range: no table()
        range = lisa.range

        def __call__(self, f):
            return lisa(f)

    cases.append(("callable", Callable(), SPACE))
    return cases


def test_default_is_converged_to_rtol_for_every_curve(library_path, tmp_path):
    for label, curve, b in _cases(tmp_path):
        got = phenomd.binary_snr(**b, distance=None, noise=curve)
        assert got.provenance["method"].startswith("gauss") and "length" not in got.provenance
        kinks = np.asarray(getattr(curve, "kinks", ()), dtype=float)
        ref = _reference(b, curve, curve.range, kinks)
        g = np.array([getattr(got, k)[0] for k in PHASES])
        carried = ref**2 >= 1e-3 * ref[0] ** 2
        assert carried[0] and ref[0] > 0, label
        np.testing.assert_allclose(g[carried], ref[carried], rtol=RTOL, err_msg=label)
        if label == "linear file":  # its nodes as breaks: without them 2e-7 here
            fine = phenomd.binary_snr(**b, distance=None, noise=curve, rtol=1e-9)
            g = np.array([getattr(fine, k)[0] for k in PHASES])
            np.testing.assert_allclose(g[carried], ref[carried], rtol=1e-9, err_msg=label)
        # n_outside: how many of the band's ends lie outside the range.
        lo, hi = curve.range
        a = phenomd.amplitude(**b, distance=None, length=2)
        want = int(not lo <= a.freqs[0, 0] <= hi) + int(not lo <= a.freqs[0, -1] <= hi)
        assert got.n_outside[0] == want, label
        assert want == 1 or "across" not in label
    assert "noise evaluated at the nodes" in got.provenance["snr_path"]  # the callable, last


def test_trapezoid_is_the_grid_and_snr_function_bitwise(library_path):
    rng = np.random.default_rng(7)
    n = 40
    b = dict(m1=10 ** rng.uniform(4, 7, n), m2=10 ** rng.uniform(3.5, 6.5, n), spin1=rng.uniform(-0.9, 0.9, n),
             spin2=rng.uniform(-0.9, 0.9, n), distance=None, redshift=rng.uniform(0.1, 5, n), t_start=4.0)
    curve = noise.curve("lisa")
    for length in (None, 333):
        kw = {} if length is None else {"length": length}
        a = phenomd.amplitude(**b, **kw)
        s = phenomd.snr(a.freqs, a.hc, curve, a.f_merger_start, a.f_ringdown_start)
        t = phenomd.binary_snr(**b, noise=curve, method="trapezoid", population=False, chunk=7, threads=2, **kw)
        for k, want in zip(PHASES, s):
            assert np.array_equal(getattr(t, k), want)
        assert t.provenance["length"] == str(length or phenomd.DEFAULT_LENGTH) and "rtol" not in t.provenance


def test_conflicting_options_are_refused():
    b = (1e6, 5e5, 0.0, 0.0, None, 1.0, 4.0)
    for kw, arg in [(dict(length=500), "length"), (dict(method="trapezoid", rtol=1e-6), "rtol"),
                    (dict(method="simpson"), "method"), (dict(rtol=0.5), "rtol"), (dict(rtol=1e-12), "rtol")]:
        with pytest.raises(phenomd.InputError) as err:
            phenomd.binary_snr(*b, **kw)
        assert err.value.argument == arg
    # The default length given explicitly is no conflict.
    r = phenomd.binary_snr(*b, length=phenomd.DEFAULT_LENGTH, rtol=1e-8)
    assert r.provenance["rtol"] == "1e-08"


def test_cli_method_and_rtol(library_path, tmp_path):
    cat = tmp_path / "cat.csv"
    cat.write_text("m1,m2,redshift,spin1\n1e6,5e5,1,0.2\n3e4,2e4,0.5,-0.4\n")
    out = tmp_path / "o.csv"
    from phenomd.tables import read_table

    assert cli_main(["snr", str(cat), "-o", str(out), "--rtol", "1e-8", "-q"]) == 0
    cols, prov = read_table(out)
    want = phenomd.binary_snr([1e6, 3e4], [5e5, 2e4], [0.2, -0.4], 0.0, None, [1.0, 0.5], 4.0, rtol=1e-8)
    assert np.array_equal(cols["snr_rd"], want.snr_rd) and prov["rtol"] == "1e-08" and "length" not in prov
    assert cli_main(["snr", str(cat), "-o", str(out), "--method", "trapezoid", "--length", "64", "-q"]) == 0
    cols, prov = read_table(out)
    want = phenomd.binary_snr([1e6, 3e4], [5e5, 2e4], [0.2, -0.4], 0.0, None, [1.0, 0.5], 4.0, 0.0, 64,
                              method="trapezoid")
    assert np.array_equal(cols["snr_rd"], want.snr_rd) and prov["length"] == "64" and "rtol" not in prov
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    for args, words in [("--length 64", "--length 64: that is the grid of --method trapezoid"),
                        ("--method trapezoid --rtol 1e-7", "--rtol 1e-07: the tolerance of --method gauss"),
                        ("--rtol 0.5", "--rtol 0.5: must lie in")]:
        p = subprocess.run([sys.executable, "-m", "phenomd", "snr", str(cat), "-o", str(out), *shlex.split(args)],
                           capture_output=True, text=True, env=env)
        lines = p.stderr.strip().splitlines()
        assert p.returncode == 2 and len(lines) == 1 and lines[0].startswith("phenomd snr: error: "), p.stderr
        assert words in lines[0]

"""The population module through its ctypes binding: the same SNRs as
amplitude() + snr() on the same h_n values (the table read back by
NoiseTable), points outside the table counted, sentinel rows flagged,
identical results from threads, and the module search."""

import os
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import numpy as np
import pytest

import phenomd
from phenomd import _population
from phenomd.noise import NoiseTable

pytestmark = pytest.mark.needs_library

# Differences are rounding only: the module takes log10 f from the grid's
# exponent rather than from the rounded frequency, its exp is within 1 ulp
# and it sums the intervals in SIMD lanes; the largest seen is ~1e-14.
RTOL = 1e-13


@pytest.fixture(scope="module")
def population(library_path):
    try:
        return _population.load_population()
    except phenomd.LibraryNotFoundError as exc:
        pytest.skip(f"libphenomd_population.so not built: {exc}")


def _table(f_min, f_max, per_dex=1024):
    """A smooth noise curve (wall below 3 mHz, rise above) as a NoiseTable
    with one node of padding below f_min and two above f_max."""
    d = 1.0 / per_dex
    lo = np.log10(f_min) - d
    k = np.arange(int(np.ceil((np.log10(f_max) - lo) / d)) + 3)
    x = 10.0 ** (lo + k * d) / 3e-3
    return NoiseTable(lo, d, np.log(1e-20 * np.sqrt(1 + x**-4 + x**2)), f_min, f_max)


def _batch(n, seed):
    """Total masses 1e2-1e9 M_sun, mass ratios 1-20, spins in [-0.99, 0.99],
    redshifts 0.01-10, bands from a day to a century before merger, a
    quarter ending before merger (some of those inverted), factors 1 to
    sqrt(8)."""
    r = np.random.default_rng(seed)
    M = 10 ** r.uniform(2, 9, n)
    q = 10 ** r.uniform(0, np.log10(20), n)
    m1, m2 = M * q / (1 + q), M / (1 + q)
    t0 = 10 ** r.uniform(np.log10(1 / 365.25), 2, n)
    t1 = np.where(r.uniform(size=n) < 0.75, 0.0, t0 * r.uniform(0.01, 2.0, n))
    return dict(
        m1=m1,
        m2=m2,
        spin1=r.uniform(-0.99, 0.99, n),
        spin2=r.uniform(-0.99, 0.99, n),
        dist=10 ** r.uniform(1, 5, n),
        z=10 ** r.uniform(-2, 1, n),
        t_start=t0,
        t_end=t1,
        factor=r.uniform(1.0, np.sqrt(8.0), n),
    )


def _run(population, b, table, length, fast, **kw):
    return _population.population_snr(
        population, b["m1"], b["m2"], b["spin1"], b["spin2"], b["dist"], b["z"],
        b["t_start"], b["t_end"], b["factor"], table, length, fast, **kw)


def _reference(library_path, b, table, length, fast):
    """amplitude() (edge-on: the C module's h_c), h_c times the factor,
    h_n = table(f) in numpy, snr()."""
    lib = os.path.dirname(library_path)
    a = phenomd.amplitude(b["m1"], b["m2"], b["spin1"], b["spin2"], b["dist"], b["z"], b["t_start"],
                          b["t_end"], length, inclination="edge-on", library=lib, fast=fast)
    hc = a.hc * b["factor"][:, None]
    sample = table.evaluate(a.freqs)
    s = phenomd.snr(a.freqs, hc, sample.hn, a.f_merger_start, a.f_ringdown_start, library=lib, fast=fast)
    return a, s, sample.n_outside


@pytest.mark.parametrize("fast", [False, True])
@pytest.mark.parametrize("length", [2, 7, 1000])
def test_same_snrs_as_amplitude_and_snr_on_the_table_values(population, library_path, fast, length):
    if fast and not population.has_fast_row:
        pytest.skip("built without the fast row")
    b = _batch(300, 11)
    table = _table(1e-6, 1.0)  # many bands run past one end: n_outside > 0
    got = _run(population, b, table, length, fast)
    a, s, outside = _reference(library_path, b, table, length, fast)
    for name in ("snr_all", "snr_ins", "snr_mrg", "snr_rd"):
        np.testing.assert_allclose(got[name], getattr(s, name), rtol=RTOL, atol=0, err_msg=name)
    np.testing.assert_array_equal(got["f_merger_start"], a.f_merger_start)
    np.testing.assert_array_equal(got["f_ringdown_start"], a.f_ringdown_start)
    np.testing.assert_array_equal(got["n_outside"], outside)
    np.testing.assert_array_equal(got["inverted"], a.freqs[:, 0] == 1e-30)
    assert got["n_outside"].sum() > 0 and got["inverted"].any() and (got["snr_all"] > 0).any()


def test_counts_points_outside_the_table(population):
    # 1e9 M_sun at z = 1 ends below 1e-4 Hz; 100 M_sun a day before merger
    # starts above 1e-2 Hz; 1e6 M_sun over a month, ending an hour before
    # merger, stays inside.
    b = dict(m1=np.array([5e8, 50.0, 5e5]), m2=np.array([5e8, 50.0, 5e5]), spin1=np.zeros(3),
             spin2=np.zeros(3), dist=np.full(3, 1e4), z=np.ones(3),
             t_start=np.array([1.0, 1 / 365.25, 30 / 365.25]), t_end=np.array([0.0, 0.0, 1 / 8766.0]),
             factor=np.ones(3))
    got = _run(population, b, _table(1e-4, 1e-2, 512), 200, False)
    np.testing.assert_array_equal(got["n_outside"], [200, 200, 0])
    assert got["snr_all"][0] == 0.0 and got["snr_all"][1] == 0.0 and got["snr_all"][2] > 0.0


def test_threads_give_identical_results(population):
    b = _batch(400, 12)
    table = _table(1e-7, 10.0)
    one = _run(population, b, table, 500, False)
    halves = {k: np.empty_like(v) for k, v in one.items()}

    def part(a, c):
        sl = {k: np.ascontiguousarray(v[a:c]) for k, v in b.items()}
        return a, c, _run(population, sl, table, 500, False)

    with ThreadPoolExecutor(2) as pool:
        for a, c, res in pool.map(lambda ab: part(*ab), [(0, 200), (200, 400), (0, 200), (200, 400)]):
            for k in halves:
                halves[k][a:c] = res[k]
    for k in one:
        np.testing.assert_array_equal(halves[k], one[k], err_msg=k)


def test_out_arrays_are_written_in_place(population):
    b = _batch(10, 13)
    t = _table(1e-7, 10.0, 256)
    want = _run(population, b, t, 100, False)
    out = {k: np.full(10, -1, dtype=_population._DTYPES.get(k, np.float64)) for k in _population.OUTPUT_NAMES}
    res = _run(population, b, t, 100, False, out=out)
    assert res is out
    for k in want:
        np.testing.assert_array_equal(out[k], want[k], err_msg=k)
    # Keys left out are allocated and added; views into larger arrays work.
    big = np.full(20, -1.0)
    part = {"snr_all": big[5:15]}
    _run(population, b, t, 100, False, out=part)
    np.testing.assert_array_equal(big[5:15], want["snr_all"])
    assert (big[:5] == -1).all() and (big[15:] == -1).all()
    np.testing.assert_array_equal(part["inverted"], want["inverted"])


def test_rejects_what_the_module_cannot_use(population):
    b = _batch(4, 14)
    t = _table(1e-5, 1.0, 64)
    # A range past the table's last nodes: refused by the module itself.
    with pytest.raises(ValueError, match="rejected the noise table"):
        _run(population, b, _Fields(t, f_max=10.0), 10, False)
    with pytest.raises(ValueError, match="rejected the noise table"):
        _run(population, b, _Fields(t, dlog10_f=0.0), 10, False)
    with pytest.raises(TypeError, match="m2"):
        _run(population, dict(b, m2=b["m2"].astype(np.float32)), t, 10, False)
    with pytest.raises(TypeError, match="spin1"):
        _run(population, dict(b, spin1=np.zeros(8)[::2]), t, 10, False)
    with pytest.raises(ValueError, match="length"):
        _run(population, b, t, -1, False)


class _Fields:
    """A table's fields with some replaced (bypassing NoiseTable's checks,
    to reach the module's own)."""

    def __init__(self, table, **changes):
        for k in ("log10_f0", "dlog10_f", "ln_hn", "f_min", "f_max"):
            setattr(self, k, changes.get(k, getattr(table, k)))


def test_search_order_and_errors(population, monkeypatch, tmp_path):
    here = Path(population.path)
    # The directory of $PHENOMD_LIBRARY is searched.
    monkeypatch.delenv(_population.ENV_POPULATION_LIBRARY, raising=False)
    monkeypatch.setenv("PHENOMD_LIBRARY", str(here.parent / "libphenomd.so"))
    assert Path(_population.load_population().path).resolve() == here.resolve()
    # An explicit directory or file.
    assert Path(_population.load_population(here.parent).path).resolve() == here.resolve()
    assert Path(_population.load_population(here).path).resolve() == here.resolve()
    # $PHENOMD_POPULATION_LIBRARY comes first, and a bad one is reported.
    monkeypatch.setenv(_population.ENV_POPULATION_LIBRARY, str(tmp_path / "nothing.so"))
    monkeypatch.setenv("PHENOMD_LIBRARY", str(tmp_path / "libphenomd.so"))
    try:
        found = _population.load_population()
    except phenomd.LibraryNotFoundError as exc:
        assert "$PHENOMD_POPULATION_LIBRARY" in str(exc) and "nothing.so" in str(exc)
    else:  # an installed or build-tree copy further down the search order
        assert Path(found.path).name == _population.POPULATION_LIBRARY_NAME
    with pytest.raises(phenomd.LibraryNotFoundError, match="no such file"):
        _population.load_population(tmp_path)

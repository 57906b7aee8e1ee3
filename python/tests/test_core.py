"""The package's results against the module called directly through bare
ctypes, thread-count invariance, conversions of dtypes and units, and
distances from the cosmology.  Comparisons with the direct call are
bitwise: the package must pass the same doubles and read back the same
(edge-on: the module's own strain; the default averaged strain is that
times sqrt(16/5), also bitwise)."""

import ctypes

import numpy as np
import pytest

import phenomd

pytestmark = pytest.mark.needs_library

# Robson, Cornish & Liu (2019) eq. 1 with their approximate response (eq. 9):
# a closed form, so these comparisons do not depend on a response table.
LISA4 = phenomd.noise.LISA(4, response="approximate")

NAMES = ("m1", "m2", "spin1", "spin2", "distance", "redshift", "t_start", "t_end")

# Masses across the band, unequal and equal, spins to the extremes, one
# band ending inside the inspiral and one inverted band (sentinel row).
BATCH = dict(
    m1=[1e6, 3e4, 5e7, 2e5, 1e6, 50.0],
    m2=[1e6, 3e5, 1e7, 2e5, 4e5, 30.0],
    spin1=[0.0, 0.9, 0.99, -1.0, 1.0, 0.3],
    spin2=[0.0, -0.5, 0.95, -1.0, 1.0, 0.1],
    distance=[6791.0, 26016.0, 2919.6, 1e3, 4e4, 500.0],
    redshift=[1.0, 3.0, 0.5, 0.2, 4.0, 0.1],
    t_start=[4.0, 4.0, 10.0, 0.5, 2.0, 1.0],
    t_end=[0.0, 0.0, 1.0, 0.0, 3.0, 0.0],
)


def _p(a):
    return a.ctypes.data_as(ctypes.POINTER(ctypes.c_double))


def direct_amplitude(path, b, length):
    lib = ctypes.CDLL(path)
    n = len(b["m1"])
    ins = [np.ascontiguousarray(np.broadcast_to(np.asarray(b[k], float), (n,))) for k in NAMES]
    out = [np.zeros(n * length), np.zeros(n * length), np.zeros(n), np.zeros(n)]
    rc = lib.Amplitude(*map(_p, out), *map(_p, ins), ctypes.c_int(n), ctypes.c_int(length))
    assert rc == 0
    return out


def direct_snr(path, freqs, hc, hn, fm, fr):
    lib = ctypes.CDLL(path)
    n, length = freqs.shape
    out = [np.zeros(n) for _ in range(4)]
    ins = [np.ascontiguousarray(x, dtype=float) for x in (freqs, hc, hn, fm, fr)]
    rc = lib.SNR_function(*map(_p, out), *map(_p, ins), ctypes.c_int(length), ctypes.c_int(n))
    assert rc == 0
    return out


def random_batch(n, seed):
    rng = np.random.default_rng(seed)
    m = 10 ** rng.uniform(2, 9, n)
    q = rng.uniform(0.05, 1, n)
    return dict(
        m1=m / (1 + q), m2=m * q / (1 + q), spin1=rng.uniform(-1, 1, n), spin2=rng.uniform(-1, 1, n),
        distance=None, redshift=rng.uniform(0.05, 10, n), t_start=rng.uniform(0.1, 10, n),
        t_end=np.where(rng.uniform(size=n) < 0.2, rng.uniform(0, 1, n), 0.0),
    )


class TestAgainstDirectCall:
    def test_amplitude(self, library_path):
        a = phenomd.amplitude(**BATCH, length=300, library=library_path, inclination="edge-on")
        f, hc, fm, fr = direct_amplitude(library_path, BATCH, 300)
        for arr in (a.freqs, a.hc):
            assert arr.shape == (6, 300) and arr.dtype == np.float64 and arr.flags.c_contiguous
        assert np.array_equal(a.freqs.ravel(), f)
        assert np.array_equal(a.hc.ravel(), hc)
        assert np.array_equal(a.f_merger_start, fm)
        assert np.array_equal(a.f_ringdown_start, fr)
        assert np.all(a.freqs[4] == 1e-30) and np.all(a.hc[4] == 1e-60)  # t_start < t_end
        # The default is the averaged strain: the same numbers times sqrt(16/5).
        avg = phenomd.amplitude(**BATCH, length=300, library=library_path)
        assert np.array_equal(avg.hc.ravel(), hc * np.sqrt(16 / 5))
        assert np.array_equal(avg.freqs.ravel(), f)

    def test_snr_with_the_lisa_curve(self, library_path):
        a = phenomd.amplitude(**BATCH, length=300, library=library_path)
        hn = phenomd.noise.lisa(a.freqs, response="approximate")
        s = phenomd.snr(a.freqs, a.hc, hn, a.f_merger_start, a.f_ringdown_start, library=library_path)
        ref = direct_snr(library_path, a.freqs, a.hc, hn, a.f_merger_start, a.f_ringdown_start)
        for got, want in zip(s, ref):
            assert np.array_equal(got, want)
        # A curve object in place of the array gives the same numbers.
        s2 = phenomd.snr(a.freqs, a.hc, LISA4, a.f_merger_start, a.f_ringdown_start)
        assert all(np.array_equal(x, y) for x, y in zip(s, s2))
        assert s.snr_all[4] == 0.0  # sentinel row: no signal
        # Binary 2 (6e7 solar masses, 10 to 1 yr) lies below the curve's range.
        outside = LISA4.evaluate(a.freqs).n_outside
        assert outside[2] == 300 and s.snr_all[2] == 0.0
        assert np.all(s.snr_all[[0, 1, 3, 5]] > 0)

    def test_one_call_convenience_equals_the_two_steps(self, library_path):
        r = phenomd.binary_snr(**BATCH, method="trapezoid", length=300, noise=phenomd.noise.LISA(1, response="approximate"), library=library_path,
                               inclination="edge-on", population=False)
        f, hc, fm, fr = direct_amplitude(library_path, BATCH, 300)
        f, hc = f.reshape(6, 300), hc.reshape(6, 300)
        ref = direct_snr(library_path, f, hc, phenomd.noise.lisa(f, years=1, response="approximate"), fm, fr)
        for got, want in zip(r.ratios, ref):
            assert np.array_equal(got, want)
        assert np.array_equal(r.f_merger_start, fm) and np.array_equal(r.f_ringdown_start, fr)
        assert np.array_equal(r.n_outside, phenomd.noise.LISA(1, response="approximate").evaluate(f).n_outside)
        assert np.array_equal(r.inverted, [False] * 4 + [True, False])

    def test_one_binary_grid_given_as_1d(self, library_path):
        a = phenomd.amplitude(1e6, 5e5, 0.2, 0.1, 1e4, 1.5, 3.0, length=64)
        s1 = phenomd.snr(a.freqs[0], a.hc[0], phenomd.noise.lisa(a.freqs[0], response="approximate"), a.f_merger_start, a.f_ringdown_start)
        s2 = phenomd.snr(a.freqs, a.hc, phenomd.noise.lisa(a.freqs, response="approximate"), a.f_merger_start, a.f_ringdown_start)
        assert s1 == s2


class TestThreads:
    """Each binary is computed alone, so splitting the batch cannot change
    a bit; odd chunk sizes make uneven pieces."""

    @pytest.mark.parametrize("threads, chunk", [(2, 7), (3, 1), (4, None), (0, 50)])
    def test_amplitude_and_snr_are_bitwise_thread_invariant(self, threads, chunk):
        kw = random_batch(301, seed=3)
        one = phenomd.amplitude(**kw, length=128, threads=1, chunk=301)
        many = phenomd.amplitude(**kw, length=128, threads=threads, chunk=chunk)
        for name in ("freqs", "hc", "f_merger_start", "f_ringdown_start"):
            assert np.array_equal(getattr(one, name), getattr(many, name)), name
        hn = phenomd.noise.lisa(one.freqs, response="approximate")
        s1 = phenomd.snr(one.freqs, one.hc, hn, one.f_merger_start, one.f_ringdown_start, threads=1)
        sn = phenomd.snr(one.freqs, one.hc, hn, one.f_merger_start, one.f_ringdown_start, threads=threads, chunk=chunk)
        assert all(np.array_equal(x, y) for x, y in zip(s1, sn))

    def test_convenience_is_bitwise_thread_invariant(self):
        kw = random_batch(500, seed=5)
        one = phenomd.binary_snr(**kw, method="trapezoid", length=200, threads=1, chunk=500, noise=LISA4)
        two = phenomd.binary_snr(**kw, method="trapezoid", length=200, threads=2, chunk=33, noise=LISA4)
        for a, b in zip(one.ratios, two.ratios):
            assert np.array_equal(a, b)

    def test_progress_callback_sees_every_binary(self):
        seen = []
        phenomd.amplitude(**random_batch(90, 1), length=16, threads=2, chunk=10,
                          progress=lambda done, total: seen.append((done, total)))
        assert len(seen) == 9 and seen[-1] == (90, 90)
        assert [d for d, _ in seen] == sorted(d for d, _ in seen)

    @pytest.mark.parametrize("progress", [True, "callable"])
    def test_progress_with_threads_outlasting_one_wait(self, progress):
        # The pool is polled every 0.2 s; a run with a bar (or callback) that
        # outlasts one poll once raised TypeError from the progress count.
        # A slow noise callable (10 ms per one-binary span, 40 spans on two
        # threads: about 0.2 s) makes every run outlast a poll.
        import time

        def slow_lisa(f):
            time.sleep(0.01)
            return LISA4(f)

        seen = []
        report = progress if progress is True else (lambda done, total: seen.append(done))
        kw = random_batch(40, 2)
        got = phenomd.binary_snr(**kw, method="trapezoid", length=16, noise=slow_lisa, threads=2, chunk=1, progress=report)
        want = phenomd.binary_snr(**kw, method="trapezoid", length=16, noise=slow_lisa, threads=1, chunk=40)
        assert np.array_equal(got.snr_all, want.snr_all)
        if seen:
            assert seen == list(range(1, 41))


class TestConversions:
    """Other dtypes and byte orders are converted by value, never
    reinterpreted; units are converted to the library's."""

    @pytest.fixture(scope="class")
    def reference(self):
        return phenomd.amplitude(**BATCH, length=50)

    @pytest.mark.parametrize(
        "convert",
        [
            lambda x: np.asarray(x, dtype=">f8"),  # big-endian doubles
            lambda x: np.repeat(np.asarray(x, float), 2)[::2],  # strided view
            lambda x: list(x),
            lambda x: tuple(np.float64(v) for v in x),
        ],
        ids=["big-endian", "strided", "list", "tuple"],
    )
    def test_same_values_same_bits(self, reference, convert):
        got = phenomd.amplitude(**{k: convert(v) for k, v in BATCH.items()}, length=50)
        assert np.array_equal(got.hc, reference.hc)
        assert np.array_equal(got.freqs, reference.freqs)

    def test_integers_and_float32_are_converted_by_value(self):
        ints = phenomd.amplitude(np.array([1000000, 30000]), np.array([500000, 20000], dtype=np.int32),
                                 0, 0, np.array([7000], dtype=np.uint16), 1, 4, length=20)
        floats = phenomd.amplitude([1e6, 3e4], [5e5, 2e4], 0.0, 0.0, 7000.0, 1.0, 4.0, length=20)
        assert np.array_equal(ints.hc, floats.hc)
        f32 = np.float32(0.3)
        a = phenomd.amplitude(1e6, 5e5, f32, 0.0, 7000.0, 1.0, 4.0, length=20)
        b = phenomd.amplitude(1e6, 5e5, float(f32), 0.0, 7000.0, 1.0, 4.0, length=20)
        assert np.array_equal(a.hc, b.hc)

    def test_quantities_in_any_convertible_unit(self):
        u = pytest.importorskip("astropy.units")
        plain = phenomd.amplitude(1e6, 5e5, 0.5, 0.1, 8000.0, 1.2, 2.0, 0.0, length=40)
        msun_kg = (1 * u.Msun).to_value(u.kg)
        q = phenomd.amplitude(1e6 * msun_kg * u.kg, 5e5 * u.Msun, 0.5 * u.one, 0.1, 8 * u.Gpc,
                              1.2 * u.dimensionless_unscaled, (2.0 * u.yr).to(u.day), 0 * u.s, length=40)
        # Unit conversions round: kg -> Msun and day -> yr each cost ~1 ulp,
        # which the model can amplify a little.
        np.testing.assert_allclose(q.hc, plain.hc, rtol=1e-12)
        np.testing.assert_allclose(q.freqs, plain.freqs, rtol=1e-12)
        assert np.array_equal(q.distance, [8000.0])

    def test_sentinel_band_gives_zero_snr_and_no_error(self):
        r = phenomd.binary_snr(1e6, 1e6, 0, 0, None, 1.0, 1.0, t_end=2.0, method="trapezoid", length=8, noise=LISA4)
        assert r.inverted[0]
        assert r.snr_all[0] == 0.0


class TestCosmology:
    def test_distance_from_planck18_by_default(self):
        cosmo = pytest.importorskip("astropy.cosmology")
        import astropy.units as u

        # Distances come from a table of astropy's values (test_cosmology:
        # within 1e-9); the strain is that of the distance reported.
        z = np.array([0.1, 1.0, 7.0])
        a = phenomd.amplitude(1e6, 1e6, 0, 0, None, z, 4.0, length=16)
        dl = cosmo.Planck18.luminosity_distance(z).to_value(u.Mpc)
        np.testing.assert_allclose(a.distance, dl, rtol=1e-9)
        b = phenomd.amplitude(1e6, 1e6, 0, 0, a.distance, z, 4.0, length=16)
        assert np.array_equal(a.hc, b.hc)

    def test_any_astropy_cosmology_or_realization_name(self):
        cosmo = pytest.importorskip("astropy.cosmology")
        import astropy.units as u

        mine = cosmo.FlatLambdaCDM(H0=70, Om0=0.3)
        a = phenomd.amplitude(1e6, 1e6, 0, 0, None, 2.0, 4.0, length=16, cosmology=mine)
        assert a.distance[0] == pytest.approx(mine.luminosity_distance(2.0).to_value(u.Mpc), rel=1e-9)
        w = phenomd.amplitude(1e6, 1e6, 0, 0, None, 2.0, 4.0, length=16, cosmology="WMAP9")
        assert w.distance[0] == pytest.approx(cosmo.WMAP9.luminosity_distance(2.0).to_value(u.Mpc), rel=1e-9)
        assert w.distance[0] != a.distance[0]
        with pytest.raises(phenomd.InputError, match="unknown cosmology 'Planck99'"):
            phenomd.amplitude(1e6, 1e6, 0, 0, None, 2.0, 4.0, cosmology="Planck99")


class TestOutputArrays:
    """amplitude(out=...) writes the same bits into the caller's arrays,
    and refuses arrays the library could not fill safely."""

    def test_out_receives_the_same_bits_and_is_returned(self):
        kw = random_batch(40, seed=9)
        fresh = phenomd.amplitude(**kw, length=64)
        out = (np.full((40, 64), -1.0), np.full((40, 64), -1.0), np.full(40, -1.0), np.full(40, -1.0))
        again = phenomd.amplitude(**kw, length=64, out=out, threads=2, chunk=7)
        assert again.hc is out[1] and again.f_ringdown_start is out[3]
        for name in ("freqs", "hc", "f_merger_start", "f_ringdown_start"):
            assert np.array_equal(getattr(fresh, name), getattr(again, name), equal_nan=True), name
        # An earlier result serves as out for the next batch of that shape.
        other = random_batch(40, seed=10)
        reused = phenomd.amplitude(**other, length=64, out=again)
        assert reused.hc is out[1]
        assert np.array_equal(reused.hc, phenomd.amplitude(**other, length=64).hc, equal_nan=True)

    @pytest.mark.parametrize(
        "make, index",
        [
            (lambda: (np.empty((5, 8)), np.empty((5, 8)), np.empty(5)), None),  # three arrays
            (lambda: (np.empty((5, 9)), np.empty((5, 8)), np.empty(5), np.empty(5)), 0),  # shape
            (lambda: (np.empty((5, 8)), np.empty((5, 8), np.float32), np.empty(5), np.empty(5)), 1),
            (lambda: (np.empty((5, 8)), np.empty((8, 5)).T, np.empty(5), np.empty(5)), 1),  # not C order
            (lambda: (np.empty((5, 8)), [[0.0] * 8] * 5, np.empty(5), np.empty(5)), 1),  # not ndarray
            (lambda: (lambda a: (a, a, np.empty(5), np.empty(5)))(np.empty((5, 8))), 1),  # overlap
            (lambda: (lambda b: (np.empty((5, 8)), np.empty((5, 8)), b[:5], b[5:]))(np.empty(10)), None),
        ],
    )
    def test_unusable_out_is_refused_before_the_call(self, make, index):
        out = make()
        before = [np.array(a, copy=True) for a in out]
        kw = random_batch(5, seed=2)
        if index is None and len(out) == 4:  # the adjacent halves do not overlap: accepted
            phenomd.amplitude(**kw, length=8, out=out)
            return
        with pytest.raises(phenomd.InputError) as err:
            phenomd.amplitude(**kw, length=8, out=out)
        assert err.value.argument == "out" and err.value.index == index
        assert all(np.array_equal(a, b, equal_nan=True) for a, b in zip(out, before))

    def test_out_overlapping_an_input_reads_the_input_first(self):
        # The inputs are copied into the batch before the library writes
        # anything, so an output over an input array is safe: it receives
        # the result computed from the input's original values.
        kw = random_batch(5, seed=2)
        m1 = np.ascontiguousarray(kw["m1"], dtype=float)
        fresh = phenomd.amplitude(**dict(kw, m1=m1.copy()), length=8)
        kw["m1"] = m1
        out = (np.empty((5, 8)), np.empty((5, 8)), m1, np.empty(5))
        got = phenomd.amplitude(**kw, length=8, out=out)
        assert np.array_equal(got.f_merger_start, fresh.f_merger_start) and got.f_merger_start is m1
        assert np.array_equal(got.hc, fresh.hc)


class TestUncheckedSnr:
    def test_same_bits_on_sound_grids_and_no_fault_on_unsound_ones(self):
        res = phenomd.amplitude(**random_batch(30, seed=4), length=50)
        hn = phenomd.noise.lisa(res.freqs, response="approximate")
        args = (res.freqs, res.hc, hn, res.f_merger_start, res.f_ringdown_start)
        checked = phenomd.snr(*args)
        unchecked = phenomd.snr(*args, check=False)
        assert all(np.array_equal(a, b, equal_nan=True) for a, b in zip(checked, unchecked))
        bad = res.hc.copy()
        bad[3, 7] = np.nan
        with pytest.raises(phenomd.InputError):
            phenomd.snr(res.freqs, bad, hn, res.f_merger_start, res.f_ringdown_start)
        s = phenomd.snr(res.freqs, bad, hn, res.f_merger_start, res.f_ringdown_start, check=False)
        assert np.isnan(s.snr_all[3]) and np.array_equal(np.delete(s.snr_all, 3), np.delete(checked.snr_all, 3))
        # Shapes are still checked.
        with pytest.raises(phenomd.InputError) as err:
            phenomd.snr(res.freqs, res.hc[:, :-1], hn, res.f_merger_start, res.f_ringdown_start, check=False)
        assert err.value.argument == "hc"


def _population_or_skip():
    from phenomd import _population

    try:
        return _population.load_population()
    except phenomd.LibraryNotFoundError:
        pytest.skip("libphenomd_population.so not found (set PHENOMD_POPULATION_LIBRARY)")


class TestPopulationPath:
    """binary_snr through the population module (one C call per chunk, h_n
    from the curve's table) against the per-point path (Amplitude, the noise
    evaluated at every grid point, SNR_function)."""

    @pytest.fixture(scope="class")
    def batch(self):
        return random_batch(400, seed=11)

    @pytest.mark.parametrize("fast", [False, True], ids=["exact", "fast"])
    @pytest.mark.parametrize("name", ["lisa", "tianqin"])
    def test_same_noise_values_same_snr_to_rounding(self, batch, name, fast):
        _population_or_skip()
        curve = phenomd.noise.curve(name)
        table = curve.table()  # its __call__ is the module's interpolation, in numpy
        pop = phenomd.binary_snr(**batch, method="trapezoid", length=300, noise=curve, fast=fast, population=True)
        ref = phenomd.binary_snr(**batch, method="trapezoid", length=300, noise=table, fast=fast, population=False)
        assert pop.provenance["snr_path"].startswith("population") and ref.provenance["snr_path"] == "per grid point"
        for got, want in zip(pop.ratios, ref.ratios):
            np.testing.assert_allclose(got, want, rtol=1e-12, atol=0)
        for field in ("f_merger_start", "f_ringdown_start", "n_outside", "inverted", "distance", "inclination_factor"):
            assert np.array_equal(getattr(pop, field), getattr(ref, field)), field
        # Against the curve itself at every point: the table's stated error.
        exact = phenomd.binary_snr(**batch, method="trapezoid", length=300, noise=curve, fast=fast, population=False)
        np.testing.assert_allclose(pop.snr_all, exact.snr_all, rtol=1e-9, atol=0)

    def test_thread_invariant_and_chosen_by_default(self, batch):
        _population_or_skip()
        curve = phenomd.noise.curve("lisa")
        one = phenomd.binary_snr(**batch, method="trapezoid", length=200, noise=curve, threads=1)
        two = phenomd.binary_snr(**batch, method="trapezoid", length=200, noise=curve, threads=2, chunk=33)
        assert one.provenance["snr_path"].startswith("population")
        for a, b in zip(one.ratios, two.ratios):
            assert np.array_equal(a, b)
        # A plain callable has no table: evaluated at every point.
        plain = phenomd.binary_snr(**batch, method="trapezoid", length=200, noise=lambda f: curve(f))
        assert plain.provenance["snr_path"] == "per grid point"
        with pytest.raises(phenomd.InputError, match="population module cannot be used"):
            phenomd.binary_snr(**batch, method="trapezoid", length=200, noise=lambda f: curve(f), population=True)

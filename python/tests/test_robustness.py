"""The host side cannot crash the module or return garbage: every array
reaches it through one checked entry, extreme-but-accepted inputs give
finite results, malformed ones a clean InputError, and Ctrl-C stops a
threaded batch without draining its queue."""

import signal
import threading
import time

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import phenomd
from phenomd import core

pytestmark = pytest.mark.needs_library

NOISE = phenomd.noise.LISA(4, response="approximate")
NAMES = ("m1", "m2", "spin1", "spin2", "distance", "redshift", "t_start", "t_end")


def fast_or_skip():
    try:
        return phenomd.load_library(fast=True)
    except phenomd.LibraryNotFoundError:
        pytest.skip("libphenomd_fast.so not found")


# ------------------------------------------------------ the one entry point


array_spec = st.tuples(
    st.sampled_from([-1, 0, 0, 0, 1]),  # size offset from the exact one
    st.sampled_from(["f8", "f8", "f8", "f4", ">f8", "strided", "readonly", "list"]),
)


def make_array(size, layout):
    offset, kind = layout
    m = max(size + offset, 0)
    if kind == "strided":
        return np.zeros(2 * m)[::2]
    if kind == "list":
        return [0.0] * m
    a = np.zeros(m, dtype=kind if kind not in ("readonly",) else "f8")
    if kind == "readonly":
        a.flags.writeable = False
    return a


@settings(max_examples=200, deadline=None)
@given(n=st.integers(0, 3), length=st.integers(0, 4), specs=st.lists(array_spec, min_size=12, max_size=12))
def test_call_amplitude_refuses_every_array_the_module_could_overrun(n, length, specs):
    """An array is passed only if it is native float64, C-contiguous, of
    exactly the batch's size and (outputs) writeable; anything else is an
    InputError before the call."""
    lib = phenomd.load_library()
    sizes = [n * length, n * length, n, n] + [n] * 8
    arrays = [make_array(s, sp) for s, sp in zip(sizes, specs)]
    inputs = arrays[4:]
    for a in inputs:  # a physical binary wherever the values are read
        if isinstance(a, np.ndarray) and a.flags.writeable and a.size:
            a[...] = 1.0
    fine = all(isinstance(a, np.ndarray) and a.dtype == np.dtype("=f8") and a.flags.c_contiguous
               and a.size == s and (a.flags.writeable or k >= 4)
               for k, (a, s) in enumerate(zip(arrays, sizes)))
    # Zero- and one-element "strided" views are contiguous: fine.  Every
    # other kind but native float64 is refused.
    assert fine or any(sp[0] != 0 or sp[1] not in ("f8", "readonly", "strided") for sp in specs) or n * length <= 1 \
        or any(sp[1] == "readonly" and k < 4 for k, sp in enumerate(specs)) or any(sp[1] == "strided" for sp in specs)
    if fine:
        assert lib.call_amplitude(*arrays[:4], inputs, n, length) == 0
    else:
        with pytest.raises(phenomd.InputError):
            lib.call_amplitude(*arrays[:4], inputs, n, length)


@settings(max_examples=100, deadline=None)
@given(n=st.integers(1, 3), length=st.integers(1, 4), offsets=st.lists(st.sampled_from([-1, 0, 0, 1]), min_size=9,
                                                                       max_size=9),
       rows=st.tuples(st.integers(-1, 4), st.integers(-1, 4)))
def test_call_snr_checks_sizes_and_row_ranges(n, length, offsets, rows):
    lib = phenomd.load_library()
    sizes = [n] * 4 + [n * length] * 3 + [n] * 2
    arrays = [np.ones(max(s + o, 0)) for s, o in zip(sizes, offsets)]
    a, b = rows
    ok = all(o == 0 for o in offsets) and 0 <= a <= b <= n
    call = lambda: lib.call_snr(arrays[:4], *arrays[4:7], *arrays[7:], n, length, rows=(a, b))  # noqa: E731
    if ok:
        assert call() == 0
    else:
        with pytest.raises(phenomd.InputError):
            call()


shape = st.one_of(st.just(()), st.tuples(st.integers(0, 4)), st.tuples(st.integers(0, 3), st.integers(0, 4)))


@settings(max_examples=200, deadline=None)
@given(f_shape=shape, h_shape=shape, n_shape=shape, b_len=st.integers(0, 4), as_callable=st.booleans())
def test_snr_over_shapes_gives_results_or_input_errors(f_shape, h_shape, n_shape, b_len, as_callable):
    """Whatever the shapes of grids, noise (array or a callable's result)
    and boundaries: (n,) finite results or an InputError, never a fault or
    another exception."""
    def grid(shape):
        size = int(np.prod(shape)) if shape else 1
        return np.geomspace(1e-4, 1e-1, max(size, 1))[:size].reshape(shape) if shape else np.float64(1e-3)

    freqs = np.sort(grid(f_shape), axis=-1) if f_shape else grid(f_shape)
    hc = np.full(h_shape, 1e-20)
    hn = np.full(n_shape, 1e-21)
    noise = (lambda f: hn) if as_callable else hn
    bounds = np.full(b_len, 1e-3)
    try:
        s = phenomd.snr(freqs, hc, noise, bounds, bounds * 10)
    except phenomd.InputError:
        return
    n = 1 if len(f_shape) < 2 else f_shape[0]
    for ratio in s:
        assert ratio.shape == (n,) and np.isfinite(ratio).all()


class TestNoiseCallables:
    @pytest.fixture(scope="class")
    def res(self):
        return phenomd.amplitude([1e6, 3e5], [5e5, 3e5], 0.2, 0.1, [1e4, 2e4], [1.0, 2.0], 4.0, length=64)

    def test_a_scalar_result_is_broadcast_not_read_past(self, res):
        """hn = lambda f: 1e-20 used to hand a one-element buffer to the
        module, which read n*length doubles from it."""
        args = (res.freqs, res.hc)
        bounds = (res.f_merger_start, res.f_ringdown_start)
        got = phenomd.snr(*args, lambda f: 1e-20, *bounds)
        want = phenomd.snr(*args, np.full(res.freqs.shape, 1e-20), *bounds)
        assert all(np.array_equal(x, y) for x, y in zip(got, want))
        # One row broadcast over the binaries likewise.
        row = lambda f: np.full(f.shape[-1], 1e-20)  # noqa: E731
        assert all(np.array_equal(x, y) for x, y in zip(phenomd.snr(*args, row, *bounds), want))

    @pytest.mark.parametrize("callable_, words", [
        (lambda f: np.ones(3), "does not broadcast"),
        (lambda f: np.ones((f.shape[0] + 1, f.shape[1])), "does not broadcast"),
        (lambda f: np.full(f.shape, "x"), "strings"),
        (lambda f: [[1e-20, 2e-20], [1e-20]], "one shape"),
        (lambda f: np.full(f.shape, np.nan), "noise must be positive"),
    ])
    def test_wrong_results_are_input_errors(self, res, callable_, words):
        with pytest.raises(phenomd.InputError, match=words):
            phenomd.snr(res.freqs, res.hc, callable_, res.f_merger_start, res.f_ringdown_start)
        with pytest.raises(phenomd.InputError, match=words) as err:
            phenomd.binary_snr(1e6, 5e5, 0.2, 0.1, 1e4, 1.0, 4.0, method="trapezoid", length=64, noise=callable_)
        assert err.value.argument == "noise"


class TestMalformedBatches:
    @pytest.mark.parametrize("chunk, words", [
        (0, "chunk = 0: must be at least 1"), (-3, "at least 1"), (2.5, "integer"), (True, "integer"),
        ("10", "integer"),
    ])
    def test_chunk_is_validated_by_every_function(self, chunk, words):
        kw = dict(m1=1e6, m2=5e5, spin1=0.0, spin2=0.0, distance=1e4, redshift=1.0, t_start=4.0, length=8)
        for call in (lambda: phenomd.amplitude(**kw, chunk=chunk),
                     lambda: phenomd.binary_snr(**kw, method="trapezoid", chunk=chunk, noise=NOISE),
                     lambda: phenomd.snr(np.geomspace(1e-4, 1e-2, 8), np.ones(8), 1.0, 1e-3, 5e-3, chunk=chunk)):
            with pytest.raises(phenomd.InputError, match=words) as err:
                call()
            assert err.value.argument == "chunk"

    def test_zero_length_rows_empty_batches_and_ragged_lists(self):
        with pytest.raises(phenomd.InputError, match="rows of length 0") as err:
            phenomd.snr(np.empty((2, 0)), np.empty((2, 0)), 1.0, [1e-3, 1e-3], [1e-2, 1e-2])
        assert err.value.argument == "freqs"
        with pytest.raises(phenomd.InputError, match="no rows"):
            phenomd.snr(np.empty((0, 5)), np.empty((0, 5)), 1.0, 1e-3, 1e-2)
        with pytest.raises(phenomd.InputError, match="redshift has no values") as err:
            phenomd.binary_snr(1e6, 5e5, 0, 0, None, [], 4.0, noise=NOISE)
        assert err.value.argument == "redshift"
        with pytest.raises(phenomd.InputError, match="m1 has no values"):
            phenomd.amplitude([], 5e5, 0, 0, 1e4, 1.0, 4.0)
        with pytest.raises(phenomd.InputError, match="one shape") as err:
            phenomd.amplitude([[1e6, 2e6], [1e6]], 5e5, 0, 0, 1e4, 1.0, 4.0)
        assert err.value.argument == "m1"
        with pytest.raises(phenomd.InputError, match="one shape"):
            phenomd.snr([[1e-4, 1e-3], [1e-4]], [[1.0, 1.0], [1.0]], 1.0, 1e-3, 1e-2)


# --------------------------------------------- accepted means finite results


def log_uniform(lo, hi):
    return st.floats(np.log10(lo), np.log10(hi)).map(lambda x: 10.0 ** x)


extreme = st.fixed_dictionaries({
    "m1": st.one_of(st.sampled_from([1e-3, 1e12]), log_uniform(1e-3, 1e12)),
    "log_q": st.one_of(st.sampled_from([-3.0, 0.0, 3.0]), st.floats(-3.0, 3.0)),
    "spin1": st.one_of(st.sampled_from([-1.0, 1.0]), st.floats(-1.0, 1.0)),
    "spin2": st.one_of(st.sampled_from([-1.0, 1.0]), st.floats(-1.0, 1.0)),
    "distance": st.one_of(st.sampled_from([1e-6, 1e10]), log_uniform(1e-6, 1e10)),
    "redshift": st.one_of(st.sampled_from([-0.999, 0.0, 1e3]), st.floats(-0.999, 1e3)),
    "t_start": st.one_of(st.sampled_from([1e-20, 1e8]), log_uniform(1e-20, 1e8)),
    "t_end": st.one_of(st.sampled_from([-1.7e308, 0.0, 1e-20, 1.7e308]), st.floats(-1e10, 0.0),
                       log_uniform(1e-20, 1e10)),
})


def binaries(draws):
    cols = {k: np.array([d[k] for d in draws]) for k in draws[0] if k != "log_q"}
    m2 = cols["m1"] * 10.0 ** np.array([d["log_q"] for d in draws])
    # Keep m2 inside the mass range: the ratio then shrinks, never grows.
    cols["m2"] = np.clip(m2, 1e-3, 1e12)
    return cols


def assert_finite(a, r):
    sentinel = a.freqs[:, 0] == 1e-30
    assert np.isfinite(a.freqs).all() and np.isfinite(a.hc).all()
    assert (a.f_merger_start > 0).all() and (a.f_ringdown_start > 0).all()
    assert np.isfinite(a.f_merger_start).all() and np.isfinite(a.f_ringdown_start).all()
    below = a.freqs < a.f_ringdown_start[:, None]
    assert (a.hc[~sentinel] > 0)[below[~sentinel]].all()
    assert np.array_equal(r.inverted, sentinel)
    for s in r.ratios:
        assert np.isfinite(s).all() and (s >= 0).all()


@settings(max_examples=60, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.lists(extreme, min_size=1, max_size=24), st.booleans())
def test_every_accepted_extreme_input_gives_finite_strain_and_snr(draws, fast):
    lib = fast_or_skip() if fast else phenomd.load_library()
    b = binaries(draws)
    a = phenomd.amplitude(**b, length=24, library=lib)
    r = phenomd.binary_snr(**b, method="trapezoid", length=24, library=lib, noise=NOISE, population=False)
    assert_finite(a, r)
    # The population module where it loads (else the same path again).
    pop = phenomd.binary_snr(**b, method="trapezoid", length=24, fast=fast, noise=NOISE)
    assert_finite(a, pop)
    assert np.array_equal(pop.n_outside, r.n_outside)


@settings(max_examples=40, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.lists(extreme, min_size=1, max_size=24))
def test_distances_from_redshift_are_finite_or_refused_by_name(draws):
    b = binaries(draws)
    b["distance"] = None
    try:
        a = phenomd.amplitude(**b, length=16)
    except phenomd.InputError as err:
        assert err.argument == "redshift"
        return
    assert np.isfinite(a.hc).all() and (a.distance >= 1e-6).all()


class TestRangeEdges:
    @pytest.mark.parametrize("name, value", [
        ("distance", 1e-320), ("distance", 1e11), ("m1", 1e160), ("m2", 1e-4), ("redshift", 1e4),
        ("redshift", -0.9999), ("t_start", 1e300), ("t_start", 1e-300), ("t_end", np.inf), ("t_end", 5e-324),
    ])
    def test_values_that_gave_non_finite_strain_are_refused_by_name(self, name, value):
        kw = dict(m1=1e6, m2=5e5, spin1=0.1, spin2=0.1, distance=1e4, redshift=1.0, t_start=4.0, t_end=0.0)
        kw[name] = value
        with pytest.raises(phenomd.InputError) as err:
            phenomd.amplitude(**kw, length=8)
        assert err.value.argument == name

    def test_redshift_whose_distance_is_out_of_range(self):
        # z = 1e-300: the cosmology's distance is ~4e-297 Mpc, whose strain overflows.
        with pytest.raises(phenomd.InputError, match="redshift = 1e-300: the luminosity distance") as err:
            phenomd.amplitude(1e6, 5e5, 0.0, 0.0, None, 1e-300, 4.0)
        assert err.value.argument == "redshift"

    def test_mass_ratio(self):
        with pytest.raises(phenomd.InputError, match="mass ratio 2000 exceeds 1000") as err:
            phenomd.amplitude([1e6, 1e6], [1e4, 500.0], 0.0, 1.0, 1e4, 1.0, 4.0)
        assert err.value.argument == "m2" and err.value.index == 1
        # m2 = m1 * 1e-3 rounds to a ratio a hair above 1000: accepted.
        m1 = 1.9876990997650998
        assert m1 / (m1 * 1e-3) > 1000
        phenomd.amplitude(m1, m1 * 1e-3, 0.0, 0.0, 1e4, 1.0, 4.0, length=4)
        r = phenomd.binary_snr([1e6, 1e6, 1e6], [1e6 / 18, 1e6 / 19, 1e6], [0.0, 0.0, 0.86], 0.0, 1e4, 1.0, 4.0,
                               noise=NOISE)
        assert np.array_equal(r.uncalibrated, [False, True, True])


# ----------------------------------------------------------------- Ctrl-C


@pytest.mark.parametrize("population", [False, None], ids=["per-point", "default path"])
def test_ctrl_c_cancels_the_queued_chunks(population):
    """SIGINT to the main thread while 2 threads work through 100 chunks:
    KeyboardInterrupt propagates and the queued chunks are cancelled (before,
    the pool drained all of them first).  The main thread may need a GIL
    switch or two to act, so a few more chunks may finish than were in
    flight; far fewer than all."""
    main = threading.main_thread().ident
    done = []

    def progress(finished, total):
        done.append(finished)
        if len(done) == 1:
            signal.pthread_kill(main, signal.SIGINT)

    rng = np.random.default_rng(1)
    n = 2000
    # Ctrl-C as in a terminal, even where the suite runs as a background job
    # (which starts with SIGINT ignored).
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    try:
        with pytest.raises(KeyboardInterrupt):
            phenomd.binary_snr(10 ** rng.uniform(4, 7, n), 1e4, 0.0, 0.0, 1e4, 1.0, 4.0, method="trapezoid",
                               length=2000, threads=2, chunk=20, progress=progress, noise=NOISE,
                               population=population)
    finally:
        signal.signal(signal.SIGINT, previous)
    for t in threading.enumerate():
        if t.name.startswith("ThreadPoolExecutor") and t.ident is not None:
            t.join(timeout=60)
    assert len(done) < 50, f"{len(done)} of 100 chunks ran after Ctrl-C"


def test_errors_and_results_survive_pickling():
    """A cluster worker sends its errors and results back pickled: each must
    come back as what it was, not as a TypeError from the unpickler."""
    import pickle

    err = phenomd.InputError("m1", 3, "masses must be positive")
    back = pickle.loads(pickle.dumps(err))
    assert (type(back), back.argument, back.index, str(back)) == (phenomd.InputError, "m1", 3, str(err))

    missing = phenomd.LibraryNotFoundError("libphenomd.so", [("here", "no such file")])
    back = pickle.loads(pickle.dumps(missing))
    assert type(back) is phenomd.LibraryNotFoundError
    assert back.attempts == missing.attempts and str(back) == str(missing)

    r = phenomd.binary_snr(6e5, 4e5, 0.5, 0.2, 3000.0, 0.5, t_start=1.0, method="trapezoid", length=64)
    back = pickle.loads(pickle.dumps(r))
    np.testing.assert_array_equal(back.snr_all, r.snr_all)
    assert back.provenance["module_path"] == r.provenance["module_path"]

"""Every input check: the error names the argument and the first offending
index, and comes before the library is called."""

import numpy as np
import pytest

import phenomd
from phenomd import core

GOOD = dict(m1=[1e6, 2e6, 3e6], m2=[5e5, 5e5, 5e5], spin1=0.3, spin2=-0.2,
            distance=[1e4, 2e4, 3e4], redshift=[1.0, 2.0, 3.0], t_start=4.0, t_end=0.0)
INT_MAX = 2**31 - 1


@pytest.fixture(autouse=True)
def no_library(monkeypatch):
    """Any call that reaches the library loader fails the test, except in
    tests that ask for the real one."""

    def refuse(*a, **k):
        raise AssertionError("the library was reached despite bad input")

    monkeypatch.setattr(core, "load_library", refuse)


def bad(**changes):
    kw = dict(GOOD)
    kw.update(changes)
    return kw


CASES = [
    # argument, replacement, index, words in the message
    ("m1", [1e6, np.nan, 3e6], 1, "m1[1] = nan"),
    ("m1", [1e6, 2e6, -3.0], 2, "finite and positive"),
    ("m2", 0.0, 0, "m2 = 0.0"),
    ("m2", [5e5, np.inf, 1.0], 1, "m2[1] = inf"),
    ("spin1", [0.1, 1.0000001, 2.0], 1, "spin1[1] = 1.0000001: spins must lie in [-1, 1]"),
    ("spin2", -1.5, 0, "spin2 = -1.5"),
    ("spin2", [0.0, 0.0, np.nan], 2, "spin2[2] = nan"),
    ("distance", [1e4, 0.0, -1.0], 1, "distance[1] = 0.0"),
    ("distance", [np.nan, 1.0, 1.0], 0, "luminosity distances"),
    ("redshift", [1.0, -1.0, 2.0], 1, "redshift[1] = -1.0: redshift must be finite and > -1"),
    ("redshift", [1.0, 2.0, np.inf], 2, "redshift[2] = inf"),
    ("t_start", [4.0, 0.0, 4.0], 1, "t_start[1] = 0.0"),
    ("t_start", [4.0, 4.0, -np.inf], 2, "start times"),
    ("t_end", [0.0, np.nan, 0.0], 1, "t_end[1] = nan"),
]


class TestBinaryArguments:
    @pytest.mark.parametrize("name, value, index, words", CASES)
    def test_bad_value_named_with_first_index(self, name, value, index, words):
        for fn in (phenomd.amplitude, phenomd.binary_snr):
            with pytest.raises(phenomd.InputError) as err:
                fn(**bad(**{name: value}), **({"length": 8} if fn is phenomd.amplitude else {}))
            assert err.value.argument == name and err.value.index == index
            assert words in str(err.value)

    @pytest.mark.needs_library
    def test_spin_limits_are_inclusive(self, monkeypatch):
        monkeypatch.undo()  # the real library for this one
        r = phenomd.amplitude(**bad(spin1=[-1.0, 1.0, 0.0], spin2=1.0), length=8)
        assert np.isfinite(r.hc).all()

    def test_zero_redshift_needs_an_explicit_distance(self):
        with pytest.raises(phenomd.InputError, match=r"redshift\[0\] = 0.0: the luminosity distance"):
            phenomd.amplitude(**bad(distance=None, redshift=[0.0, 1.0, 2.0]))

    def test_shapes_that_do_not_broadcast(self):
        with pytest.raises(phenomd.InputError, match="m1 has 3 values, t_start has 2") as err:
            phenomd.amplitude(**bad(t_start=[1.0, 2.0]))
        assert err.value.argument == "t_start"
        with pytest.raises(phenomd.InputError, match="must be a scalar or 1-D array"):
            phenomd.amplitude(**bad(m2=np.ones((3, 1))))

    @pytest.mark.parametrize("value, words", [
        ([1 + 2j, 1, 1], "complex"), (["1e6", "2e6", "3e6"], "strings"), ([True, True, False], "booleans"),
        ([object(), 1, 2], "objects"), (None, "required"),
    ])
    def test_wrong_kinds_are_refused_not_reinterpreted(self, value, words):
        with pytest.raises(phenomd.InputError, match=words):
            phenomd.amplitude(**bad(m1=value))

    def test_units_that_do_not_convert(self):
        u = pytest.importorskip("astropy.units")
        with pytest.raises(phenomd.InputError, match="t_start: has unit solMass"):
            phenomd.amplitude(**bad(t_start=4 * u.Msun))
        with pytest.raises(phenomd.InputError, match="distance: has unit s"):
            phenomd.amplitude(**bad(distance=3 * u.s))


class TestCounts:
    @pytest.mark.parametrize("length, words", [
        (0, "length = 0: must be at least 1"), (-5, "at least 1"), (2.5, "integer"), (True, "integer"),
        ("100", "integer"), (INT_MAX + 1, "exceeds the C interface's int range"),
    ])
    def test_length(self, length, words):
        with pytest.raises(phenomd.InputError, match=words):
            phenomd.amplitude(**GOOD, length=length)

    def test_batch_beyond_int_range_is_refused_before_touching_the_values(self):
        # A zero-stride view: 2^31 binaries without the memory.
        huge = np.broadcast_to(1e6, (INT_MAX + 1,))
        with pytest.raises(phenomd.InputError, match="number of binaries 2147483648 exceeds"):
            phenomd.amplitude(huge, 1e6, 0, 0, 1e4, 1.0, 4.0, length=8)
        with pytest.raises(phenomd.InputError, match="number of binaries"):
            phenomd.binary_snr(huge, 1e6, 0, 0, 1e4, 1.0, 4.0, method="trapezoid", length=8)

    def test_threads(self):
        with pytest.raises(phenomd.InputError, match="threads = -1"):
            phenomd.amplitude(**GOOD, threads=-1)


class TestSNRArguments:
    @pytest.fixture
    def grid(self):
        f = np.tile(np.geomspace(1e-4, 1e-1, 6), (2, 1))
        return dict(freqs=f, hc=np.full_like(f, 1e-19), hn=np.full_like(f, 1e-20),
                    f_merger_start=[1e-3, 1e-3], f_ringdown_start=[1e-2, 1e-2])

    @pytest.mark.parametrize("name, mutate, index, words", [
        ("freqs", lambda g: g["freqs"].__setitem__((1, 3), np.nan), (1, 3), "freqs[1, 3] = nan"),
        ("freqs", lambda g: g["freqs"].__setitem__((0, 4), 1e-5), (0, 4), "ascending"),
        ("hc", lambda g: g["hc"].__setitem__((1, 0), -1.0), (1, 0), "hc[1, 0] = -1.0"),
        ("hn", lambda g: g["hn"].__setitem__((0, 2), 0.0), (0, 2), "hn[0, 2] = 0.0"),
        ("hn", lambda g: g["hn"].__setitem__((0, 5), np.nan), (0, 5), "noise must be positive"),
        ("f_ringdown_start", lambda g: g.__setitem__("f_ringdown_start", [1e-2, -1.0]), 1, "f_ringdown_start[1]"),
    ])
    def test_bad_grid_values(self, grid, name, mutate, index, words):
        mutate(grid)
        with pytest.raises(phenomd.InputError) as err:
            phenomd.snr(**grid)
        assert (err.value.argument, err.value.index) == (name, index)
        assert words in str(err.value)

    def test_shapes(self, grid):
        with pytest.raises(phenomd.InputError, match="hc has shape"):
            phenomd.snr(**dict(grid, hc=grid["hc"][:, :5]))
        with pytest.raises(phenomd.InputError, match="does not broadcast"):
            phenomd.snr(**dict(grid, hn=np.ones(4)))
        with pytest.raises(phenomd.InputError, match="3 values for 2 binaries"):
            phenomd.snr(**dict(grid, f_merger_start=[1e-3] * 3))

    @pytest.mark.needs_library
    def test_infinite_noise_is_allowed(self, grid, monkeypatch):
        monkeypatch.undo()
        grid["hn"][:, :3] = np.inf  # no sensitivity below 2e-3 Hz
        s = phenomd.snr(**grid)
        assert s.snr_ins[0] == 0.0 and s.snr_all[0] > 0

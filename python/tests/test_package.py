"""The package against the library called directly, and its input checks."""

import ctypes
import re
from pathlib import Path

import numpy as np
import pytest

import phenomd
from phenomd import _lib

HEADER = Path(__file__).resolve().parents[2] / "utils" / "phenomd" / "phenomd.h"

BATCH = dict(m1=[1e6, 3e4, 5e7], m2=[1e6, 3e5, 1e7], spin1=[0.0, 0.9, 0.95],
             spin2=[0.0, -0.5, 0.95], distance=[6791.0, 26016.0, 2919.6],
             redshift=[1.0, 3.0, 0.5], t_start=4.0, t_end=0.0)


def direct_amplitude(lib, b, length):
    """Amplitude through bare ctypes, as a host would call it."""
    n = len(b["m1"])
    arrs = [np.ascontiguousarray(np.broadcast_to(np.asarray(b[k], float), (n,)))
            for k in ("m1", "m2", "spin1", "spin2", "distance", "redshift",
                      "t_start", "t_end")]
    out = [np.empty(n * length), np.empty(n * length), np.empty(n), np.empty(n)]
    p = lambda a: a.ctypes.data_as(ctypes.POINTER(ctypes.c_double))
    assert lib.Amplitude(*map(p, out), *map(p, arrs), n, length) == 0
    return out


def test_amplitude_equals_the_direct_call_bitwise():
    lib = phenomd.load()
    a = phenomd.amplitude(**BATCH, length=300)
    f, hc, fm, fr = direct_amplitude(lib, BATCH, 300)
    assert a.freqs.shape == (3, 300) and a.freqs.flags.c_contiguous
    assert np.array_equal(a.freqs.ravel(), f)
    assert np.array_equal(a.hc.ravel(), hc)
    assert np.array_equal(a.f_merger_start, fm)
    assert np.array_equal(a.f_ringdown_start, fr)


def test_thread_count_does_not_change_a_bit():
    rng = np.random.default_rng(3)
    n = 257
    kw = dict(m1=10 ** rng.uniform(4, 8, n), m2=10 ** rng.uniform(4, 8, n),
              spin1=rng.uniform(-1, 1, n), spin2=rng.uniform(-1, 1, n),
              distance=1e4, redshift=rng.uniform(0.1, 5, n), t_start=4.0,
              length=64)
    one = phenomd.amplitude(**kw, threads=1)
    hn = phenomd.noise.lisa(one.freqs)
    s1 = phenomd.snr(one.freqs, one.hc, hn, one.f_merger_start,
                     one.f_ringdown_start)
    for threads in (2, 5):
        many = phenomd.amplitude(**kw, threads=threads)
        assert np.array_equal(one.hc, many.hc)
        assert np.array_equal(one.freqs, many.freqs)
        s = phenomd.snr(many.freqs, many.hc, hn, many.f_merger_start,
                        many.f_ringdown_start, threads=threads)
        assert np.array_equal(s.snr_all, s1.snr_all)
        assert np.array_equal(s.snr_rd, s1.snr_rd)


def test_snr_phases_add_in_quadrature():
    s, a = phenomd.snr_of_binaries(phenomd.noise.lisa, **BATCH, length=1024)
    assert np.all(s.snr_ins > 0) and np.all(s.snr_mrg > 0)
    np.testing.assert_allclose(s.snr_ins**2 + s.snr_mrg**2 + s.snr_rd**2,
                               s.snr_all**2, rtol=1e-12)


def test_redshift_alone_gives_the_planck18_distance():
    from astropy.cosmology import Planck18
    a = phenomd.amplitude(1e6, 1e6, 0, 0, redshift=1.0, length=16)
    b = phenomd.amplitude(1e6, 1e6, 0, 0, Planck18.luminosity_distance(1.0),
                          redshift=1.0, length=16)
    assert np.array_equal(a.hc, b.hc)


def test_quantities_are_converted_to_the_librarys_units():
    import astropy.units as u
    a = phenomd.amplitude(1e6 * u.Msun, 1e6 * u.Msun, 0, 0, 1.0 * u.Gpc, 1.0,
                          1461 * u.day, length=16)
    b = phenomd.amplitude(1e6, 1e6, 0, 0, 1000.0, 1.0, 4.0, length=16)
    np.testing.assert_allclose(a.hc, b.hc, rtol=1e-14)


@pytest.mark.parametrize("arg, value, message", [
    ("m1", [1e6, -1.0], r"m1: must be finite and positive; first offending index 1"),
    ("m2", [np.nan, 1e6], r"m2: .* index 0"),
    ("distance", [1e3, 0.0], r"distance: .* index 1"),
    ("t_start", [np.inf, 1.0], r"t_start: .* index 0"),
    ("spin1", [0.2, 1.0001], r"spin1: must be within \[-1, 1\]; first offending index 1"),
    ("spin2", [-1.5, 0.0], r"spin2: .* index 0"),
    ("redshift", [0.5, -1.0], r"redshift: must be finite and > -1; first offending index 1"),
])
def test_bad_inputs_are_named_with_their_first_index(arg, value, message):
    kw = dict(m1=1e6, m2=1e6, spin1=0.0, spin2=0.0, distance=1e3, redshift=1.0,
              t_start=4.0)
    kw[arg] = value
    with pytest.raises(ValueError, match=message):
        phenomd.amplitude(**kw, length=8)


def test_shape_length_and_dtype_errors():
    with pytest.raises(ValueError, match="do not broadcast"):
        phenomd.amplitude([1e6, 1e6], [1e6, 1e6, 1e6], 0, 0, 1e3, 1.0, 4.0)
    with pytest.raises(ValueError, match="length: must be at least 1"):
        phenomd.amplitude(1e6, 1e6, 0, 0, 1e3, 1.0, 4.0, length=0)
    with pytest.raises(TypeError, match="m1: cannot be converted"):
        phenomd.amplitude("heavy", 1e6, 0, 0, 1e3, 1.0, 4.0)
    # Integers and float32 are converted, never reinterpreted.
    a = phenomd.amplitude(np.array([1000000]), np.float32(1e6), 0, 0, 1000, 1, 4,
                          length=8)
    b = phenomd.amplitude(1e6, 1e6, 0.0, 0.0, 1e3, 1.0, 4.0, length=8)
    assert np.array_equal(a.hc, b.hc)


def test_missing_library_lists_every_place_looked(tmp_path):
    with pytest.raises(phenomd.LibraryNotFound) as e:
        phenomd.load(tmp_path / "nowhere.so")
    assert str(tmp_path / "nowhere.so") in str(e.value)


def test_ctypes_signatures_match_the_header():
    text = HEADER.read_text()
    for name, argtypes in (("Amplitude", _lib.AMPLITUDE_ARGTYPES),
                           ("SNR_function", _lib.SNR_ARGTYPES)):
        decl = re.search(name + r"\(([^;]*)\);", text).group(1)
        params = [p.strip() for p in decl.split(",")]
        assert len(params) == len(argtypes)
        for p, t in zip(params, argtypes):
            expected = ctypes.c_int if p.startswith("int ") else _lib._DOUBLE_P
            assert t is expected, (name, p)
    lib = phenomd.load()
    assert _lib.constant(lib, "Pi") == 3.1415926536

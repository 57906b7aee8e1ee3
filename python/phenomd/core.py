"""Batch strain and SNR over numpy arrays, with the inputs checked first.

The C library validates nothing (it returns 0 whatever it is given); this
module is where a person gets a message.  Masses are source-frame solar
masses, distances luminosity distances in Mpc, times years before merger in
the observer frame.
"""

from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass

import numpy as np

from . import _lib

INT_MAX = 2**31 - 1


def _as_float(name, value):
    """float64 array from numbers or astropy Quantities (converted to the
    library's units)."""
    unit = {"m1": "solMass", "m2": "solMass", "distance": "Mpc",
            "t_start": "yr", "t_end": "yr"}.get(name)
    if hasattr(value, "unit") and hasattr(value, "to_value"):
        value = value.to_value(unit) if unit else value.to_value("")
    try:
        return np.asarray(value, dtype=np.float64)
    except (TypeError, ValueError) as e:
        raise TypeError(f"{name}: cannot be converted to float64 ({e})") from None


def _first_bad(name, arr, ok, what):
    bad = ~ok
    if np.any(bad):
        idx = np.argwhere(bad)[0]
        where = tuple(int(i) for i in idx) if arr.ndim else ()
        val = arr[where] if arr.ndim else arr[()]
        raise ValueError(f"{name}: must be {what}; first offending index "
                         f"{where if len(where) != 1 else where[0]} has value {val!r}")


@dataclass
class AmplitudeResult:
    """Output of amplitude(): grid and strain per binary (n x length) and
    the two phase boundaries per binary, all in Hz or dimensionless."""
    freqs: np.ndarray
    hc: np.ndarray
    f_merger_start: np.ndarray
    f_ringdown_start: np.ndarray


@dataclass
class SnrResult:
    """Signal-to-noise ratios per binary: total and by phase."""
    snr_all: np.ndarray
    snr_ins: np.ndarray
    snr_mrg: np.ndarray
    snr_rd: np.ndarray


def _ptr(a):
    return a.ctypes.data_as(_lib._DOUBLE_P)


def _chunks(n, threads):
    threads = max(1, int(threads))
    size = -(-n // threads) if n else 0
    return [(s, min(n, s + size)) for s in range(0, n, size)] if n else []


def amplitude(m1, m2, spin1, spin2, distance=None, redshift=0.0, t_start=4.0,
              t_end=0.0, length=256, threads=1, fast=False, library=None,
              cosmology=None):
    """Characteristic strain of a batch of aligned-spin binaries.

    Scalars and arrays broadcast to one batch.  With distance=None the
    luminosity distance comes from astropy's cosmology (Planck18 unless
    `cosmology` is given) at each redshift.  threads splits the batch into
    chunks run concurrently (the library releases the GIL through ctypes);
    the results are bitwise those of one thread.
    """
    if isinstance(length, bool) or not isinstance(length, (int, np.integer)):
        raise TypeError(f"length: must be an integer, got {length!r}")
    if length < 1:
        raise ValueError(f"length: must be at least 1, got {length}")
    z = _as_float("redshift", redshift)
    if distance is None:
        if cosmology is None:
            from astropy.cosmology import Planck18 as cosmology
        zz = np.broadcast_to(z, np.shape(z))
        _first_bad("redshift", zz, np.isfinite(zz) & (zz > 0), "finite and > 0 "
                   "to derive a distance")
        distance = cosmology.luminosity_distance(zz)
    names = ("m1", "m2", "spin1", "spin2", "distance", "redshift", "t_start",
             "t_end")
    raw = [_as_float(n, v) for n, v in
           zip(names, (m1, m2, spin1, spin2, distance, z, t_start, t_end))]
    try:
        arrays = np.broadcast_arrays(*raw)
    except ValueError:
        shapes = ", ".join(f"{n}{a.shape}" for n, a in zip(names, raw))
        raise ValueError(f"inputs do not broadcast to one batch: {shapes}") from None
    arrays = [np.ascontiguousarray(a.reshape(-1), dtype=np.float64) for a in arrays]
    m1a, m2a, s1, s2, d, za, t0, t1 = arrays
    for name, a in (("m1", m1a), ("m2", m2a), ("distance", d), ("t_start", t0)):
        _first_bad(name, a, np.isfinite(a) & (a > 0), "finite and positive")
    for name, a in (("spin1", s1), ("spin2", s2)):
        _first_bad(name, a, (a >= -1.0) & (a <= 1.0), "within [-1, 1]")
    _first_bad("redshift", za, np.isfinite(za) & (za > -1.0), "finite and > -1")
    _first_bad("t_end", t1, ~np.isnan(t1) & (t1 < np.inf), "a number below infinity")
    n = m1a.size
    if n > INT_MAX or n * length > np.iinfo(np.int64).max:
        raise ValueError(f"batch of {n} binaries exceeds the C interface's int range")
    lib = _lib.load(library, fast=fast)
    freqs = np.empty((n, length))
    hc = np.empty((n, length))
    fm = np.empty(n)
    fr = np.empty(n)

    def run(lo, hi):
        lib.Amplitude(_ptr(freqs[lo:]), _ptr(hc[lo:]), _ptr(fm[lo:]),
                      _ptr(fr[lo:]), _ptr(m1a[lo:]), _ptr(m2a[lo:]),
                      _ptr(s1[lo:]), _ptr(s2[lo:]), _ptr(d[lo:]), _ptr(za[lo:]),
                      _ptr(t0[lo:]), _ptr(t1[lo:]), hi - lo, length)

    _run_chunks(run, n, threads)
    return AmplitudeResult(freqs, hc, fm, fr)


def _run_chunks(run, n, threads):
    chunks = _chunks(n, threads)
    if len(chunks) <= 1:
        for lo, hi in chunks:
            run(lo, hi)
        return
    with ThreadPoolExecutor(max_workers=len(chunks)) as pool:
        for f in [pool.submit(run, lo, hi) for lo, hi in chunks]:
            f.result()


def snr(freqs, hc, hn, f_merger_start, f_ringdown_start, threads=1,
        library=None):
    """SNR of each row: trapezoid of (hc/hn)^2 over ln f, split at the two
    boundaries into inspiral, merger and ringdown."""
    f = np.ascontiguousarray(np.atleast_2d(_as_float("freqs", freqs)))
    h = np.ascontiguousarray(np.atleast_2d(_as_float("hc", hc)))
    noise = np.ascontiguousarray(np.broadcast_to(
        np.atleast_2d(_as_float("hn", hn)), f.shape), dtype=np.float64)
    if h.shape != f.shape:
        raise ValueError(f"hc: shape {h.shape} differs from freqs {f.shape}")
    n, length = f.shape
    fm = np.ascontiguousarray(np.broadcast_to(
        _as_float("f_merger_start", f_merger_start), (n,)))
    fr = np.ascontiguousarray(np.broadcast_to(
        _as_float("f_ringdown_start", f_ringdown_start), (n,)))
    lib = _lib.load(library)
    out = [np.empty(n) for _ in range(4)]

    def run(lo, hi):
        lib.SNR_function(*(_ptr(o[lo:]) for o in out), _ptr(f[lo:]),
                         _ptr(h[lo:]), _ptr(noise[lo:]), _ptr(fm[lo:]),
                         _ptr(fr[lo:]), length, hi - lo)

    _run_chunks(run, n, threads)
    return SnrResult(*out)


def snr_of_binaries(noise, m1, m2, spin1, spin2, distance=None, redshift=0.0,
                    t_start=4.0, t_end=0.0, length=256, threads=1, **kw):
    """From binaries and a noise curve (a callable f -> h_n) to the four
    ratios; also returns the strain result."""
    a = amplitude(m1, m2, spin1, spin2, distance, redshift, t_start, t_end,
                  length, threads=threads, **kw)
    hn = noise(a.freqs)
    return snr(a.freqs, a.hc, hn, a.f_merger_start, a.f_ringdown_start,
               threads=threads, library=kw.get("library")), a

"""Characteristic strain and SNR of batches of binaries, over the C module.

Frames and units, as the C interface takes them:

* masses ``m1``, ``m2``: source-frame component masses, solar masses (the
  library redshifts them itself);
* ``spin1``, ``spin2``: aligned dimensionless spins of ``m1`` and ``m2``,
  in [-1, 1];
* ``distance``: luminosity distance, Mpc; ``redshift``: z > -1;
* ``t_start``, ``t_end``: the band runs from ``t_start`` to ``t_end`` years
  before merger, measured in the observer frame; ``t_end`` <= 0 runs the
  band through merger and ringdown to Mf = 0.2;
* frequencies are observed-frame, Hz.

astropy Quantities are accepted wherever a number is, and converted to
those units.  Every input is checked here before the library is called,
since the library itself checks nothing (see ``phenomd._inputs``).
"""

from __future__ import annotations

import threading
from collections import namedtuple
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass

import numpy as np

from . import _inputs as inp
from ._library import _DOUBLE_P, load_library
from ._progress import ProgressBar

__all__ = [
    "AmplitudeResult",
    "BinarySNR",
    "SNR",
    "DEFAULT_LENGTH",
    "amplitude",
    "binary_snr",
    "snr",
]

DEFAULT_LENGTH = 1000
# Grid points handled per library call when a batch is split: small enough
# for a steady progress bar and a bounded working set in binary_snr, large
# enough that the per-call cost (tens of microseconds) is negligible.
CHUNK_POINTS = 1 << 20

InputError = inp.InputError

SNR = namedtuple("SNR", ["snr_all", "snr_ins", "snr_mrg", "snr_rd"])
SNR.__doc__ = "Signal-to-noise ratios per binary: total, inspiral, merger, ringdown."


@dataclass(frozen=True)
class AmplitudeResult:
    """Strain of a batch of n binaries on their grids.

    ``freqs``, ``hc``: (n, length) observed-frame frequencies (Hz) and
    characteristic strain; ``f_merger_start``, ``f_ringdown_start``: (n,)
    inspiral/merger and merger/ringdown boundaries (Hz); ``distance`` (Mpc)
    and ``redshift``: (n,) the values used.  A binary whose band ends below
    its start (t_start < t_end, or a start above Mf = 0.2) has the
    library's sentinel row: freqs = 1e-30, hc = 1e-60.
    """

    freqs: np.ndarray
    hc: np.ndarray
    f_merger_start: np.ndarray
    f_ringdown_start: np.ndarray
    distance: np.ndarray
    redshift: np.ndarray

    def __len__(self):
        return self.hc.shape[0]


@dataclass(frozen=True)
class BinarySNR:
    """SNRs of a batch of n binaries against one noise curve.

    The four ratios, the two boundary frequencies (Hz) and the distance
    used (Mpc) are (n,) arrays; ``n_outside`` (n,) counts each binary's
    grid points that fell outside the noise curve's frequency range (they
    contribute nothing).
    """

    snr_all: np.ndarray
    snr_ins: np.ndarray
    snr_mrg: np.ndarray
    snr_rd: np.ndarray
    f_merger_start: np.ndarray
    f_ringdown_start: np.ndarray
    distance: np.ndarray
    redshift: np.ndarray
    n_outside: np.ndarray

    @property
    def ratios(self):
        return SNR(self.snr_all, self.snr_ins, self.snr_mrg, self.snr_rd)

    def __len__(self):
        return self.snr_all.shape[0]


def _ptr(a):
    return a.ctypes.data_as(_DOUBLE_P)


# ---------------------------------------------------------------- inputs


_INPUT_NAMES = ("m1", "m2", "spin1", "spin2", "distance", "redshift", "t_start", "t_end")


@dataclass(frozen=True)
class _Batch:
    m1: np.ndarray
    m2: np.ndarray
    spin1: np.ndarray
    spin2: np.ndarray
    dist: np.ndarray
    z: np.ndarray
    t_start: np.ndarray
    t_end: np.ndarray
    n: int
    length: int

    def c_inputs(self):
        # In the order of the C call's inputs (_INPUT_NAMES).
        return (self.m1, self.m2, self.spin1, self.spin2, self.dist, self.z, self.t_start, self.t_end)


def _prepare(m1, m2, spin1, spin2, distance, redshift, t_start, t_end, length, cosmology):
    """Convert, broadcast and check one batch; raises InputError."""
    units = {
        "m1": "solMass",
        "m2": "solMass",
        "spin1": "",
        "spin2": "",
        "distance": "Mpc",
        "redshift": "",
        "t_start": "yr",
        "t_end": "yr",
    }
    given = {
        "m1": m1,
        "m2": m2,
        "spin1": spin1,
        "spin2": spin2,
        "distance": distance,
        "redshift": redshift,
        "t_start": t_start,
        "t_end": t_end,
    }
    arrays = {}
    for name, value in given.items():
        if name == "distance" and value is None:
            continue  # from the redshift, below
        arrays[name] = inp.as_float_array(value, name, units[name])

    # Sizes first, before anything touches every element.
    n = inp.broadcast_length(arrays)
    inp.check_count(n, "num_binaries", "number of binaries")
    length = inp.as_length(length)

    for name in ("m1", "m2"):
        inp.check_positive(arrays[name], name, "masses (source frame, solar masses)")
    for name in ("spin1", "spin2"):
        a = arrays[name]
        if not inp.within(a, -1.0, True, 1.0, True):
            inp.require(a, name, np.isfinite(a) & (a >= -1) & (a <= 1), "spins must lie in [-1, 1]")
    z = arrays["redshift"]
    if not inp.within(z, -1.0):
        inp.require(z, "redshift", np.isfinite(z) & (z > -1), "redshift must be finite and > -1")
    if "distance" in arrays:
        inp.check_positive(arrays["distance"], "distance", "luminosity distances (Mpc)")
    else:
        d = inp.luminosity_distance(z, cosmology)
        inp.require(
            z,
            "redshift",
            np.isfinite(d) & (d > 0),
            "the luminosity distance at this redshift is not positive; give distance explicitly",
        )
        arrays["distance"] = d
    inp.check_positive(arrays["t_start"], "t_start", "start times (years before merger, observer frame)")
    te = arrays["t_end"]
    if not inp.within(te, -np.inf):
        inp.require(te, "t_end", np.isfinite(te), "end times must be finite (<= 0: through ringdown)")

    def full(a):
        return np.ascontiguousarray(np.broadcast_to(a, (n,)), dtype=np.float64)

    return _Batch(
        m1=full(arrays["m1"]),
        m2=full(arrays["m2"]),
        spin1=full(arrays["spin1"]),
        spin2=full(arrays["spin2"]),
        dist=full(arrays["distance"]),
        z=full(arrays["redshift"]),
        t_start=full(arrays["t_start"]),
        t_end=full(arrays["t_end"]),
        n=n,
        length=length,
    )


# ------------------------------------------------------------- execution


def _spans(n, length, chunk):
    rows = chunk if chunk else max(1, CHUNK_POINTS // length)
    return [(a, min(a + rows, n)) for a in range(0, n, rows)]


def _progress_callback(progress, total):
    if progress is None or progress is False:
        return None, None
    if progress is True:
        bar = ProgressBar(total)
        return bar, bar
    return progress, None


def _run(spans, work, threads, progress, total):
    """Run ``work(a, b)`` over the spans, on ``threads`` threads; results
    are placed by index, so the thread count cannot change them."""
    report, bar = _progress_callback(progress, total)
    done = [0]
    lock = threading.Lock()

    def task(span):
        work(*span)
        if report is not None:
            with lock:
                done[0] += span[1] - span[0]
                report(done[0], total)

    try:
        if threads <= 1 or len(spans) <= 1:
            for s in spans:
                task(s)
        else:
            with ThreadPoolExecutor(max_workers=min(threads, len(spans))) as pool:
                for f in [pool.submit(task, s) for s in spans]:
                    f.result()
    finally:
        if bar is not None:
            bar.close()


def _amplitude_into(lib, batch, a, b, freqs, hc, fm, fr):
    ins = [x[a:b] for x in batch.c_inputs()]
    lib.Amplitude(
        _ptr(freqs),
        _ptr(hc),
        _ptr(fm),
        _ptr(fr),
        *[_ptr(x) for x in ins],
        b - a,
        batch.length,
    )


def amplitude(
    m1,
    m2,
    spin1,
    spin2,
    distance,
    redshift,
    t_start,
    t_end=0.0,
    length=DEFAULT_LENGTH,
    *,
    cosmology=None,
    threads=1,
    chunk=None,
    progress=None,
    library=None,
    fast=False,
    out=None,
):
    """Characteristic strain of a batch of binaries.

    Scalars and 1-D arrays broadcast to one batch of n binaries.  Units and
    frames are in the module docstring: source-frame masses in solar
    masses, luminosity distance in Mpc, observer-frame times in years
    before merger.  ``distance=None`` takes the luminosity distance at
    ``redshift`` from ``cosmology`` (an astropy Cosmology or a realization's
    name; Planck18 when None).

    ``threads`` splits the batch over a thread pool (0: one per core); the
    result is bitwise identical whatever the count.  ``chunk`` sets the
    binaries per library call (default: about 2^20 grid points).
    ``progress`` is True for a bar on stderr (after two seconds) or a
    callable ``f(done, total)``.  ``library`` is a path to the module (see
    ``load_library``), ``fast=True`` searches for the fast variant.
    ``out`` (a tuple of four arrays, or an earlier AmplitudeResult of the
    same shape) receives the results in place of new arrays: a host that
    calls repeatedly skips allocating and first touching (n, length)
    arrays, which for the fast variant is a large part of the time.

    Returns an AmplitudeResult.  Raises InputError naming the argument and
    the first offending index, before anything is computed.
    """
    batch = _prepare(m1, m2, spin1, spin2, distance, redshift, t_start, t_end, length, cosmology)
    threads = inp.as_threads(threads)
    lib = load_library(library, fast=fast)
    n, L = batch.n, batch.length
    if out is None:
        freqs = np.empty((n, L), dtype=np.float64)
        hc = np.empty((n, L), dtype=np.float64)
        fm = np.empty(n, dtype=np.float64)
        fr = np.empty(n, dtype=np.float64)
    else:
        freqs, hc, fm, fr = inp.as_outputs(out, (n, L), n, zip(_INPUT_NAMES, batch.c_inputs()))

    def work(a, b):
        _amplitude_into(lib, batch, a, b, freqs[a:b], hc[a:b], fm[a:b], fr[a:b])

    _run(_spans(n, L, chunk), work, threads, progress, n)
    return AmplitudeResult(freqs, hc, fm, fr, batch.dist, batch.z)


# ------------------------------------------------------------------- SNR


def _grid(value, name, n_len=None):
    arr = inp.as_float_array(value, name, "Hz" if name == "freqs" else "", max_ndim=2)
    if arr.ndim == 1:
        arr = arr[np.newaxis, :]
    if arr.ndim != 2:
        raise InputError(name, None, f"{name} must be 1-D (one binary) or 2-D (binaries x length); got a scalar")
    return arr



def _check_grids(freqs, hc, hn):
    if not inp.within(freqs, 0.0):
        inp.require(freqs, "freqs", np.isfinite(freqs) & (freqs > 0), "frequencies must be finite and positive")
    if freqs.shape[1] > 1:
        ascending = freqs[:, 1:] >= freqs[:, :-1]
        if not ascending.all():
            i, j = np.argwhere(~ascending)[0]
            raise InputError(
                "freqs",
                (int(i), int(j) + 1),
                f"freqs[{i}, {j + 1}] = {freqs[i, j + 1]!r} is below freqs[{i}, {j}] = {freqs[i, j]!r}: "
                "each grid must be ascending",
            )
    if not inp.within(hc, 0.0, True):
        inp.require(hc, "hc", np.isfinite(hc) & (hc >= 0), "characteristic strain must be finite and >= 0")
    if not inp.within(hn, 0.0, False, np.inf, True):
        inp.require(hn, "hn", ~np.isnan(hn) & (hn > 0), "noise must be positive (inf: no sensitivity)")


def _noise_values(noise, freqs):
    """Evaluate a noise curve on grids: (hn, number outside per row)."""
    if hasattr(noise, "evaluate"):
        sample = noise.evaluate(freqs)
        return np.asarray(sample.hn, dtype=np.float64), np.asarray(sample.n_outside)
    hn = np.asarray(noise(freqs), dtype=np.float64)
    return hn, np.zeros(freqs.shape[:-1], dtype=np.int64)


def snr(freqs, hc, hn, f_merger_start, f_ringdown_start, *, threads=1, chunk=None, library=None, fast=False,
        check=True):
    """Signal-to-noise ratios of binaries whose strain is known.

    ``freqs`` and ``hc`` are (n, length) (or (length,) for one binary),
    ``hn`` the noise characteristic strain at the same frequencies (an
    array that broadcasts to them, or a noise curve / callable of the
    frequencies, e.g. ``phenomd.noise.LISA()``); infinite ``hn`` means no
    sensitivity there.  ``f_merger_start`` and ``f_ringdown_start`` are the
    (n,) boundaries.  Returns SNR(snr_all, snr_ins, snr_mrg, snr_rd), each
    of shape (n,).

    ``check=False`` skips the checks of every element of the grids (finite,
    positive, ascending), which cost about twice the integration itself,
    for grids known to be sound, e.g. those of ``amplitude``; shapes and
    the boundaries are still checked.  Unsound values then give NaN or
    meaningless ratios, never a fault.
    """
    f = _grid(freqs, "freqs")
    h = _grid(hc, "hc")
    if h.shape != f.shape:
        raise InputError("hc", None, f"hc has shape {h.shape}, freqs {f.shape}: they must match")
    n, L = f.shape
    inp.check_count(n, "num_binaries", "number of binaries")
    inp.check_count(L, "length", "length")
    if callable(hn):
        noise, _ = _noise_values(hn, f)
    else:
        noise = inp.as_float_array(hn, "hn", "", max_ndim=2)
        try:
            noise = np.broadcast_to(noise, f.shape)
        except ValueError:
            raise InputError("hn", None, f"hn has shape {noise.shape}, which does not broadcast to {f.shape}") from None
    bounds = {}
    for name, value in (("f_merger_start", f_merger_start), ("f_ringdown_start", f_ringdown_start)):
        b = inp.as_float_array(value, name, "Hz")
        if b.ndim == 1 and b.shape[0] not in (1, n):
            raise InputError(name, None, f"{name} has {b.shape[0]} values for {n} binaries")
        inp.check_positive(b, name, "boundary frequencies (Hz)")
        bounds[name] = np.ascontiguousarray(np.broadcast_to(b, (n,)), dtype=np.float64)
    if check:
        _check_grids(f, h, noise)
    f = np.ascontiguousarray(f, dtype=np.float64)
    h = np.ascontiguousarray(h, dtype=np.float64)
    noise = np.ascontiguousarray(noise, dtype=np.float64)
    threads = inp.as_threads(threads)
    lib = load_library(library, fast=fast)
    out = [np.empty(n, dtype=np.float64) for _ in range(4)]
    fm, fr = bounds["f_merger_start"], bounds["f_ringdown_start"]

    def work(a, b):
        lib.SNR_function(
            *[_ptr(o[a:b]) for o in out],
            _ptr(f[a:b]),
            _ptr(h[a:b]),
            _ptr(noise[a:b]),
            _ptr(fm[a:b]),
            _ptr(fr[a:b]),
            L,
            b - a,
        )

    _run(_spans(n, L, chunk), work, threads, None, n)
    return SNR(*out)


def binary_snr(
    m1,
    m2,
    spin1,
    spin2,
    distance,
    redshift,
    t_start,
    t_end=0.0,
    length=DEFAULT_LENGTH,
    *,
    noise=None,
    cosmology=None,
    threads=1,
    chunk=None,
    progress=None,
    library=None,
    fast=False,
):
    """From binaries straight to their SNRs against a noise curve.

    Arguments as for ``amplitude``; ``noise`` is a curve from
    ``phenomd.noise`` (default: ``LISA(years=4)``) or any callable
    returning h_n at an array of frequencies.  The batch is processed in
    chunks, strain and noise computed and integrated chunk by chunk, so the
    memory used stays small whatever n.  Returns a BinarySNR.
    """
    from . import noise as _noise

    curve = _noise.LISA(4) if noise is None else noise
    if not callable(curve):
        raise InputError("noise", None, f"noise must be a noise curve or callable; got {type(curve).__name__}")
    batch = _prepare(m1, m2, spin1, spin2, distance, redshift, t_start, t_end, length, cosmology)
    threads = inp.as_threads(threads)
    lib = load_library(library, fast=fast)
    n, L = batch.n, batch.length
    out = [np.empty(n, dtype=np.float64) for _ in range(4)]
    fm = np.empty(n, dtype=np.float64)
    fr = np.empty(n, dtype=np.float64)
    n_out = np.zeros(n, dtype=np.int64)

    def work(a, b):
        m = b - a
        freqs = np.empty((m, L), dtype=np.float64)
        hc = np.empty((m, L), dtype=np.float64)
        _amplitude_into(lib, batch, a, b, freqs, hc, fm[a:b], fr[a:b])
        hn, outside = _noise_values(curve, freqs)
        hn = np.ascontiguousarray(np.broadcast_to(hn, freqs.shape), dtype=np.float64)
        if not inp.within(hn, 0.0, False, np.inf, True):
            raise InputError("noise", None, "the noise curve returned NaN or non-positive values")
        n_out[a:b] = outside
        lib.SNR_function(
            *[_ptr(o[a:b]) for o in out],
            _ptr(freqs),
            _ptr(hc),
            _ptr(hn),
            _ptr(fm[a:b]),
            _ptr(fr[a:b]),
            L,
            m,
        )

    _run(_spans(n, L, chunk), work, threads, progress, n)
    return BinarySNR(*out, fm, fr, batch.dist, batch.z, n_out)

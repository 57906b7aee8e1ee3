"""The population module ``libphenomd_population.so``: the SNRs of a batch of
binaries in one C call, with the noise read from a table uniform in log10 f.

Per binary the module evaluates the model's row (the grid and strain that
``Amplitude`` writes, exact or fast), multiplies the strain by the binary's
factor, interpolates ln h_n from the table (the scheme of
``phenomd._noise_table.NoiseTable``) and sums the trapezoid of (h_c/h_n)^2
over ln f with each interval given to inspiral, merger or ringdown by its
midpoint, as ``SNR_function``.  No array of n x length values is ever made,
in Python or in C.  The module keeps no state: ``population_snr`` may run
from several threads at once (ctypes releases the GIL for the call).

The SNR's convention is that of the strain and noise passed in: with the
package's averaged h_c (factor sqrt(16/5)) and a sky- and
polarisation-averaged h_n, it is the sky-, polarisation- and
inclination-averaged SNR.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import math
import os
import threading
from pathlib import Path

import numpy as np

from ._inputs import INT_MAX
from ._library import ENV_LIBRARY, candidate_paths, load_path, search

__all__ = [
    "POPULATION_LIBRARY_NAME",
    "ENV_POPULATION_LIBRARY",
    "OUTPUT_NAMES",
    "Population",
    "load_population",
    "population_snr",
    "population_snr_gauss",
    "population_snr_nodes",
    "population_snr_edges",
]

POPULATION_LIBRARY_NAME = "libphenomd_population.so"
ENV_POPULATION_LIBRARY = "PHENOMD_POPULATION_LIBRARY"

#: Keys of the dict population_snr returns (all (n,) float64 but
#: n_outside, int64, and inverted, bool).
OUTPUT_NAMES = (
    "snr_all",
    "snr_ins",
    "snr_mrg",
    "snr_rd",
    "f_merger_start",
    "f_ringdown_start",
    "n_outside",
    "inverted",
)
_DTYPES = {"n_outside": np.int64, "inverted": np.bool_}

_INPUT_NAMES = ("m1", "m2", "spin1", "spin2", "dist", "z", "t_start", "t_end", "factor")

# Return codes of phenomd_population_snr and phenomd_population_snr_gauss
# (phenomd_population.h).
_OK, _NO_FAST_ROW, _BAD_TABLE, _NO_MEMORY, _BAD_ARGUMENT = 0, 1, 2, 3, 4

#: The tolerances phenomd_population_snr_gauss accepts.
RTOL_RANGE = (1e-9, 0.1)


class _NoiseTable(ctypes.Structure):
    """phenomd_noise_table of phenomd_population.h."""

    _fields_ = [
        ("log10_f0", ctypes.c_double),
        ("dlog10_f", ctypes.c_double),
        ("ln_hn", ctypes.c_void_p),
        ("length", ctypes.c_int64),
        ("f_min", ctypes.c_double),
        ("f_max", ctypes.c_double),
    ]


class Population:
    """A loaded population module with its two functions declared."""

    def __init__(self, path):
        self.path = str(path)
        self.cdll = ctypes.CDLL(self.path)
        fn = self.cdll.phenomd_population_snr
        # 8 outputs, 9 inputs (factor included): addresses as integers.
        fn.argtypes = [ctypes.c_void_p] * 17 + [
            ctypes.POINTER(_NoiseTable),
            ctypes.c_int64,
            ctypes.c_int,
            ctypes.c_int,
        ]
        fn.restype = ctypes.c_int
        self._snr = fn
        # The quadrature, its nodes and its cumulative entries (each absent
        # from modules built before it).
        table = ctypes.POINTER(_NoiseTable)
        i64, f64, c_int, ptr = ctypes.c_int64, ctypes.c_double, ctypes.c_int, ctypes.c_void_p
        self._snr_gauss = self._optional("phenomd_population_snr_gauss",
                                         [ptr] * 17 + [table, ptr, i64, i64, f64, c_int])
        self._nodes = self._optional("phenomd_population_nodes",
                                     [ptr] * 3 + [i64] + [ptr] * 14 + [f64, f64, ptr, i64, i64, f64, c_int, c_int, ptr])
        self._snr_edges = self._optional("phenomd_population_snr_edges",
                                         [ptr] * 12 + [table, ptr, i64, i64, i64, f64, c_int])
        has_fast = self.cdll.phenomd_population_has_fast_row
        has_fast.argtypes = []
        has_fast.restype = ctypes.c_int
        self.has_fast_row = bool(has_fast())

    def _optional(self, name, argtypes):
        """The entry ``name`` with its argument types and an int result, or
        None where the module lacks it."""
        fn = getattr(self.cdll, name, None)
        if fn is not None:
            fn.argtypes = argtypes
            fn.restype = ctypes.c_int
        return fn

    def __repr__(self):
        return f"Population({self.path!r})"


def _candidates():
    """(description, path) in the order load_population tries them: the
    environment variable, beside $PHENOMD_LIBRARY, then the places
    load_library searches for libphenomd.so (inside the installed package,
    install locations, ldconfig, the build tree), each with the population
    module's name."""
    env = os.environ.get(ENV_POPULATION_LIBRARY)
    if env:
        yield (f"${ENV_POPULATION_LIBRARY}", Path(env))
    env = os.environ.get(ENV_LIBRARY)
    if env:
        yield (f"beside ${ENV_LIBRARY}", Path(env).parent / POPULATION_LIBRARY_NAME)
    for where, p in candidate_paths(fast=False):
        if where == f"${ENV_LIBRARY}":
            continue  # already tried beside it
        if where.startswith("ldconfig"):
            found = ctypes.util.find_library("phenomd_population")
            yield ("ldconfig name libphenomd_population", Path(found) if found else None)
        else:
            yield (where, p.parent / POPULATION_LIBRARY_NAME)


_searches = {}
_lock = threading.Lock()


def load_population(path=None):
    """Load ``libphenomd_population.so``.

    ``path`` (the file, or a directory holding it) is used alone when given;
    otherwise ``$PHENOMD_POPULATION_LIBRARY``, then the directory of
    ``$PHENOMD_LIBRARY``, then the places ``load_library`` searches.  Loaded
    modules are cached by path; a search is remembered per value of the two
    environment variables.  Raises LibraryNotFoundError listing every place
    tried.
    """
    if isinstance(path, Population):
        return path
    if path is not None:
        return load_path(path, POPULATION_LIBRARY_NAME, Population, "path argument")
    key = (os.environ.get(ENV_POPULATION_LIBRARY), os.environ.get(ENV_LIBRARY))
    lib = _searches.get(key)
    if lib is None:
        lib = search(_candidates(), POPULATION_LIBRARY_NAME, Population)
        with _lock:
            _searches[key] = lib
    return lib


def _address(a, name, n, dtype, writeable=False):
    if type(a) is not np.ndarray or a.dtype != dtype or not a.flags.c_contiguous or a.shape != (n,):
        raise TypeError(f"{name}: needs a C-contiguous ({n},) {np.dtype(dtype).name} array")
    if writeable and not a.flags.writeable:
        raise TypeError(f"{name}: read-only, but the module writes it")
    return a.ctypes.data


#: ln h_n around which the kernels work: (k h_c / h_n)^2 of any binary the
#: model describes (h_c from about 1e-27 to 1e-8) stays far inside double
#: range for h_n within a factor 1e100 of it.
_LN_HN_LEVEL = math.log(1e-20)
_LN_HN_SLACK = math.log(1e100)


def _level_shift(ln_hn):
    """The power of two k by which a table whose noise lies far from
    usual levels (h_n of 1e-310, or of 1e+200: a file in odd units) is
    divided before it reaches C, so that (h_c / h_n)^2 neither overflows nor
    underflows there: the kernels see ln h_n - k ln 2, so every SNR they
    return is 2^k times the true one and is divided by 2^k again
    (``np.ldexp``, exact).  0, and the table passed as it is, for every
    usual curve."""
    finite = ln_hn[np.isfinite(ln_hn)]
    if finite.size == 0:
        return 0
    mid = 0.5 * (float(finite.min()) + float(finite.max()))
    if abs(mid - _LN_HN_LEVEL) <= _LN_HN_SLACK:
        return 0
    return int(round((mid - _LN_HN_LEVEL) / math.log(2.0)))


def _table_struct(table):
    """(the phenomd_noise_table struct, its ln_hn kept alive, k): the table
    checked and, far from usual noise levels, divided by 2^k
    (``_level_shift``)."""
    ln_hn = np.ascontiguousarray(table.ln_hn, dtype=np.float64)
    if ln_hn.ndim != 1:
        raise ValueError("table.ln_hn: needs a 1-D array")
    k = _level_shift(ln_hn)
    if k:
        ln_hn = ln_hn - k * math.log(2.0)
    t = _NoiseTable(float(table.log10_f0), float(table.dlog10_f), ln_hn.ctypes.data, len(ln_hn),
                    float(table.f_min), float(table.f_max))
    return t, ln_hn, k


def _unshift(out, k):
    """The four SNRs of ``out`` divided by 2^k (see _level_shift)."""
    if k:
        for name in OUTPUT_NAMES[:4]:
            np.ldexp(out[name], -k, out=out[name])


def _inputs(arrays):
    """(n, addresses) of the nine per-binary inputs (m1 ... factor), each
    checked a C-contiguous (n,) float64 array."""
    m1 = arrays[0]
    n = int(np.shape(m1)[0]) if np.ndim(m1) == 1 else -1
    if n < 0:
        raise TypeError("m1: needs a (n,) array")
    return n, [_address(a, nm, n, np.float64) for a, nm in zip(arrays, _INPUT_NAMES)]


def _outputs(out, n):
    """(out, addresses of its OUTPUT_NAMES): the arrays the caller did not
    provide allocated, every one checked writeable and of its dtype."""
    if out is None:
        out = {}
    for k in OUTPUT_NAMES:
        if k not in out:
            out[k] = np.empty(n, dtype=_DTYPES.get(k, np.float64))
    return out, [_address(out[k], k, n, _DTYPES.get(k, np.float64), writeable=True) for k in OUTPUT_NAMES]


def _rtol(rtol):
    """rtol as a float inside RTOL_RANGE, or ValueError."""
    rtol = float(rtol)
    if not RTOL_RANGE[0] <= rtol <= RTOL_RANGE[1]:
        raise ValueError(f"rtol = {rtol!r}: outside [{RTOL_RANGE[0]:g}, {RTOL_RANGE[1]:g}]")
    return rtol


def _marshal(m1, m2, spin1, spin2, dist, z, t_start, t_end, factor, table, out):
    """The one place where the population entries' arrays are checked and
    their addresses taken: (n, input addresses, output addresses, the
    table's struct, ln_hn kept alive, out, the table's level shift k)."""
    n, ins = _inputs((m1, m2, spin1, spin2, dist, z, t_start, t_end, factor))
    out, outs = _outputs(out, n)
    t, ln_hn, k = _table_struct(table)
    return n, ins, outs, t, ln_hn, out, k


def _raise_for(rc, lib, t, ln_hn, what):
    if rc == _NO_FAST_ROW:
        raise RuntimeError(f"{lib.path} was built without the fast row (needs x86-64 and SLEEF)")
    if rc == _BAD_TABLE:
        raise ValueError(
            f"the population module rejected the noise table ({len(ln_hn)} nodes, spacing {t.dlog10_f!r} dex, "
            f"range {t.f_min!r}-{t.f_max!r} Hz): it needs >= 4 nodes, a positive spacing and the four nodes "
            "of every frequency in the range"
        )
    if rc == _NO_MEMORY:
        raise MemoryError(f"the population module could not allocate its {what}")
    raise RuntimeError(f"the population module returned {rc}")


def population_snr(lib, m1, m2, spin1, spin2, dist, z, t_start, t_end, factor, table, length, fast, out=None):
    """SNRs of n binaries against a noise table, in one C call.

    ``m1`` ... ``t_end``: (n,) float64 C-contiguous arrays, as for
    ``Amplitude`` (source-frame masses in M_sun, aligned spins, luminosity
    distance in Mpc, redshift, observer-frame years before merger; the
    caller has checked them).  ``factor``: (n,) float64, the factor applied
    to h_c (the inclination factor k). ``table``: a NoiseTable (fields
    log10_f0, dlog10_f, ln_hn, f_min, f_max).  ``length``: grid points per
    binary.  ``fast``: the fast row (libphenomd_fast.so's grid) instead of
    the exact one.  ``out``: optional dict of preallocated arrays under keys
    of OUTPUT_NAMES ((n,) float64; n_outside int64; inverted bool), written
    in place; keys it lacks are allocated and added to it.

    Returns the dict of OUTPUT_NAMES: snr_all, snr_ins, snr_mrg, snr_rd
    (SNR of factor*h_c against h_n, in total and per phase; the squares of
    the phases add up to the total's), f_merger_start, f_ringdown_start
    (phase boundaries, Hz), n_outside (grid points outside the table's
    [f_min, f_max], where h_n = +inf), inverted (the band ends below its
    start: Amplitude's sentinel row, SNR 0).  Raises ValueError for a table the
    module rejects, RuntimeError when ``fast`` is asked of a module built
    without the fast row, MemoryError when its row buffers fail.
    """
    lib = load_population(lib)
    length = int(length)
    if not 0 <= length <= INT_MAX:
        raise ValueError(f"length = {length}: outside [0, {INT_MAX}]")
    n, ins, outs, t, ln_hn, out, k = _marshal(m1, m2, spin1, spin2, dist, z, t_start, t_end, factor, table, out)
    rc = lib._snr(*outs, *ins, ctypes.byref(t), n, length, 1 if fast else 0)
    if rc == _OK:
        _unshift(out, k)
        return out
    _raise_for(rc, lib, t, ln_hn, f"row buffers (length {length})")


def population_snr_gauss(
    lib, m1, m2, spin1, spin2, dist, z, t_start, t_end, factor, table, rtol, fast, noise_kinks=None, out=None
):
    """Converged SNRs of n binaries against a noise table, in one C call:
    ``phenomd_population_snr_gauss``, composite Gauss-Legendre quadrature
    in ln f.

    Under this method each SNR is the integral itself, not a sum on a grid:

        snr_all^2 = integral over ln f of (factor * h_c(f) / h_n(f))^2

    over the part of the band [f(t_start), f(t_end)] (t_end <= 0: up to
    Mf = 0.2, through ringdown; the band of ``Amplitude``) inside the
    table's [f_min, f_max] (h_n = +inf outside, so the rest adds nothing),
    with h_c the model's characteristic strain at each frequency and h_n
    the table's interpolant (``NoiseTable.evaluate``).  snr_ins, snr_mrg and
    snr_rd are the same integral split exactly at f_merger_start and
    f_ringdown_start: inspiral below f_merger_start, merger between,
    ringdown from f_ringdown_start; their squares add up to snr_all^2.
    Each of the four is within ``rtol`` (relative) of that integral for
    every phase carrying at least 1e-3 of snr_all^2 (calibrated by
    measurement, ``bench/README.md``); they differ from the trapezoid of
    ``population_snr`` by that method's own error (up to a few per cent for
    the merger and ringdown at length 1000).  Their convention (averaging,
    channels) is that of the strain and noise passed in, as for
    ``population_snr``.

    Parameters
    ----------
    lib : Population, path or None
        The module (``load_population``).
    m1, m2, spin1, spin2, dist, z, t_start, t_end, factor : ndarray
        As for ``population_snr``: (n,) float64, C-contiguous, already
        checked by the caller.  A sub-band's SNR is had by passing its
        t_start and t_end.
    table : NoiseTable
        The noise (log10_f0, dlog10_f, ln_hn, f_min, f_max).
    rtol : float
        Relative tolerance, in ``RTOL_RANGE`` = [1e-9, 0.1].
    fast : bool
        Powers of f as exp(alpha ln f) with SIMD exp (agrees with the exact
        evaluation to ~1e-15) instead of the model's pow.
    noise_kinks : array_like of float, optional
        Frequencies (Hz, finite, > 0) where the noise curve is not smooth
        (a knee of a piecewise fit); the quadrature breaks its panels there.
    out : dict, optional
        Preallocated outputs under keys of OUTPUT_NAMES, as for
        ``population_snr``.

    Returns
    -------
    dict
        OUTPUT_NAMES: snr_all, snr_ins, snr_mrg, snr_rd (as above),
        f_merger_start, f_ringdown_start (Hz), n_outside (int64: how many
        of the band's two ends lie outside [f_min, f_max], 0-2; non-zero
        means the SNR covers only part of the band), inverted (bool: the
        band ends below its start; SNR 0).  A binary whose remnant is
        outside the model's tables gets NaN SNRs.

    Raises
    ------
    ValueError
        ``rtol`` outside RTOL_RANGE, a kink not a finite positive
        frequency, or a table the module rejects.
    RuntimeError
        ``fast`` asked of a module built without the fast row, or a module
        built before this entry.
    MemoryError
        The module could not allocate its work space.

    Examples
    --------
    >>> from phenomd import noise  # doctest: +SKIP
    >>> t = noise.curve("lisa").table()  # doctest: +SKIP
    >>> one = np.ones(1)  # doctest: +SKIP
    >>> r = population_snr_gauss(None, 1e6 * one, 5e5 * one, 0 * one, 0 * one,
    ...                          1e4 * one, one, 4 * one, 0 * one, 1.79 * one,
    ...                          t, 1e-6, True)  # doctest: +SKIP
    """
    lib = load_population(lib)
    if lib._snr_gauss is None:
        raise RuntimeError(f"{lib.path} has no phenomd_population_snr_gauss (built before the quadrature)")
    rtol = _rtol(rtol)
    kinks = np.ascontiguousarray([] if noise_kinks is None else noise_kinks, dtype=np.float64).ravel()
    if kinks.size and not (np.all(np.isfinite(kinks)) and np.all(kinks > 0)):
        raise ValueError(f"noise_kinks: needs finite positive frequencies in Hz, got {kinks!r}")
    n, ins, outs, t, ln_hn, out, k = _marshal(m1, m2, spin1, spin2, dist, z, t_start, t_end, factor, table, out)
    rc = lib._snr_gauss(
        *outs,
        *ins,
        ctypes.byref(t),
        kinks.ctypes.data if kinks.size else None,
        kinks.size,
        n,
        rtol,
        1 if fast else 0,
    )
    if rc == _OK:
        _unshift(out, k)
        return out
    if rc == _BAD_ARGUMENT:
        raise ValueError(f"the population module refused rtol = {rtol!r} or noise_kinks")
    _raise_for(rc, lib, t, ln_hn, "work space")


def _kinks(noise_kinks):
    kinks = np.ascontiguousarray([] if noise_kinks is None else noise_kinks, dtype=np.float64).ravel()
    if kinks.size and not (np.all(np.isfinite(kinks)) and np.all(kinks > 0)):
        raise ValueError(f"noise_kinks: needs finite positive frequencies in Hz, got {kinks!r}")
    return kinks


#: Nodes held per call of phenomd_population_nodes (three arrays of this
#: many values): about 17 MB, some thousands of binaries.
NODE_CAPACITY = 1 << 20


def population_snr_nodes(
    lib, m1, m2, spin1, spin2, dist, z, t_start, t_end, factor, hn, f_range, rtol, fast, noise_kinks=None,
    out=None, capacity=NODE_CAPACITY, max_refine=10,
):
    """The SNRs of ``population_snr_gauss`` for a noise given as a function
    ``hn(f)`` evaluated here, at the quadrature's own nodes.

    ``phenomd_population_nodes`` returns, per binary, the Gauss-Legendre
    nodes ln f_j and weights W_j = w_j (factor h_c(f_j))^2 of the rule the
    table entry uses (panels broken at the band's ends, the phase
    boundaries, the model's joins, the ends of ``f_range`` and
    ``noise_kinks``), with each node's phase; then

        rho^2 of a phase = sum over its nodes of W_j / hn(f_j)^2.

    The table entry narrows its panels where its table oscillates; a
    function's shape is not known in advance, so the sums are made with the
    panels per decade doubled level by level (``refine``) until two
    successive levels agree to ``rtol`` in every phase's rho^2 (relative to
    the phase, or to 1e-3 of the total for a smaller phase), binary by
    binary, and the finer is returned.  A binary still disagreeing after
    ``max_refine`` doublings keeps its finest sums and is counted in the
    RuntimeWarning issued.  ``hn`` is called with a 1-D float64 array of
    frequencies (Hz, within ``f_range``) and must return h_n there (the
    caller's wrapper checks the values and may raise).  ``f_range``:
    (f_min, f_max), Hz, 0 < f_min < f_max < inf (h_n = +inf outside).
    Other arguments and the returned dict as ``population_snr_gauss``
    (n_outside: band ends outside ``f_range``).
    """
    lib = load_population(lib)
    if lib._nodes is None:
        raise RuntimeError(f"{lib.path} has no phenomd_population_nodes (built before it)")
    rtol = _rtol(rtol)
    f_range = tuple(float(v) for v in f_range)
    kinks = _kinks(noise_kinks)
    arrays = (m1, m2, spin1, spin2, dist, z, t_start, t_end, factor)
    n, _ = _inputs(arrays)
    out, _ = _outputs(out, n)
    buffers = _NodeBuffers(max(int(capacity), 64))
    # A noise far from usual levels is divided by a power of two, as a
    # table is (_level_shift), chosen from its values at the first nodes.
    shift = []

    def scaled(f):
        h = hn(f)
        if not shift:
            good = h[np.isfinite(h) & (h > 0)]
            shift.append(_level_shift(np.log(good)) if good.size else 0)
        return np.ldexp(h, -shift[0]) if shift[0] else h

    coarse = _node_sums(lib, arrays, n, out, scaled, f_range, kinks, rtol, 0, fast, buffers)
    scratch = {k: np.empty(n, dtype=_DTYPES.get(k, np.float64)) for k in OUTPUT_NAMES[4:]}
    fine = _node_sums(lib, arrays, n, scratch, scaled, f_range, kinks, rtol, 1, fast, buffers)
    sums = fine.copy()
    active = np.arange(n)
    level = 1
    while True:
        total = np.abs(fine.sum(axis=1))
        with np.errstate(invalid="ignore"):
            scale = np.maximum(np.abs(fine), 1e-3 * total[:, np.newaxis])
            agree = (np.abs(fine - coarse) <= rtol * scale).all(axis=1) | ~np.isfinite(total)
        if agree.all():
            break
        if level == max_refine:
            import warnings

            warnings.warn(f"{int((~agree).sum())} of {n} binaries: the SNR with the noise evaluated at the "
                          f"quadrature's nodes did not settle to rtol = {rtol:g} after {level} doublings of the "
                          "panels (a noise with features narrower than the panels, or steps it does not declare "
                          "in kinks or its range); their finest sums are returned", RuntimeWarning, stacklevel=3)
            break
        level += 1
        active = active[~agree]
        coarse = fine[~agree]
        sub = tuple(np.ascontiguousarray(a[active]) for a in arrays)
        m = active.size
        scratch = {k: np.empty(m, dtype=_DTYPES.get(k, np.float64)) for k in OUTPUT_NAMES[4:]}
        fine = _node_sums(lib, sub, m, scratch, scaled, f_range, kinks, rtol, level, fast, buffers)
        sums[active] = fine
    np.sqrt(sums[:, 0], out=out["snr_ins"])
    np.sqrt(sums[:, 1], out=out["snr_mrg"])
    np.sqrt(sums[:, 2], out=out["snr_rd"])
    np.sqrt(sums.sum(axis=1), out=out["snr_all"])
    _unshift(out, shift[0] if shift else 0)
    return out


class _NodeBuffers:
    """ln f, weights and phases of up to ``capacity`` nodes, grown when one
    binary needs more."""

    def __init__(self, capacity):
        self.grow(capacity)

    def grow(self, capacity):
        self.capacity = capacity
        self.ln_f = np.empty(capacity)
        self.weight = np.empty(capacity)
        self.phase = np.empty(capacity, dtype=np.uint8)


def _node_sums(lib, arrays, n, out, hn, f_range, kinks, rtol, refine, fast, buf):
    """(n, 3) rho^2 of inspiral, merger and ringdown at one refine level;
    the boundaries, n_outside and inverted written into ``out``."""
    sums = np.empty((n, 3))
    offsets = np.empty(n + 1, dtype=np.int64)
    done = ctypes.c_int64(0)
    start = 0
    step = 8  # bytes per element of every per-binary input
    while start < n:
        ins = [a.ctypes.data + step * start for a in arrays]
        outs = [out[k].ctypes.data + out[k].itemsize * start for k in OUTPUT_NAMES[4:]]
        rc = lib._nodes(
            buf.ln_f.ctypes.data, buf.weight.ctypes.data, buf.phase.ctypes.data, buf.capacity, offsets.ctypes.data,
            *outs, *ins, f_range[0], f_range[1], kinks.ctypes.data if kinks.size else None, kinks.size, n - start,
            rtol, refine, 1 if fast else 0, ctypes.byref(done),
        )
        if rc == _BAD_ARGUMENT:
            raise ValueError(f"the population module refused rtol = {rtol!r}, refine = {refine} or noise_kinks")
        if rc == _BAD_TABLE:
            raise ValueError(f"f_range = {f_range!r}: needs 0 < f_min < f_max < inf")
        if rc == _NO_FAST_ROW:
            raise RuntimeError(f"{lib.path} was built without the fast row (needs x86-64 and SLEEF)")
        if rc == _NO_MEMORY:
            raise MemoryError("the population module could not allocate its work space")
        if rc != _OK:
            raise RuntimeError(f"the population module returned {rc}")
        m = int(done.value)
        if m == 0:  # one binary needs more nodes than the buffers hold
            buf.grow(2 * buf.capacity)
            continue
        used = int(offsets[m])
        g = buf.weight[:used].copy()
        if used:
            h = hn(np.exp(buf.ln_f[:used]))
            with np.errstate(divide="ignore", invalid="ignore", over="ignore"):
                g /= h * h
        seg = np.repeat(np.arange(m, dtype=np.int64) * 3, np.diff(offsets[: m + 1]))
        seg += buf.phase[:used]
        sums[start:start + m] = np.bincount(seg, weights=g, minlength=3 * m).reshape(m, 3)
        start += m
    return sums


def population_snr_edges(
    lib, m1, m2, spin1, spin2, dist, z, t_start, t_end, factor, table, rtol, fast, max_edges=128, noise_kinks=None
):
    """The accumulation of rho^2 along each binary's band, in one C call:
    ``phenomd_population_snr_edges``, the integral of
    ``population_snr_gauss`` from the lower end of the integration up to
    the upper edge of each of its Gauss-Legendre panels, in ascending
    frequency, to bracket the frequency where the accumulated SNR reaches
    a value in one pass.

    Parameters
    ----------
    lib, m1, m2, spin1, spin2, dist, z, t_start, t_end, factor, table, rtol, fast, noise_kinks
        As for ``population_snr_gauss``.
    max_edges : int
        Room per binary, >= 2: a binary with more panels gets an evenly
        spaced subset of its edges, the first and last among them.

    Returns
    -------
    (edge_f, edge_rho, num_edges)
        (n, max_edges) frequencies (Hz, ascending) and the SNR rho
        accumulated up to them (the square root of the module's rho^2, so
        that a noise far below usual levels cannot overflow it: 0 at the
        first, the band's SNR at the last), valid in
        the first ``num_edges[i]`` columns of row i; num_edges (n,) int64,
        0 for an empty band (inverted, or outside the table's range) or one
        whose ends are not finite.  NaN for a remnant outside the
        model's tables.

    Raises
    ------
    ValueError, RuntimeError, MemoryError
        As ``population_snr_gauss``; ValueError also for max_edges < 2.
    """
    lib = load_population(lib)
    if getattr(lib, "_snr_edges", None) is None:
        raise RuntimeError(f"{lib.path} has no phenomd_population_snr_edges (built before it)")
    rtol = _rtol(rtol)
    max_edges = int(max_edges)
    if not 2 <= max_edges <= 1 << 20:
        raise ValueError(f"max_edges = {max_edges}: outside [2, {1 << 20}]")
    kinks = _kinks(noise_kinks)
    n, ins = _inputs((m1, m2, spin1, spin2, dist, z, t_start, t_end, factor))
    edge_f = np.empty((n, max_edges), dtype=np.float64)
    edge_rho2 = np.empty((n, max_edges), dtype=np.float64)
    num = np.empty(n, dtype=np.int64)
    t, ln_hn, k = _table_struct(table)
    rc = lib._snr_edges(
        edge_f.ctypes.data, edge_rho2.ctypes.data, num.ctypes.data, *ins, ctypes.byref(t),
        kinks.ctypes.data if kinks.size else None, kinks.size, n, max_edges, rtol, 1 if fast else 0,
    )
    if rc == _OK:
        with np.errstate(invalid="ignore", over="ignore"):  # the unused columns hold anything
            edge_rho = np.sqrt(edge_rho2, out=edge_rho2)
            if k:
                np.ldexp(edge_rho, -k, out=edge_rho)
        return edge_f, edge_rho, num
    if rc == _BAD_ARGUMENT:
        raise ValueError(f"the population module refused rtol = {rtol!r}, max_edges = {max_edges} or noise_kinks")
    _raise_for(rc, lib, t, ln_hn, "work space")

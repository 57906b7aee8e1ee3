"""Locating and loading the shared module, and its exact C signatures.

The module ``libphenomd.so`` exposes two functions over caller-owned arrays
of doubles and seven exported double constants.  The signatures below are
the single place where the package states the C interface; a test parses
``utils/phenomd/phenomd.h`` and compares it with them, so that the two cannot
drift apart.

Every array the package hands to the module goes through
``Library.call_amplitude`` or ``Library.call_snr``, which check dtype
(native float64), C-contiguity, writeability of outputs and the exact size
against the batch (n binaries of ``length`` points) before the call: the
module reads and writes n*length doubles through a bare pointer, and a short
buffer would be read or written past its end.

A search (no explicit path) tries the environment variables, then the
modules installed inside the package (``phenomd/_lib/``, where ``pip install
.`` puts them), then the system's install locations and the checkout's build
tree (``candidate_paths``).  It is done once per process for each value of
``$PHENOMD_LIBRARY`` / ``$PHENOMD_FAST_LIBRARY``: a later call with the same
environment gets the same module without touching the file system.
``clear_cache()`` forgets the searches.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import threading
from pathlib import Path

import numpy as np

from ._inputs import INT_MAX, InputError

__all__ = [
    "AMPLITUDE_PARAMS",
    "SNR_PARAMS",
    "CONSTANT_NAMES",
    "Library",
    "LibraryNotFoundError",
    "candidate_paths",
    "clear_cache",
    "load_library",
]

LIBRARY_NAME = "libphenomd.so"
FAST_LIBRARY_NAME = "libphenomd_fast.so"
ENV_LIBRARY = "PHENOMD_LIBRARY"
ENV_FAST_LIBRARY = "PHENOMD_FAST_LIBRARY"

# Where `pip install .` (setup.py) puts the modules: inside the package.
PACKAGE_LIB_DIR = Path(__file__).resolve().parent / "_lib"

# Where `cmake --install` puts the module with the default prefix, and the
# system directories a packaged install would use.
INSTALL_DIRS = (
    "/usr/local/lib",
    "/usr/local/lib64",
    "/usr/local/lib/x86_64-linux-gnu",
    "/usr/lib",
    "/usr/lib64",
    "/usr/lib/x86_64-linux-gnu",
)

_DOUBLE_P = ctypes.POINTER(ctypes.c_double)

# (C type, parameter name, const) in declaration order.  "double*" is a
# pointer to double, "int" a C int.
AMPLITUDE_PARAMS = (
    ("double*", "freqs", False),
    ("double*", "hc", False),
    ("double*", "f_merger_start", False),
    ("double*", "f_ringdown_start", False),
    ("double*", "m1", True),
    ("double*", "m2", True),
    ("double*", "spin1", True),
    ("double*", "spin2", True),
    ("double*", "dist", True),
    ("double*", "z", True),
    ("double*", "t_start", True),
    ("double*", "t_end", True),
    ("int", "num_binaries", False),
    ("int", "length", False),
)

# Note the order at the end: length comes before num_binaries here.
SNR_PARAMS = (
    ("double*", "snr_all", False),
    ("double*", "snr_ins", False),
    ("double*", "snr_mrg", False),
    ("double*", "snr_rd", False),
    ("double*", "freqs", True),
    ("double*", "hc", True),
    ("double*", "hn", True),
    ("double*", "f_merger_start", True),
    ("double*", "f_ringdown_start", True),
    ("int", "length", False),
    ("int", "num_binaries", False),
)

CONSTANT_NAMES = (
    "Pi",
    "PARSEC_TO_METERS",
    "SECONDS_PER_YEAR",
    "SPEED_OF_LIGHT",
    "M_SUN",
    "MRSUN",
    "MTSUN",
)

_CTYPES = {"double*": _DOUBLE_P, "int": ctypes.c_int}


def argtypes(params):
    """ctypes argtypes for a parameter table such as AMPLITUDE_PARAMS."""
    return [_CTYPES[ctype] for ctype, _, _ in params]


class LibraryNotFoundError(OSError):
    """No loadable shared module was found; the message lists every place
    that was tried and why each failed."""

    def __init__(self, name, attempts):
        self.name = name
        self.attempts = list(attempts)
        lines = [f"could not load {name}; looked in:"]
        lines += [f"  {where}: {why}" for where, why in self.attempts]
        lines.append(
            "Build it with `cmake -S . -B build && cmake --build build`, "
            f"then set {ENV_LIBRARY}=<build>/lib/{LIBRARY_NAME} or pass "
            "library=<path>."
        )
        super().__init__("\n".join(lines))

    def __reduce__(self):
        # OSError's own pickling passes the message as the constructor's
        # arguments; rebuild from (name, attempts) instead.
        return (type(self), (self.name, self.attempts))


def _repo_roots():
    """Source checkouts to look for a build tree in: the one this package
    sits in (python/phenomd/ inside the repository), then the working
    directory."""
    here = Path(__file__).resolve().parent  # .../python/phenomd
    roots = []
    repo = here.parent.parent
    if (repo / "utils" / "phenomd" / "phenomd.h").is_file():
        roots.append(repo)
    cwd = Path.cwd()
    if cwd not in roots:
        roots.append(cwd)
    return roots


def candidate_paths(fast=False):
    """Every (description, path) the search tries, in order, except an
    explicit path argument.  ``path`` is None for an ldconfig lookup that
    found nothing.  A generator: the ldconfig lookup (which runs the
    compiler or ldconfig, some milliseconds) only happens when the places
    before it have failed."""
    name = FAST_LIBRARY_NAME if fast else LIBRARY_NAME
    if fast:
        env = os.environ.get(ENV_FAST_LIBRARY)
        if env:
            yield (f"${ENV_FAST_LIBRARY}", Path(env))
        env = os.environ.get(ENV_LIBRARY)
        if env:
            yield (f"beside ${ENV_LIBRARY}", Path(env).parent / name)
    else:
        env = os.environ.get(ENV_LIBRARY)
        if env:
            yield (f"${ENV_LIBRARY}", Path(env))
    yield ("installed package", PACKAGE_LIB_DIR / name)
    for d in INSTALL_DIRS:
        yield ("install location", Path(d) / name)
    stem = name[3:-3]  # "phenomd" or "phenomd_fast"
    found = ctypes.util.find_library(stem)
    yield (f"ldconfig name lib{stem}", Path(found) if found else None)
    for root in _repo_roots():
        yield ("build tree", root / "build" / "lib" / name)


_F64 = np.dtype(np.float64)
_VOID_ARGS = {"double*": ctypes.c_void_p, "int": ctypes.c_int}


def _address(a, name, size, writeable):
    """Address of the first double of ``a`` after checking that the module
    can use it as ``size`` doubles: an ndarray of native float64, C-contiguous,
    exactly ``size`` elements, writeable when the module writes it."""
    if type(a) is not np.ndarray:
        raise InputError(name, None, f"{name}: the C module needs a numpy array; got {type(a).__name__}")
    if a.dtype != _F64 or not a.flags.c_contiguous or a.size != size or (writeable and not a.flags.writeable):
        what = []
        if a.dtype != _F64:
            what.append(f"dtype {a.dtype} (needs native float64)")
        if not a.flags.c_contiguous:
            what.append("not C-contiguous")
        if a.size != size:
            what.append(f"{a.size} elements where the batch needs exactly {size}")
        if writeable and not a.flags.writeable:
            what.append("read-only, but the module writes it")
        raise InputError(name, None, f"{name} cannot be passed to the C module: " + "; ".join(what))
    return a.ctypes.data


def _count(value, name):
    value = int(value)
    if not 0 <= value <= INT_MAX:
        raise InputError(name, None, f"{name} = {value}: outside the C interface's range [0, {INT_MAX}]")
    return value


class Library:
    """A loaded module with its signatures declared.

    ``Amplitude`` and ``SNR_function`` are the module's functions with the
    header's exact argtypes.  The package itself calls them only through
    ``call_amplitude`` and ``call_snr``, which check every array first.
    """

    def __init__(self, path):
        self.path = str(path)
        self.cdll = ctypes.CDLL(self.path)
        self.Amplitude = self.cdll.Amplitude
        self.Amplitude.argtypes = argtypes(AMPLITUDE_PARAMS)
        self.Amplitude.restype = ctypes.c_int
        self.SNR_function = self.cdll.SNR_function
        self.SNR_function.argtypes = argtypes(SNR_PARAMS)
        self.SNR_function.restype = ctypes.c_int
        # The same entry points taking addresses as integers: a checked
        # array's address plus a row offset, without a ctypes pointer
        # object per array per call.
        self._amplitude = self.cdll["Amplitude"]
        self._amplitude.argtypes = [_VOID_ARGS[t] for t, _, _ in AMPLITUDE_PARAMS]
        self._amplitude.restype = ctypes.c_int
        self._snr = self.cdll["SNR_function"]
        self._snr.argtypes = [_VOID_ARGS[t] for t, _, _ in SNR_PARAMS]
        self._snr.restype = ctypes.c_int

    def call_amplitude(self, freqs, hc, f_merger_start, f_ringdown_start, inputs, n, length, rows=None):
        """``Amplitude`` on binaries ``rows`` = (a, b) (default: all n) of a
        batch of n binaries with ``length`` points each.

        ``freqs``, ``hc``: n*length doubles (written); ``f_merger_start``,
        ``f_ringdown_start``: n (written); ``inputs``: the eight per-binary
        arrays (m1, m2, spin1, spin2, dist, z, t_start, t_end) of n doubles
        each, or one (8, n) array holding them as rows.  Raises InputError,
        before the call, for any array the module could not use as that
        many doubles.
        """
        n = _count(n, "num_binaries")
        length = _count(length, "length")
        a, b = (0, n) if rows is None else rows
        if not 0 <= a <= b <= n:
            raise InputError("rows", None, f"rows ({a}, {b}) outside the batch of {n}")
        grid = [_address(x, nm, n * length, True) for x, nm in ((freqs, "freqs"), (hc, "hc"))]
        ends = [_address(x, nm, n, True) for x, nm in ((f_merger_start, "f_merger_start"),
                                                       (f_ringdown_start, "f_ringdown_start"))]
        if type(inputs) is np.ndarray and inputs.ndim == 2:
            if inputs.shape != (8, n):
                raise InputError("inputs", None, f"inputs has shape {inputs.shape}; Amplitude needs (8, {n})")
            base = _address(inputs, "inputs", 8 * n, False)
            ins = [base + 8 * n * k for k in range(8)]
        else:
            if len(inputs) != 8:
                raise InputError("inputs", None, f"Amplitude takes 8 input arrays; got {len(inputs)}")
            ins = [_address(x, nm, n, False) for x, (_, nm, _) in zip(inputs, AMPLITUDE_PARAMS[4:12])]
        if b == a:
            return 0
        row, one = 8 * length * a, 8 * a
        return self._amplitude(*[p + row for p in grid], *[p + one for p in ends], *[p + one for p in ins],
                               b - a, length)

    def call_snr(self, outputs, freqs, hc, hn, f_merger_start, f_ringdown_start, n, length, rows=None):
        """``SNR_function`` on binaries ``rows`` = (a, b) (default: all n):
        ``outputs`` the four (n,) arrays snr_all, snr_ins, snr_mrg, snr_rd
        (written); ``freqs``, ``hc``, ``hn`` n*length doubles each; the two
        boundaries n each.  Checked as in ``call_amplitude``."""
        n = _count(n, "num_binaries")
        length = _count(length, "length")
        if len(outputs) != 4:
            raise InputError("outputs", None, f"SNR_function writes 4 arrays; got {len(outputs)}")
        a, b = (0, n) if rows is None else rows
        if not 0 <= a <= b <= n:
            raise InputError("rows", None, f"rows ({a}, {b}) outside the batch of {n}")
        outs = [_address(x, nm, n, True) for x, (_, nm, _) in zip(outputs, SNR_PARAMS[:4])]
        grid = [_address(x, nm, n * length, False) for x, nm in ((freqs, "freqs"), (hc, "hc"), (hn, "hn"))]
        ends = [_address(x, nm, n, False) for x, nm in ((f_merger_start, "f_merger_start"),
                                                        (f_ringdown_start, "f_ringdown_start"))]
        if b == a:
            return 0
        row, one = 8 * length * a, 8 * a
        return self._snr(*[p + one for p in outs], *[p + row for p in grid], *[p + one for p in ends], length, b - a)

    def constants(self):
        """The seven exported constants as a dict of floats (read now; the
        library reads them at each call)."""
        return {
            n: ctypes.c_double.in_dll(self.cdll, n).value for n in CONSTANT_NAMES
        }

    def __repr__(self):
        return f"Library({self.path!r})"


_cache = {}
_cache_lock = threading.Lock()
_searches = {}


def clear_cache():
    """Forget the results of earlier searches (loaded modules stay loaded)."""
    with _cache_lock:
        _searches.clear()


def _open(path, cls=None):
    """The loaded module at ``path`` (a ``cls``, default Library), loaded
    once per process and kind."""
    cls = Library if cls is None else cls
    text = str(path)
    # A bare soname from the ldconfig lookup is resolved by the loader.
    key = (cls, os.path.realpath(text) if os.sep in text else text)
    with _cache_lock:
        lib = _cache.get(key)
        if lib is None:
            try:
                lib = cls(text)
            except AttributeError as exc:
                # ctypes: "PATH: undefined symbol: NAME": a shared library,
                # but another one (e.g. --library pointing at libm).
                symbol = str(exc).rsplit(": ", 1)[-1]
                raise OSError(f"a shared library, but not this package's module: it lacks {symbol}") from None
            _cache[key] = lib
        return lib


def load_library(path=None, fast=False):
    """Load the shared module.

    ``path`` (a file, or a directory holding the module) is used alone when
    given.  Otherwise the search tries ``$PHENOMD_LIBRARY`` (for
    ``fast=True``: ``$PHENOMD_FAST_LIBRARY``, then the fast module beside
    ``$PHENOMD_LIBRARY``), the install locations, the ldconfig cache and
    the build tree ``build/lib`` of the repository; the first module that
    loads wins.  ``fast=True`` looks for ``libphenomd_fast.so``, which has
    the same symbols.  Raises LibraryNotFoundError listing every place
    tried.

    A successful search or path is remembered for the process, keyed by the
    path given or by the values of the two environment variables: setting
    ``$PHENOMD_LIBRARY`` to another module takes effect at the next call;
    ``clear_cache()`` forgets the rest.
    """
    if isinstance(path, Library):
        return path
    if path is None:
        key = (bool(fast), os.environ.get(ENV_LIBRARY), os.environ.get(ENV_FAST_LIBRARY) if fast else None)
    else:
        key = (bool(fast), "path", os.fspath(path))
    lib = _searches.get(key)
    if lib is None:
        lib = _search(fast) if path is None else _load_path(path, fast)
        with _cache_lock:
            _searches[key] = lib
    return lib


def _load_path(path, fast):
    return load_path(path, FAST_LIBRARY_NAME if fast else LIBRARY_NAME, Library, "library= argument")


def _search(fast):
    return search(candidate_paths(fast), FAST_LIBRARY_NAME if fast else LIBRARY_NAME, Library)


def load_path(path, name, cls, argument):
    """Load the module ``name`` from ``path`` (the file, or a directory
    holding it) as a ``cls``; LibraryNotFoundError naming ``argument``."""
    p = Path(path)
    if p.is_dir():
        p = p / name
    if not p.is_file():
        raise LibraryNotFoundError(name, [(argument, f"{p}: no such file")])
    try:
        return _open(p, cls)
    except OSError as exc:
        raise LibraryNotFoundError(name, [(argument, f"{p}: {exc}")]) from None


def search(candidates, name, cls):
    """The first of ``candidates`` ((description, path or None) pairs) that
    loads as a ``cls``; LibraryNotFoundError listing every place tried."""
    attempts = []
    for where, p in candidates:
        if p is None:
            attempts.append((where, "not in the ldconfig cache"))
            continue
        # A bare soname (from find_library) is left to the loader.
        if os.sep in str(p) and not p.is_file():
            attempts.append((where, f"{p}: no such file"))
            continue
        try:
            return _open(p, cls)
        except OSError as exc:
            attempts.append((where, f"{p}: {exc}"))
    raise LibraryNotFoundError(name, attempts)

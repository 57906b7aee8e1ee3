"""Locating and loading the shared module, and its exact C signatures.

The module ``libphenomd.so`` exposes two functions over caller-owned arrays
of doubles and seven exported double constants.  The signatures below are
the single place where the package states the C interface; a test parses
``utils/phenomd/phenomd.h`` and compares it with them, so that the two cannot
drift apart.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import threading
from pathlib import Path

__all__ = [
    "AMPLITUDE_PARAMS",
    "SNR_PARAMS",
    "CONSTANT_NAMES",
    "Library",
    "LibraryNotFoundError",
    "candidate_paths",
    "load_library",
]

LIBRARY_NAME = "libphenomd.so"
FAST_LIBRARY_NAME = "libphenomd_fast.so"
ENV_LIBRARY = "PHENOMD_LIBRARY"
ENV_FAST_LIBRARY = "PHENOMD_FAST_LIBRARY"

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
    for d in INSTALL_DIRS:
        yield ("install location", Path(d) / name)
    stem = name[3:-3]  # "phenomd" or "phenomd_fast"
    found = ctypes.util.find_library(stem)
    yield (f"ldconfig name lib{stem}", Path(found) if found else None)
    for root in _repo_roots():
        yield ("build tree", root / "build" / "lib" / name)


class Library:
    """A loaded module with its signatures declared."""

    def __init__(self, path):
        self.path = str(path)
        self.cdll = ctypes.CDLL(self.path)
        self.Amplitude = self.cdll.Amplitude
        self.Amplitude.argtypes = argtypes(AMPLITUDE_PARAMS)
        self.Amplitude.restype = ctypes.c_int
        self.SNR_function = self.cdll.SNR_function
        self.SNR_function.argtypes = argtypes(SNR_PARAMS)
        self.SNR_function.restype = ctypes.c_int

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


def _open(path):
    text = str(path)
    # A bare soname from the ldconfig lookup is resolved by the loader.
    key = os.path.realpath(text) if os.sep in text else text
    with _cache_lock:
        lib = _cache.get(key)
        if lib is None:
            lib = Library(path)
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
    """
    name = FAST_LIBRARY_NAME if fast else LIBRARY_NAME
    if isinstance(path, Library):
        return path
    if path is not None:
        p = Path(path)
        if p.is_dir():
            p = p / name
        if not p.is_file():
            raise LibraryNotFoundError(name, [("library= argument", f"{p}: no such file")])
        try:
            return _open(p)
        except OSError as exc:
            raise LibraryNotFoundError(name, [("library= argument", f"{p}: {exc}")]) from None
    attempts = []
    for where, p in candidate_paths(fast):
        if p is None:
            attempts.append((where, "not in the ldconfig cache"))
            continue
        if not p.is_absolute() and where.startswith("ldconfig"):
            # find_library returns a bare soname; let the loader resolve it.
            try:
                return _open(str(p))
            except OSError as exc:
                attempts.append((where, f"{p}: {exc}"))
                continue
        if not p.is_file():
            attempts.append((where, f"{p}: no such file"))
            continue
        try:
            return _open(p)
        except OSError as exc:
            attempts.append((where, f"{p}: {exc}"))
    raise LibraryNotFoundError(name, attempts)

"""Loading the shared module and declaring its C interface for ctypes."""

import ctypes
import os
from pathlib import Path

_DOUBLE_P = ctypes.POINTER(ctypes.c_double)

# Argument types as utils/phenomd/phenomd.h declares them.  Note the order of
# the two counts: Amplitude takes (num_binaries, length), SNR_function
# (length, num_binaries).
AMPLITUDE_ARGTYPES = [_DOUBLE_P] * 12 + [ctypes.c_int, ctypes.c_int]
SNR_ARGTYPES = [_DOUBLE_P] * 9 + [ctypes.c_int, ctypes.c_int]

CONSTANTS = ("Pi", "PARSEC_TO_METERS", "SECONDS_PER_YEAR", "SPEED_OF_LIGHT",
             "M_SUN", "MRSUN", "MTSUN")

_REPO = Path(__file__).resolve().parents[2]


class LibraryNotFound(OSError):
    """No shared module was found; the message lists every place tried."""


def candidate_paths(name):
    """Where the module is looked for, in order."""
    env = os.environ.get("PHENOMD_LIBRARY")
    paths = []
    if env:
        p = Path(env)
        # PHENOMD_LIBRARY names the exact module; for the fast variant look
        # beside it.
        paths.append(p.with_name(name) if name != "libphenomd.so" else p)
    for prefix in ("/usr/local/lib", "/usr/lib", "/usr/lib/x86_64-linux-gnu"):
        paths.append(Path(prefix) / name)
    paths.append(_REPO / "build" / "lib" / name)
    return paths


_loaded = {}


def load(path=None, fast=False):
    """Return the loaded module (a ctypes.CDLL) with its signatures declared.

    path: an explicit file to load; otherwise PHENOMD_LIBRARY, the install
    locations and the build tree are tried in turn.  fast selects the
    vectorised variant libphenomd_fast.so.
    """
    name = "libphenomd_fast.so" if fast else "libphenomd.so"
    tried = [Path(path)] if path is not None else candidate_paths(name)
    for p in tried:
        if p.is_file():
            key = str(p.resolve())
            if key not in _loaded:
                lib = ctypes.CDLL(key)
                lib.Amplitude.argtypes = AMPLITUDE_ARGTYPES
                lib.Amplitude.restype = ctypes.c_int
                lib.SNR_function.argtypes = SNR_ARGTYPES
                lib.SNR_function.restype = ctypes.c_int
                _loaded[key] = lib
            return _loaded[key]
    raise LibraryNotFound(
        f"cannot find {name}; looked in:\n" +
        "\n".join(f"  {p}" for p in tried) +
        "\nbuild it with 'cmake -S . -B build && cmake --build build', or set "
        "PHENOMD_LIBRARY to its path")


def constant(lib, name):
    """Value of one of the module's exported constants."""
    return ctypes.c_double.in_dll(lib, name).value

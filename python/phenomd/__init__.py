"""phenomd: characteristic strain and SNR of aligned-spin binary black holes.

A Python host for the shared module ``libphenomd.so``: checked inputs,
batches broadcast from scalars and arrays, a thread pool, noise curves
(``phenomd.noise``), cosmological distances and a command-line tool
(``python3 -m phenomd``).

    >>> import phenomd
    >>> r = phenomd.binary_snr(6e5, 4e5, 0.5, 0.2, None, 2.0, t_start=4.0)
    >>> r.snr_all, r.snr_ins, r.snr_mrg, r.snr_rd

Masses are source-frame (solar masses), times observer-frame (years
before merger), distances luminosity distances (Mpc).  Strain and SNR are
by default the sky-, polarisation- and inclination-averaged ones
(h_c,avg = sqrt(16/5) f |h~|); ``inclination="edge-on"`` gives the C
module's own h_c (see ``phenomd.core``).  The C library
validates nothing; this package checks every input and raises
``InputError`` naming the argument and the first bad index.
"""

try:
    import numpy  # noqa: F401
except ImportError:  # e.g. a pyenv interpreter first on PATH
    import sys as _sys

    raise ImportError(
        f"phenomd needs numpy, which {_sys.executable} lacks; on Debian run it with "
        "/usr/bin/python3 (packages python3-numpy, python3-astropy, python3-matplotlib)"
    ) from None

from ._inputs import InputError
from ._library import Library, LibraryNotFoundError, load_library
from .core import (
    DEFAULT_LENGTH,
    SNR,
    AmplitudeResult,
    BinarySNR,
    amplitude,
    binary_snr,
    inclination_factor,
    snr,
)
from . import noise

from ._version import __version__

__all__ = [
    "DEFAULT_LENGTH",
    "SNR",
    "AmplitudeResult",
    "BinarySNR",
    "InputError",
    "Library",
    "LibraryNotFoundError",
    "amplitude",
    "binary_snr",
    "constants",
    "inclination_factor",
    "load_library",
    "noise",
    "snr",
]


def constants(library=None, fast=False):
    """The library's seven exported constants (Pi, PARSEC_TO_METERS,
    SECONDS_PER_YEAR, SPEED_OF_LIGHT, M_SUN, MRSUN, MTSUN) as a dict."""
    return load_library(library, fast=fast).constants()

# Studies over batches of binaries: detection horizons and waterfalls.
from .horizon import HorizonResult, horizon  # noqa: E402
from .waterfall import WaterfallGrid, waterfall  # noqa: E402

__all__ += ["HorizonResult", "WaterfallGrid", "horizon", "waterfall"]

# Detection probability over orientations (issue: detector networks and ground detectors).
from .detection import detection_probability, required_snr  # noqa: E402

__all__ += ["detection_probability", "required_snr"]

# The SNR accumulated before merger and the time it reaches a threshold.
from .early_warning import accumulated_snr, detection_time  # noqa: E402

__all__ += ["accumulated_snr", "detection_time"]

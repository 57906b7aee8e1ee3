"""What an output records about how it was made.

Every file the package writes (tables, figures, catalog partitions) carries
these fields: as HDF5 attributes, as leading ``#`` lines of a CSV, as a
figure's metadata.  All values are strings so that every format stores
them the same way.
"""

from __future__ import annotations

import datetime
import platform
import shlex
import sys

__all__ = ["provenance"]


def _describe(obj):
    if obj is None:
        return "none"
    return repr(obj) if not isinstance(obj, str) else obj


def provenance(*, library=None, fast=None, noise=None, inclination=None, cosmology=None, length=None,
               command=None, **extra):
    """A dict of str -> str describing how a result was made.

    ``library``: the loaded module (a ``phenomd.Library``) or its path;
    ``fast``: whether the fast variant was used; ``noise``: the noise
    curve object (its repr names it and its options); ``inclination``: the
    convention or angle; ``cosmology``: an astropy cosmology or its name;
    ``length``: grid points per binary (omitted when None: the SNR
    quadrature has no grid); ``command``: the command line
    (default: this process's ``sys.argv``).  ``extra`` items are added as
    they are, converted to str.
    """
    from . import __version__

    if command is None:
        command = shlex.join([sys.argv[0].rsplit("/", 1)[-1]] + sys.argv[1:]) if sys.argv and sys.argv[0] else ""
    path = getattr(library, "path", library)
    cosmo = getattr(cosmology, "name", None) or _describe(cosmology)
    record = {
        "phenomd_version": __version__,
        "module_path": _describe(path),
        "module_kind": "none" if fast is None else ("fast" if fast else "exact"),
        "noise": _describe(noise),
        "inclination": _describe(inclination),
        "cosmology": cosmo,
        "length": _describe(length),
        "command": command,
        "date": datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds"),
        "python": platform.python_version(),
    }
    if length is None:  # no grid: the SNR quadrature
        del record["length"]
    for key, value in extra.items():
        record[str(key)] = _describe(value)
    return record

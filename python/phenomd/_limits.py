"""The memory a command may ask for, checked before the arrays are made.

A size a user types (grid points, grid axes, figure pixels, a noise file's
frequency span) sets how much memory the work allocates; beyond the
machine's memory it would end in a MemoryError deep in numpy, the kernel's
OOM killer, or minutes of swapping.  Each such size is converted here to the
bytes it will allocate and refused, with both numbers, when that exceeds
the limit: by default half the physical memory, or what ``--max-memory``
(``set_max_memory``) says.
"""

from __future__ import annotations

import os
import re

from ._inputs import InputError

__all__ = ["DEFAULT_FRACTION", "check_memory", "max_memory", "parse_size", "physical_memory", "set_max_memory"]

#: The default limit, as a fraction of the physical memory.
DEFAULT_FRACTION = 0.5

_limit = None


def physical_memory():
    """Bytes of physical memory (sysconf), or None where it cannot be told."""
    try:
        return int(os.sysconf("SC_PAGE_SIZE")) * int(os.sysconf("SC_PHYS_PAGES"))
    except (ValueError, OSError, AttributeError):
        return None


def max_memory():
    """The limit in bytes: set_max_memory's, else DEFAULT_FRACTION of the
    physical memory (no limit where that is unknown)."""
    if _limit is not None:
        return _limit
    total = physical_memory()
    return int(DEFAULT_FRACTION * total) if total else None


def set_max_memory(nbytes):
    """Set the limit (bytes; None: back to the default)."""
    global _limit
    _limit = None if nbytes is None else int(nbytes)


_UNITS = {"": 1, "k": 1 << 10, "m": 1 << 20, "g": 1 << 30, "t": 1 << 40}


def parse_size(text):
    """'512M', '8G', '1.5T', '1000000' (bytes; binary prefixes K, M, G, T,
    with or without a trailing B) -> bytes; ValueError otherwise."""
    m = re.fullmatch(r"\s*([0-9]*\.?[0-9]+(?:[eE][+-]?[0-9]+)?)\s*([kKmMgGtT]?)(?:i?[bB])?\s*", str(text))
    if not m:
        raise ValueError(f"{text!r}: a size such as 512M, 8G or 1.5T")
    value = float(m.group(1)) * _UNITS[m.group(2).lower()]
    if not value > 0:
        raise ValueError(f"{text!r}: must be positive")
    return int(value)


def _size(n):
    for unit, scale in (("TiB", 1 << 40), ("GiB", 1 << 30), ("MiB", 1 << 20), ("KiB", 1 << 10)):
        if n >= scale:
            return f"{n / scale:.3g} {unit}"
    return f"{int(n)} bytes"


def check_memory(nbytes, what, name="memory"):
    """Raise InputError when ``nbytes`` (what ``what`` will allocate) is
    above the limit."""
    limit = max_memory()
    if limit is not None and nbytes > limit:
        raise InputError(name, None, f"{what} needs about {_size(nbytes)}, above the memory limit of "
                                     f"{_size(limit)} (--max-memory; default half the physical memory)")

"""Checked conversion of user input into the arrays the C interface takes.

The shared module validates nothing: given a NaN mass or a spin of 1.5 it
returns NaN strain or nonsense without a word.  Every check a person gets
a message from lives here, and runs before the library is called.
"""

from __future__ import annotations

import operator
import os

import numpy as np

INT_MAX = 2**31 - 1  # the C interface's counts are C ints


class InputError(ValueError):
    """Bad input to the package.  ``argument`` names the argument and
    ``index`` is the first offending index into it (None when the fault is
    not one element, e.g. a shape)."""

    def __init__(self, argument, index, message):
        self.argument = argument
        self.index = index
        super().__init__(message)

    def __reduce__(self):
        # Rebuilt from the constructor's own arguments, so that the error
        # survives pickling (a cluster worker's error reaches the client).
        return (type(self), (self.argument, self.index, str(self)))


def _is_quantity(value):
    return hasattr(value, "unit") and hasattr(value, "to_value")


def strip_units(value, name, unit):
    """Value as plain numbers in ``unit`` ("solMass", "Mpc", "yr", "Hz" or
    "" for dimensionless).  astropy Quantities (or lists of them) are
    converted; anything without units is taken to be in ``unit`` already."""
    if isinstance(value, (list, tuple)) and any(_is_quantity(v) for v in value):
        from astropy import units as u

        try:
            value = u.Quantity(value)
        except (TypeError, u.UnitsError) as exc:
            raise InputError(name, None, f"{name}: cannot combine the units in the list ({exc})") from None
    if not _is_quantity(value):
        return value
    from astropy import units as u

    target = u.Unit(unit) if unit else u.dimensionless_unscaled
    equivalencies = []
    if not unit:
        from astropy.cosmology import units as cu

        equivalencies = cu.dimensionless_redshift()
    try:
        return value.to_value(target, equivalencies=equivalencies)
    except u.UnitsError:
        want = unit or "dimensionless"
        raise InputError(name, None, f"{name}: has unit {value.unit}, which does not convert to {want}") from None


def as_float_array(value, name, unit, max_ndim=1):
    """A float64 ndarray (not yet contiguous or broadcast) of the values of
    ``value``.  Integers and other float widths or byte orders are converted
    by value; booleans, complex numbers, strings and other objects are
    refused."""
    if type(value) is float or type(value) is int:  # the common scalar: no unit, no conversion
        return np.array(float(value))
    value = strip_units(value, name, unit)
    if value is None:
        raise InputError(name, None, f"{name} is required")
    try:
        arr = np.asarray(value)
    except (ValueError, TypeError) as exc:  # ragged nested lists
        raise InputError(name, None, f"{name} must be a scalar or an array of numbers of one shape ({exc})") from None
    kind = arr.dtype.kind
    if kind in "fiu":
        arr = arr.astype(np.float64, copy=False)
    elif kind == "O":
        try:
            arr = arr.astype(np.float64)
        except (TypeError, ValueError):
            raise InputError(name, None, f"{name} must be numbers; got objects that are not") from None
    else:
        what = {"b": "booleans", "c": "complex numbers", "U": "strings", "S": "bytes"}.get(kind, f"dtype {arr.dtype}")
        raise InputError(name, None, f"{name} must be real numbers; got {what}")
    if arr.ndim > max_ndim:
        shape = "a scalar or 1-D array" if max_ndim == 1 else f"at most {max_ndim}-D"
        raise InputError(name, None, f"{name} must be {shape}; got shape {arr.shape}")
    return arr


def _where(name, arr, flat_index):
    if arr.ndim == 0:
        return f"{name} = {arr.item()!r}", 0
    idx = np.unravel_index(flat_index, arr.shape)
    idx = idx[0] if len(idx) == 1 else tuple(int(i) for i in idx)
    label = ", ".join(str(int(i)) for i in np.atleast_1d(idx))
    return f"{name}[{label}] = {arr[idx]!r}", int(idx) if np.ndim(idx) == 0 else idx


def require(arr, name, ok, requirement):
    """Raise InputError at the first element of ``arr`` where the boolean
    array ``ok`` is False."""
    ok = np.asarray(ok)
    if ok.all():
        return
    flat = int(np.flatnonzero(~ok.ravel())[0])
    where, index = _where(name, arr, flat)
    raise InputError(name, index, f"{where}: {requirement}")


def within(arr, low, low_inclusive=False, high=np.inf, high_inclusive=False):
    """Whether every element lies in the interval (NaN never does), by two
    reductions and no temporary arrays: the fast path for large batches;
    only a failure pays for locating the first bad element."""
    if arr.size == 0:
        return True
    lo, hi = arr.min(), arr.max()  # NaN propagates into both
    if np.isnan(lo) or np.isnan(hi):
        return False
    ok_lo = lo >= low if low_inclusive else lo > low
    ok_hi = hi <= high if high_inclusive else hi < high
    return bool(ok_lo and ok_hi)


def check_positive(arr, name, what):
    if not within(arr, 0.0):
        require(arr, name, np.isfinite(arr) & (arr > 0), f"{what} must be finite and positive")


def broadcast_length(arrays):
    """Common length of the 0-D/1-D ``arrays`` (dict name -> array); raise
    InputError naming two arguments that do not broadcast."""
    n = None
    owner = None
    for name, arr in arrays.items():
        if arr.ndim == 0:
            continue
        m = arr.shape[0]
        if n is None or (n == 1 and m != 1):
            n, owner = m, name
        elif m != n and m != 1:
            raise InputError(
                name,
                None,
                f"shapes do not broadcast: {owner} has {n} values, {name} has {m}",
            )
    return 1 if n is None else n


def check_count(value, name, what):
    if value > INT_MAX:
        raise InputError(
            name,
            None,
            f"{what} {value} exceeds the C interface's int range ({INT_MAX}); split the batch",
        )


def as_length(length):
    """Grid points per binary: an integer in [1, INT_MAX]."""
    if isinstance(length, (bool, np.bool_)):
        raise InputError("length", None, f"length must be an integer; got {length!r}")
    try:
        value = operator.index(length)
    except TypeError:
        raise InputError("length", None, f"length must be an integer; got {length!r}") from None
    if value < 1:
        raise InputError("length", None, f"length = {value}: must be at least 1")
    if value > INT_MAX:
        raise InputError("length", None, f"length {value} exceeds the C interface's int range ({INT_MAX}): "
                                         "give fewer grid points per binary")
    return value


def as_outputs(out, shape_2d, n, inputs=()):
    """Caller-supplied output arrays for amplitude: a tuple (freqs, hc,
    f_merger_start, f_ringdown_start) or an AmplitudeResult.  Each must be a
    writeable C-contiguous float64 ndarray of the batch's shape, and none may
    overlap another or one of the ``inputs`` (name, array) the library reads
    (it would write over them)."""
    names = ("freqs", "hc", "f_merger_start", "f_ringdown_start")
    if all(hasattr(out, k) for k in names):
        arrays = [getattr(out, k) for k in names]
    else:
        try:
            arrays = list(out)
        except TypeError:
            raise InputError("out", None, f"out must be (freqs, hc, f_merger_start, f_ringdown_start); got {type(out).__name__}") from None
        if len(arrays) != 4:
            raise InputError("out", None, f"out must hold 4 arrays (freqs, hc, f_merger_start, f_ringdown_start); got {len(arrays)}")
    inputs = list(inputs)
    shapes = (shape_2d, shape_2d, (n,), (n,))
    for k, (name, a, shape) in enumerate(zip(names, arrays, shapes)):
        if not isinstance(a, np.ndarray):
            raise InputError("out", k, f"out {name} must be a numpy array; got {type(a).__name__}")
        if a.dtype != np.float64 or a.shape != shape:
            raise InputError("out", k, f"out {name} must be float64 of shape {shape}; got {a.dtype} {a.shape}")
        if not a.flags.c_contiguous or not a.flags.writeable:
            raise InputError("out", k, f"out {name} must be C-contiguous and writeable")
    for j in range(4):
        for k in range(j + 1, 4):
            if arrays[j].size and arrays[k].size and np.may_share_memory(arrays[j], arrays[k]):
                raise InputError("out", k, f"out {names[k]} overlaps out {names[j]}")
        for name, a in inputs:
            if arrays[j].size and np.may_share_memory(arrays[j], a):
                raise InputError("out", j, f"out {names[j]} overlaps the input {name}")
    return arrays


def _integer(value, name, message):
    """``value`` as a Python int (anything with __index__ but a bool), else
    InputError("<message>; got <value>")."""
    if not isinstance(value, (bool, np.bool_)):
        try:
            return operator.index(value)
        except TypeError:
            pass
    raise InputError(name, None, f"{message}; got {value!r}")


def as_chunk(chunk):
    """Binaries per library call: None (the default size) or an integer >= 1."""
    if chunk is None:
        return None
    value = _integer(chunk, "chunk", "chunk must be an integer (binaries per library call)")
    if value < 1:
        raise InputError("chunk", None, f"chunk = {value}: must be at least 1 (binaries per library call)")
    return value


def as_threads(threads):
    """Worker threads: a positive integer; 0 or None means one per core."""
    if threads is None or (not isinstance(threads, bool) and threads == 0):
        return os.cpu_count() or 1
    value = _integer(threads, "threads", "threads must be an integer")
    if value < 0:
        raise InputError("threads", None, f"threads = {value}: must be positive (0 for one per core)")
    return value

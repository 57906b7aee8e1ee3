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

Accepted ranges.  Inside them every binary gives finite strain, finite
positive boundary frequencies and strain > 0 below the ringdown boundary
(tested over extreme values); outside them InputError names the argument:

* masses in [1e-3, 1e12] solar masses, mass ratio max(m1/m2, m2/m1) <= 1000
  (beyond it the model's merger amplitude turns negative for spins near 1);
* spins in [-1, 1];
* luminosity distance in [1e-6, 1e10] Mpc, given or from the cosmology;
* redshift in [-0.999, 1000];
* t_start in [1e-20, 1e8] years; t_end finite, and either <= 0 (through
  ringdown) or >= 1e-20 years (a subnormal t_end gave NaN frequencies).

The model is calibrated to numerical relativity only for mass ratios up to
18 and spins up to 0.85 in magnitude (Khan et al. 2016, PRD 93, 044007);
``BinarySNR.uncalibrated`` marks binaries outside that region.

Convention of the strain and SNR (see ``phenomd._conventions``).  The strain
the package returns is k(i) times the C module's,
k(i) = 2 sqrt(((1 + cos^2 i)/2)^2 + cos^2 i).  By default
(``inclination="average"``) it is the sky-, polarisation- and
inclination-averaged characteristic strain h_c,avg = sqrt(16/5) f |h~(f)|,
|h~| the stationary-phase amplitude of one polarisation of a face-on source;
the C module's own h_c (= f |h~|) is that of an edge-on source
(``inclination="edge-on"``, k = 1, bitwise the module's values).  With a
noise curve h_n = sqrt(f S_n), S_n the sky- and polarisation-averaged PSD
summed over the detector's channels, the SNR of ``binary_snr``,
rho^2 = int (h_c/h_n)^2 d ln f, is then the averaged SNR
rho^2 = 4 int <|h+|^2 + |hx|^2>_i / S_n df = (16/5) int |h~|^2 / S_n df.
``snr`` integrates the strain it is given and applies no factor.
"""

from __future__ import annotations

from collections import namedtuple
from dataclasses import dataclass, field
from functools import cached_property

import numpy as np

from . import _conventions
from . import _inputs as inp
from ._library import LibraryNotFoundError, load_library
from ._executor import Scratch, run, spans

__all__ = [
    "AmplitudeResult",
    "BinarySNR",
    "SNR",
    "DEFAULT_LENGTH",
    "amplitude",
    "binary_snr",
    "inclination_factor",
    "snr",
]

DEFAULT_LENGTH = 1000

InputError = inp.InputError
inclination_factor = _conventions.inclination_factor

# Accepted ranges (see the module docstring), closed intervals.
MASS_RANGE = (1e-3, 1e12)
MAX_MASS_RATIO = 1e3
DISTANCE_RANGE = (1e-6, 1e10)
REDSHIFT_RANGE = (-0.999, 1e3)
T_START_RANGE = (1e-20, 1e8)
T_END_MIN_POSITIVE = 1e-20

# The library's sentinel for a band that ends below its start.
SENTINEL_FREQUENCY = 1e-30

SNR = namedtuple("SNR", ["snr_all", "snr_ins", "snr_mrg", "snr_rd"])
SNR.__doc__ = "Signal-to-noise ratios per binary: total, inspiral, merger, ringdown."


class _Provenance:
    """``.provenance``: how a result was made (a dict of str -> str from
    ``phenomd._provenance.provenance``), built at first access."""

    @cached_property
    def provenance(self):
        from ._provenance import provenance

        return provenance(**(self._record or {}))


@dataclass(frozen=True)
class AmplitudeResult(_Provenance):
    """Strain of a batch of n binaries on their grids (``amplitude``).

    Convention: ``hc`` is k(i) times the C module's h_c.  By default it is
    the sky-, polarisation- and inclination-averaged characteristic strain
    h_c,avg = sqrt(16/5) f |h~(f)| (|h~| the stationary-phase amplitude of
    one polarisation of a face-on source); with ``inclination="edge-on"`` it
    is the module's own h_c, bitwise.

    A binary whose band ends below its start (t_start < t_end, or a start
    above Mf = 0.2) has the library's sentinel row: freqs = 1e-30,
    hc = k * 1e-60.

    Attributes
    ----------
    freqs, hc : numpy.ndarray
        (n, length) observed-frame frequencies (Hz) and characteristic
        strain (dimensionless).
    f_merger_start, f_ringdown_start : numpy.ndarray
        (n,) inspiral/merger and merger/ringdown boundaries, Hz.
    distance : numpy.ndarray
        (n,) luminosity distances used, Mpc.
    redshift : numpy.ndarray
        (n,) redshifts used.
    inclination_factor : numpy.ndarray
        (n,) the factor k applied to the C module's strain.
    provenance : dict
        str -> str: module, grid length, inclination and cosmology.

    Examples
    --------
    >>> import phenomd
    >>> a = phenomd.amplitude([1e6, 1e5], 1e5, 0.0, 0.0, None, 1.0, 4.0, length=50)
    >>> len(a), a.hc.shape
    (2, (2, 50))
    >>> a.provenance["cosmology"]
    'Planck18'
    """

    freqs: np.ndarray
    hc: np.ndarray
    f_merger_start: np.ndarray
    f_ringdown_start: np.ndarray
    distance: np.ndarray
    redshift: np.ndarray
    inclination_factor: np.ndarray = None
    _record: dict = field(default=None, repr=False, compare=False)

    def __len__(self):
        return self.hc.shape[0]


@dataclass(frozen=True)
class BinarySNR(_Provenance):
    """SNRs of a batch of n binaries against one noise curve (``binary_snr``).

    By default the SNRs are the sky-, polarisation- and
    inclination-averaged ones, rho^2 = int (h_c,avg / h_n)^2 d ln f with
    h_c,avg = sqrt(16/5) f |h~| and h_n = sqrt(f S_n) of the noise curve
    (S_n sky- and polarisation-averaged, summed over the detector's
    channels).

    Attributes
    ----------
    snr_all, snr_ins, snr_mrg, snr_rd : numpy.ndarray
        (n,) SNR of the whole band, inspiral, merger and ringdown
        (``ratios`` gives the four as an ``SNR`` tuple).
    f_merger_start, f_ringdown_start : numpy.ndarray
        (n,) boundary frequencies, Hz.
    distance : numpy.ndarray
        (n,) luminosity distances used, Mpc.
    redshift : numpy.ndarray
        (n,) redshifts used.
    n_outside : numpy.ndarray
        (n,) grid points outside the noise curve's frequency range (they
        contribute nothing).
    inclination_factor : numpy.ndarray
        (n,) the k(i) used (sqrt(16/5) averaged, sqrt(8) face-on, 1
        edge-on: the C module's strain).
    inverted : numpy.ndarray
        (n,) bool: the band ends below its start (the library's sentinel
        row; SNR 0).
    uncalibrated : numpy.ndarray
        (n,) bool: outside the model's calibration region (mass ratio above
        18 or |spin| above 0.85).
    provenance : dict
        str -> str: module, noise curve, inclination, cosmology, grid length
        and the path taken; with a threshold also the detector, threshold
        and noise-fluctuation choice of ``p_det``.
    p_det : numpy.ndarray or None
        (n,) with ``threshold=``: the fraction of sky positions,
        polarisations and inclinations whose SNR (of the whole band)
        exceeds the threshold (``phenomd.detection_probability`` of
        ``snr_all``; for a network, of its members' SNRs); else None.
    members : dict or None
        For a network (``noise.network``): member name -> ``SNR`` tuple of
        that member alone (the network's SNR^2 is their sum); else None.

    Examples
    --------
    >>> import phenomd
    >>> r = phenomd.binary_snr(1e6, 5e4, 0.9, 0.0, 3000.0, 0.5, t_start=4.0)
    >>> r.uncalibrated.tolist(), r.inverted.tolist()
    ([True], [False])
    >>> r.provenance["noise"]
    "LISA(years=4.0, response='numerical')"
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
    inclination_factor: np.ndarray = None
    inverted: np.ndarray = None
    uncalibrated: np.ndarray = None
    _record: dict = field(default=None, repr=False, compare=False)
    p_det: np.ndarray = None
    members: dict = None

    @property
    def ratios(self):
        return SNR(self.snr_all, self.snr_ins, self.snr_mrg, self.snr_rd)

    def __len__(self):
        return self.snr_all.shape[0]


# ---------------------------------------------------------------- inputs


_INPUT_NAMES = ("m1", "m2", "spin1", "spin2", "distance", "redshift", "t_start", "t_end")
_UNITS = ("solMass", "solMass", "", "", "Mpc", "", "yr", "yr")
_DBL_MAX = np.finfo(np.float64).max
_LOW = np.array([MASS_RANGE[0], MASS_RANGE[0], -1.0, -1.0, DISTANCE_RANGE[0], REDSHIFT_RANGE[0], T_START_RANGE[0],
                 -_DBL_MAX])
_HIGH = np.array([MASS_RANGE[1], MASS_RANGE[1], 1.0, 1.0, DISTANCE_RANGE[1], REDSHIFT_RANGE[1], T_START_RANGE[1],
                  _DBL_MAX])
_WHAT = (
    f"masses (source frame, solar masses) must be finite and positive, in [{MASS_RANGE[0]:g}, {MASS_RANGE[1]:g}]",
    None,
    "spins must lie in [-1, 1]",
    None,
    f"luminosity distances (Mpc) must be finite and positive, in [{DISTANCE_RANGE[0]:g}, {DISTANCE_RANGE[1]:g}]",
    f"redshift must be finite and > -1; accepted: [{REDSHIFT_RANGE[0]:g}, {REDSHIFT_RANGE[1]:g}]",
    f"start times (years before merger, observer frame) must be finite and positive, in "
    f"[{T_START_RANGE[0]:g}, {T_START_RANGE[1]:g}]",
    "end times must be finite (<= 0: through ringdown)",
)


@dataclass(frozen=True)
class _Batch:
    values: np.ndarray  # (8, n): the C inputs in the order of _INPUT_NAMES
    n: int
    length: int

    @property
    def inputs(self):
        return tuple(self.values)

    def rows(self, a, b):
        return tuple(self.values[:, a:b])


def _explain(k, row):
    """InputError at the first element of input row ``k`` outside its range."""
    name = _INPUT_NAMES[k]
    what = _WHAT[k] if _WHAT[k] is not None else _WHAT[k - 1]
    with np.errstate(invalid="ignore"):
        ok = (row >= _LOW[k]) & (row <= _HIGH[k])
    inp.require(row, name, ok, what)


def _prepare(m1, m2, spin1, spin2, distance, redshift, t_start, t_end, length, cosmology):
    """Convert, broadcast and check one batch; raises InputError.  The eight
    inputs are checked together, by one minimum and one maximum per input
    over an (8, n) array, against the accepted ranges; only a failure pays
    for locating the first bad element."""
    given = (m1, m2, spin1, spin2, distance, redshift, t_start, t_end)
    if all(type(v) is float or type(v) is int for v in given if v is not None):
        batch = _prepare_one(given, length, cosmology)
        if batch is not None:
            return batch
    arrays = {}
    for name, unit, value in zip(_INPUT_NAMES, _UNITS, given):
        if name == "distance" and value is None:
            continue  # from the redshift, below
        arrays[name] = inp.as_float_array(value, name, unit)

    # Sizes first, before anything touches every element.
    n = inp.broadcast_length(arrays)
    inp.check_count(n, "num_binaries", "number of binaries")
    if n == 0:
        empty = next(k for k, a in arrays.items() if a.ndim == 1 and a.shape[0] == 0)
        raise InputError(empty, None, f"{empty} has no values: the batch is empty")
    length = inp.as_length(length)

    values = np.empty((8, n), dtype=np.float64)
    for k, name in enumerate(_INPUT_NAMES):
        a = arrays.get(name)
        values[k] = 1.0 if a is None else a
    lo, hi = values.min(axis=1), values.max(axis=1)  # NaN propagates into both
    ok = (lo >= _LOW) & (hi <= _HIGH)
    if not ok.all():
        k = int(np.flatnonzero(~ok)[0])
        _explain(k, arrays[_INPUT_NAMES[k]])
    te = values[7]
    if ((te > 0) & (te < T_END_MIN_POSITIVE)).any():
        inp.require(arrays["t_end"], "t_end", ~((arrays["t_end"] > 0) & (arrays["t_end"] < T_END_MIN_POSITIVE)),
                    f"end times must be <= 0 (through ringdown) or at least {T_END_MIN_POSITIVE:g} years")
    big, small = np.maximum(values[0], values[1]), np.minimum(values[0], values[1])
    if (big > _RATIO_LIMIT * small).any():
        i = int(np.flatnonzero(big > _RATIO_LIMIT * small)[0])
        name = "m1" if values[0, i] < values[1, i] else "m2"
        where = f"[{i}]" if n > 1 else ""
        raise InputError(
            name, i if n > 1 else 0,
            f"m1{where} = {values[0, i]!r}, m2{where} = {values[1, i]!r}: the mass ratio "
            f"{big[i] / small[i]:.6g} exceeds {MAX_MASS_RATIO:g}, beyond which the model's strain is not "
            "reliably positive",
        )
    if "distance" not in arrays:
        from ._cosmology import luminosity_distance

        d = luminosity_distance(values[5], cosmology)
        with np.errstate(invalid="ignore"):
            good = (d >= DISTANCE_RANGE[0]) & (d <= DISTANCE_RANGE[1])
        if not good.all():
            inp.require(
                values[5] if n > 1 else values[5][0], "redshift", good if n > 1 else good[0],
                f"the luminosity distance at this redshift is not positive or not in "
                f"[{DISTANCE_RANGE[0]:g}, {DISTANCE_RANGE[1]:g}] Mpc; give distance explicitly",
            )
        values[4] = d
    return _Batch(values=values, n=n, length=length)


# A ratio of exactly 1000 computed with rounding (m2 = m1 * 1e-3) passes.
_RATIO_LIMIT = MAX_MASS_RATIO * (1 + 1e-12)
_LOW_F = tuple(float(x) for x in _LOW)
_HIGH_F = tuple(float(x) for x in _HIGH)


def _prepare_one(given, length, cosmology):
    """One binary given as Python numbers: the same checks on floats, a
    few microseconds.  None where any check fails: the general path then
    raises the error with its message."""
    vals = [1.0 if v is None else float(v) for v in given]
    for x, lo, hi in zip(vals, _LOW_F, _HIGH_F):
        if not lo <= x <= hi:  # NaN fails too
            return None
    m1, m2, te = vals[0], vals[1], vals[7]
    if max(m1, m2) > _RATIO_LIMIT * min(m1, m2) or 0.0 < te < T_END_MIN_POSITIVE:
        return None
    if type(length) is not int or not 1 <= length <= inp.INT_MAX:
        return None
    if given[4] is None:
        from ._cosmology import distance_one

        d = distance_one(vals[5], cosmology)
        if not DISTANCE_RANGE[0] <= d <= DISTANCE_RANGE[1]:
            return None
        vals[4] = d
    return _Batch(values=np.array(vals).reshape(8, 1), n=1, length=length)


def _factor(inclination, n):
    """(k as an (n,) array, whether to multiply at all)."""
    k = _conventions.inclination_factor(inclination, n)
    scale = not (isinstance(inclination, str) and inclination == "edge-on")
    return k, scale


def _record(lib, fast, length, inclination, cosmology, distance_given, **extra):
    cosmo = "none (distances given)" if distance_given else (cosmology if cosmology is not None else "Planck18")
    # The module's path, not the loaded module: results must pickle (e.g. to
    # travel back from a cluster worker).
    return dict(library=getattr(lib, "path", lib), fast=bool(fast), length=length, inclination=_conventions.describe(inclination),
                cosmology=cosmo, **extra)


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
    inclination="average",
    cosmology=None,
    threads=1,
    chunk=None,
    progress=None,
    library=None,
    fast=False,
    out=None,
):
    """Characteristic strain of a batch of binaries.

    Scalars and 1-D arrays broadcast to one batch of n binaries.  Units,
    frames and accepted ranges are in the module docstring.

    Parameters
    ----------
    m1, m2 : float or array_like
        Source-frame component masses, solar masses, in [1e-3, 1e12]; mass
        ratio at most 1000.
    spin1, spin2 : float or array_like
        Aligned dimensionless spins of ``m1`` and ``m2``, in [-1, 1].
    distance : float, array_like or None
        Luminosity distance, Mpc.  None takes it at ``redshift`` from
        ``cosmology``, interpolated from a table built once per cosmology
        (``phenomd._cosmology``).
    redshift : float or array_like
        Redshift z, in [-0.999, 1000].
    t_start, t_end : float or array_like
        The band runs from ``t_start`` to ``t_end`` years before merger,
        observer frame; ``t_end`` <= 0 runs it through merger and ringdown.
    length : int
        Grid points per binary (default 1000).
    inclination : {"average", "face-on", "edge-on"} or float or array_like
        "average" (default): the sky-, polarisation- and
        inclination-averaged h_c,avg = sqrt(16/5) f |h~|; "face-on"
        (sqrt(8) f |h~|); "edge-on" (f |h~|: the C module's h_c, bitwise);
        or an angle in radians, scalar or one per binary (see
        ``inclination_factor``).
    cosmology : astropy Cosmology, str or None
        For distances from redshifts: a cosmology or a realization's name;
        None is Planck18.
    threads : int
        Threads to split the batch over (0: one per core); the result is
        bitwise identical whatever the count.
    chunk : int or None
        Binaries per library call (default: about 2^20 grid points).
    progress : bool or callable or None
        True for a bar on stderr (after two seconds, on a terminal), or a
        callable ``f(done, total)`` told the binaries finished.
    library : str, path or Library or None
        The module to use (see ``load_library``).
    fast : bool
        Search for the fast variant of the module.
    out : tuple of four arrays or AmplitudeResult, optional
        Arrays of the result's shapes to write into instead of new ones (a
        host that calls repeatedly skips allocating (n, length) arrays).

    Returns
    -------
    AmplitudeResult
        ``freqs`` and ``hc`` (n, length), the boundaries, distance, redshift
        and inclination factor per binary, and ``provenance``.

    Raises
    ------
    InputError
        An input outside its range, of the wrong shape or unit, naming the
        argument and the first offending index, before anything is computed.
    LibraryNotFoundError
        The module cannot be found.

    Examples
    --------
    >>> import phenomd
    >>> a = phenomd.amplitude(1e6, 1e6, 0.0, 0.0, None, 1.0, 4.0, length=100)
    >>> a.freqs.shape, a.hc.shape
    ((1, 100), (1, 100))
    >>> print(f"{a.f_merger_start[0]:.4g} Hz, k = {a.inclination_factor[0]:.4f}")
    0.001099 Hz, k = 1.7889
    """
    batch = _prepare(m1, m2, spin1, spin2, distance, redshift, t_start, t_end, length, cosmology)
    threads = inp.as_threads(threads)
    chunk = inp.as_chunk(chunk)
    n, L = batch.n, batch.length
    k, scale = _factor(inclination, n)
    lib = load_library(library, fast=fast)
    if out is None:
        freqs = np.empty((n, L), dtype=np.float64)
        hc = np.empty((n, L), dtype=np.float64)
        fm = np.empty(n, dtype=np.float64)
        fr = np.empty(n, dtype=np.float64)
    else:
        freqs, hc, fm, fr = inp.as_outputs(out, (n, L), n, zip(_INPUT_NAMES, batch.inputs))
    inputs = batch.values

    def work(a, b):
        lib.call_amplitude(freqs, hc, fm, fr, inputs, n, L, rows=(a, b))
        if scale:
            rows = hc[a:b]
            np.multiply(rows, k[a:b, np.newaxis], out=rows)

    run(spans(n, L, chunk), work, threads, progress, n)
    record = _record(lib, fast, L, inclination, cosmology, distance is not None)
    return AmplitudeResult(freqs, hc, fm, fr, batch.values[4], batch.values[5], k, record)


# ------------------------------------------------------------------- SNR


def _grid(value, name):
    arr = inp.as_float_array(value, name, "Hz" if name == "freqs" else "", max_ndim=2)
    if arr.ndim == 1:
        arr = arr[np.newaxis, :]
    if arr.ndim != 2:
        raise InputError(name, None, f"{name} must be 1-D (one binary) or 2-D (binaries x length); got a scalar")
    if arr.shape[0] == 0:
        raise InputError(name, None, f"{name} has no rows: the batch is empty")
    if arr.shape[1] == 0:
        raise InputError(name, None, f"{name} has rows of length 0: each grid needs at least one point")
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
    _check_noise(hn, "hn")


def _check_noise(hn, name):
    if not inp.within(hn, 0.0, False, np.inf, True):
        inp.require(hn, name, ~np.isnan(hn) & (hn > 0), "noise must be positive (inf: no sensitivity)")


def _as_noise(values, shape, name):
    """A noise curve's or callable's values as float64 of exactly ``shape``
    (broadcast from what it returned), or InputError."""
    arr = inp.as_float_array(values, name, "", max_ndim=len(shape))
    try:
        arr = np.broadcast_to(arr, shape)
    except ValueError:
        raise InputError(name, None, f"{name}: the noise returned shape {arr.shape}, which does not broadcast "
                                     f"to the grid's {shape}") from None
    return np.ascontiguousarray(arr, dtype=np.float64)


def _noise_values(noise, freqs, name="hn"):
    """Evaluate a noise curve on grids: (hn of the grid's shape, number
    outside per row)."""
    if hasattr(noise, "evaluate"):
        sample = noise.evaluate(freqs)
        hn, outside = sample.hn, sample.n_outside
    else:
        hn, outside = noise(freqs), 0
    hn = _as_noise(hn, freqs.shape, name)
    try:
        outside = np.broadcast_to(np.asarray(outside, dtype=np.int64), freqs.shape[:-1])
    except (ValueError, TypeError):
        raise InputError(name, None, f"{name}: the noise curve's n_outside does not match the grid") from None
    return hn, outside


def snr(freqs, hc, hn, f_merger_start, f_ringdown_start, *, threads=1, chunk=None, library=None, fast=False,
        check=True):
    """Signal-to-noise ratios of binaries whose strain is known.

    rho^2 = int (hc/hn)^2 d ln f by the trapezoid rule, split by phase at
    the boundary frequencies.  No inclination factor is applied: the
    convention of the result is that of the ``hc`` given (``amplitude``'s
    default: the sky-, polarisation- and inclination-averaged strain).

    Parameters
    ----------
    freqs, hc : array_like
        (n, length), or (length,) for one binary: ascending observed-frame
        frequencies (Hz) and the characteristic strain there.
    hn : array_like or callable
        The noise characteristic strain h_n = sqrt(f S_n) at the same
        frequencies (an array that broadcasts to them), or a noise curve or
        callable of the frequencies, e.g. ``phenomd.noise.LISA()``;
        infinite h_n means no sensitivity there.
    f_merger_start, f_ringdown_start : float or array_like
        (n,) inspiral/merger and merger/ringdown boundaries, Hz.
    threads, chunk, library, fast
        As for ``amplitude``.
    check : bool
        False skips the per-element checks of the grids (finite, positive,
        ascending), about twice the cost of the integration, for grids known
        to be sound (e.g. ``amplitude``'s); unsound values then give NaN or
        meaningless ratios, never a fault.  Shapes and boundaries are always
        checked.

    Returns
    -------
    SNR
        ``(snr_all, snr_ins, snr_mrg, snr_rd)``, each of shape (n,).

    Raises
    ------
    InputError
        Mismatched shapes, non-positive or non-ascending frequencies,
        negative strain or NaN noise, naming the argument and the index.

    Examples
    --------
    >>> import phenomd
    >>> a = phenomd.amplitude(1e6, 1e6, 0.0, 0.0, None, 1.0, 4.0, length=100)
    >>> s = phenomd.snr(a.freqs, a.hc, phenomd.noise.LISA(years=4), a.f_merger_start, a.f_ringdown_start)
    >>> print(f"{s.snr_all[0]:.4g}")
    8366
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
    chunk = inp.as_chunk(chunk)
    lib = load_library(library, fast=fast)
    out = [np.empty(n, dtype=np.float64) for _ in range(4)]
    fm, fr = bounds["f_merger_start"], bounds["f_ringdown_start"]

    def work(a, b):
        lib.call_snr(out, f, h, noise, fm, fr, n, L, rows=(a, b))

    run(spans(n, L, chunk), work, threads, None, n)
    return SNR(*out)


def _population_module(curve, library, fast):
    """The population module and the curve's table, when the curve can
    produce one and the module loads; else None (the per-point path)."""
    table = getattr(curve, "table", None)
    if not callable(table):
        return None
    from . import _population

    path = None
    if library is not None and not hasattr(library, "cdll"):
        from pathlib import Path

        p = Path(library)
        path = p if p.is_dir() else p.parent
    elif library is not None:
        from pathlib import Path

        path = Path(library.path).parent
    try:
        module = _population.load_population(path)
    except (LibraryNotFoundError, OSError):
        return None
    if fast and not module.has_fast_row:
        return None
    return module, table()


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
    inclination="average",
    cosmology=None,
    threads=1,
    chunk=None,
    progress=None,
    library=None,
    fast=False,
    population=None,
    threshold=None,
    noise_fluctuations=False,
    detector=None,
):
    """From binaries straight to their SNRs against a noise curve.

    The batch is processed in chunks, strain and noise computed and
    integrated chunk by chunk, so the memory used stays small whatever n.

    Convention: by default (``inclination="average"``) the SNRs are the
    sky-, polarisation- and inclination-averaged ones,
    rho^2 = (16/5) int |h~|^2 / S_n df = int (h_c,avg/h_n)^2 d ln f, with
    h_n = sqrt(f S_n) of the noise curve (S_n sky- and
    polarisation-averaged, summed over the detector's channels); the other
    choices are those of ``amplitude`` ("edge-on" integrates the C
    module's h_c).

    Two paths give the same SNRs for the same h_n values: where the noise
    curve can produce a table (``curve.table()``) and the population module
    loads, it evaluates strain, noise and the integral per binary in one
    library call, with h_n interpolated from the table (within 1e-9 of the
    SNR with the curve at every point); otherwise, and for a plain
    callable, the curve is evaluated at every grid point.

    Parameters
    ----------
    m1, m2, spin1, spin2, distance, redshift, t_end, length
        As for ``amplitude``.
    t_start : float, array_like or "band"
        As for ``amplitude`` (years before merger, observer frame), or
        "band": each binary's band starts where it enters the noise
        curve's range, at f_min = ``noise.range[0]``
        (``phenomd._band.t_start_for_frequency``).
    noise : noise curve or callable, optional
        A curve from ``phenomd.noise`` (default: ``LISA(years=4)``), a
        network (``noise.network``: the members' SNRs are kept in
        ``members``), or any callable returning h_n = sqrt(f S_n) at an
        array of frequencies (its result must broadcast to the grid).
    inclination, cosmology, threads, chunk, progress, library, fast
        As for ``amplitude``.
    population : bool or None
        None chooses the path; False forces the per-point path; True
        requires the population module.
    threshold : float or None
        An SNR threshold: adds ``p_det``, the fraction of sky positions,
        polarisations and inclinations for which the SNR of the whole band
        exceeds it (``phenomd.detection_probability`` of the averaged
        ``snr_all``; needs ``inclination="average"``).
    noise_fluctuations : bool
        With ``threshold``: include the detector noise's fluctuation of the
        observed SNR (as ``detection_probability``).
    detector : optional
        With ``threshold``: the geometry for p_det, as
        ``detection_probability`` takes it (default: the noise curve's own,
        e.g. needed for a file curve).

    Returns
    -------
    BinarySNR
        The four SNRs, boundaries, distance and flags per binary,
        ``p_det`` and ``members`` where asked for, and ``provenance``.

    Raises
    ------
    InputError
        An input outside its range (as ``amplitude``), a noise that is not a
        curve or callable or returns NaN, ``population=True`` where the
        population module cannot be used, ``t_start="band"`` for a band
        longer than the accepted t_start, or a threshold whose detector
        geometry is unknown (a file curve without ``detector``; a network
        of space detectors without ``p_det_approximation``).
    LibraryNotFoundError
        The module cannot be found.

    Examples
    --------
    >>> import phenomd
    >>> r = phenomd.binary_snr(1e6, 1e6, 0.0, 0.0, None, 1.0, t_start=4.0)
    >>> print(f"total {r.snr_all[0]:.4g}: inspiral {r.snr_ins[0]:.4g}, merger {r.snr_mrg[0]:.4g}, "
    ...       f"ringdown {r.snr_rd[0]:.4g}")
    total 8364: inspiral 685.1, merger 7120, ringdown 4334
    >>> r = phenomd.binary_snr([1e6, 1e5], [5e5, 1e5], 0.0, 0.0, None, [1.0, 3.0], t_start=4.0)
    >>> len(r), r.uncalibrated.tolist()
    (2, [False, False])
    """
    from . import noise as _noise

    if noise is not None and not callable(noise):
        raise InputError("noise", None, f"noise must be a noise curve or callable; got {type(noise).__name__}")
    curve = _noise.LISA(4) if noise is None else noise
    band = isinstance(t_start, str)
    if band:
        from ._band import band_start

        t_start = band_start(t_start, m1, m2, redshift, curve, library)
    batch = _prepare(m1, m2, spin1, spin2, distance, redshift, t_start, t_end, length, cosmology)
    threads = inp.as_threads(threads)
    chunk = inp.as_chunk(chunk)
    k, scale = _factor(inclination, batch.n)
    lib = load_library(library, fast=fast)
    record = _record(lib, fast, batch.length, inclination, cosmology, distance is not None, noise=curve)
    if band:
        record["t_start"] = f"band: from the noise curve's f_min = {curve.range[0]:g} Hz (observed frame)"
    if threshold is not None:
        from .detection import check_request

        check_request(threshold, noise_fluctuations, inclination)
    res = _batch_snr(batch, curve, k, scale, lib, library, fast, threads, chunk, progress, population, record)
    if isinstance(curve, _noise.Network):
        from dataclasses import replace

        members = {name: _batch_snr(batch, m, k, scale, lib, library, fast, threads, chunk, None, population).ratios
                   for name, m in zip(curve.member_names, curve.members)}
        record["members"] = ", ".join(curve.member_names) + " (independent noise; network SNR^2 = sum of theirs)"
        res = replace(res, members=members)
    if threshold is not None:
        from .detection import attach_p_det

        res = attach_p_det(res, curve, threshold, noise_fluctuations, detector)
    return res


def _batch_snr(batch, curve, k, scale, lib, library, fast, threads=1, chunk=None, progress=None, population=None,
               record=None):
    """``binary_snr`` of a checked batch (``_prepare``), k and the library
    given: for callers that check a batch once and then vary only what
    they have checked themselves (``horizon``'s refinement).  ``record``
    (a dict, or None) is the provenance; the path taken is added to it."""
    n, L = batch.n, batch.length
    out = [np.empty(n, dtype=np.float64) for _ in range(4)]
    fm = np.empty(n, dtype=np.float64)
    fr = np.empty(n, dtype=np.float64)
    n_out = np.zeros(n, dtype=np.int64)
    inverted = np.zeros(n, dtype=bool)
    values = batch.values

    pop = None
    if population is not False:
        pop = _population_module(curve, library, fast)
        if pop is None and population:
            raise InputError("population", None, "the population module cannot be used: the noise curve has no "
                                                 "table() or the module does not load")
    if pop is not None:
        work = _population_work(pop, values, k, L, fast, out, fm, fr, n_out, inverted)
        path = f"population module (tabulated noise): {pop[0].path}"
    else:
        scratch = Scratch()

        def work(a, b):
            m = b - a
            freqs, hc = scratch.get((m, L))
            ins = values if m == n else batch.rows(a, b)
            lib.call_amplitude(freqs, hc, fm[a:b], fr[a:b], ins, m, L)
            hn, outside = _noise_values(curve, freqs, "noise")
            _check_noise(hn, "noise")
            n_out[a:b] = outside
            inverted[a:b] = freqs[:, 0] == SENTINEL_FREQUENCY
            if scale:
                np.multiply(hc, k[a:b, np.newaxis], out=hc)
            lib.call_snr([o[a:b] for o in out], freqs, hc, hn, fm[a:b], fr[a:b], m, L)

        path = "per grid point"
    run(spans(n, L, chunk), work, threads, progress, n)
    if record is not None:
        record["snr_path"] = path
    return BinarySNR(*out, fm, fr, values[4], values[5], n_out, k, inverted, _conventions.uncalibrated(*values[:4]),
                     record)


def _population_work(pop, values, k, L, fast, out, fm, fr, n_out, inverted):
    from . import _population

    module, table = pop
    names = ("snr_all", "snr_ins", "snr_mrg", "snr_rd")

    def work(a, b):
        rows = tuple(values[:, a:b])
        # The module writes straight into the result arrays' rows.
        res = dict(zip(names, (o[a:b] for o in out)), f_merger_start=fm[a:b], f_ringdown_start=fr[a:b],
                   n_outside=n_out[a:b], inverted=inverted[a:b])
        _population.population_snr(module, *rows, k[a:b], table, L, fast, out=res)

    return work

"""The package's conventions, in one place: the inclination factor between
the C module's strain and the strain the package reports, the words that
name the averaging, the SNR's phases, the model's calibration region and
the component masses of a (total mass, mass ratio) pair.

The C module's characteristic strain is h_c = f A(f), A the stationary-phase
amplitude of ONE polarisation of a FACE-ON source (at leading order
A = sqrt(5/24) pi^(-2/3) (G Mc/c^3)^(5/6) f^(-7/6) c / D_L; Peters & Mathews
1963, Cutler & Flanagan 1994 eq. 3.7).  A source at inclination i has
h+ = A (1 + cos^2 i)/2 and hx = A cos i, so with a sky- and
polarisation-averaged PSD S_n (one that includes the averaged response, e.g.
Robson, Cornish & Liu 2019 eq. 1) its SNR is

    rho^2 = 4 int (|h+|^2 + |hx|^2) / S_n df = int (k(i) f A / h_n)^2 d ln f,
    k(i) = 2 sqrt(((1 + cos^2 i)/2)^2 + cos^2 i),     h_n = sqrt(f S_n).

k = 1 edge-on (i = 90 deg: |h+|^2 + |hx|^2 = A^2/4, the C module's h_c),
k = sqrt(8) face-on, and averaged over isotropic orientations
<(1 + cos^2 i)^2/4 + cos^2 i> = 4/5 gives k^2 = 16/5: the sky-,
polarisation- and inclination-averaged strain h_c,avg = sqrt(16/5) f A.
"""

from __future__ import annotations

import math

import numpy as np

from ._inputs import InputError, as_float_array

__all__ = [
    "AVERAGE",
    "AVERAGED",
    "CALIBRATED_MASS_RATIO",
    "CALIBRATED_SPIN",
    "EDGE_ON",
    "FACE_ON",
    "PHASES",
    "PHASE_NAMES",
    "SKY_AVERAGED",
    "check_phase",
    "component_masses",
    "convention_label",
    "describe",
    "inclination_factor",
    "uncalibrated",
]

#: The averaging of the package's default strain and SNR, and of its noise
#: curves (every S_n is sky- and polarisation-averaged).
AVERAGED = "sky-, polarisation- and inclination-averaged"
SKY_AVERAGED = "sky- and polarisation-averaged"

AVERAGE = math.sqrt(16.0 / 5.0)
FACE_ON = math.sqrt(8.0)
EDGE_ON = 1.0

_NAMED = {"average": AVERAGE, "face-on": FACE_ON, "edge-on": EDGE_ON}


def _angle_factor(i):
    c2 = np.cos(i) ** 2
    return 2.0 * np.sqrt((0.5 * (1.0 + c2)) ** 2 + c2)


def inclination_factor(inclination="average", n=None):
    """The factor k(i) by which the package multiplies the C module's h_c.

    A source at inclination i (between the orbital angular momentum and the
    line of sight) has, against a sky- and polarisation-averaged PSD,
    k(i) = 2 sqrt(((1 + cos^2 i)/2)^2 + cos^2 i) (module docstring).

    Parameters
    ----------
    inclination : {"average", "face-on", "edge-on"} or float or array_like
        "average" (default): sky-, polarisation- and inclination-averaged,
        k = sqrt(16/5); "face-on": k = sqrt(8); "edge-on": k = 1 (the C
        module's own h_c); or an angle in radians in [0, pi], a scalar or
        one per binary (a plain number outside [0, pi] is refused: it is
        most likely degrees; an astropy angle Quantity, e.g.
        ``60 * u.deg``, is converted).
    n : int, optional
        The number of binaries: the result is then an (n,) array (a scalar
        is broadcast; an array must have 1 or n values).

    Returns
    -------
    float or numpy.ndarray
        A float for a name or a scalar angle when ``n`` is None, else an
        (n,) float64 array.

    Raises
    ------
    InputError
        An unknown name, a non-finite angle, a plain number outside [0, pi]
        (with its index and a hint: angles are in radians), or a count that
        does not match.

    Examples
    --------
    >>> import math, phenomd
    >>> print(f"{phenomd.inclination_factor():.6f} = sqrt(16/5) = {math.sqrt(16 / 5):.6f}")
    1.788854 = sqrt(16/5) = 1.788854
    >>> phenomd.inclination_factor("edge-on"), phenomd.inclination_factor(math.pi / 2)
    (1.0, 1.0)
    >>> phenomd.inclination_factor([0.0, math.pi / 2], n=2).round(6).tolist()
    [2.828427, 1.0]
    """
    if isinstance(inclination, str):
        try:
            k = _NAMED[inclination]
        except KeyError:
            raise InputError(
                "inclination", None,
                f"inclination {inclination!r}: must be 'average', 'face-on', 'edge-on' or an angle in radians",
            ) from None
        return k if n is None else np.full(n, k)
    angle = as_float_array(inclination, "inclination", "rad")
    if not np.isfinite(angle).all():
        bad = int(np.flatnonzero(~np.isfinite(angle.ravel()))[0])
        raise InputError("inclination", bad if angle.ndim else 0,
                         f"inclination angles (radians) must be finite; got {angle.ravel()[bad]!r}")
    if not _has_unit(inclination):
        check_radians(angle)
    k = _angle_factor(angle)
    if n is None:
        return float(k) if k.ndim == 0 else np.ascontiguousarray(k)
    if k.ndim == 1 and k.shape[0] not in (1, n):
        raise InputError("inclination", None, f"inclination has {k.shape[0]} values for {n} binaries")
    return np.ascontiguousarray(np.broadcast_to(k, (n,)), dtype=np.float64)


def _has_unit(value):
    if isinstance(value, (list, tuple)):
        return any(_has_unit(v) for v in value)
    return hasattr(value, "unit") and hasattr(value, "to_value")


def check_radians(angle, name="inclination"):
    """Refuse plain numbers outside [0, pi]: an inclination is an angle in
    radians in [0, pi], and a number like 60 is almost surely degrees
    (k(60 rad) is 1.5 times the averaged factor where 60 degrees gives
    0.9 times).  InputError names the first such value (and its index)."""
    a = np.asarray(angle, dtype=np.float64)
    bad = ~((a >= 0.0) & (a <= math.pi))
    if not bad.any():
        return
    i = int(np.flatnonzero(bad.ravel())[0])
    value = float(a.ravel()[i])
    where = f"{name}[{i}]" if a.ndim else name
    raise InputError(
        name, i if a.ndim else 0,
        f"{where} = {value:g}: angles are in radians, in [0, pi]; did you mean {value:g}deg? "
        f"(give an astropy angle, e.g. {value:g} * u.deg, or {math.radians(value):.4g} rad)")


def describe(inclination):
    """A short text for output metadata: the name, or the angle(s)."""
    if isinstance(inclination, str):
        return {
            "average": f"average ({AVERAGED}; k = sqrt(16/5))",
            "face-on": "face-on (k = sqrt(8))",
            "edge-on": "edge-on (k = 1: the C module's h_c)",
        }.get(inclination, inclination)
    arr = as_float_array(inclination, "inclination", "rad")
    if arr.ndim == 0:
        return f"{float(arr)!r} rad"
    return f"{arr.size} angles (rad), one per binary"


def convention_label(inclination):
    """Words for the averaging an SNR or h_c was computed with (titles,
    summaries, output metadata)."""
    if isinstance(inclination, str):
        if inclination == "average":
            return AVERAGED
        return f"{SKY_AVERAGED}, {inclination}"
    try:
        angle = float(getattr(inclination, "to_value", lambda unit: inclination)("rad"))
    except (TypeError, ValueError):
        return f"{SKY_AVERAGED}, inclination {inclination!r}"
    return f"{SKY_AVERAGED}, inclination {angle:g} rad ({math.degrees(angle):.3g} deg)"


# ------------------------------------------------------------------ phases

#: The SNR of each phase: option value -> result field.
PHASES = {"all": "snr_all", "ins": "snr_ins", "mrg": "snr_mrg", "rd": "snr_rd"}
PHASE_NAMES = {"all": "whole band", "ins": "inspiral", "mrg": "merger", "rd": "ringdown"}


def check_phase(phase):
    """The result field of ``phase`` (a key of PHASES), or InputError."""
    if phase not in PHASES:
        raise InputError("phase", None, f"phase = {phase!r}: must be one of {', '.join(map(repr, PHASES))}")
    return PHASES[phase]


# ------------------------------------------------------------ calibration

# The model's calibration region: numerical-relativity waveforms up to mass
# ratio 18 and aligned spins up to 0.85 in magnitude (Khan et al. 2016,
# PRD 93, 044007, Sec. I and Fig. 1).
CALIBRATED_MASS_RATIO = 18.0
CALIBRATED_SPIN = 0.85


def uncalibrated(m1, m2, spin1, spin2):
    """Bool array: binaries outside the model's calibration region (mass
    ratio above CALIBRATED_MASS_RATIO or |spin| above CALIBRATED_SPIN)."""
    q = np.maximum(m1, m2) / np.minimum(m1, m2)
    return (q > CALIBRATED_MASS_RATIO) | (np.abs(spin1) > CALIBRATED_SPIN) | (np.abs(spin2) > CALIBRATED_SPIN)


# ------------------------------------------------------------------ masses


def component_masses(total_mass, mass_ratio):
    """(m1, m2) = (M/(1+q), M q/(1+q)) for source-frame total mass M and
    q = m2/m1.  q > 1 is accepted and means m2 is the heavier body: the
    amplitude model is symmetric under exchanging the two bodies together
    with their spins, so this is the binary with q' = 1/q and the spins
    swapped."""
    total_mass = np.asarray(total_mass, dtype=np.float64)
    mass_ratio = np.asarray(mass_ratio, dtype=np.float64)
    return total_mass / (1.0 + mass_ratio), total_mass * mass_ratio / (1.0 + mass_ratio)

"""The library's time-frequency relation and its inverse: the start of a
binary's band in time before merger from a frequency, e.g. the lower end
of a detector's range (``t_start="band"``).

The library starts a binary's grid at the frequency the binary reaches
t years (observer frame) before merger, from the Newtonian chirp with its
first post-Newtonian correction (the leading terms of the 1PN expansion
of the orbital frequency in the dimensionless time to coalescence; Blanchet
2014, Living Rev. Relativ. 17 2, eq. 317 with x = (M omega)^(2/3)):

    theta = t eta / (5 M),       M = G (1 + z)(m1 + m2) / c^3 in seconds,
    M f = theta^(-3/8) / (8 pi) [1 + (743/2688 + 11 eta / 32) theta^(-1/4)],

with t in seconds, eta = m1 m2 / (m1 + m2)^2 and f observed-frame.  With
u = theta^(-1/8) this reads

    u^3 + a u^5 = 8 pi M f,   a = 743/2688 + 11 eta / 32 > 0,

whose left side increases strictly with u > 0, so every frequency has
exactly one time.  The quintic has no closed form in general; it is solved
by Newton's method from u0 = (8 pi M f)^(1/3), which lies above the root
(the a u^5 term is positive) on a convex increasing function, so the
iterates fall monotonically onto the root: to round-off in a few steps.
Then t = 5 M u^-8 / eta.  The constants (pi as the model uses it, the
Julian year, G M_sun / c^3) are read from the loaded library, so
``amplitude(..., t_start=t)`` starts its grid at f to round-off.
"""

from __future__ import annotations

import numpy as np

from . import _inputs as inp

__all__ = ["band_start", "frequency_at_time", "t_start_for_frequency"]

#: The 1PN coefficient of the relation: a = A0 + A1 eta.
A0 = 743.0 / 2688.0
A1 = 11.0 / 32.0


def _constants(library):
    from ._library import load_library

    c = load_library(library).constants()
    return float(c["Pi"]), float(c["SECONDS_PER_YEAR"]), float(c["MTSUN"])


def _binary(m1, m2, redshift):
    m1 = inp.as_float_array(m1, "m1", "solMass")
    m2 = inp.as_float_array(m2, "m2", "solMass")
    z = inp.as_float_array(redshift, "redshift", "")
    inp.check_positive(m1, "m1", "masses (source frame, solar masses)")
    inp.check_positive(m2, "m2", "masses (source frame, solar masses)")
    inp.require(z, "redshift", np.isfinite(z) & (z > -1), "redshift must be finite and > -1")
    total = m1 + m2
    eta = m1 * m2 / (total * total)
    return total * (1.0 + z), eta


def frequency_at_time(m1, m2, redshift, t, *, library=None):
    """The observed-frame frequency (Hz) a binary reaches ``t`` years
    (observer frame) before merger, by the library's relation (module
    docstring): the first frequency of ``amplitude(..., t_start=t)``.

    Parameters
    ----------
    m1, m2 : float or array_like
        Source-frame component masses, solar masses.
    redshift : float or array_like
        z (observed masses (1 + z) m).
    t : float or array_like
        Years before merger, observer frame, > 0.
    library : optional
        As for ``amplitude`` (whose constants are used).

    Returns
    -------
    float or ndarray
        Hz, broadcast shape of the inputs.

    Examples
    --------
    >>> f = frequency_at_time(36.0, 29.0, 0.09, 4.0)
    >>> print(f"{f:.4g} Hz")
    0.01632 Hz
    """
    pi, year, mtsun = _constants(library)
    mz, eta = _binary(m1, m2, redshift)
    t = inp.as_float_array(t, "t", "yr")
    inp.check_positive(t, "t", "times before merger (years)")
    msec = mtsun * mz
    theta = t * year * eta / (msec * 5.0)
    f = (1.0 / (theta**0.375 * 8.0 * pi)) * ((A1 * eta + A0) / theta**0.25 + 1.0) / msec
    return float(f) if np.ndim(f) == 0 else f


def t_start_for_frequency(m1, m2, redshift, frequency, *, library=None):
    """Years before merger (observer frame) at which a binary reaches an
    observed-frame ``frequency``: the inverse of the library's
    time-frequency relation, so that ``amplitude(m1, m2, ..., redshift,
    t_start=t)`` starts its grid at ``frequency``.

    Parameters
    ----------
    m1, m2 : float or array_like
        Source-frame component masses, solar masses (Quantities accepted).
    redshift : float or array_like
        z; the relation depends on the observed total mass (1 + z)(m1 + m2).
    frequency : float or array_like
        Observed-frame frequency, Hz, > 0.
    library : optional
        As for ``amplitude`` (whose constants are used).

    Returns
    -------
    float or ndarray
        Years before merger, broadcast shape of the inputs.  Frequencies at
        or above the model's last one (Mf = 0.2) give times whose band is
        empty (the library's sentinel row).

    Raises
    ------
    InputError
        Masses or frequencies that are not finite and positive, a redshift
        at or below -1.

    Examples
    --------
    A GW150914-like binary enters Advanced LIGO's range (10 Hz) 5.5 s
    before merger in this relation:

    >>> t = t_start_for_frequency(36.0, 29.0, 0.09, 10.0)
    >>> print(f"{t * 365.25 * 86400:.3g} s")
    5.55 s
    >>> print(f"{frequency_at_time(36.0, 29.0, 0.09, t):.12g}")
    10
    """
    pi, year, mtsun = _constants(library)
    mz, eta = _binary(m1, m2, redshift)
    f = inp.as_float_array(frequency, "frequency", "Hz")
    inp.check_positive(f, "frequency", "frequencies (Hz)")
    msec = mtsun * mz
    c = 8.0 * pi * msec * f
    a = A0 + A1 * eta
    c, a = np.broadcast_arrays(c, a)
    u = np.cbrt(c)  # above the root: Newton falls monotonically onto it
    for _ in range(100):
        u2 = u * u
        step = (u2 * u * (1.0 + a * u2) - c) / (u2 * (3.0 + 5.0 * a * u2))
        u = u - step
        if np.all(np.abs(step) <= 4e-16 * u):
            break
    t = 5.0 * msec * u**-8 / (eta * year)
    t = np.broadcast_to(t, np.broadcast(t, f).shape)
    return float(t) if np.ndim(t) == 0 else np.array(t)


def band_start(text, m1, m2, redshift, curve, library=None):
    """``t_start="band"``: each binary's start time, in years, at which it
    enters the noise curve's range (its f_min); InputError for any other
    string, a curve without a range, or a band longer than the accepted
    t_start (then give t_start in years)."""
    from .core import T_START_RANGE

    if text.strip().lower() != "band":
        raise inp.InputError("t_start", None, f"t_start = {text!r}: years before merger, or 'band'")
    rng = getattr(curve, "range", None)
    if rng is None:
        raise inp.InputError("t_start", None, "t_start = 'band' needs a noise curve with a range (curve.range)")
    f_min = float(rng[0])
    if not (np.isfinite(f_min) and f_min > 0):
        raise inp.InputError("t_start", None, f"t_start = 'band': the noise curve's f_min = {f_min!r} Hz has no "
                                              "start time; give t_start in years")
    t = np.asarray(t_start_for_frequency(m1, m2, redshift, f_min, library=library))
    far = t > T_START_RANGE[1]
    if far.any():
        i = int(np.flatnonzero(far.ravel())[0])
        where = f"[{i}]" if t.ndim else ""
        raise inp.InputError(
            "t_start", i if t.ndim else None,
            f"t_start = 'band': binary{where} enters the noise curve's range (f_min = {f_min:g} Hz) "
            f"{t.ravel()[i]:.3g} years before merger, beyond the accepted {T_START_RANGE[1]:g}; give t_start in years")
    return np.maximum(t, T_START_RANGE[0])

"""The built-in noise curves by name (``curve``, ``names``)."""

from __future__ import annotations

import difflib

from .._inputs import InputError
from ._detectors import LISASciRD, Taiji, TianQin
from ._ground import ALIGO, EinsteinTelescope
from ._lisa import LISA

_CURVES = {
    "lisa": LISA,
    "lisa-scird": LISASciRD,
    "tianqin": TianQin,
    "taiji": Taiji,
    "aligo": ALIGO,
    "et": EinsteinTelescope,
}


def names():
    """The built-in curves' names, for ``curve``."""
    return tuple(_CURVES)


#: ``curve``'s years when none is given: each curve's own default (4 years
#: for every curve with a galactic foreground).
_DEFAULT = object()


def lookup(name, argument="noise"):
    """The class of the built-in curve ``name`` (case-insensitive), or
    InputError naming the closest names."""
    key = str(name).strip().lower()
    if key in _CURVES:
        return _CURVES[key]
    close = difflib.get_close_matches(key, list(_CURVES), n=1, cutoff=0.6)
    hint = f"; did you mean {close[0]!r}?" if close else ""
    raise InputError(argument, None, f"noise curve {name!r}: must be one of {', '.join(names())}{hint}")


def curve(name, years=_DEFAULT, **options):
    """A built-in noise curve by name.

    Every curve follows the package's convention: S_n the sky- and
    polarisation-averaged effective PSD summed over the detector's
    independent channels, h_n = sqrt(f S_n) (see ``phenomd.noise``).

    Parameters
    ----------
    name : str
        One of ``names()``, case-insensitive: "lisa", "lisa-scird",
        "tianqin", "taiji" (space), "aligo" (Advanced LIGO design, one L),
        "et" (Einstein Telescope ET-B, three 60-degree interferometers).
    years : float, astropy Quantity or None
        The observation time that sets the galactic foreground, in years or
        as a time Quantity.  Default: 4 years (the nominal duration of
        LISA's mission), for every space curve, as ``LISA()``, ``binary_snr``,
        ``horizon`` and the command line.  None or 0: instrument noise only.
        Accepted: "lisa" 0.5 to 4, "tianqin" 0.5 to 5, "taiji" 0.5 to 4
        (between the published fits' times, their parameters interpolated in
        ln T; see ``phenomd.noise._foreground``), "lisa-scird" 0.5 to 10.
        The ground curves ("aligo", "et") have no foreground and take only
        None.
    **options
        Passed to the curve's class (``response=`` for "lisa").

    Returns
    -------
    NoiseCurve
        ``curve(f)`` gives h_n (+inf outside ``curve.range``, in Hz).

    Raises
    ------
    InputError
        An unknown name (with the closest one), an observation time outside
        the fits or in a unit that is not a time, or an option the curve
        does not take.

    Examples
    --------
    >>> from phenomd import noise
    >>> noise.names()
    ('lisa', 'lisa-scird', 'tianqin', 'taiji', 'aligo', 'et')
    >>> lisa = noise.curve("lisa")
    >>> lisa
    LISA(years=4.0, response='numerical')
    >>> lisa.range
    (1e-05, 1.0)
    >>> print(f"{lisa(1e-3):.4g}")
    9.108e-21
    """
    cls = lookup(name, "name")
    if years is not _DEFAULT:
        options["years"] = years
    try:
        return cls(**options)
    except TypeError:
        raise InputError(
            "options", None, f"noise curve {name!r} takes no option(s) {', '.join(sorted(options))}"
        ) from None

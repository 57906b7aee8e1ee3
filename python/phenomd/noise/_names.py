"""The built-in noise curves by name (``curve``, ``names``)."""

from __future__ import annotations

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


def curve(name, years=None, **options):
    """A built-in noise curve by name.

    Every curve follows the package's convention: S_n the sky- and
    polarisation-averaged effective PSD summed over the detector's
    independent channels, h_n = sqrt(f S_n) (see ``phenomd.noise``).

    Parameters
    ----------
    name : str
        One of ``names()``: "lisa", "lisa-scird", "tianqin", "taiji" (space),
        "aligo" (Advanced LIGO design, one L), "et" (Einstein Telescope
        ET-B, three 60-degree interferometers).
    years : float or None
        The observation time that sets the galactic foreground; None (the
        default here): instrument noise only, for every detector.  The
        accepted values are each detector's fitted ones: "lisa" 0.5, 1, 2,
        4; "lisa-scird" 0.5 to 10; "tianqin" 0.5, 1, 2, 4, 5; "taiji" 0.5,
        1, 2, 4; the ground curves ("aligo", "et") have no foreground and
        take only None.  (``LISA()`` and ``binary_snr`` use 4 years.)
    **options
        Passed to the curve's class (``response=`` for "lisa").

    Returns
    -------
    NoiseCurve
        ``curve(f)`` gives h_n (+inf outside ``curve.range``, in Hz).

    Raises
    ------
    InputError
        An unknown name, an observation time without a fit, or an option the
        curve does not take.

    Examples
    --------
    >>> from phenomd import noise
    >>> noise.names()
    ('lisa', 'lisa-scird', 'tianqin', 'taiji', 'aligo', 'et')
    >>> lisa = noise.curve("lisa", years=4)
    >>> lisa
    LISA(years=4.0, response='numerical')
    >>> lisa.range
    (1e-05, 1.0)
    >>> print(f"{lisa(1e-3):.4g}")
    9.108e-21
    """
    try:
        cls = _CURVES[str(name).lower()]
    except KeyError:
        raise InputError("name", None, f"noise curve {name!r}: must be one of {', '.join(names())}") from None
    try:
        return cls(years, **options)
    except TypeError:
        raise InputError(
            "options", None, f"noise curve {name!r} takes no option(s) {', '.join(sorted(options))}"
        ) from None

"""The built-in noise curves by name (``curve``, ``names``)."""

from __future__ import annotations

from .._inputs import InputError
from ._detectors import LISASciRD, Taiji, TianQin
from ._lisa import LISA

_CURVES = {
    "lisa": LISA,
    "lisa-scird": LISASciRD,
    "tianqin": TianQin,
    "taiji": Taiji,
}


def names():
    """The built-in curves' names, for ``curve``."""
    return tuple(_CURVES)


def curve(name, years=None, **options):
    """A built-in noise curve by name (see ``names()``).

    ``years`` is the observation time that sets the galactic foreground
    (None: instrument noise only, for every detector); the accepted values
    are each detector's fitted ones: "lisa" 0.5, 1, 2, 4; "lisa-scird"
    0.5 to 10; "tianqin" 0.5, 1, 2, 4, 5; "taiji" 0.5, 1, 2, 4.  Other
    options go to the curve's class (``response=`` for "lisa").
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

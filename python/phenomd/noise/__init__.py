"""Noise curves as the noise characteristic strain h_n(f) = sqrt(f S_n(f)).

Convention (every built-in curve, and every file curve once loaded):
S_n is the effective sky- and polarisation-averaged PSD summed over the
detector's independent channels, S_n = P_n / R with R(f) the sky- and
polarisation-averaged response summed over the two channels of a
triangular detector (R -> 3/10 at low frequency; Robson, Cornish & Liu
2019, CQG 36 105011, sec. 2).  With h_c,avg = sqrt(16/5) f |h~| (|h~| the
face-on amplitude of one polarisation),

    rho_avg^2 = int (h_c,avg / h_n)^2 d ln f

is the sky-, polarisation- and inclination-averaged SNR.  See
docs/conventions.md for the factors (20/3, 10/3) relating other
conventions to this one.

Curves (``curve(name, years=...)``, ``names()``):

* ``"lisa"``: ``LISA(years, response)``, Robson, Cornish & Liu (2019) with
  the numerically sky-averaged response by default, galactic confusion
  noise for 0.5, 1, 2 or 4 years;
* ``"lisa-scird"``: ``LISASciRD(years)``, the LISA science-requirement
  curve with the foreground of Karnesis et al. (2021);
* ``"tianqin"``: ``TianQin(years)`` (Huang et al. 2020);
* ``"taiji"``: ``Taiji(years)`` (Ruan et al. 2020; Liu, Ruan & Guo 2023);
* ``"aligo"``: ``ALIGO()``, Advanced LIGO design (one L-shaped
  interferometer; Ajith 2011 fit); ``"et"``: ``EinsteinTelescope()``, ET-B
  (three 60-degree interferometers); see ``phenomd.noise._ground``;
* ``network("lisa", "taiji")`` (or ``"lisa+taiji"``, or ground sites
  ``"aligo@H1"``): detectors with independent noise, 1/h_n^2 = sum of the
  members' 1/h_n^2 (averaged SNR^2 summed); see ``phenomd.noise._network``;
* ``from_file(path, kind, channels=, sky_averaged=, response=)``: a user's
  curve, converted to the convention above.

Every curve has ``__call__(f)`` -> h_n (same shape as f), ``evaluate(f)``
-> NoiseSample(hn, n_outside), ``psd(f)``, ``range`` (Hz), ``name``,
``convention`` and ``table()`` (a NoiseTable good to 5e-10 in ln h_n, for
the population pipeline).  Outside a curve's range of validity h_n = +inf:
those frequencies contribute nothing to an SNR and are counted in
n_outside (summed over the last axis, i.e. per binary for an (n, length)
grid).
"""

from __future__ import annotations

from ._base import NoiseCurve
from ._detectors import LISASciRD, Taiji, TianQin
from ._ground import ALIGO, EinsteinTelescope
from ._network import Network, network
from ._files import NoiseFileError, TabulatedNoise, from_file
from ._lisa import CONFUSION_PARAMETERS, F_STAR, LISA, lisa, lisa_psd  # noqa: F401 (F_STAR)
from ._names import curve, names
from ._table import NoiseSample, NoiseTable

__all__ = [
    "ALIGO",
    "EinsteinTelescope",
    "Network",
    "network",
    "CONFUSION_PARAMETERS",
    "CONVENTION",
    "LISA",
    "LISASciRD",
    "NoiseCurve",
    "NoiseFileError",
    "NoiseSample",
    "NoiseTable",
    "TabulatedNoise",
    "Taiji",
    "TianQin",
    "curve",
    "from_file",
    "lisa",
    "lisa_psd",
    "names",
]

CONVENTION = NoiseCurve.convention

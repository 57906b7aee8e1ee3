"""Ground-based detectors' sensitivity curves, in the package's convention:
S_n the sky- and polarisation-averaged effective PSD summed over the
detector's interferometers, S_n = P_n / R, h_n = sqrt(f S_n).

R is the sky- and polarisation-averaged response <F_+^2> summed over the
interferometers, in the long-wavelength limit (valid for f well below
c / (2 pi L): 12 kHz for 4 km arms, 4.8 kHz for 10 km, 1.2 kHz for 40 km):

* one L-shaped interferometer (90-degree arms): R = 1/5
  (<F_+^2> = <F_x^2> = 1/5; Thorne 1987, in "300 Years of Gravitation");
* three 60-degree interferometers on an equilateral triangle (the
  Einstein Telescope), each with its own P_n: each has
  <F_+^2> = (1/5) sin^2 60 = 3/20, so R = 3 (3/4)(1/5) = 9/20.

Other ground curves (A+, Cosmic Explorer, the observing runs' measured
sensitivities) are published as tables of the amplitude spectral density
sqrt(P_n) of ONE interferometer, not sky-averaged.  Load them with the
response of the matching geometry, S_n = P_n / R:

    noise.from_file(path, "asd", sky_averaged=False, response=ALIGO())
        # one L-shaped interferometer (A+, Cosmic Explorer, O3/O4): R = 1/5
    noise.from_file(path, "asd", sky_averaged=False, response=EinsteinTelescope())
        # three 60-degree interferometers (ET-D): R = 9/20

(``response`` takes any object with a ``.response(f)`` method, or a
callable R(f); see docs/conventions.md.)  For Cosmic Explorer's 40 km
arms the constant R holds only below about 1 kHz.
"""

from __future__ import annotations

import numpy as np

from .._inputs import InputError
from ._base import NoiseCurve

#: Sky- and polarisation-averaged responses summed over the interferometers.
RESPONSE_L = 1.0 / 5.0
RESPONSE_TRIANGLE = 3.0 * (3.0 / 4.0) * (1.0 / 5.0)  # 9/20


def _no_years(years, name):
    if years is not None:
        raise InputError("years", None, f"years = {years!r}: the {name} curve has no galactic foreground "
                         "(give None)")


class ALIGO(NoiseCurve):
    """Advanced LIGO at design sensitivity (zero detuning of the signal
    recycling, high laser power: LIGO-T0900288), one L-shaped
    interferometer.

    Noise PSD of the interferometer, the analytic fit of Ajith (2011, PRD
    84 084037, sec. IV) to the ZERO_DET_high_P curve::

        P_n(f) = 1e-48 Hz^-1 [0.0152 x^-4 + 0.2935 x^(9/4) + 2.7951 x^(3/2)
                              - 6.5080 x^(3/4) + 17.7622],   x = f / 245.4 Hz.

    (One public transcription has 0.0512 for the first coefficient; with it
    the binary-neutron-star range falls to 162 Mpc, against the 197 Mpc
    this fit gives and the ~200 Mpc quoted for the design, so 0.0152 is
    kept.)  In the package's convention, with R = 1/5 for one L::

        S_n = P_n / R = 5 P_n,   h_n = sqrt(f S_n).

    Range: 10 Hz - 5 kHz (the fit's band: below 10 Hz seismic noise walls
    the detector off; h_n = +inf outside, counted).
    """

    name = "aligo"
    f_min = 10.0
    f_max = 5000.0
    F0 = 245.4
    S0 = 1e-48
    COEFFS = (0.0152, 0.2935, 2.7951, -6.5080, 17.7622)
    response_sum = RESPONSE_L

    def __init__(self, years=None):
        _no_years(years, "aligo")

    def __repr__(self):
        return "ALIGO()"

    def instrument_psd(self, f):
        """P_n(f) of the interferometer, Hz^-1 (not sky-averaged; no range)."""
        x = np.asarray(f, dtype=np.float64) / self.F0
        a, b, c, d, e = self.COEFFS
        return self.S0 * (a * x**-4 + b * x**2.25 + c * x**1.5 + d * x**0.75 + e)

    def _psd(self, f):
        return self.instrument_psd(f) / self.response_sum

    def response(self, f):
        """R, the sky- and polarisation-averaged response summed over the
        interferometers (constant in the long-wavelength limit)."""
        return np.full(np.shape(f), self.response_sum)


class EinsteinTelescope(NoiseCurve):
    """The Einstein Telescope, ET-B sensitivity: three 60-degree, 10 km
    interferometers on an equilateral triangle, each with the ET-B noise.

    Noise PSD of each interferometer, the analytic fit to ET-B (Hild,
    Chelkowski & Freise 2008, arXiv:0810.0604) of Mishra et al. (2010, PRD
    82 064010, eq. 2.2) and Sathyaprakash & Schutz (2009, LRR 12 2, Table 1),
    with coefficients as in the LALSuite noise models (XLALETBPsd)::

        P_n(f) = 1e-50 Hz^-1 [a1 x^b1 + a2 x^b2 + a3 x^b3 + a4 x^b4]^2,
        x = f / 100 Hz,  (a, b) = (2.39e-27, -15.64), (0.349, -2.145),
                                  (1.76, -0.12), (0.409, 1.10).

    In the package's convention, with R = 3 (3/4)(1/5) = 9/20 for the
    three interferometers (sin^2 60 = 3/4 for each, noise independent)::

        S_n = P_n / R = (20/9) P_n,   h_n = sqrt(f S_n).

    Range: 1 Hz - 10 kHz (the fit's band; h_n = +inf outside, counted).
    ET-B is the 2008 design; the later ET-D "xylophone" curve is published
    as a table (load it with ``noise.from_file(path, "asd",
    sky_averaged=False, response=0.45)``).
    """

    name = "et"
    f_min = 1.0
    f_max = 10000.0
    F0 = 100.0
    S0 = 1e-50
    TERMS = ((2.39e-27, -15.64), (0.349, -2.145), (1.76, -0.12), (0.409, 1.10))
    response_sum = RESPONSE_TRIANGLE

    def __init__(self, years=None):
        _no_years(years, "et")

    def __repr__(self):
        return "EinsteinTelescope()"

    def instrument_psd(self, f):
        """P_n(f) of one interferometer, Hz^-1 (not sky-averaged; no range)."""
        x = np.asarray(f, dtype=np.float64) / self.F0
        return self.S0 * sum(a * x**b for a, b in self.TERMS) ** 2

    def _psd(self, f):
        return self.instrument_psd(f) / self.response_sum

    def response(self, f):
        """R, the sky- and polarisation-averaged response summed over the
        interferometers (constant in the long-wavelength limit)."""
        return np.full(np.shape(f), self.response_sum)

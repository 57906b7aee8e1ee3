"""LISA's sensitivity: Robson, Cornish & Liu (2019) with the numerically
sky-averaged response (``_lisa_response``) or their eq. 9 approximation,
and the galactic confusion noise."""

from __future__ import annotations

import math

import numpy as np

from .._inputs import InputError
from ._base import NoiseCurve
from ._foreground import DEFAULT_YEARS, interpolated, observation_years
from ._table import frequencies

SPEED_OF_LIGHT = 299792458.0  # m/s
ARM_LENGTH = 2.5e9  # L, m
F_STAR = SPEED_OF_LIGHT / (2 * math.pi * ARM_LENGTH)  # transfer frequency, 19.09 mHz

# Galactic confusion noise, Robson, Cornish & Liu (2019) eq. (14):
#   S_c(f) = A f^(-7/3) exp(-f^alpha + beta f sin(kappa f)) [1 + tanh(gamma (f_k - f))]
# with A = 9e-45 and, per observation time in years, their Table 1:
CONFUSION_AMPLITUDE = 9e-45
CONFUSION_PARAMETERS = {
    #      alpha   beta    kappa   gamma   f_k (Hz)
    0.5: (0.133, 243.0, 482.0, 917.0, 2.58e-3),
    1.0: (0.171, 292.0, 1020.0, 1680.0, 2.15e-3),
    2.0: (0.165, 299.0, 611.0, 1340.0, 1.73e-3),
    4.0: (0.138, -221.0, 521.0, 1680.0, 1.13e-3),
}

RESPONSES = ("numerical", "approximate")

class LISA(NoiseCurve):
    """Sky-averaged LISA sensitivity of Robson, Cornish & Liu (2019).

    ::

        S_n(f) = P_n(f) / R(f) + S_c(f)                               (their eq. 1)

    with L = 2.5 Gm, f* = c/(2 pi L) = 19.09 mHz,

    ::

        P_n = [P_OMS + 2 (1 + cos^2(f/f*)) P_acc / (2 pi f)^4] / L^2   (eq. 2)
        P_OMS = (1.5e-11 m)^2 (1 + (2 mHz/f)^4) Hz^-1                 (eq. 10)
        P_acc = (3e-15 m s^-2)^2 (1 + (0.4 mHz/f)^2) (1 + (f/8 mHz)^4) Hz^-1
                                                                      (eq. 11)

    and S_c the galactic confusion noise after ``years`` of observation
    (eq. 14, Table 1; default 4 years, the mission's nominal duration).
    Table 1 fits 0.5, 1, 2 and 4 years; any time between 0.5 and 4 years is
    accepted, with each of alpha, beta, kappa, gamma and f_k interpolated
    linearly in ln T between the two neighbouring fits (the tabulated times
    exactly as published; see ``phenomd.noise._foreground``).  ``years`` is
    a number of years or an astropy time Quantity; None or 0 leaves the
    foreground out (instrument noise only).

    R(f) is the sky- and polarisation-averaged response of one Michelson
    channel summed over the two channels (R -> 3/10 at low frequency):

    * ``response="numerical"`` (default): averaged numerically over sky
      and polarisation with the full arm transfer function, from the
      committed table (``phenomd.noise._lisa_response``);
    * ``response="approximate"``: R = (3/10) / (1 + 0.6 (f/f*)^2) (eq. 9).
      Its S_n departs from the numerical one by 2-12 % at 10-30 mHz and
      by factors 0.66 (90 mHz) to 3.0 (55 mHz) between 30 mHz and 1 Hz.

    This is the package's convention as it stands (two channels, sky- and
    polarisation-averaged): no conversion factor.  Returns h_n(f) =
    sqrt(f S_n(f)).  Range: 10 uHz - 1 Hz (h_n = +inf outside, counted):
    below it the noise model's low-frequency reddening is unconstrained,
    above it the mission's band ends.

    The confusion fits for different observation times cross (the 4-year
    fit has beta < 0): a longer observation does not lower S_c at every
    frequency.
    """

    name = "lisa"
    f_min = 1e-5
    f_max = 1.0

    def __init__(self, years=DEFAULT_YEARS, response="numerical"):
        years = observation_years(years)
        if years is not None:
            self._confusion = interpolated(CONFUSION_PARAMETERS, years, "LISA (Robson, Cornish & Liu 2019)")
        if response not in RESPONSES:
            raise InputError(
                "response", None, f"response = {response!r}: must be 'numerical' or 'approximate'"
            )
        if response == "numerical":
            _numerical_response()  # fail here, not at the first evaluation
        self.years = years
        self.response_kind = response

    def __repr__(self):
        return f"LISA(years={self.years}, response={self.response_kind!r})"

    def response(self, f):
        """R(f): the sky- and polarisation-averaged response summed over
        the two channels (dimensionless, -> 3/10 at low frequency)."""
        f = frequencies(f)
        if self.response_kind == "numerical":
            return np.asarray(_numerical_response()(f), dtype=np.float64)
        return 0.3 / (1.0 + 0.6 * (f / F_STAR) ** 2)

    def instrument_psd(self, f):
        """P_n(f) / R(f), Hz^-1 (no range applied)."""
        f = frequencies(f)
        x = f / F_STAR
        p_oms = 1.5e-11**2 * (1.0 + (2e-3 / f) ** 4)
        p_acc = 3e-15**2 * (1.0 + (0.4e-3 / f) ** 2) * (1.0 + (f / 8e-3) ** 4)
        p_n = (p_oms + 2.0 * (1.0 + np.cos(x) ** 2) * p_acc / (2.0 * math.pi * f) ** 4) / ARM_LENGTH**2
        return p_n / self.response(f)

    def confusion_psd(self, f):
        """Galactic confusion S_c(f), Hz^-1 (zero for years=None)."""
        f = frequencies(f)
        if self.years is None:
            return np.zeros_like(f)
        alpha, beta, kappa, gamma, f_k = self._confusion
        # Summed in logarithms: far above f_k the factor 1 + tanh(...) =
        # 2 / (1 + exp(2 gamma (f - f_k))) vanishes while exp(beta f sin)
        # overflows, and inf * 0 would give NaN instead of 0.
        log_sc = (
            math.log(2.0 * CONFUSION_AMPLITUDE)
            - (7.0 / 3.0) * np.log(f)
            - f**alpha
            + beta * f * np.sin(kappa * f)
            - np.logaddexp(0.0, 2.0 * gamma * (f - f_k))
        )
        return np.exp(log_sc)

    def _psd(self, f):
        return self.instrument_psd(f) + self.confusion_psd(f)


def _numerical_response():
    """R(f) of the numerically sky-averaged response table
    (``phenomd.noise._lisa_response.response``: the not-a-knot cubic spline of
    ln R in ln(f/f*) through the table's nodes, twice continuously
    differentiable, so that the curve's NoiseTable converges)."""
    from ._lisa_response import response

    return response


def lisa(f, years=DEFAULT_YEARS, response="numerical"):
    """LISA h_n(f) = sqrt(f S_n(f)) (Robson, Cornish & Liu 2019); see LISA."""
    return LISA(years, response)(f)


def lisa_psd(f, years=DEFAULT_YEARS, response="numerical"):
    """LISA S_n(f) in Hz^-1 (Robson, Cornish & Liu 2019); see LISA."""
    return LISA(years, response).psd(f)

"""Sensitivity curves of LISA's science requirement, TianQin and Taiji,
each in the package's convention: S_n the sky- and polarisation-averaged
effective PSD summed over the detector's two independent channels (the
convention of Robson, Cornish & Liu 2019, eq. 1), h_n = sqrt(f S_n).
"""

from __future__ import annotations

import math

import numpy as np

from .._inputs import InputError
from ._base import NoiseCurve
from ._foreground import DEFAULT_YEARS, interpolated, observation_years

SPEED_OF_LIGHT = 299792458.0  # m/s


def _years(years, lo, hi, name):
    """None (no foreground: None or 0), or the observation time in years
    (a number or a time Quantity) checked to lie in [lo, hi]."""
    y = observation_years(years)
    if y is None or lo <= y <= hi:
        return y
    raise InputError(
        "years", None, f"years = {y:g}: the {name} foreground fit is used for {lo:g} to {hi:g} years "
                       "(None or 0: no foreground)"
    )


def _log_polynomial(u, coeffs, u_lo, u_hi):
    """sum_i c_i u^i for u in [u_lo, u_hi]; outside, continued along the
    tangent at the nearer end (value and slope continuous), so that a fit
    stated over a limited band neither blows up nor jumps beyond it."""
    c = np.asarray(coeffs, dtype=np.float64)
    p = np.polynomial.polynomial
    dc = p.polyder(c)
    uc = np.clip(u, u_lo, u_hi)
    return p.polyval(uc, c) + p.polyval(uc, dc) * (u - uc)


class LISASciRD(NoiseCurve):
    """LISA's science-requirement sensitivity with the galactic foreground
    of Karnesis et al. (2021), as in the LISA technical note
    LISA-LCST-SGS-TN-001 (Babak, Hewitson & Petiteau 2021, arXiv:2108.01167).

    Instrument (technical note eq. 114, the SciRD curve)::

        S_SciRD(f) = 10/3 [S_I(f) / (2 pi f)^4 + S_II] R(f),
        S_I  = 5.76e-48 (1 + (f_1/f)^2) s^-4 Hz^-1,  f_1 = 0.4 mHz,
        S_II = 3.6e-41 Hz^-1,
        R(f) = 1 + (f/f_2)^2,  f_2 = 25 mHz.

    (S_I = 4 (3 fm s^-2)^2 / L^2 and S_II = (15 pm)^2 / L^2 with L = 2.5 Gm;
    10/3 = (1/2)(20/3): the sky average of one 60-degree Michelson channel,
    20/3, halved for the two channels.)  This is already the package's
    convention: no conversion factor.

    Galactic foreground (technical note eqs. 85-86; Karnesis et al. 2021,
    arXiv:2103.14598), added to S_SciRD in the same units::

        S_gal(f) = (A/2) f^(-7/3) exp(-(f/f_1)^alpha) [1 + tanh((f_knee - f)/f_2)],
        A = 1.14e-44, alpha = 1.8, f_2 = 0.31 mHz,
        log10 f_1 = a_1 log10 T + b_1,     a_1 = -0.25, b_1 = -2.70,
        log10 f_knee = a_k log10 T + b_k,  a_k = -0.27, b_k = -2.47,

    T the observation time in years (``years``: a number of years or a
    time Quantity, default 4 years, LISA's nominal mission duration; None
    or 0: no foreground).  The fit is used for 0.5 <= T <= 10 years.  A transcription that adds this
    foreground to a one-channel (20/3) sensitivity halves it relative to
    the instrument; this follows the technical note, where both terms are
    two-channel sensitivities.

    Range: 10 uHz - 1 Hz, as for the "lisa" curve (h_n = +inf outside,
    counted): S_SciRD is an analytic requirement curve, which the package
    does not carry beyond LISA's band.
    """

    name = "lisa-scird"
    f_min = 1e-5
    f_max = 1.0
    ARM_LENGTH = 2.5e9  # m
    S_I = 5.76e-48
    S_II = 3.6e-41
    F_1 = 0.4e-3
    F_2 = 25e-3
    FOREGROUND = dict(A=1.14e-44, alpha=1.8, f2=0.31e-3, a1=-0.25, b1=-2.70, ak=-0.27, bk=-2.47)

    def __init__(self, years=DEFAULT_YEARS):
        self.years = _years(years, 0.5, 10.0, "LISA (Karnesis et al. 2021)")

    def __repr__(self):
        return f"LISASciRD(years={self.years})"

    def instrument_psd(self, f):
        """S_SciRD(f), Hz^-1 (no range applied)."""
        s_i = self.S_I * (1.0 + (self.F_1 / f) ** 2)
        return (10.0 / 3.0) * (s_i / (2.0 * math.pi * f) ** 4 + self.S_II) * (1.0 + (f / self.F_2) ** 2)

    def foreground_psd(self, f):
        """S_gal(f), Hz^-1 (zero for years=None; no range applied)."""
        f = np.asarray(f, dtype=np.float64)
        if self.years is None:
            return np.zeros_like(f)
        p = self.FOREGROUND
        lt = math.log10(self.years)
        f1 = 10.0 ** (p["a1"] * lt + p["b1"])
        fk = 10.0 ** (p["ak"] * lt + p["bk"])
        # 1 + tanh(z) = 2 / (1 + exp(-2z)), in logarithms: no 1 - 1 far above the knee.
        log_s = (
            math.log(p["A"])
            - (7.0 / 3.0) * np.log(f)
            - (f / f1) ** p["alpha"]
            - np.logaddexp(0.0, -2.0 * (fk - f) / p["f2"])
        )
        return np.exp(log_s)

    def _psd(self, f):
        return self.instrument_psd(f) + self.foreground_psd(f)

    def response(self, f):
        """The sky-averaged two-channel response this curve implies,
        R(f) = (3/10) / (1 + (f/f_2)^2) (dimensionless)."""
        f = np.asarray(f, dtype=np.float64)
        return 0.3 / (1.0 + (f / self.F_2) ** 2)


class TianQin(NoiseCurve):
    """TianQin (arm length L = sqrt(3) x 10^8 m; Luo et al. 2016, CQG 33
    035010), with the sensitivity and galactic foreground of Huang et al.
    (2020, PRD 102 063021).

    Instrument (Huang et al. eq. 13, noise levels of Luo et al. 2016)::

        S_N(f) = (1/L^2) [4 S_a / (2 pi f)^4 (1 + 10^-4 Hz / f) + S_x]
                 (1 + 0.6 (f/f*)^2),
        S_a = 1e-30 m^2 s^-4 Hz^-1,  S_x = 1e-24 m^2 Hz^-1,  f* = c/(2 pi L).

    Huang et al. absorb the sky-average factor 10/3 into the waveform; in
    the package's convention the sensitivity carries it::

        S_n(f) = (10/3) [S_N(f) + S_c(f)].

    Galactic foreground (Huang et al. Table II, fitted for T = 0.5, 1, 2,
    4, 5 years over 0.1 mHz - 1 Hz; ``years`` default 4, as every curve of
    the package, so that curves compare at one observation time, though
    TianQin's nominal mission is 5 years; any time from 0.5 to 5 years, the
    coefficients interpolated linearly in ln T between the neighbouring fits,
    see ``phenomd.noise._foreground``; None or 0: no foreground)::

        sqrt(S_c(f)) = 10^(sum_{i=0..6} a_i x^i) Hz^-1/2,  x = log10(f / 1 mHz).

    The fit is in the same (not sky-averaged) units as eq. 13, to which the
    paper adds it, so the 10/3 multiplies it too.  One published
    transcription adds S_c unconverted to (10/3) S_N, i.e. lowers the
    foreground by 10/3 against the instrument; this follows the paper's own
    sum.  (A caution: the unconverted fit equals LISA's and Taiji's
    foregrounds at 1 mHz to within 10 %, so after the 10/3 TianQin's
    foreground there is ~3 times theirs; which reading the fit's authors
    meant cannot be settled from the equations alone.)  The coefficients
    below were read from a public transcription of Table II (the paper's
    full text was not at hand when this was written); the conversion rests on the paper's
    eq. 13 and the stated 10/3.

    Range: 0.1 mHz - 1 Hz (TianQin's band; h_n = +inf outside, counted).
    """

    name = "tianqin"
    f_min = 1e-4
    f_max = 1.0
    ARM_LENGTH = math.sqrt(3.0) * 1e8  # m
    S_A = 1e-30  # m^2 s^-4 Hz^-1
    S_X = 1e-24  # m^2 Hz^-1
    FOREGROUND_YEARS = (0.5, 1.0, 2.0, 4.0, 5.0)
    # a_0 .. a_6 per observation time (Huang et al. 2020, Table II).
    FOREGROUND = {
        0.5: (-18.6, -1.22, 0.009, -1.87, 0.65, 3.6, -4.6),
        1.0: (-18.6, -1.13, -0.945, -1.02, 4.05, -4.5, -0.5),
        2.0: (-18.6, -1.45, 0.315, -1.19, -4.48, 10.8, -9.4),
        4.0: (-18.6, -1.43, -0.687, 0.24, -0.15, -1.8, -3.2),
        5.0: (-18.6, -1.51, -0.71, -1.13, -0.83, 13.2, -19.1),
    }

    def __init__(self, years=DEFAULT_YEARS):
        self.years = observation_years(years)
        if self.years is not None:
            self._foreground = interpolated(self.FOREGROUND, self.years, "TianQin (Huang et al. 2020)")

    def __repr__(self):
        return f"TianQin(years={self.years})"

    @property
    def caveat(self):
        """The foreground's factor-of-3 uncertainty (see the class
        docstring), when the foreground is included."""
        if self.years is None:
            return None
        return ("galactic foreground uncertain by a factor ~3 (whether Huang et al. 2020's fit includes the "
                "10/3 sky average is unsettled; years=0 leaves it out)")

    @property
    def f_star(self):
        return SPEED_OF_LIGHT / (2.0 * math.pi * self.ARM_LENGTH)

    def instrument_psd(self, f):
        """(10/3) S_N(f), Hz^-1 (no range applied)."""
        s_n = (
            (4.0 * self.S_A / (2.0 * math.pi * f) ** 4 * (1.0 + 1e-4 / f) + self.S_X)
            * (1.0 + 0.6 * (f / self.f_star) ** 2)
            / self.ARM_LENGTH**2
        )
        return (10.0 / 3.0) * s_n

    def foreground_psd(self, f):
        """(10/3) S_c(f), Hz^-1 (zero for years=None; no range applied;
        continued along its log-log tangent beyond 0.1 mHz - 1 Hz)."""
        f = np.asarray(f, dtype=np.float64)
        if self.years is None:
            return np.zeros_like(f)
        x = np.log10(f / 1e-3)
        log10_asd = _log_polynomial(x, self._foreground, -1.0, 3.0)
        return (10.0 / 3.0) * 10.0 ** (2.0 * log10_asd)

    def _psd(self, f):
        return self.instrument_psd(f) + self.foreground_psd(f)

    def response(self, f):
        """R(f) = (3/10) / (1 + 0.6 (f/f*)^2), the two-channel response
        implied by eq. 13 with the 10/3 (dimensionless)."""
        f = np.asarray(f, dtype=np.float64)
        return 0.3 / (1.0 + 0.6 * (f / self.f_star) ** 2)


class Taiji(NoiseCurve):
    """Taiji (arm length L = 3 x 10^9 m; Ruan et al. 2020, IJMPA 35
    2050075), with the galactic foreground of Liu, Ruan & Guo (2023, PRD
    107 064021).

    Instrument: the two-channel sky-averaged construction of Robson,
    Cornish & Liu (2019) eq. 1 with Taiji's arm length and noise budget::

        S_n(f) = 10/(3 L^2) [P_OMS + 2 (1 + cos^2(f/f*)) P_acc / (2 pi f)^4]
                 (1 + 0.6 (f/f*)^2) + S_c(f),   f* = c/(2 pi L),
        P_OMS = (8 pm)^2 (1 + (2 mHz/f)^4) Hz^-1,
        P_acc = (3 fm s^-2)^2 (1 + (0.4 mHz/f)^2) (1 + (f/8 mHz)^4) Hz^-1.

    Already the package's convention: no conversion factor.

    Galactic foreground (Liu, Ruan & Guo 2023, eq. 6 and Table I, fitted
    for T = 0.5, 1, 2, 4 years over 0.1 - 10 mHz; ``years`` default 4; any
    time from 0.5 to 4 years, the coefficients interpolated linearly in
    ln T between the neighbouring fits, see ``phenomd.noise._foreground``;
    None or 0: no foreground)::

        S_c(f) = exp(sum_{i=0..5} a_i [ln(f / 1 mHz)]^i) Hz^-1,

    in the units of Robson et al.'s S_c (two-channel sensitivity; at 1 mHz
    it lies within 20 % of LISA's for the same observation time, as the
    foreground of one galaxy should).  Above 10 mHz the fit is continued
    along its log-log tangent at 10 mHz (there it is 1e-4 of the instrument
    noise and falls; the paper gives no values beyond its band), so that
    S_n stays smooth.  The coefficients were read from a public
    transcription of Table I (the paper's full text was not at hand when this was written).

    Range: 0.1 mHz - 1 Hz (Taiji's band; h_n = +inf outside, counted).
    """

    name = "taiji"
    f_min = 1e-4
    f_max = 1.0
    ARM_LENGTH = 3e9  # m
    OMS = 8e-12  # m Hz^-1/2
    ACC = 3e-15  # m s^-2 Hz^-1/2
    FOREGROUND_YEARS = (0.5, 1.0, 2.0, 4.0)
    # a_0 .. a_5 per observation time (Liu, Ruan & Guo 2023, Table I).
    FOREGROUND = {
        0.5: (-85.3498, -2.64899, -0.0699707, -0.478447, -0.334821, 0.0658353),
        1.0: (-85.4336, -2.46276, -0.183175, -0.884147, -0.427176, 0.128666),
        2.0: (-85.3919, -2.69735, -0.749294, -1.15302, -0.302761, 0.175521),
        4.0: (-85.5448, -3.23671, -1.64187, -1.14711, 0.0325887, 0.187854),
    }

    def __init__(self, years=DEFAULT_YEARS):
        self.years = observation_years(years)
        if self.years is not None:
            self._foreground = interpolated(self.FOREGROUND, self.years, "Taiji (Liu, Ruan & Guo 2023)")

    def __repr__(self):
        return f"Taiji(years={self.years})"

    @property
    def f_star(self):
        return SPEED_OF_LIGHT / (2.0 * math.pi * self.ARM_LENGTH)

    def instrument_psd(self, f):
        """Instrument S_n(f), Hz^-1 (no range applied)."""
        x = f / self.f_star
        p_oms = self.OMS**2 * (1.0 + (2e-3 / f) ** 4)
        p_acc = self.ACC**2 * (1.0 + (0.4e-3 / f) ** 2) * (1.0 + (f / 8e-3) ** 4)
        p_n = (p_oms + 2.0 * (1.0 + np.cos(x) ** 2) * p_acc / (2.0 * math.pi * f) ** 4) / self.ARM_LENGTH**2
        return (10.0 / 3.0) * p_n * (1.0 + 0.6 * x**2)

    def foreground_psd(self, f):
        """S_c(f), Hz^-1 (zero for years=None; no range applied)."""
        f = np.asarray(f, dtype=np.float64)
        if self.years is None:
            return np.zeros_like(f)
        y = np.log(f / 1e-3)
        return np.exp(_log_polynomial(y, self._foreground, math.log(0.1), math.log(10.0)))

    def _psd(self, f):
        return self.instrument_psd(f) + self.foreground_psd(f)

    def response(self, f):
        """R(f) = (3/10) / (1 + 0.6 (f/f*)^2) (Robson et al. eq. 9 for
        Taiji's arm length; dimensionless)."""
        f = np.asarray(f, dtype=np.float64)
        return 0.3 / (1.0 + 0.6 * (f / self.f_star) ** 2)

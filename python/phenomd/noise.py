"""Detector noise as a characteristic strain h_n(f) = sqrt(f S_n(f)).

The library computes no noise: these curves are put on each binary's grid
by the host.
"""

from pathlib import Path

import numpy as np

# Galactic confusion-noise fit of Robson, Cornish & Liu (2019), eq. 14 and
# Table 1: (alpha, beta, kappa, gamma, f_k) per observation time in years.
# The fits for different times cross, so a longer observation does not lower
# the confusion noise at every frequency.
CONFUSION_FITS = {
    0.5: (0.133, 243.0, 482.0, 917.0, 2.58e-3),
    1.0: (0.171, 292.0, 1020.0, 1680.0, 2.15e-3),
    2.0: (0.165, 299.0, 611.0, 1340.0, 1.73e-3),
    4.0: (0.138, -221.0, 521.0, 1680.0, 1.13e-3),
}
LISA_ARM = 2.5e9       # m
LISA_F_STAR = 19.09e-3  # Hz, c / (2 pi L)


def lisa_psd(f, years=4.0, confusion=True):
    """Sky-averaged LISA sensitivity S_n(f) in 1/Hz of Robson, Cornish & Liu
    (2019), eq. 1, with the approximate transfer function
    R(f) = 3/10 / (1 + 0.6 (f/f*)^2) (their eq. 9), plus the galactic
    confusion noise S_c of eq. 14 for 0.5, 1, 2 or 4 years."""
    f = np.asarray(f, dtype=np.float64)
    p_oms = (1.5e-11) ** 2 * (1.0 + (2e-3 / f) ** 4)
    p_acc = (3e-15) ** 2 * (1.0 + (0.4e-3 / f) ** 2) * (1.0 + (f / 8e-3) ** 4)
    x = f / LISA_F_STAR
    s_n = (10.0 / (3.0 * LISA_ARM**2)
           * (p_oms + 2.0 * (1.0 + np.cos(x) ** 2) * p_acc / (2 * np.pi * f) ** 4)
           * (1.0 + 0.6 * x * x))
    if confusion:
        try:
            alpha, beta, kappa, gamma, f_k = CONFUSION_FITS[float(years)]
        except KeyError:
            raise ValueError(f"years: confusion noise is fitted for "
                             f"{sorted(CONFUSION_FITS)}, not {years!r}") from None
        # In logarithms, with 1 + tanh(x) = 2 / (1 + exp(-2x)), so that the
        # exponential growth of the oscillating term never meets the
        # vanishing knee factor as inf * 0 at high frequency.
        log_s_c = (np.log(9e-45) - (7.0 / 3.0) * np.log(f)
                   - f**alpha + beta * f * np.sin(kappa * f)
                   + np.log(2.0) - np.logaddexp(0.0, -2.0 * gamma * (f_k - f)))
        s_c = np.exp(log_s_c)
        s_n = s_n + s_c
    return s_n


def lisa(f, years=4.0, confusion=True):
    """LISA noise characteristic strain h_n(f) = sqrt(f S_n(f))."""
    f = np.asarray(f, dtype=np.float64)
    return np.sqrt(f * lisa_psd(f, years, confusion))


class NoiseCurve:
    """A tabulated noise curve, interpolated in log-log and never
    extrapolated: frequencies outside the table get h_n = inf, so they add
    nothing to the SNR.  `outside` holds how many points of the last
    evaluation fell outside."""

    def __init__(self, f, hn, source="<array>"):
        self.f = np.asarray(f, dtype=np.float64)
        self.hn = np.asarray(hn, dtype=np.float64)
        self.source = source
        self.outside = 0

    def __call__(self, f):
        f = np.asarray(f, dtype=np.float64)
        lf = np.log(np.where(f > 0, f, np.nan))
        inside = (f >= self.f[0]) & (f <= self.f[-1])
        out = np.full(f.shape, np.inf)
        out[inside] = np.exp(np.interp(lf[inside], np.log(self.f),
                                       np.log(self.hn)))
        self.outside = int(np.count_nonzero(~inside))
        return out


def from_file(path, kind):
    """Noise curve from a two-column text file (frequency in Hz, then the
    value named by kind): "asd" (sqrt(S_n), 1/sqrt(Hz)), "psd" (S_n, 1/Hz) or
    "hn" (characteristic strain).  Lines starting with # are comments."""
    if kind not in ("asd", "psd", "hn"):
        raise ValueError(f"kind: must be 'asd', 'psd' or 'hn', not {kind!r}")
    path = Path(path)
    fs, vs = [], []
    with open(path) as fh:
        for lineno, line in enumerate(fh, 1):
            text = line.split("#", 1)[0].strip()
            if not text:
                continue
            cols = text.replace(",", " ").split()
            try:
                if len(cols) != 2:
                    raise ValueError
                f, v = float(cols[0]), float(cols[1])
            except ValueError:
                raise ValueError(f"{path}:{lineno}: expected two numbers, got "
                                 f"{line.strip()!r}") from None
            if not (np.isfinite(f) and np.isfinite(v)):
                raise ValueError(f"{path}:{lineno}: non-finite value")
            if f <= 0 or v <= 0:
                raise ValueError(f"{path}:{lineno}: frequency and value must be "
                                 "positive")
            if fs and f <= fs[-1]:
                raise ValueError(f"{path}:{lineno}: frequencies must be strictly "
                                 "increasing")
            fs.append(f)
            vs.append(v)
    if len(fs) < 2:
        raise ValueError(f"{path}: needs at least two points, found {len(fs)}")
    f = np.array(fs)
    v = np.array(vs)
    hn = {"asd": np.sqrt(f) * v, "psd": np.sqrt(f * v), "hn": v}[kind]
    return NoiseCurve(f, hn, str(path))

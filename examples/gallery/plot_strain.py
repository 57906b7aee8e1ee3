"""
Multiband strain: binaries against every detector's noise
=========================================================

The sky-, polarisation- and inclination-averaged characteristic strain
h_c of three binaries over their last 4 years, against the noise
characteristic strain h_n of every built-in detector
(``phenomd.noise.names()``, each with its 4-year foreground where it has
one, each drawn only within its range).  The lightest binary, like the
first one LIGO detected (36 + 29 solar masses at z = 0.09), sweeps from
the space detectors' band up to the kilohertz band where it merges; the
heavy ones merge inside the space band.  Circles mark where the inspiral
ends and squares where the ringdown begins; the legend's SNRs are against
LISA.
"""

import matplotlib.pyplot as plt
import numpy as np

import phenomd
import phenomd.plotting

m1 = np.array([36.0, 6e5, 3e7])
m2 = np.array([29.0, 4e5, 1e7])
spin1 = np.array([0.3, 0.5, 0.2])
spin2 = np.array([-0.4, 0.2, 0.1])
z = np.array([0.09, 2.0, 1.0])
t_start = 4.0


def curve(name):
    """The curve with its 4-year foreground, or without one where it has none."""
    try:
        return phenomd.noise.curve(name, years=4)
    except phenomd.InputError:
        return phenomd.noise.curve(name)


curves = {name: curve(name) for name in phenomd.noise.names()}
amp = phenomd.amplitude(m1, m2, spin1, spin2, None, z, t_start)
snr = phenomd.binary_snr(m1, m2, spin1, spin2, None, z, t_start, noise=curves["lisa"])

fig = phenomd.plotting.figure("column", aspect=1.0)
ax = fig.add_subplot()
phenomd.plotting.draw_strain(
    ax, amp, snr, ["stellar-mass", "massive", "supermassive"], curves,
    params=dict(m1=m1, m2=m2, spin1=spin1, spin2=spin2, t_start=np.full(3, t_start)),
    snr_against="lisa",
)
plt.show()

"""
Strain: binaries against several detectors' noise
=================================================

The sky-, polarisation- and inclination-averaged characteristic strain
h_c of three binaries over their last 4 years, against the noise
characteristic strain h_n of LISA, TianQin and Taiji (each drawn only
within its range).  Circles mark where the inspiral ends and squares where
the ringdown begins; the legend's SNRs are against LISA.
"""

import matplotlib.pyplot as plt
import numpy as np

import phenomd
import phenomd.plotting

m1 = np.array([6e5, 3e6, 3e7])
m2 = np.array([4e5, 1e6, 1e7])
spin1 = np.array([0.5, 0.8, 0.2])
spin2 = np.array([0.2, 0.6, 0.1])
z = np.array([2.0, 3.0, 1.0])
t_start = 4.0

curves = {name: phenomd.noise.curve(name, years=4) for name in ("lisa", "tianqin", "taiji")}
amp = phenomd.amplitude(m1, m2, spin1, spin2, None, z, t_start)
snr = phenomd.binary_snr(m1, m2, spin1, spin2, None, z, t_start, noise=curves["lisa"])

fig, ax = plt.subplots(figsize=(7.0, 5.0))
phenomd.plotting.draw_strain(
    ax, amp, snr, ["A", "B", "C"], curves,
    params=dict(m1=m1, m2=m2, spin1=spin1, spin2=spin2, t_start=np.full(3, t_start)),
    snr_against="lisa",
)
fig.tight_layout()
plt.show()

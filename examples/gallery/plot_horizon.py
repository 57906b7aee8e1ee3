"""
Horizon: the redshift at which binaries reach SNR 10
====================================================

For each source-frame total mass, the redshift (and, on the right axis, the
luminosity distance, Planck18) at which the sky-, polarisation- and
inclination-averaged SNR of a q = 0.2, spin 0.8 binary observed for its last
4 years equals 10, for the space detectors with their 4-year foregrounds.
"""

import matplotlib.pyplot as plt
import numpy as np

import phenomd
import phenomd.plotting

masses = np.geomspace(1e3, 1e10, 15)
horizons = {
    name: phenomd.horizon(masses, 0.2, 0.8, 0.8, snr=10.0, noise=phenomd.noise.curve(name, years=4))
    for name in ("lisa", "tianqin", "taiji")
}

fig = phenomd.plotting.figure("column")
ax = fig.add_subplot()
phenomd.plotting.draw_horizon(ax, horizons)
plt.show()

"""
Ratio: how much more SNR one detector gives than another
========================================================

SNR against Taiji divided by the SNR against LISA (each with its 4-year
foreground) over total mass and redshift, for the same binaries (q = 0.2,
spins 0.8, last 4 years).  Ratios above 1 (red) are where Taiji sees the
binary louder.  The two grids must share their axes.
"""

import matplotlib.pyplot as plt

import phenomd
import phenomd.plotting

axes = dict(x=("mass", 1e3, 1e10, 29, "log"), y=("redshift", 1e-2, 20.0, 15, "log"),
            fixed={"q": 0.2, "spin": 0.8, "t_start": 4.0})
taiji = phenomd.waterfall(**axes, noise=phenomd.noise.curve("taiji", years=4))
lisa = phenomd.waterfall(**axes, noise=phenomd.noise.curve("lisa", years=4))

fig = phenomd.plotting.figure("column")
ax = fig.add_subplot()
phenomd.plotting.draw_ratio(ax, taiji, lisa, "Taiji", "LISA")
plt.show()

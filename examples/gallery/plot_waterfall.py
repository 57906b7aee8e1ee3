"""
Waterfall: SNR over total mass and redshift
===========================================

The sky-, polarisation- and inclination-averaged SNR of binaries with mass
ratio q = 0.2 and spins 0.8, observed for the last 4 years before merger,
over a grid of source-frame total mass and redshift, against LISA with its
4-year galactic foreground.  The whole grid is one batch
(``phenomd.waterfall``); ``WaterfallGrid.draw`` fills the SNR contours.
"""

import matplotlib.pyplot as plt

import phenomd
import phenomd.plotting

grid = phenomd.waterfall(
    x=("mass", 1e3, 1e10, 29, "log"),
    y=("redshift", 1e-2, 20.0, 21, "log"),
    fixed={"q": 0.2, "spin": 0.8, "t_start": 4.0},
    noise=phenomd.noise.curve("lisa", years=4),
)

fig = phenomd.plotting.figure("column")
ax = fig.add_subplot()
grid.draw(ax)
plt.show()

# %%
# The grid's SNRs are ``grid.snr`` (rows along redshift); ``grid.columns()``
# gives them as a table, as ``phenomd waterfall --table`` writes it.
print(grid.snr.shape, f"highest SNR {grid.snr.max():.3g}")

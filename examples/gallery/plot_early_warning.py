"""
Early warning: SNR accumulated before merger
============================================

The sky-, polarisation- and inclination-averaged SNR accumulated in LISA
(4-year galactic foreground) from 4 years before merger up to each time
before merger (``phenomd.accumulated_snr``), for equal-mass binaries of
10⁵ and 10⁶ M☉ at redshifts 1 and 3; the dots are the times at which the
accumulated SNR reaches 10 (``phenomd.detection_time``).
"""

import matplotlib.pyplot as plt
import numpy as np

import phenomd
import phenomd.plotting
from phenomd._figure_style import legend_below, line_style

total = np.array([1e5, 1e5, 1e6, 1e6])
z = np.array([1.0, 3.0, 1.0, 3.0])
days = np.geomspace(1e3, 1e-2, 200)  # time before merger, days
acc = phenomd.accumulated_snr(total / 2, total / 2, 0.0, 0.0, None, z, 4.0, days / 365.25)
det = phenomd.detection_time(total / 2, total / 2, 0.0, 0.0, None, z, 4.0, snr=10.0)

fig = phenomd.plotting.figure("column")
ax = fig.add_subplot()
handles = []
for i in range(total.size):
    colour, style = line_style(i)
    (line,) = ax.plot(days, acc.snr[i], color=colour, ls=style,
                      label=f"{phenomd.plotting.format_mass(total[i])}, z = {z[i]:g}")
    ax.plot(det.t_detect[i] * 365.25, 10.0, "o", color=colour, ms=4)
    handles.append(line)
ax.axhline(10.0, color="0.4", lw=0.8, ls=":")
ax.set_xscale("log")
ax.set_yscale("log")
ax.invert_xaxis()
ax.set_xlabel("time before merger (days)")
ax.set_ylabel("accumulated SNR")
ax.set_title("SNR accumulated in LISA; dots: SNR 10 reached", fontsize=8)
legend_below(ax, handles, fontsize=7)
plt.show()

# %%
# The detection times at SNR 10, in days before merger:
print(np.round(det.t_detect * 365.25, 2))

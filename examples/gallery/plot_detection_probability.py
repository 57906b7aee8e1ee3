"""
Detection probability against redshift
======================================

The fraction of sky positions, polarisations and inclinations for which a
binary's SNR exceeds 8 (``binary_snr(..., threshold=8)``, which applies
``phenomd.detection_probability`` to the averaged SNR), for a
GW150914-like binary (36 + 29 M☉, spins 0) and a 200 + 200 M☉ one, in
Advanced LIGO (one L-shaped interferometer) and the Einstein Telescope
(ET-B, three 60° interferometers).  Each band starts where the binary
enters the curve's range (``t_start="band"``).  Distances from redshift
with Planck18.
"""

import matplotlib.pyplot as plt
import numpy as np

import phenomd
import phenomd.plotting
from phenomd._figure_style import legend_below, line_style

z = np.geomspace(1e-2, 20.0, 60)
fig = phenomd.plotting.figure("column")
ax = fig.add_subplot()
handles = []
cases = [((36.0, 29.0), "aligo"), ((36.0, 29.0), "et"), ((200.0, 200.0), "aligo"), ((200.0, 200.0), "et")]
for i, ((m1, m2), curve) in enumerate(cases):
    r = phenomd.binary_snr(m1, m2, 0.0, 0.0, None, z, "band", noise=curve, threshold=8.0)
    colour, style = line_style(i)
    (line,) = ax.plot(z, r.p_det, color=colour, ls=style,
                      label=f"{phenomd.plotting.format_mass(m1, m2)}, {curve}")
    handles.append(line)
ax.set_xscale("log")
ax.set_xlabel("redshift z")
ax.set_ylabel(r"$p_\mathrm{det}$ (SNR > 8)")
ax.set_title("fraction of orientations detected", fontsize=8)
legend_below(ax, handles, fontsize=7)
plt.show()

# %%
# The averaged SNR at which half of the orientations are detected, for one
# L-shaped interferometer (the inverse of ``detection_probability``):
print(f"{phenomd.required_snr(0.5, 8.0, 'aligo'):.3f}")

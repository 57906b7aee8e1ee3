"""The early-warning figures: the SNR accumulated against time to merger
for a few binaries, and the detection time over total mass and redshift.

Time runs toward merger from left to right on a logarithmic axis of the
time remaining (observer frame), ticked at an hour, a day, a week, a month
(a twelfth of a Julian year) and a year.  Colours and line styles are
``_figure_style``'s (Okabe-Ito, distinguishable in greyscale)."""

from __future__ import annotations

import numpy as np

from . import _figure_style as fs
from .early_warning import DURATION_UNITS

_YEAR = DURATION_UNITS["yr"]
#: Tick times (years) and their labels.
TIME_TICKS = [(1e-3 / _YEAR, "1ms"), (1e-2 / _YEAR, "10ms"), (0.1 / _YEAR, "0.1s"), (1.0 / _YEAR, "1s"),
              (10.0 / _YEAR, "10s")]
TIME_TICKS += [(DURATION_UNITS[u] / _YEAR, f"1{u}") for u in ("min", "h", "d", "w", "mo", "yr")]
TIME_TICKS += [(10.0, "10yr"), (100.0, "100yr")]


def _time_axis(axis, low, high):
    """Millisecond to year ticks (1ms ... 1s, 1min, 1h, 1d, 1w, 1mo, 1yr ...) on a log time axis spanning
    [low, high] years."""
    from matplotlib.ticker import FixedLocator, NullFormatter

    ticks = [(t, s) for t, s in TIME_TICKS if low <= t <= high]
    axis.set_major_locator(FixedLocator([t for t, _ in ticks]))
    axis.set_ticklabels([s for _, s in ticks])
    axis.set_minor_formatter(NullFormatter())


def accumulation_curves(res_times, snr, *, threshold, t_detect, labels, ax, fontsize=8, convention=""):
    """Draw accumulated SNR against time to merger.

    Parameters
    ----------
    res_times : ndarray
        (k,) times before merger, years (descending: toward merger).
    snr : ndarray
        (m, k) accumulated SNR of each drawn binary at those times.
    threshold : float
        Drawn as a horizontal dashed line.
    t_detect : ndarray
        (m,) detection times (NaN: never), marked on each curve.
    labels : list of str
    ax : matplotlib Axes
    convention : str
        The SNR's averaging (unused on the axes: the caller's title or
        caption states it).
    """
    from matplotlib.lines import Line2D

    handles = []
    for i in range(snr.shape[0]):
        colour, style = fs.line_style(i)
        y = np.where(snr[i] > 0, snr[i], np.nan)
        ax.plot(res_times, y, color=colour, linestyle=style, lw=1.3)
        if np.isfinite(t_detect[i]):
            ax.plot([t_detect[i]], [threshold], marker="o", ms=4, color=colour, zorder=5)
        handles.append(Line2D([], [], color=colour, linestyle=style, lw=1.3, label=labels[i]))
    ax.axhline(threshold, color="k", lw=0.9, ls=(0, (4, 2)))
    ax.set_xscale("log")
    ax.set_yscale("log")
    low, high = float(np.min(res_times)), float(np.max(res_times))
    ax.set_xlim(high, low)  # toward merger to the right
    _time_axis(ax.xaxis, low, high)
    from matplotlib.ticker import NullFormatter

    ax.yaxis.set_minor_formatter(NullFormatter())
    finite = snr[np.isfinite(snr) & (snr > 0)]
    if finite.size:
        ax.set_ylim(max(finite.min(), threshold * 1e-3), finite.max() * 2)
    ax.text(0.01, threshold, f" SNR {fs.format_number(threshold)}", transform=ax.get_yaxis_transform(),
            va="bottom", ha="left", fontsize=max(fs.MIN_FONT, fontsize - 1))
    ax.set_xlabel("time to merger (observer frame)")
    ax.set_ylabel("accumulated SNR")
    fs.style_axes(ax, fontsize)
    ax.grid(True, which="major", lw=0.3, alpha=0.5)
    return handles


NEVER_COLOUR = 1.0 / 3.0  # the "Greys" colour map's value for cells that never reach the threshold


def detection_map(ax, mass, redshift, t_detect, *, fontsize=8, cmap="viridis", title=None):
    """Detection time over total mass (x) and redshift (y), as filled
    colours of log10 t_detect with labelled contours at a day, a week and
    a month; cells never reaching the threshold grey.

    Parameters
    ----------
    mass, redshift : ndarray
        (nm,) and (nz,) axis values (source-frame total mass in M_sun,
        redshift).
    t_detect : ndarray
        (nz, nm) years before merger; NaN where never.
    """
    from matplotlib.colors import LogNorm
    from matplotlib.patches import Patch

    fig = ax.figure
    t = np.where(np.isfinite(t_detect) & (t_detect > 0), t_detect, np.nan)
    lo = np.nanmin(t) if np.isfinite(t).any() else 1e-4
    hi = np.nanmax(t) if np.isfinite(t).any() else 1.0
    lo = min(lo, DURATION_UNITS["h"] / _YEAR)
    mesh = ax.pcolormesh(mass, redshift, t, shading="nearest", cmap=cmap, norm=LogNorm(lo, hi))
    never = ~np.isfinite(t)
    if never.any():
        ax.pcolormesh(mass, redshift, np.where(never, NEVER_COLOUR, np.nan), shading="nearest", cmap="Greys",
                      vmin=0, vmax=1)
    levels = [DURATION_UNITS[u] / _YEAR for u in ("d", "w", "mo")]
    names = {levels[0]: "1d", levels[1]: "1w", levels[2]: "1mo"}
    if np.isfinite(t).sum() > 3:
        cs = ax.contour(mass, redshift, np.where(never, 1e-9, t), levels=levels, colors="w", linewidths=1.0,
                        linestyles=["-", "--", ":"])
        ax.clabel(cs, fmt=names, fontsize=max(fs.MIN_FONT, fontsize - 1))
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel(r"total mass (source frame) [$M_\odot$]")
    ax.set_ylabel("redshift")
    cb = fig.colorbar(mesh, ax=ax)
    _time_axis(cb.ax.yaxis, lo, hi)
    cb.set_label("detection time", fontsize=fontsize)
    cb.ax.tick_params(labelsize=max(fs.MIN_FONT, fontsize - 1))
    fs.style_axes(ax, fontsize)
    if title:
        lines = [fs.fit_text(fig, line, 0.95 * fig.bbox.width, fontsize) for line in title.split("\n")]
        ax.set_title("\n".join(lines), fontsize=fontsize)
    from matplotlib import colormaps

    grey = colormaps["Greys"](NEVER_COLOUR)
    from matplotlib.lines import Line2D

    handles = [Line2D([], [], color="0.3", lw=1.0, ls=ls, label=f"t_detect = {names[v]}")
               for v, ls in zip(levels, ("-", "--", ":"))]
    if never.any():
        handles.append(Patch(facecolor=grey, label="never reaches the threshold"))
    return mesh, handles

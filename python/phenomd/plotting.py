"""Figures drawn onto a given matplotlib Axes, so that they can be composed.

* ``draw_waterfall(ax, grid)``: SNR over two parameters, filled contours of
  log SNR with lines at 10, 100, 1000, ...; cells whose band lies outside
  the noise curve's range are grey and hatched, distinct from SNR < 1
  (white).
* ``draw_ratio(ax, grid_a, grid_b, label_a, label_b)``: SNR_A / SNR_B over
  the same grid, a diverging colour map centred on 1.
* ``draw_horizon(ax, {label: HorizonResult})``: horizon redshift against
  total mass, one line per result, log axes, luminosity distance on the
  right.
* ``draw_strain(ax, amplitude_result, snrs, labels, noise_curves)``: h_c of
  sources against noise curves, each curve drawn only where it is valid.
* ``figure(size)``: a Figure one journal column ("column", 3.4 in), one
  page ("page", 7 in) or W x H inches wide, to draw these onto.

Each function returns a dict of the artists it made.  Every figure says
which SNR or strain it shows and its averaging convention (in the title,
a colour-bar label or an axis label).  At print size every text is 7 pt or
larger, legends sit below the axes (off the data), curves differ in colour
(Okabe-Ito, safe under colour-vision deficiencies) and line style, and
numbers read as 6×10⁵, not 6e+05.
"""

from __future__ import annotations

import math

import numpy as np

from . import _figure_style as fs
from ._conventions import PHASE_NAMES, CALIBRATED_MASS_RATIO, CALIBRATED_SPIN, convention_label
from ._figure_style import MIN_FONT, format_mass, format_number
from .horizon import noise_label

__all__ = ["draw_waterfall", "draw_ratio", "draw_horizon", "draw_strain", "source_label", "figure", "format_mass",
           "format_number", "MAX_LEGEND", "draw_p_det"]

# More sources than this are summarised by a colour bar, not listed.
MAX_LEGEND = 12
_OUTSIDE_STYLE = dict(facecolor="0.82", edgecolor="0.45", hatch="///", linewidth=0.0)
_EMPTY_STYLE = dict(facecolor="#f4d7d7", edgecolor="0.45", hatch="\\\\\\", linewidth=0.0)


def _edges(values, scale):
    """Cell edges around cell-centred values: midpoints, geometric on a log axis."""
    v = np.log(values) if scale == "log" else np.asarray(values, dtype=float)
    mid = 0.5 * (v[1:] + v[:-1])
    e = np.concatenate([[v[0] - (mid[0] - v[0])], mid, [v[-1] + (v[-1] - mid[-1])]])
    return np.exp(e) if scale == "log" else e


def _mask_cells(ax, grid, mask, style):
    """Fill the cells where ``mask`` is True, edge to edge, hatched."""
    from matplotlib.collections import PolyCollection

    xe = _edges(grid.x.values, grid.x.scale)
    ye = _edges(grid.y.values, grid.y.scale)
    rows, cols = np.nonzero(mask)
    boxes = [[(xe[c], ye[r]), (xe[c + 1], ye[r]), (xe[c + 1], ye[r + 1]), (xe[c], ye[r + 1])]
             for r, c in zip(rows, cols)]
    coll = PolyCollection(boxes, facecolors=style["facecolor"], edgecolors=style["edgecolor"],
                          hatch=style["hatch"], linewidths=0.0, zorder=2)
    ax.add_collection(coll)
    return coll


def _fill_blocked(values, blocked):
    """``values`` with blocked cells given their unblocked neighbours' mean,
    outward until all are filled, so that filled contours run up to the
    edge of the blocked cells drawn over them (not half a cell short)."""
    v = np.where(blocked, np.nan, values)
    todo = blocked.copy()
    while todo.any():
        padded = np.pad(v, 1, constant_values=np.nan)
        near = np.stack([padded[:-2, 1:-1], padded[2:, 1:-1], padded[1:-1, :-2], padded[1:-1, 2:]])
        count = np.isfinite(near).sum(axis=0)
        ready = todo & (count > 0)
        if not ready.any():
            break
        v[ready] = np.nansum(near, axis=0)[ready] / count[ready]
        todo &= ~ready
    return v


def _axes_of(ax, grid):
    ax.set_xscale(grid.x.scale)
    ax.set_yscale(grid.y.scale)
    ax.set_xlabel(grid.x.label)
    ax.set_ylabel(grid.y.label)
    ax.set_xlim(grid.x.values.min(), grid.x.values.max())
    ax.set_ylim(grid.y.values.min(), grid.y.values.max())


def _snr_levels(values):
    """Filled-contour levels (SNR values) for the finite ``values``.

    From 1 when any value lies below 1 (so that white means SNR < 1),
    else from the decade at or below the smallest value; up to the decade
    at or above the largest.  Steps per decade by the span: 1, 3 (more
    than four decades); 1, 2, 5 (three or four); 1, 1.5, 2, 3, 5, 7 (two);
    1, 1.2, 1.5, 2, 2.5, 3, 4, 5, 6, 8 (one)."""
    finite = values[np.isfinite(values)]
    top = max(float(finite.max()), 10.0) if finite.size else 10.0
    low = 0 if not finite.size or (finite < 1).any() else math.floor(math.log10(finite.min()))
    high = max(low + 1, math.ceil(math.log10(top)))
    span = high - low
    steps = ((1.0, 3.0) if span > 4 else (1.0, 2.0, 5.0) if span > 2 else (1.0, 1.5, 2.0, 3.0, 5.0, 7.0)
             if span == 2 else (1.0, 1.2, 1.5, 2.0, 2.5, 3.0, 4.0, 5.0, 6.0, 8.0))
    decades = 10.0 ** np.arange(low, high)
    levels = np.concatenate([np.outer(decades, steps).ravel(), [10.0**high]])
    return levels, span


def _legend_patches(items):
    from matplotlib.patches import Patch

    return [Patch(label=label, **style) for label, style in items]


_wrap = fs.wrap


def figure(size="column", *, aspect=fs.DEFAULT_ASPECT, dpi=None):
    """A pyplot Figure of a journal's size, laid out tightly, to draw on.

    Parameters
    ----------
    size : {"column", "page"}, str "W,H" or (W, H)
        One column (3.4 in wide), one page (7 in), or width and height in
        inches.
    aspect : float
        Height over width for "column" and "page" (default 0.76).
    dpi : float, optional
        Resolution (default matplotlib's).

    Returns
    -------
    matplotlib.figure.Figure

    Raises
    ------
    InputError
        For a size that is none of these.

    Examples
    --------
    >>> import matplotlib; matplotlib.use("Agg")
    >>> from phenomd.plotting import figure
    >>> fig = figure("column")
    >>> [round(v, 2) for v in fig.get_size_inches()]
    [3.4, 2.58]
    """
    return fs.new_figure(size, aspect=aspect, dpi=dpi)


def _title(ax, text, fontsize):
    """A title wrapped after commas to fit 92 % of the figure's width."""
    fig = ax.figure
    return ax.set_title(fs.fit_text(fig, text, 0.92 * fig.bbox.width, fontsize), fontsize=fontsize)


def _colorbar_label(cb, text, fontsize):
    """A colour-bar label wrapped after commas to fit the bar's height."""
    fig = cb.ax.figure
    height = max(cb.ax.get_window_extent(fs.renderer_of(fig)).height, 0.4 * fig.bbox.height)
    cb.set_label(fs.fit_text(fig, text, 1.1 * height, fontsize, rotation=90), fontsize=fontsize)
    cb.ax.tick_params(labelsize=max(MIN_FONT, fontsize - 1))


def _fixed_text(grid):
    """The noise curve and the fixed parameters, numbers as 6×10⁵."""
    return grid.title(number=format_number, band=" (from the curve's lowest frequency)")


def _calibration_edge(ax, grid, **style):
    """The outline of the amplitude model's calibrated region in the plane
    of the grid's axes, at its exact values: mass ratio m1/m2 = 18 (q =
    1/18) and |spin| = 0.85 (Khan et al. 2016, PRD 93, 044007), not at a
    boundary between grid cells.  Sides that bound nothing on these axes
    lie beyond the view."""
    from matplotlib.patches import Rectangle

    bounds = []
    for axis in (grid.x, grid.y):
        lo, hi = float(axis.values.min()), float(axis.values.max())
        far_lo, far_hi = (lo / 10, hi * 10) if axis.scale == "log" else (lo - (hi - lo), hi + (hi - lo))
        if axis.name == "q":
            bounds.append((1.0 / CALIBRATED_MASS_RATIO, far_hi))
        elif axis.name in ("spin", "spin1", "spin2"):
            bounds.append((-CALIBRATED_SPIN, CALIBRATED_SPIN))
        else:
            bounds.append((far_lo, far_hi))
    (x0, x1), (y0, y1) = bounds
    edge = Rectangle((x0, y0), x1 - x0, y1 - y0, fill=False, zorder=3, **style)
    ax.add_patch(edge)
    return edge


def draw_waterfall(ax, grid, *, cmap="viridis", colorbar=True, title=True, lines=True, legend=True,
                   fontsize=8):
    """Draw a WaterfallGrid onto ``ax``.

    Filled contours of the SNR (``grid.snr``, its phase) on a log scale,
    e.g. in steps of 1, 3, 10, 30, ...; white where the SNR is below 1; labelled
    contour lines at 10, 100, 1000, ... (``lines``); cells whose whole
    band lies outside the noise curve's frequency range grey and hatched
    ("outside the noise curve's range": no SNR can be computed there,
    which is not the same as a weak signal); cells with an empty band
    (t_start below t_end, or a start past the model's last frequency)
    pink and hatched; a dotted line at the edge of the amplitude
    model's calibration, at its exact values (q = 1/18, |spin| 0.85; see
    ``_calibration_edge``).  Where the SNR
    spans few decades the levels start at the decade below its smallest
    value and step more finely (see ``_snr_levels``).  The colour bar names the SNR
    and its averaging convention; the title the noise curve and the fixed
    parameters; the legend lies below the axes, off the data.  Text is
    ``fontsize`` points, ticks and legend one less, never below 7.
    Returns a dict of the artists.
    """
    from matplotlib.cm import ScalarMappable
    from matplotlib.colors import Normalize
    from matplotlib.ticker import FixedLocator, FuncFormatter

    X, Y = np.meshgrid(grid.x.values, grid.y.values)
    snr = np.asarray(grid.snr, dtype=float)
    blocked = grid.outside | grid.inverted
    valid = np.where(blocked, np.nan, snr)
    top = float(np.nanmax(valid)) if np.isfinite(valid).any() else 10.0
    # Contours of log10 SNR: boundaries interpolated in the logarithm, as
    # the colours are spaced.  Values below the lowest level (SNR 1 where
    # any cell is below 1) stay unfilled, i.e. white.
    snr_levels, span = _snr_levels(valid)
    levels = np.log10(snr_levels)
    norm = Normalize(levels[0], levels[-1])
    with np.errstate(divide="ignore"):
        log_snr = np.log10(np.maximum(valid, 1e-3))
    artists = {}
    _axes_of(ax, grid)  # scales first: contour labels are placed in display space
    small = fs.style_axes(ax, fontsize)
    if (log_snr > levels[0]).any():
        artists["filled"] = ax.contourf(X, Y, _fill_blocked(log_snr, blocked), levels=levels, norm=norm, cmap=cmap,
                                        zorder=1)
        mappable = artists["filled"]
    else:
        mappable = ScalarMappable(norm=norm, cmap=cmap)
    if lines:
        bottom = float(np.nanmin(valid)) if np.isfinite(valid).any() else top
        line_levels = [float(k) for k in range(1, int(round(levels[-1])) + 1) if bottom < 10.0**k < top]
        if line_levels:
            artists["lines"] = ax.contour(X, Y, log_snr, levels=line_levels, colors="white", linewidths=0.8, zorder=3)
            artists["labels"] = ax.clabel(artists["lines"], fmt=lambda v: format_number(10**v), fontsize=small)
    legend_items = []
    if (~blocked & (snr < 1)).any():
        legend_items.append(("SNR < 1", dict(facecolor="white", edgecolor="0.45", linewidth=0.5)))
    if grid.outside.any():
        artists["outside"] = _mask_cells(ax, grid, grid.outside, _OUTSIDE_STYLE)
        legend_items.append(("outside the noise curve's range", _OUTSIDE_STYLE))
    if grid.inverted.any():
        artists["empty"] = _mask_cells(ax, grid, grid.inverted, _EMPTY_STYLE)
        legend_items.append(("empty band (start after its end)", _EMPTY_STYLE))
    handles = _legend_patches(legend_items)
    if grid.uncalibrated.any() and (~grid.uncalibrated).any():
        from matplotlib.lines import Line2D

        artists["uncalibrated"] = _calibration_edge(ax, grid, edgecolor="0.1", linewidth=1.2, linestyle=":")
        handles.append(Line2D([], [], color="0.1", lw=1.2, ls=":",
                              label=rf"edge of the model's calibration ($q$ = 1/{CALIBRATED_MASS_RATIO:g}, "
                                    rf"$|\chi|$ = {CALIBRATED_SPIN:g})"))
    if colorbar:
        if span > 2:
            ticks, fmt = np.arange(round(levels[0]), levels[-1] + 0.5), (lambda v, _: f"$10^{{{v:.0f}}}$")
        else:
            ticks, fmt = levels[::math.ceil(levels.size / 7)], (lambda v, _: format_number(10**v, 4))
        cb = ax.figure.colorbar(mappable, ax=ax, ticks=FixedLocator(ticks), format=FuncFormatter(fmt))
        below = "; white: SNR < 1" if (~blocked & (snr < 1)).any() else ""
        _colorbar_label(cb, grid.snr_label() + below, fontsize)
        artists["colorbar"] = cb
    if title:
        artists["title"] = _title(ax, _fixed_text(grid), fontsize)
    if legend and handles:
        artists["legend"] = fs.legend_below(ax, handles, fontsize=small)
    return artists


def _same_grid(a, b):
    for axis in ("x", "y"):
        pa, pb = getattr(a, axis), getattr(b, axis)
        if pa.name != pb.name or pa.values.shape != pb.values.shape or not np.allclose(pa.values, pb.values,
                                                                                         rtol=1e-12, atol=0):
            raise ValueError(f"the two grids differ along {axis}: {pa.name} ({pa.values.size} values) and "
                             f"{pb.name} ({pb.values.size} values); compute both over the same axes")
    if a.fixed != b.fixed:
        raise ValueError(f"the two grids have different fixed parameters: {a.fixed} and {b.fixed}")


# Boundaries of the ratio's colour bands: round factors, each band one
# colour, so that a 10 % and a factor-100 difference are both readable.
RATIO_STEPS = (1.05, 1.1, 1.2, 1.5, 2.0, 3.0, 5.0, 10.0, 30.0, 100.0, 1e3, 1e4, 1e5, 1e6)
# Factors labelled on the colour bar (and their inverses) besides the
# outermost edge, in order of preference; three a side at most.
RATIO_TICKS = (2.0, 10.0, 100.0, 1.2, 5.0, 1.1, 1.5, 1e3, 1e4, 1e5)
# The colour scale ends at the first step above this percentile of
# |log ratio| over the cells: a few cells at the edge of a curve's range,
# where one SNR tends to 0, must not stretch the scale over the rest.
RATIO_PERCENTILE = 98.0


def _ratio_format(v, _=None):
    """A log10 ratio as the ratio, in decimals: 0.5, 0.91, 1, 2, 1000, 10⁴."""
    if abs(v) < 1e-12:
        return "1"
    return format_number(10**v, 2)


def _ratio_ticks(chosen):
    """Colour-bar ticks (log10 ratios) for band edges ``chosen`` (log10 of
    the factors above 1): 1, the outermost edge and the first of
    ``RATIO_TICKS`` among the edges, three a side at most, mirrored below 1
    (e.g. 0.5, 0.67, 0.83, 1, 1.2, 1.5, 2)."""
    side = [chosen[-1]]
    for factor in RATIO_TICKS:
        t = next((c for c in chosen if abs(c - math.log10(factor)) < 1e-9), None)
        if len(side) < 3 and t is not None and t not in side:
            side.append(t)
    side.sort()
    return np.array([-t for t in side[::-1]] + [0.0] + side)


def draw_ratio(ax, grid_a, grid_b, label_a, label_b, *, cmap="RdBu_r", limit=None, colorbar=True, title=True,
               fontsize=8):
    """Draw SNR_A / SNR_B of two WaterfallGrids over the same axes.

    Colours: bands between round factors (1.05, 1.1, 1.2, 1.5, 2, 3, 5, 10,
    30, 100, 1e3, ...) and their inverses, on a diverging map whose white
    centre band holds ratio 1 (within 5 %); the bands run to the first
    factor at or above the 98th percentile of the ratio or its inverse
    over the grid's cells (or to ``limit``, a factor), and cells beyond
    take the end colours (the colour bar's arrows).  Colour-bar ticks are
    decimals (0.5, 1, 2).  A black line marks ratio 1, in the legend
    below the axes.  Cells where only one grid has an SNR (the other's band lies
    outside its curve's range, is empty, or has SNR 0) take that end's
    colour, hatched; cells where neither has one are grey and hatched.
    The colour bar names both curves and the SNR convention.  Raises
    ValueError if the grids do not share axes and fixed parameters.
    """
    import matplotlib
    from matplotlib.colors import BoundaryNorm
    from matplotlib.ticker import FuncFormatter

    _same_grid(grid_a, grid_b)
    what = "SNR" if grid_a.phase == "all" else f"{PHASE_NAMES[grid_a.phase]} SNR"
    a = np.asarray(grid_a.snr, dtype=float)
    b = np.asarray(grid_b.snr, dtype=float)
    has_a = ~(grid_a.outside | grid_a.inverted) & (a > 0)
    has_b = ~(grid_b.outside | grid_b.inverted) & (b > 0)
    undefined = ~(has_a & has_b)
    with np.errstate(divide="ignore", invalid="ignore"):
        r = np.where(undefined, np.nan, np.log10(a / b))
    spread = float(np.percentile(np.abs(r[np.isfinite(r)]), RATIO_PERCENTILE)) if np.isfinite(r).any() else 0.0
    top = abs(math.log10(float(limit))) if limit is not None else spread
    steps = [math.log10(s) for s in RATIO_STEPS]
    chosen = [t for t in steps if t < top] + [next((t for t in steps if t >= top), steps[-1])]
    chosen = chosen if len(chosen) >= 2 else steps[:2]
    levels = np.array([-t for t in chosen[::-1]] + chosen)
    lim = levels[-1]
    cm = matplotlib.colormaps[cmap] if isinstance(cmap, str) else cmap
    extend = "neither"
    if np.isfinite(r).any():
        extend = {(False, False): "neither", (True, False): "min", (False, True): "max", (True, True): "both"}[
            (bool(np.nanmin(r) < -lim), bool(np.nanmax(r) > lim))]
    norm = BoundaryNorm(levels, cm.N, extend=extend)
    X, Y = np.meshgrid(grid_a.x.values, grid_a.y.values)
    shown = _fill_blocked(r, undefined)
    artists = {}
    _axes_of(ax, grid_a)  # scales first: contour labels are placed in display space
    small = fs.style_axes(ax, fontsize)
    handles = []
    if np.isfinite(shown).any():
        from matplotlib.lines import Line2D

        artists["filled"] = ax.contourf(X, Y, shown, levels=levels, norm=norm, cmap=cm, extend=extend, zorder=1)
        mappable = artists["filled"]
        if np.nanmin(r) < 0 < np.nanmax(r):
            artists["unity"] = ax.contour(X, Y, r, levels=[0.0], colors="k", linewidths=1.0, zorder=3)
            handles.append(Line2D([], [], color="k", lw=1.0, label=f"{what} ratio = 1"))
    else:
        from matplotlib.cm import ScalarMappable

        mappable = ScalarMappable(norm=norm, cmap=cm)
    only_a, only_b, neither = has_a & ~has_b, has_b & ~has_a, ~has_a & ~has_b
    legend_items = []
    for key, mask, style, text in (
        ("only_a", only_a, dict(_OUTSIDE_STYLE, facecolor=cm(1.0)), f"SNR from {label_a} only"),
        ("only_b", only_b, dict(_OUTSIDE_STYLE, facecolor=cm(0.0)), f"SNR from {label_b} only"),
        ("neither", neither, _OUTSIDE_STYLE, "no SNR from either curve"),
    ):
        if mask.any():
            artists[key] = _mask_cells(ax, grid_a, mask, style)
            legend_items.append((text, style))
    handles += _legend_patches(legend_items)
    if grid_a.inclination == grid_b.inclination or str(grid_a.inclination) == str(grid_b.inclination):
        convention = grid_a.convention
    else:
        convention = f"{label_a}: {grid_a.convention}; {label_b}: {grid_b.convention}"
    if colorbar:
        cb = ax.figure.colorbar(mappable, ax=ax, ticks=_ratio_ticks(chosen), format=FuncFormatter(_ratio_format))
        cb.ax.minorticks_off()
        _colorbar_label(cb, f"{what} ratio {label_a} / {label_b} ({convention})", fontsize)
        artists["colorbar"] = cb
    if title:
        fixed = _fixed_text(grid_a).split("; ", 1)[-1]
        artists["title"] = _title(ax, f"{what} of {label_a} / {what} of {label_b}; {fixed}", fontsize)
    if handles:
        artists["legend"] = fs.legend_below(ax, handles, fontsize=small)
    return artists


def _distance_axis(ax, cosmology):
    """A right-hand axis in luminosity distance for a redshift y axis."""
    from ._cosmology import log_grid

    ln_z, ln_d = log_grid(cosmology)
    zs = np.exp(ln_z)

    def forward(z):
        z = np.asarray(z, dtype=float)
        with np.errstate(divide="ignore", invalid="ignore"):
            return np.exp(np.interp(np.log(np.clip(z, zs[0], zs[-1])), ln_z, ln_d))

    def inverse(d):
        d = np.asarray(d, dtype=float)
        with np.errstate(divide="ignore", invalid="ignore"):
            return np.exp(np.interp(np.log(np.clip(d, np.exp(ln_d[0]), np.exp(ln_d[-1]))), ln_d, ln_z))

    sec = ax.secondary_yaxis("right", functions=(forward, inverse))
    sec.set_ylabel("luminosity distance [Mpc]")
    return sec


def draw_horizon(ax, horizons, *, quantity="redshift", distance_axis=True, title=True, fontsize=8):
    """Draw horizons against source-frame total mass, log axes.

    ``horizons``: a HorizonResult or {label: HorizonResult} (e.g. one per
    noise curve).  ``quantity``: "redshift" (with the luminosity distance
    on a right-hand axis when ``distance_axis``) or "distance" (Mpc).
    Masses where the threshold is still exceeded at the largest redshift
    searched are upward triangles at that bound (the horizon lies
    beyond); masses where it is never reached are downward triangles at
    the bottom edge.  Each result's line has its own Okabe-Ito colour and
    line style, so that overlapping curves stay visible; the legend lies
    below the axes.  The title gives the SNR threshold, the phase and the
    averaging convention.  Returns a dict of the artists.
    """
    from matplotlib.lines import Line2D

    if not isinstance(horizons, dict):
        horizons = {getattr(horizons, "noise_name", "horizon"): horizons}
    if quantity not in ("redshift", "distance"):
        raise ValueError(f"quantity = {quantity!r}: 'redshift' or 'distance'")
    styles = [fs.line_style(i) for i in range(len(horizons))]
    sizes = np.linspace(7.0, 4.0, len(horizons)) if len(horizons) > 1 else [5.0]  # stacked bounds stay visible
    widths = np.linspace(2.0, 1.2, len(horizons)) if len(horizons) > 1 else [1.6]  # later lines thinner, on top
    artists = {"lines": [], "above": [], "below": []}
    bottom = ax.get_xaxis_transform()
    any_above = any_below = False
    for (colour, ls), size, lw, (label, h) in zip(styles, sizes, widths, horizons.items()):
        value = h.redshift if quantity == "redshift" else h.luminosity_distance
        ok = h.reached == "ok"
        shown = np.where(ok, value, np.nan)
        line, = ax.plot(h.mass, shown, color=colour, ls=ls, lw=lw, label=label,
                        marker="." if ok.sum() < 3 else None)
        artists["lines"].append(line)
        above = h.reached == "above"
        if above.any():
            any_above = True
            # At the bound searched (the horizon lies beyond it; no value).
            bound = np.asarray(h.redshift_bound, dtype=float)[above]
            if quantity == "distance":
                from ._cosmology import luminosity_distance

                bound = luminosity_distance(bound, getattr(h, "cosmology", None))
            artists["above"].append(ax.plot(h.mass[above], bound, ls="none", marker="^", ms=size,
                                            color=colour)[0])
        below = h.reached == "below"
        if below.any():
            any_below = True
            artists["below"].append(ax.plot(h.mass[below], np.full(below.sum(), 0.02), ls="none", marker="v",
                                            ms=size, color=colour, transform=bottom, clip_on=False)[0])
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel(r"total mass $M$, source frame [$M_\odot$]")
    ax.set_ylabel(r"horizon redshift $z_h$" if quantity == "redshift" else r"horizon luminosity distance [Mpc]")
    small = fs.style_axes(ax, fontsize)
    handles = list(artists["lines"])
    if any_above:
        handles.append(Line2D([], [], ls="none", marker="^", color="0.3", label="beyond the largest z searched"))
    if any_below:
        handles.append(Line2D([], [], ls="none", marker="v", color="0.3", label="not reached at the smallest z"))
    first = next(iter(horizons.values()))
    if distance_axis and quantity == "redshift":
        artists["distance_axis"] = sec = _distance_axis(ax, getattr(first, "cosmology", None))
        sec.tick_params(labelsize=small)
        sec.yaxis.label.set_fontsize(max(MIN_FONT, fontsize))
    if title:
        thresholds = {h.snr_threshold for h in horizons.values()}
        phases = {h.phase for h in horizons.values()}
        conventions = {h.convention for h in horizons.values()}
        thr = f"SNR {first.snr_threshold:g}" if len(thresholds) == 1 else "SNR threshold as labelled"
        phase = ("over the " + PHASE_NAMES[first.phase] if first.phase == "all" else "of the " + PHASE_NAMES[first.phase]) \
            if len(phases) == 1 else "of the phase as labelled"
        conv = first.convention if len(conventions) == 1 else "convention as labelled"
        q = np.unique(first.mass_ratio)
        s1, s2 = np.unique(first.spin1), np.unique(first.spin2)
        params = ""
        if q.size == 1 and s1.size == 1 and s2.size == 1:
            params = rf"; q = {q[0]:.3g}, $\chi_1$ = {s1[0]:.3g}, $\chi_2$ = {s2[0]:.3g}"
        detected = {(h.provenance or {}).get("p_det") for h in horizons.values()}
        if len(detected) == 1 and None not in detected:  # horizon(..., p_det=): a fraction detected
            artists["title"] = _title(ax, f"horizon: {detected.pop()}{params}", fontsize)
        else:
            artists["title"] = _title(ax, f"horizon: {thr} {phase} ({conv}){params}", fontsize)
    artists["legend"] = fs.legend_below(ax, handles, fontsize=small)
    return artists


def source_label(name, m1, m2, spin1, spin2, redshift, t_start, snr, t_end=None):
    """One legend entry: name, source-frame masses, spins, z, band start and SNR.

    Examples
    --------
    >>> from phenomd.plotting import source_label
    >>> source_label(None, 6e5, 4e5, 0.5, 0.2, 2.0, 4.0, 3342.0)
    '$6\\\\times10^{5}$ + $4\\\\times10^{5}$ $M_\\\\odot$, $\\\\chi$ = 0.5, 0.2, z = 2, 4 yr, SNR 3340'
    """
    band = f"{t_start:.3g} yr" if t_end is None or t_end <= 0 else f"{t_start:.3g}-{t_end:.3g} yr"
    head = f"{name}: " if name not in (None, "") else ""
    return (f"{head}{format_mass(m1, m2)}, $\\chi$ = {spin1:.2g}, {spin2:.2g}, z = {format_number(redshift)}, "
            f"{band}, SNR {format_number(snr)}")


def _noise_items(noise_curves):
    if noise_curves is None:
        return []
    if isinstance(noise_curves, dict):
        return list(noise_curves.items())
    if callable(noise_curves):
        noise_curves = [noise_curves]
    return [(noise_label(c), c) for c in noise_curves]


def draw_strain(ax, amplitude_result, snrs, labels, noise_curves, *, params=None, inclination="average",
                max_legend=MAX_LEGEND, cmap="viridis", colour_by="snr", boundaries=True, colorbar=True,
                title=True, snr_against=None, fontsize=8):
    """Draw sources' characteristic strain against noise curves.

    ``amplitude_result``: an AmplitudeResult of n sources (its ``hc`` is
    drawn as it is: compute it with the inclination you mean, the default
    being the sky-, polarisation- and inclination-averaged h_c, and say
    which with ``inclination`` for the axis label).  ``snrs``: (n,) SNRs
    (or a BinarySNR, whose ``snr_all`` is used); ``labels``: n names or
    None; ``params``: optional dict of (n,) arrays ``m1``, ``m2``,
    ``spin1``, ``spin2``, ``t_start`` (and ``t_end``) for the legend
    entries (``source_label``); ``noise_curves``: a curve, a list of
    curves or {label: curve}, each drawn only within its ``.range`` (and
    where it is finite), in black or grey with its own line style, the
    ends of its range marked by a bar ("end of a noise curve's range", so
    that the end of a tabulated or modelled range is not read as detector
    physics).  Up to ``max_legend`` sources are listed in the legend
    (below the axes), each in its own Okabe-Ito colour and line style,
    masses as 6×10⁵ M☉, with inspiral/merger (circle) and
    merger/ringdown (square) boundaries marked; more are summarised: coloured by SNR
    (``colour_by`` "snr") or total mass ("mass") with a colour bar, one
    legend entry for all of them.  ``snr_against``: the name of the curve
    the SNRs were computed against, put in the legend's title (say it when
    several curves are drawn).  Returns a dict of the artists.
    """
    import matplotlib
    from matplotlib.collections import LineCollection
    from matplotlib.colors import LogNorm
    from matplotlib.lines import Line2D

    freqs = np.asarray(amplitude_result.freqs, dtype=float)
    hc = np.asarray(amplitude_result.hc, dtype=float)
    if freqs.ndim == 1:
        freqs, hc = freqs[None, :], hc[None, :]
    n = freqs.shape[0]
    snr = np.asarray(getattr(snrs, "snr_all", snrs), dtype=float).reshape(-1)
    if snr.size != n:
        raise ValueError(f"{snr.size} SNRs for {n} sources")
    if labels is not None and len(labels) != n:
        raise ValueError(f"{len(labels)} labels for {n} sources")
    params = {k: np.broadcast_to(np.asarray(v, dtype=float), (n,)) for k, v in (params or {}).items()}
    z = np.asarray(amplitude_result.redshift, dtype=float)
    drawn = freqs[:, 0] > 1e-29  # rows with the empty-band sentinel have nothing to draw
    artists = {"sources": [], "noise": []}

    # Frequency span: the sources' bands and the curves' ranges.
    spans = [freqs[drawn].min(), freqs[drawn].max()] if drawn.any() else [1e-5, 1.0]
    items = _noise_items(noise_curves)
    for _, curve in items:
        if hasattr(curve, "range"):
            spans += list(curve.range)
    f_lo, f_hi = min(spans), max(spans)
    small = max(MIN_FONT, fontsize - 1)

    styles = ["-", "--", "-.", ":"]
    artists["range_ends"] = []
    for i, (label, curve) in enumerate(items):
        lo, hi = curve.range if hasattr(curve, "range") else (f_lo, f_hi)
        f = np.geomspace(max(lo, 1e-12), hi, 2000)
        h = np.asarray(curve(f), dtype=float)
        h = np.where(np.isfinite(h) & (h > 0), h, np.nan)
        colour = "k" if i < 4 else "0.45"
        line, = ax.plot(f, h, color=colour, ls=styles[i % 4], lw=1.3, label=f"noise: {label}", zorder=4)
        artists["noise"].append(line)
        if hasattr(curve, "range"):
            ends = np.flatnonzero(np.isfinite(h))
            if ends.size:
                k = [ends[0], ends[-1]]
                artists["range_ends"].append(ax.plot(f[k], h[k], ls="none", marker="|", ms=7, mew=1.3,
                                                     color=colour, zorder=5)[0])

    listed = n <= max_legend
    if listed:
        cycle = [fs.line_style(i) for i in range(n)]
        for i in range(n):
            if not drawn[i]:
                continue
            name = labels[i] if labels is not None else None
            if params and all(k in params for k in ("m1", "m2", "spin1", "spin2", "t_start")):
                text = source_label(name, params["m1"][i], params["m2"][i], params["spin1"][i], params["spin2"][i],
                                    z[i], params["t_start"][i], snr[i],
                                    params["t_end"][i] if "t_end" in params else None)
            else:
                text = f"{name if name is not None else f'source {i}'}: z = {z[i]:.3g}, SNR {snr[i]:.3g}"
            colour, ls = cycle[i]
            line, = ax.plot(freqs[i], hc[i], color=colour, ls=ls, lw=1.4, label=text, zorder=3)
            artists["sources"].append(line)
            if boundaries:
                for fb, marker in ((amplitude_result.f_merger_start[i], "o"),
                                   (amplitude_result.f_ringdown_start[i], "s")):
                    if freqs[i, 0] <= fb <= freqs[i, -1]:
                        hb = np.exp(np.interp(np.log(fb), np.log(freqs[i]), np.log(hc[i])))
                        ax.plot([fb], [hb], marker=marker, color=colour, ms=5, mec="k", mew=0.6, zorder=5)
    else:
        if colour_by == "mass" and "m1" in params and "m2" in params:
            value, what = params["m1"] + params["m2"], r"total mass, source frame [$M_\odot$]"
        else:
            value, what = snr, "SNR"
        positive = value[drawn & (value > 0)]
        lo = positive.min() if positive.size else 1.0
        hi = positive.max() if positive.size else 10.0
        norm = LogNorm(lo, hi if hi > lo else lo * 10)
        order = np.flatnonzero(drawn)
        order = order[np.argsort(value[order])]  # brightest on top
        segments = [np.column_stack([freqs[i], hc[i]]) for i in order]
        cm = matplotlib.colormaps[cmap] if isinstance(cmap, str) else cmap
        coll = LineCollection(segments, colors=cm(norm(np.clip(value[order], lo, None))), linewidths=0.8,
                              alpha=0.8, zorder=3)
        ax.add_collection(coll)
        artists["sources"].append(coll)
        proxy = Line2D([], [], color=cm(0.6), lw=1.2,
                       label=f"{n} sources ({int(drawn.sum())} drawn), colour: {what.split(',')[0].split(' [')[0]}")
        artists["summary"] = proxy
        if colorbar:
            from matplotlib.cm import ScalarMappable

            sm = ScalarMappable(norm=norm, cmap=cm)
            cb = ax.figure.colorbar(sm, ax=ax)
            _colorbar_label(cb, what if what != "SNR" else f"SNR ({convention_label(inclination)})", fontsize)
            artists["colorbar"] = cb
    ax.set_xscale("log")
    ax.set_yscale("log")
    if drawn.any():
        h_lo = np.nanmin(np.where(hc[drawn] > 0, hc[drawn], np.nan))
        h_hi = np.nanmax(hc[drawn])
        noise_min = [np.nanmin(l.get_ydata()) for l in artists["noise"] if np.isfinite(l.get_ydata()).any()]
        top = max([h_hi] + noise_min) * 10
        floor = min(noise_min) / 30 if noise_min else h_lo
        ax.set_ylim(max(h_lo, floor, top * 1e-12), top)
    ax.set_xlim(f_lo / 1.5, f_hi * 1.5)  # a margin, so that the range ends' bars are not on the frame
    ax.set_xlabel("frequency, observer frame [Hz]")
    # The averaging convention is in the title; without one, in the label.
    ax.set_ylabel("strain $h_c$, noise $h_n$" if title else
                  f"$h_c$ ({convention_label(inclination)}), $h_n$")
    fs.style_axes(ax, fontsize)
    handles = list(artists["noise"])
    if artists["range_ends"]:
        handles.append(Line2D([], [], ls="none", marker="|", ms=7, mew=1.3, color="k",
                              label="end of a noise curve's range"))
    if listed and boundaries and artists["sources"]:
        handles += [Line2D([], [], ls="none", marker="o", ms=5, mfc="w", mec="k", mew=0.6,
                           label="inspiral | merger"),
                    Line2D([], [], ls="none", marker="s", ms=5, mfc="w", mec="k", mew=0.6,
                           label="merger | ringdown")]
    if title:
        artists["title"] = _title(ax, f"characteristic strain, {convention_label(inclination)}", fontsize)
    # Two legends below the axes: the keys (curves, markers) in columns,
    # then the sources, whose long entries take a line each.
    artists["keys"] = fs.legend_below(ax, handles, fontsize=small) if handles else None
    artists["legend"] = fs.legend_below(ax, artists["sources"] if listed else [artists["summary"]], fontsize=small,
                                        title=f"SNR against {snr_against}" if snr_against else None, max_columns=1,
                                        after=artists["keys"])
    return artists


#: Contours of a detection-probability map.
P_DET_LEVELS = (0.1, 0.5, 0.9)


def draw_p_det(ax, grid, *, cmap="viridis", colorbar=True, title=True, legend=True, fontsize=8):
    """Draw a WaterfallGrid's detection probability (``grid.p_det``, from
    ``waterfall(..., threshold=)``) onto ``ax``: colour p_det in [0, 1] in
    steps of 0.05, labelled contour lines at 0.1, 0.5 and 0.9, cells
    outside the noise curve's range and empty bands hatched as in
    ``draw_waterfall``; the colour bar names the threshold and the
    geometry's convention; the title the noise curve and the fixed
    parameters.  Returns a dict of the artists."""
    from matplotlib.colors import Normalize

    if grid.p_det is None:
        raise ValueError("the grid has no p_det: compute it with waterfall(..., threshold=...)")
    X, Y = np.meshgrid(grid.x.values, grid.y.values)
    p = np.asarray(grid.p_det, dtype=float)
    blocked = grid.outside | grid.inverted
    artists = {}
    _axes_of(ax, grid)
    small = fs.style_axes(ax, fontsize)
    levels = np.linspace(0.0, 1.0, 21)
    norm = Normalize(0.0, 1.0)
    filled = np.where(blocked, np.nan, p)
    artists["filled"] = ax.contourf(X, Y, filled, levels=levels, norm=norm, cmap=cmap, zorder=1, extend="neither")
    inside = [v for v in P_DET_LEVELS if np.nanmin(filled, initial=1.0) < v < np.nanmax(filled, initial=0.0)]
    if inside:
        artists["lines"] = ax.contour(X, Y, filled, levels=inside, colors="white", linewidths=0.9, zorder=3)
        artists["labels"] = ax.clabel(artists["lines"], fmt=lambda v: f"{v:g}", fontsize=small)
    legend_items = []
    if grid.outside.any():
        artists["outside"] = _mask_cells(ax, grid, grid.outside, _OUTSIDE_STYLE)
        legend_items.append(("outside the noise curve's range", _OUTSIDE_STYLE))
    if grid.inverted.any():
        artists["empty"] = _mask_cells(ax, grid, grid.inverted, _EMPTY_STYLE)
        legend_items.append(("empty band (start after its end)", _EMPTY_STYLE))
    handles = _legend_patches(legend_items)
    if colorbar:
        cb = ax.figure.colorbar(artists["filled"], ax=ax, ticks=[0, 0.1, 0.25, 0.5, 0.75, 0.9, 1.0])
        _colorbar_label(cb, f"detection probability: fraction of orientations with SNR > {grid.threshold:g}",
                        fontsize)
        artists["colorbar"] = cb
    if title:
        artists["title"] = _title(ax, _fixed_text(grid), fontsize)
    if legend and handles:
        artists["legend"] = fs.legend_below(ax, handles, fontsize=small)
    return artists

"""Print sizes, type sizes, colours and number formats of phenomd's figures.

A journal prints a figure one column (about 3.4 in) or one page (about
7 in) wide; text on it must stay legible at that size (7 pt or more),
curves must stay distinguishable to a reader with a colour-vision
deficiency and in greyscale (a colour *and* a line style each), and
numbers read as a physicist writes them (6×10⁵ M☉, not 6e+05).

* ``figure_size(size, aspect)``: (width, height) in inches for "column",
  "page", "W,H" or a (W, H) pair.
* ``new_figure(size, dpi)``: a pyplot Figure of that size, laid out tightly.
* ``line_style(i)``: the i-th (colour, line style) pair (Okabe & Ito 2008
  colours; every pair distinct for the first 40).
* ``format_number(v)``, ``format_mass(m)``: mathtext strings.
* ``legend_below(ax, handles, ...)``: a legend under the axes' x label,
  off the data, in as many columns as fit the figure's width.
* ``fit_text(fig, text, limit_px, fontsize)``: a text wrapped after commas until
  it is no wider than ``limit_px``.
"""

from __future__ import annotations

import math
import re

import numpy as np

from ._inputs import InputError

# Widths of a journal's single column and full page, inches (e.g. the
# Physical Review and ApJ column is 3.4 in, their text width about 7 in).
WIDTHS = {"column": 3.4, "page": 7.0}
# Height over width when the caller gives none.
DEFAULT_ASPECT = 0.76
# The smallest type size at print size, points.
MIN_FONT = 7.0
# The CLI's resolution when a print size is asked for and no --dpi.
PRINT_DPI = 300

# Okabe & Ito (2008), "Color Universal Design": distinguishable under the
# common colour-vision deficiencies.  Yellow (#F0E442) is left out: it
# vanishes on white.  Black comes last, being the noise curves' colour.
OKABE_ITO = ("#0072B2", "#D55E00", "#009E73", "#CC79A7", "#E69F00", "#56B4E9", "#000000")
LINE_STYLES = ("-", "--", "-.", ":", (0, (5, 1.5, 1, 1.5, 1, 1.5)))


def figure_size(size, aspect=DEFAULT_ASPECT):
    """(width, height) in inches of a figure.

    Parameters
    ----------
    size : {"column", "page"}, str "W,H" or (W, H)
        "column" is 3.4 in wide, "page" 7 in, both ``aspect`` times as high;
        "W,H" or a pair gives both in inches.
    aspect : float
        Height over width for "column" and "page".

    Returns
    -------
    (float, float)

    Raises
    ------
    InputError
        For an unknown name, a malformed "W,H" or a size that is not
        finite and positive.

    Examples
    --------
    >>> from phenomd._figure_style import figure_size
    >>> figure_size("column", 0.75)
    (3.4, 2.55)
    >>> figure_size("5,3")
    (5.0, 3.0)
    """
    if isinstance(size, str):
        key = size.strip().lower()
        if key in WIDTHS:
            return WIDTHS[key], round(WIDTHS[key] * float(aspect), 4)
        parts = key.split(",")
        if len(parts) != 2:
            raise InputError("size", None, f"size {size!r}: use column, page or W,H in inches (e.g. 3.4,2.6)")
        try:
            pair = tuple(float(p) for p in parts)
        except ValueError:
            raise InputError("size", None, f"size {size!r}: W,H must be two numbers of inches") from None
    else:
        try:
            pair = tuple(float(v) for v in size)
        except (TypeError, ValueError):
            raise InputError("size", None, f"size {size!r}: use 'column', 'page' or (W, H) in inches") from None
        if len(pair) != 2:
            raise InputError("size", None, f"size {size!r}: (W, H) in inches")
    if not all(math.isfinite(v) and v > 0 for v in pair):
        raise InputError("size", None, f"size {size!r}: width and height must be finite and positive inches")
    return pair


def new_figure(size="column", *, aspect=DEFAULT_ASPECT, dpi=None):
    """A pyplot Figure ``size`` (see ``figure_size``) with tight layout,
    so that labels, colour bar and a legend below the axes stay inside.

    Examples
    --------
    >>> import matplotlib; matplotlib.use("Agg")
    >>> from phenomd._figure_style import new_figure
    >>> fig = new_figure("page", aspect=0.5)
    >>> [round(v, 2) for v in fig.get_size_inches()]
    [7.0, 3.5]
    """
    import matplotlib.pyplot as plt

    w, h = figure_size(size, aspect)
    return plt.figure(figsize=(w, h), dpi=dpi, layout="tight")


def line_style(i):
    """The i-th curve's (colour, line style): Okabe-Ito colours and five
    line styles, stepped together so that pairs repeat only after 35."""
    return OKABE_ITO[i % len(OKABE_ITO)], LINE_STYLES[i % len(LINE_STYLES)]


def _positional(value, digits):
    rounded = float(f"{value:.{digits}g}")
    return np.format_float_positional(rounded, trim="-")


def format_number(value, digits=3):
    """A number for a label: plain between 0.01 and 10⁴ (3340, 0.25),
    else mantissa×10^exponent in mathtext ("$6\\times10^{5}$", "$10^{6}$"),
    to ``digits`` significant digits.

    Examples
    --------
    >>> from phenomd._figure_style import format_number
    >>> format_number(6e5)
    '$6\\\\times10^{5}$'
    >>> format_number(3340.4), format_number(1e6), format_number(0.2)
    ('3340', '$10^{6}$', '0.2')
    """
    v = float(value)
    if not math.isfinite(v):
        return str(v)
    if v == 0:
        return "0"
    if 1e-2 <= abs(v) < 1e4:
        return _positional(v, digits)
    exponent = math.floor(math.log10(abs(v)))
    mantissa = float(f"{v / 10.0**exponent:.{digits}g}")
    if abs(mantissa) >= 10:  # 9.999e5 rounds to 10×10⁵
        mantissa, exponent = mantissa / 10, exponent + 1
    m = _positional(mantissa, digits)
    if m in ("1", "-1"):
        return f"${'-' if m == '-1' else ''}10^{{{exponent}}}$"
    return f"${m}\\times10^{{{exponent}}}$"


def format_mass(*masses, digits=3):
    """Masses in solar masses for a label: "$6\\times10^{5}$ + $4\\times10^{5}$ $M_\\odot$".

    Examples
    --------
    >>> from phenomd._figure_style import format_mass
    >>> format_mass(5e3)
    '5000 $M_\\\\odot$'
    """
    return " + ".join(format_number(m, digits) for m in masses) + r" $M_\odot$"


def renderer_of(fig):
    """The renderer that measures text for ``fig`` (Agg's, or the figure's own)."""
    get = getattr(fig.canvas, "get_renderer", None)
    return get() if get is not None else fig._get_renderer()


def fit_text(fig, text, limit_px, fontsize, *, rotation=0, widths=range(100, 14, -4)):
    """``text`` broken after commas/semicolons (never inside "name = value")
    at the widest line length whose rendering is at most ``limit_px`` long
    (along the text's direction); the narrowest tried when none fits."""
    from matplotlib.text import Text

    renderer = renderer_of(fig)
    probe = Text(0, 0, "", fontsize=fontsize, rotation=rotation)
    probe.set_figure(fig)
    best = text
    for width in widths:
        candidate = wrap(text, width)
        probe.set_text(candidate)
        extent = probe.get_window_extent(renderer)
        length = extent.height if rotation else extent.width
        best = candidate
        if length <= limit_px:
            break
    return best


def wrap(text, width=90):
    """Lines of at most about ``width`` characters, broken only after a
    comma or semicolon so that no "name = value" is split."""
    lines, line = [], ""
    for piece in re.split(r"(?<=[,;]) ", text):
        if line and len(line) + 1 + len(piece) > width:
            lines.append(line)
            line = piece
        else:
            line = f"{line} {piece}" if line else piece
    return "\n".join(lines + [line])


def legend_below(ax, handles, *, fontsize, title=None, max_columns=3, after=None, **kwargs):
    """A legend of ``handles`` under ``ax``'s tick labels and x label (so
    off the data), centred on the figure, in the most columns (up to
    ``max_columns``) whose width fits 96 % of the figure's, entries broken
    after commas where one column is too wide.  ``after``: a
    legend made so before, to stack this one under (the earlier one is
    kept as an artist of ``ax``).

    The drop below the axes is measured in points from the x axis' own
    extent, which does not change when a layout engine later moves or
    resizes the axes; a tight or constrained layout then makes room."""
    from matplotlib.transforms import ScaledTranslation, blended_transform_factory

    fig = ax.figure
    renderer = renderer_of(fig)
    ax_box = ax.get_window_extent(renderer)
    x_box = ax.xaxis.get_tightbbox(renderer)
    drop_px = max(0.0, ax_box.y0 - x_box.y0) if x_box is not None else 0.0
    if after is not None:
        ax.add_artist(after)
        drop_px = max(drop_px, ax_box.y0 - after.get_window_extent(renderer).y0)
    drop_in = drop_px / fig.dpi + 3.0 / 72
    anchor = blended_transform_factory(fig.transFigure, ax.transAxes) + ScaledTranslation(0, -drop_in,
                                                                                           fig.dpi_scale_trans)
    limit = 0.96 * fig.bbox.width
    legend = None
    for ncol in range(min(max_columns, len(handles)), 0, -1):
        if legend is not None:
            legend.remove()
        legend = ax.legend(handles=handles, loc="upper center", bbox_to_anchor=(0.5, 0.0), bbox_transform=anchor,
                           ncol=ncol, fontsize=fontsize, title=title, title_fontsize=fontsize, frameon=False,
                           borderaxespad=0.0, columnspacing=1.2, handlelength=2.4, **kwargs)
        if legend.get_window_extent(renderer).width <= limit:
            break
    # Still too wide in one column: entries broken after commas.
    texts = [(t, t.get_text()) for t in legend.get_texts()]
    for width in range(80, 14, -6):
        if legend.get_window_extent(renderer).width <= limit:
            break
        for t, original in texts:
            t.set_text(wrap(original, width))
    return legend


def style_axes(ax, fontsize):
    """Axis labels at ``fontsize`` and tick labels at ``fontsize`` - 1, not below 7 pt."""
    small = max(MIN_FONT, fontsize - 1)
    ax.tick_params(labelsize=small)
    ax.xaxis.label.set_fontsize(max(MIN_FONT, fontsize))
    ax.yaxis.label.set_fontsize(max(MIN_FONT, fontsize))
    return small

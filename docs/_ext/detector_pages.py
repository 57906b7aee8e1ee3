"""Sphinx extension: the detectors page's figure and table, generated at
build time from the package's built-in noise curves.

Every name in ``phenomd.noise.names()`` is drawn as ``phenomd.noise.curve(name)``
returns it (instrument noise, no foreground) and, where the curve accepts
``years=4``, with its 4-year galactic foreground; each curve only within
its ``range`` (h_n is +inf outside, see the conventions page), the two ends
marked as range ends.  The table gives each curve's source (its class
docstring's first paragraph) and range.  Both are written to
docs/_generated/ (not tracked), which guide/detectors.md includes, so a
curve added to the package appears on the page without editing it.
"""

import inspect
import math
import os

OKABE_ITO = ["#0072B2", "#D55E00", "#009E73", "#CC79A7", "#E69F00", "#56B4E9", "#000000", "#F0E442"]
STYLES = ["-", "--", "-.", (0, (1, 1)), (0, (5, 1, 1, 1, 1, 1)), (0, (3, 1))]


def _source(curve):
    doc = inspect.getdoc(type(curve)) or ""
    first = doc.split("\n\n")[0]
    return " ".join(first.split())


def _hz(f):
    for unit, scale in (("Hz", 1.0), ("mHz", 1e-3), ("µHz", 1e-6)):
        if f >= scale or unit == "µHz":
            return f"{f / scale:g} {unit}"
    return f"{f:g} Hz"


def write(outdir):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    import numpy as np

    from phenomd import InputError, noise

    os.makedirs(outdir, exist_ok=True)
    names = noise.names()
    curves = {n: noise.curve(n) for n in names}
    lo = min(c.range[0] for c in curves.values())
    hi = max(c.range[1] for c in curves.values() if math.isfinite(c.range[1]))

    fig, ax = plt.subplots(figsize=(6.4, 4.0), layout="constrained")
    rows = []
    for i, (name, c) in enumerate(curves.items()):
        colour, style = OKABE_ITO[i % len(OKABE_ITO)], STYLES[i % len(STYLES)]
        f_min, f_max = c.range
        f = np.geomspace(f_min, min(f_max, hi), 600)
        hn = c(f)
        ax.loglog(f, hn, color=colour, ls=style, lw=1.6, label=f"{name}: instrument")
        # Range ends: a bar across the curve, not a fall to zero.
        ax.plot(f[[0, -1]], hn[[0, -1]], ls="none", marker="|", ms=14, mew=2, color=colour)
        try:
            with_fg = noise.curve(name, years=4)
        except InputError:
            foreground = "—"
        else:
            ax.loglog(f, with_fg(f), color=colour, ls=style, lw=0.8, alpha=0.6,
                      label=f"{name}: with 4-yr foreground")
            foreground = "yes"
        rows.append((name, type(c).__name__, _source(c), _hz(f_min), _hz(f_max), foreground))
    ax.set_xlim(lo / 2, hi * 2)
    ax.set_xlabel("frequency $f$ (Hz)")
    ax.set_ylabel(r"$h_n = \sqrt{f\,S_n(f)}$")
    ax.set_title("Built-in noise curves (| marks each curve's range ends)", fontsize=10)
    ax.grid(True, which="major", alpha=0.3)
    ax.legend(loc="upper left", bbox_to_anchor=(1.01, 1.0), fontsize=8, frameon=False)
    fig.savefig(os.path.join(outdir, "detectors.png"), dpi=150)
    plt.close(fig)

    lines = [
        "| name | class | source | range start | range end | 4-yr foreground |",
        "|---|---|---|---|---|---|",
    ]
    for name, cls, src, a, b, fg in rows:
        lines.append(f"| `{name}` | `phenomd.noise.{cls}` | {src} | {a} | {b} | {fg} |")
    text = "\n".join(lines) + "\n"
    path = os.path.join(outdir, "detectors_table.md")
    old = open(path).read() if os.path.exists(path) else None
    if text != old:  # unchanged files keep their time: no needless rereads
        with open(path, "w") as fh:
            fh.write(text)


def _generate(app):
    write(os.path.join(app.srcdir, "_generated"))


def setup(app):
    app.connect("builder-inited", _generate)
    return {"parallel_read_safe": True, "parallel_write_safe": True}

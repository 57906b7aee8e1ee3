"""Figures on a given Axes (Agg): the artists each function promises, the
conventions in the labels, legends that stay short, colours that do not
repeat, noise curves only within their ranges; at a journal's column and
page width: type of 7 pt or more, nothing outside the figure, legends off
the data, the calibration edge where it is, ratio scales set by the data,
numbers written as 6×10⁵."""

import dataclasses
import io

import numpy as np
import pytest

matplotlib = pytest.importorskip("matplotlib")
matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.collections import LineCollection, PolyCollection  # noqa: E402
from matplotlib.colors import to_hex  # noqa: E402

import phenomd  # noqa: E402
from phenomd import noise, plotting  # noqa: E402
from phenomd.horizon import horizon  # noqa: E402
from phenomd.waterfall import waterfall  # noqa: E402

pytestmark = pytest.mark.needs_library

LENGTH = 120


def _lisa(years=4):
    try:
        return noise.curve("lisa", years=years)
    except phenomd.InputError:  # no response table in this checkout
        return noise.LISA(years, response="approximate")


def _narrow(tmp_path):
    f = np.geomspace(1e-4, 3e-3, 30)
    path = tmp_path / "narrow.txt"
    np.savetxt(path, np.column_stack([f, _lisa()(f)]))
    return noise.from_file(path, "hn")


@pytest.fixture
def axes():
    fig, ax = plt.subplots()
    yield ax
    fig.canvas.draw()  # every artist must render
    fig.savefig(io.BytesIO(), format="png")
    plt.close(fig)


def _legend_texts(*legends):
    return [t.get_text() for legend in legends if legend is not None for t in legend.get_texts()]


def test_waterfall_draws_snr_and_outside_cells_differently(axes, tmp_path):
    g = waterfall(("mass", 1e2, 1e10, 9), ("redshift", 0.1, 10.0, 4), noise=_narrow(tmp_path), method="trapezoid", length=LENGTH)
    assert g.outside.any()
    art = g.draw(axes)
    assert isinstance(art["outside"], PolyCollection)
    assert len(art["outside"].get_paths()) == g.outside.sum()  # one box per outside cell
    assert art["outside"].get_hatch() == "///"
    assert "outside the noise curve's range" in _legend_texts(art["legend"])
    assert "inclination-averaged" in art["colorbar"].ax.get_ylabel()
    assert "q = 0.2" in axes.get_title() and "narrow.txt" in axes.get_title()
    # Filled levels 1, 3, 10, ... (log10 of them) up to the decade above the largest SNR.
    top = np.log10(g.snr[~g.outside].max())
    levels = art["filled"].levels
    assert levels[0] == 0 and levels[-1] >= top > levels[-1] - 1
    assert axes.get_xscale() == "log" and axes.get_yscale() == "log"


def test_waterfall_levels_follow_a_narrow_snr_range(axes):
    g = waterfall(("q", 0.1, 1.0, 6), ("spin", -0.8, 0.8, 5), fixed={"mass": 1e6, "z": 1.0}, noise=_lisa(),
                  method="trapezoid", length=LENGTH)
    lo, hi = g.snr.min(), g.snr.max()
    assert lo > 10 and hi / lo < 100  # the case: no cell below 1, under two decades
    art = g.draw(axes)
    levels = 10 ** art["filled"].levels
    assert levels[0] <= lo < 10 * levels[0] and levels[-1] >= hi
    assert ((levels > lo) & (levels < hi)).sum() >= 4  # several bands across the range, not one or two
    assert "SNR < 1" not in art["colorbar"].ax.get_ylabel()


def test_waterfall_linear_axis_and_empty_bands(axes):
    g = waterfall(("t_start", 0.2, 15.0, 6), ("q", 0.02, 1.0, 5), fixed={"t_end": 1.0}, noise=_lisa(),
                  method="trapezoid", length=LENGTH)
    art = plotting.draw_waterfall(axes, g, colorbar=False)
    assert "colorbar" not in art and axes.get_yscale() == "linear"
    texts = _legend_texts(art["legend"])
    assert "empty band (start after its end)" in texts
    assert any("calibration" in t for t in texts)  # q = 0.02 is beyond the model's mass ratio 18
    assert len(art["empty"].get_paths()) == g.inverted.sum()


def test_ratio_is_centred_on_one_and_names_both_curves(axes, tmp_path):
    x, y = ("mass", 1e3, 1e9, 7), ("redshift", 0.1, 10.0, 4)
    a = waterfall(x, y, noise=_lisa(4), method="trapezoid", length=LENGTH)
    b = waterfall(x, y, noise=_lisa(None), method="trapezoid", length=LENGTH)
    art = plotting.draw_ratio(axes, a, b, "4 yr foreground", "no foreground")
    bounds = art["filled"].norm.boundaries
    np.testing.assert_allclose(bounds, -bounds[::-1])  # log10 of the ratio: symmetric about 1
    centre = np.searchsorted(bounds, 0.0)
    assert bounds[centre - 1] < 0 < bounds[centre]  # 1 inside the middle band, not on an edge
    assert "4 yr foreground / no foreground" in art["colorbar"].ax.get_ylabel()
    # A foreground only adds noise: the ratio is at most 1 (computed here).
    assert (a.snr <= b.snr * (1 + 1e-12)).all()
    with pytest.raises(ValueError):
        plotting.draw_ratio(axes, a, waterfall(x, ("redshift", 0.1, 10.0, 5), method="trapezoid", length=LENGTH), "a", "b")


def test_ratio_marks_cells_that_only_one_curve_sees(axes, tmp_path):
    x, y = ("mass", 1e2, 1e10, 9), ("redshift", 0.1, 10.0, 3)
    a = waterfall(x, y, noise=_lisa(4), method="trapezoid", length=LENGTH)
    b = waterfall(x, y, noise=_narrow(tmp_path), method="trapezoid", length=LENGTH)
    art = plotting.draw_ratio(axes, a, b, "LISA", "narrow")
    only_a = (a.snr > 0) & ~a.outside & (b.outside | (b.snr == 0))
    assert only_a.any() and len(art["only_a"].get_paths()) == only_a.sum()
    assert "SNR from LISA only" in _legend_texts(art["legend"])


def test_horizon_lines_and_bounds(axes):
    masses = np.geomspace(1e3, 1e9, 7)
    h1 = horizon(masses, 0.5, noise=_lisa(4), method="trapezoid", length=LENGTH, z_max=20.0)
    h2 = horizon(masses, 0.5, noise=_lisa(None), method="trapezoid", length=LENGTH, z_max=20.0, phase="ins")
    art = plotting.draw_horizon(axes, {"four years": h1, "instrument only": h2})
    assert [line.get_label() for line in art["lines"]] == ["four years", "instrument only"]
    assert to_hex(art["lines"][0].get_color()) != to_hex(art["lines"][1].get_color())
    np.testing.assert_array_equal(art["lines"][0].get_ydata()[h1.ok], h1.redshift[h1.ok])
    if (h1.reached == "above").any():
        assert art["above"] and "beyond the largest z searched" in _legend_texts(art["legend"])
    assert "distance_axis" in art and "of the phase as labelled" in axes.get_title()


def _sources(n, seed=3):
    rng = np.random.default_rng(seed)
    M = 10 ** rng.uniform(4, 7, n)
    q = rng.uniform(0.2, 1, n)
    z = 10 ** rng.uniform(-0.5, 0.8, n)
    m1, m2 = M / (1 + q), M * q / (1 + q)
    a = phenomd.amplitude(m1, m2, 0.3, 0.1, None, z, 4.0, length=LENGTH)
    r = phenomd.binary_snr(m1, m2, 0.3, 0.1, None, z, 4.0, method="trapezoid", length=LENGTH, noise=_lisa())
    return a, r, dict(m1=m1, m2=m2, spin1=0.3, spin2=0.1, t_start=4.0)


def test_strain_few_sources_listed_with_distinct_colours(axes):
    a, r, params = _sources(5)
    curve = _lisa()
    art = plotting.draw_strain(axes, a, r, [f"S{i}" for i in range(5)], {"LISA": curve}, params=params)
    texts = _legend_texts(art["keys"], art["legend"])
    texts = [t for t in texts if t not in ("end of a noise curve's range", "inspiral | merger", "merger | ringdown")]
    assert len(texts) == 6 and texts[0] == "noise: LISA"
    assert texts[1].startswith("S0: ") and f"SNR {plotting.format_number(r.snr_all[0])}" in texts[1]
    assert "z = " in texts[1] and "4 yr" in texts[1] and "0.3, 0.1" in texts[1]
    colours = {to_hex(line.get_color()) for line in art["sources"]}
    assert len(colours) == 5
    # The curve is drawn only within its range.
    lo, hi = curve.range
    f = art["noise"][0].get_xdata()
    assert f.min() >= lo and f.max() <= hi
    assert "inclination-averaged" in axes.get_title()


def test_strain_many_sources_summarised(axes):
    a, r, params = _sources(60)
    art = plotting.draw_strain(axes, a, r, None, [_lisa(), _lisa(None)], params=params, snr_against="LISA")
    assert art["legend"].get_title().get_text() == "SNR against LISA"
    texts = [t for t in _legend_texts(art["keys"], art["legend"]) if t != "end of a noise curve's range"]
    assert len(texts) == 3 and texts[-1].startswith("60 sources")
    assert isinstance(art["sources"][0], LineCollection) and len(art["sources"][0].get_segments()) == 60
    assert "SNR" in art["colorbar"].ax.get_ylabel()
    # Colours follow the SNR: the loudest source gets the top of the map.
    cols = art["sources"][0].get_colors()
    assert len({to_hex(c) for c in cols}) > 30


# ------------------------------------------------------------ print size


@pytest.fixture(scope="module")
def drawings(tmp_path_factory):
    """One of each figure's inputs, small, computed once: name -> draw(ax)."""
    lisa, scird = _lisa(), noise.curve("lisa-scird")
    narrow = _narrow(tmp_path_factory.mktemp("narrow"))
    x, y = ("mass", 1e2, 1e10, 9), ("redshift", 0.05, 15.0, 5)
    w = waterfall(x, y, noise=narrow, method="trapezoid", length=LENGTH)
    ra, rb = waterfall(x, y, noise=lisa, method="trapezoid", length=LENGTH), waterfall(x, y, noise=scird, method="trapezoid", length=LENGTH)
    masses = np.geomspace(1e2, 1e10, 9)
    hs = {"lisa": horizon(masses, 0.2, 0.8, 0.8, noise=lisa, method="trapezoid", length=LENGTH, z_max=20.0),
          "lisa-scird": horizon(masses, 0.2, 0.8, 0.8, noise=scird, method="trapezoid", length=LENGTH, z_max=20.0)}
    a, r, params = _sources(3)
    return {
        "waterfall": lambda ax: plotting.draw_waterfall(ax, w),
        "ratio": lambda ax: plotting.draw_ratio(ax, ra, rb, "lisa", "lisa-scird"),
        "horizon": lambda ax: plotting.draw_horizon(ax, hs),
        "strain": lambda ax: plotting.draw_strain(ax, a, r, None, {"lisa": lisa, "lisa-scird": scird},
                                                  params=params, snr_against="lisa"),
    }


@pytest.mark.parametrize("size", ["column", "page", "W,H"])
@pytest.mark.parametrize("name", ["waterfall", "ratio", "horizon", "strain"])
def test_figures_hold_at_print_size(drawings, name, size):
    from matplotlib.text import Text
    from matplotlib.transforms import Bbox

    # W,H: 1050 x 780 px at 300 dpi; the strain's legend lists every source,
    # so it is square (as the command line's --size column draws it).
    square = name == "strain"
    size = (3.5, 3.5 if square else 2.6) if size == "W,H" else size
    fig = plotting.figure(size, aspect=1.0 if square else 0.76, dpi=100)
    try:
        ax = fig.add_subplot()
        art = drawings[name](ax)
        fig.canvas.draw()
        renderer = fig.canvas.get_renderer()
        texts = [t for t in fig.findobj(Text) if t.get_visible() and t.get_text().strip()]
        small = {t.get_text(): t.get_fontsize() for t in texts if t.get_fontsize() < 7}
        assert not small, small
        # Inside the figure: each axes' tick labels (its tight box) and every other text, whole.
        frame = fig.bbox.padded(1.0)  # one pixel for rounding
        ticks = {id(label) for tick in fig.findobj(matplotlib.axis.Tick) for label in (tick.label1, tick.label2)}
        boxes = [a.get_tightbbox(renderer) for a in fig.axes]
        boxes += [t.get_window_extent(renderer) for t in texts if id(t) not in ticks]
        outside = [b for b in boxes if not (b.x0 >= frame.x0 and b.y0 >= frame.y0 and b.x1 <= frame.x1
                                            and b.y1 <= frame.y1)]
        assert not outside, (outside, frame)
        data = ax.get_window_extent(renderer)
        legends = [art[k] for k in ("legend", "keys") if art.get(k) is not None]
        assert legends
        for legend in legends:
            assert Bbox.intersection(legend.get_window_extent(renderer), data) is None
        if name in ("horizon", "strain"):  # every curve its own colour and line style
            lines = art["lines"] if name == "horizon" else art["noise"] + art["sources"]
            pairs = [(to_hex(line.get_color()), str(line.get_linestyle())) for line in lines]
            assert len(set(pairs)) == len(pairs)
            if name == "horizon":
                assert len({p[0] for p in pairs}) == len(pairs) and len({p[1] for p in pairs}) == len(pairs)
        if name == "strain":  # each curve's range ends marked, and named in a legend
            assert len(art["range_ends"]) == 2 and all(len(m.get_xdata()) == 2 for m in art["range_ends"])
            assert "end of a noise curve's range" in _legend_texts(art["keys"])
    finally:
        plt.close(fig)


def test_calibration_edge_at_its_exact_value(axes):
    g = waterfall(("q", 0.02, 1.0, 6), ("spin", -0.95, 0.95, 5), fixed={"mass": 1e6, "z": 1.0}, noise=_lisa(),
                  method="trapezoid", length=LENGTH)
    assert g.uncalibrated.any() and (~g.uncalibrated).any()
    edge = plotting.draw_waterfall(axes, g)["uncalibrated"]
    # Khan et al. 2016 (PRD 93, 044007): calibrated to mass ratio 18 and |spin| 0.85.
    assert edge.get_x() == 1.0 / 18.0 and edge.get_y() == -0.85
    assert edge.get_y() + edge.get_height() == pytest.approx(0.85, abs=1e-15)
    assert edge.get_x() + edge.get_width() > 1.0  # no side at the top of the q axis


def test_ratio_scale_from_the_data(axes):
    x, y = ("mass", 1e4, 1e7, 12), ("redshift", 0.1, 3.0, 8)
    a = waterfall(x, y, noise=_lisa(), method="trapezoid", length=LENGTH)
    assert (a.snr > 0).all() and not a.outside.any()
    rng = np.random.default_rng(7)
    ratio = 2.0 ** rng.uniform(-0.9, 0.9, a.snr.shape)  # within 0.54 ... 1.87
    ratio[0, 0] = 1e4  # one cell (1 %) where B hardly sees the source
    b = dataclasses.replace(a, snr=a.snr / ratio)
    art = plotting.draw_ratio(axes, a, b, "A", "B")
    bounds = art["filled"].norm.boundaries
    np.testing.assert_allclose(bounds, -bounds[::-1])  # centred on ratio 1
    # 98th percentile of |log ratio| (computed here) lies below 2: the scale ends at the step 2, not at 1e4.
    assert np.percentile(np.abs(np.log10(ratio)), 98) < np.log10(2.0)
    assert bounds[-1] == pytest.approx(np.log10(2.0)) and art["filled"].extend == "max"
    axes.figure.canvas.draw()
    ticks = [t.get_text() for t in art["colorbar"].ax.get_yticklabels() if t.get_text()]
    assert {"0.5", "1", "2"} <= set(ticks) and not any("/" in t or "e" in t for t in ticks), ticks
    assert "SNR ratio = 1" in _legend_texts(art["legend"])


def test_numbers_written_as_physicists_do():
    # Written out by hand.
    fm, fn = plotting.format_mass, plotting.format_number
    assert fm(6e5, 4e5) == r"$6\times10^{5}$ + $4\times10^{5}$ $M_\odot$"
    assert fm(5e3) == r"5000 $M_\odot$" and fm(1.25e10) == r"$1.25\times10^{10}$ $M_\odot$"
    assert [fn(v) for v in (1e6, 999_960.0, 3340.4, 0.25, 0.012, 2.5e-3, -3e7, 0.0)] == [
        "$10^{6}$", "$10^{6}$", "3340", "0.25", "0.012", r"$2.5\times10^{-3}$", r"$-3\times10^{7}$", "0"]
    label = plotting.source_label("S", 6e5, 4e5, 0.5, 0.2, 2.0, 4.0, 3342.0)
    assert label == r"S: $6\times10^{5}$ + $4\times10^{5}$ $M_\odot$, $\chi$ = 0.5, 0.2, z = 2, 4 yr, SNR 3340"


def test_figure_sizes():
    assert plotting.figure("column", aspect=0.5).get_size_inches() == pytest.approx((3.4, 1.7))
    assert plotting.figure("page").get_size_inches()[0] == 7.0
    assert plotting.figure("3,2").get_size_inches() == pytest.approx((3.0, 2.0))
    plt.close("all")
    for bad in ("wide", "3,", "3,-1", "3,nan", (1, 2, 3)):
        with pytest.raises(phenomd.InputError):
            plotting.figure(bad)

"""Figures on a given Axes (Agg): the artists each function promises, the
conventions in the labels, legends that stay short, colours that do not
repeat, noise curves only within their ranges."""

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


def _legend_texts(legend):
    return [t.get_text() for t in legend.get_texts()]


def test_waterfall_draws_snr_and_outside_cells_differently(axes, tmp_path):
    g = waterfall(("mass", 1e2, 1e10, 9), ("redshift", 0.1, 10.0, 4), noise=_narrow(tmp_path), length=LENGTH)
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
                  length=LENGTH)
    lo, hi = g.snr.min(), g.snr.max()
    assert lo > 10 and hi / lo < 100  # the case: no cell below 1, under two decades
    art = g.draw(axes)
    levels = 10 ** art["filled"].levels
    assert levels[0] <= lo < 10 * levels[0] and levels[-1] >= hi
    assert ((levels > lo) & (levels < hi)).sum() >= 4  # several bands across the range, not one or two
    assert "SNR < 1" not in art["colorbar"].ax.get_ylabel()


def test_waterfall_linear_axis_and_empty_bands(axes):
    g = waterfall(("t_start", 0.2, 15.0, 6), ("q", 0.02, 1.0, 5), fixed={"t_end": 1.0}, noise=_lisa(),
                  length=LENGTH)
    art = plotting.draw_waterfall(axes, g, colorbar=False)
    assert "colorbar" not in art and axes.get_yscale() == "linear"
    texts = _legend_texts(art["legend"])
    assert "empty band (start after its end)" in texts
    assert any("calibration" in t for t in texts)  # q = 0.02 is beyond the model's mass ratio 18
    assert len(art["empty"].get_paths()) == g.inverted.sum()


def test_ratio_is_centred_on_one_and_names_both_curves(axes, tmp_path):
    x, y = ("mass", 1e3, 1e9, 7), ("redshift", 0.1, 10.0, 4)
    a = waterfall(x, y, noise=_lisa(4), length=LENGTH)
    b = waterfall(x, y, noise=_lisa(None), length=LENGTH)
    art = plotting.draw_ratio(axes, a, b, "4 yr foreground", "no foreground")
    bounds = art["filled"].norm.boundaries
    np.testing.assert_allclose(bounds, -bounds[::-1])  # log10 of the ratio: symmetric about 1
    centre = np.searchsorted(bounds, 0.0)
    assert bounds[centre - 1] < 0 < bounds[centre]  # 1 inside the middle band, not on an edge
    assert "4 yr foreground / no foreground" in art["colorbar"].ax.get_ylabel()
    # A foreground only adds noise: the ratio is at most 1 (computed here).
    assert (a.snr <= b.snr * (1 + 1e-12)).all()
    with pytest.raises(ValueError):
        plotting.draw_ratio(axes, a, waterfall(x, ("redshift", 0.1, 10.0, 5), length=LENGTH), "a", "b")


def test_ratio_marks_cells_that_only_one_curve_sees(axes, tmp_path):
    x, y = ("mass", 1e2, 1e10, 9), ("redshift", 0.1, 10.0, 3)
    a = waterfall(x, y, noise=_lisa(4), length=LENGTH)
    b = waterfall(x, y, noise=_narrow(tmp_path), length=LENGTH)
    art = plotting.draw_ratio(axes, a, b, "LISA", "narrow")
    only_a = (a.snr > 0) & ~a.outside & (b.outside | (b.snr == 0))
    assert only_a.any() and len(art["only_a"].get_paths()) == only_a.sum()
    assert "SNR from LISA only" in _legend_texts(art["legend"])


def test_horizon_lines_and_bounds(axes):
    masses = np.geomspace(1e3, 1e9, 7)
    h1 = horizon(masses, 0.5, noise=_lisa(4), length=LENGTH, z_max=20.0)
    h2 = horizon(masses, 0.5, noise=_lisa(None), length=LENGTH, z_max=20.0, phase="ins")
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
    r = phenomd.binary_snr(m1, m2, 0.3, 0.1, None, z, 4.0, length=LENGTH, noise=_lisa())
    return a, r, dict(m1=m1, m2=m2, spin1=0.3, spin2=0.1, t_start=4.0)


def test_strain_few_sources_listed_with_distinct_colours(axes):
    a, r, params = _sources(5)
    curve = _lisa()
    art = plotting.draw_strain(axes, a, r, [f"S{i}" for i in range(5)], {"LISA": curve}, params=params)
    texts = _legend_texts(art["legend"])
    assert len(texts) == 6 and texts[0] == "noise: LISA"
    assert texts[1].startswith("S0: ") and f"SNR {r.snr_all[0]:.3g}" in texts[1] and "z = " in texts[1]
    assert "4 yr" in texts[1] and "0.3, 0.1" in texts[1]
    colours = {to_hex(line.get_color()) for line in art["sources"]}
    assert len(colours) == 5
    # The curve is drawn only within its range.
    lo, hi = curve.range
    f = art["noise"][0].get_xdata()
    assert f.min() >= lo and f.max() <= hi
    assert "inclination-averaged" in axes.get_ylabel()


def test_strain_many_sources_summarised(axes):
    a, r, params = _sources(60)
    art = plotting.draw_strain(axes, a, r, None, [_lisa(), _lisa(None)], params=params, snr_against="LISA")
    assert art["legend"].get_title().get_text() == "SNR against LISA"
    texts = _legend_texts(art["legend"])
    assert len(texts) == 3 and texts[-1].startswith("60 sources")
    assert isinstance(art["sources"][0], LineCollection) and len(art["sources"][0].get_segments()) == 60
    assert "SNR" in art["colorbar"].ax.get_ylabel()
    # Colours follow the SNR: the loudest source gets the top of the map.
    cols = art["sources"][0].get_colors()
    assert len({to_hex(c) for c in cols}) > 30

"""Noise curves: the analytic LISA sensitivity and tabulated files."""

import math

import numpy as np
import pytest

from phenomd import noise


def lisa_by_hand(f, years):
    """Robson, Cornish & Liu (2019) eqs. 1, 10-14, written out term by term."""
    L, fs = 2.5e9, 0.01909
    poms = (1.5e-11) ** 2 * (1 + (0.002 / f) ** 4)
    pacc = (3e-15) ** 2 * (1 + (0.0004 / f) ** 2) * (1 + (f / 0.008) ** 4)
    sn = 10 / (3 * L * L) * (poms + 4 * pacc / (2 * math.pi * f) ** 4 *
                             (1 + math.cos(f / fs) ** 2) / 2) * (1 + 0.6 * (f / fs) ** 2)
    a, b, k, g, fk = {1.0: (0.171, 292, 1020, 1680, 0.00215),
                      4.0: (0.138, -221, 521, 1680, 0.00113)}[years]
    sc = 9e-45 * f ** (-7 / 3) * math.exp(-f**a + b * f * math.sin(k * f)) * \
        (1 + math.tanh(g * (fk - f)))
    return math.sqrt(f * (sn + sc))


@pytest.mark.parametrize("f", [3e-5, 1e-4, 1e-3, 3e-3, 1e-2, 0.1])
@pytest.mark.parametrize("years", [1.0, 4.0])
def test_lisa_matches_the_papers_formula(f, years):
    assert noise.lisa(f, years) == pytest.approx(lisa_by_hand(f, years), rel=1e-12)


def test_lisa_uses_the_approximate_transfer_function():
    # Without confusion noise, above the arm frequency S_n grows as
    # (1 + 0.6 (f/f*)^2): the ratio at 10 f* and f* pins that form.
    fs = noise.LISA_F_STAR
    f = np.array([fs, 10 * fs])
    s = noise.lisa_psd(f, confusion=False)
    poms = (1.5e-11) ** 2 * (1 + (2e-3 / f) ** 4)
    pacc = (3e-15) ** 2 * (1 + (0.4e-3 / f) ** 2) * (1 + (f / 8e-3) ** 4)
    inner = poms + 2 * (1 + np.cos(f / fs) ** 2) * pacc / (2 * np.pi * f) ** 4
    np.testing.assert_allclose(s / inner, 10 / (3 * 2.5e9**2) * np.array([1.6, 61.0]),
                               rtol=1e-12)


def test_confusion_fits_cross_between_observation_times():
    # Two years lie above one year near 3 mHz and below it elsewhere.
    f = np.logspace(-4, -2, 400)
    diff = noise.lisa(f, 2.0) - noise.lisa(f, 1.0)
    assert np.any(diff > 0) and np.any(diff < 0)
    with pytest.raises(ValueError, match="years"):
        noise.lisa(f, 3.0)


def test_lisa_is_finite_far_above_the_band():
    with np.errstate(over="raise", invalid="raise", divide="raise"):
        h = noise.lisa(np.logspace(-5, 1, 200))
    assert np.all(np.isfinite(h)) and np.all(h > 0)


def write(tmp_path, text, name="curve.txt"):
    p = tmp_path / name
    p.write_text(text)
    return p


def test_file_curves_interpolate_in_log_log_and_never_extrapolate(tmp_path):
    # A power law is reproduced exactly by log-log interpolation.
    f = np.logspace(-4, -1, 7)
    p = write(tmp_path, "# f asd\n" + "".join(f"{x!r} {x**-2!r}\n" for x in f))
    curve = noise.from_file(p, "asd")
    grid = np.array([1e-5, 2e-4, 5e-3, 0.05, 1.0])
    h = curve(grid)
    np.testing.assert_allclose(h[1:4], np.sqrt(grid[1:4]) * grid[1:4] ** -2, rtol=1e-12)
    assert np.isinf(h[0]) and np.isinf(h[4])
    assert curve.outside == 2


def test_file_kinds_agree(tmp_path):
    f = np.array([1e-4, 1e-3, 1e-2])
    asd = np.array([1e-18, 1e-20, 1e-19])
    ca = noise.from_file(write(tmp_path, "".join(f"{a} {b}\n" for a, b in zip(f, asd)), "a"), "asd")
    cp = noise.from_file(write(tmp_path, "".join(f"{a} {b*b}\n" for a, b in zip(f, asd)), "p"), "psd")
    ch = noise.from_file(write(tmp_path, "".join(f"{a} {np.sqrt(a)*b}\n" for a, b in zip(f, asd)), "h"), "hn")
    g = np.logspace(-4, -2, 9)
    np.testing.assert_allclose(ca(g), cp(g), rtol=1e-12)
    np.testing.assert_allclose(ca(g), ch(g), rtol=1e-12)


@pytest.mark.parametrize("text, message", [
    ("1e-3 1e-20\n1e-4 1e-20\n", r":2: frequencies must be strictly increasing"),
    ("1e-3 1e-20\n1e-2 -1\n", r":2: frequency and value must be positive"),
    ("1e-3 nan\n1e-2 1e-20\n", r":1: non-finite"),
    ("1e-3 1e-20\n", r"needs at least two points"),
    ("1e-3 1e-20\n1e-2 x\n", r":2: expected two numbers"),
])
def test_bad_files_name_the_file_and_line(tmp_path, text, message):
    p = write(tmp_path, text)
    with pytest.raises(ValueError, match=str(p).replace(".", r"\.") + ".*" if "least" in message else message):
        noise.from_file(p, "asd")


def test_kind_is_required_to_be_known(tmp_path):
    with pytest.raises(ValueError, match="kind"):
        noise.from_file(write(tmp_path, "1 1\n2 2\n"), "amplitude")

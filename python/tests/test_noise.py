"""Noise curves: the LISA sensitivity against a computation by hand from
Robson, Cornish & Liu (2019), and the loader of users' files."""

import math

import numpy as np
import pytest

from phenomd import InputError, noise

# ---- by hand, from the paper, in plain floats (not the package's code) --
C = 299792458.0
L = 2.5e9
FSTAR = C / (2 * math.pi * L)
TABLE1 = {  # Robson, Cornish & Liu (2019), Table 1: alpha, beta, kappa, gamma, f_k
    0.5: (0.133, 243, 482, 917, 0.00258),
    1: (0.171, 292, 1020, 1680, 0.00215),
    2: (0.165, 299, 611, 1340, 0.00173),
    4: (0.138, -221, 521, 1680, 0.00113),
}


def by_hand_psd(f, years):
    p_oms = (1.5e-11) ** 2 * (1 + (0.002 / f) ** 4)  # eq. 10
    p_acc = (3e-15) ** 2 * (1 + (0.0004 / f) ** 2) * (1 + (f / 0.008) ** 4)  # eq. 11
    s_n = (10 / (3 * L * L)) * (p_oms + 2 * (1 + math.cos(f / FSTAR) ** 2) * p_acc / (2 * math.pi * f) ** 4) \
        * (1 + 0.6 * (f / FSTAR) ** 2)  # eq. 1 with R(f) of eq. 9
    if years:
        a, b, k, g, fk = TABLE1[years]
        s_n += 9e-45 * f ** (-7 / 3) * math.exp(-f**a + b * f * math.sin(k * f)) * (1 + math.tanh(g * (fk - f)))
    return s_n


FREQS = [3e-5, 1e-4, 4e-4, 1e-3, 2.5e-3, 1e-2, 5e-2, 0.2]


class TestLISA:
    def test_transfer_frequency(self):
        assert round(noise.F_STAR * 1e3, 2) == 19.09  # 19.09 mHz for L = 2.5 Gm

    @pytest.mark.parametrize("years", [0.5, 1, 2, 4, None])
    def test_against_the_paper_by_hand(self, years):
        # by_hand_psd uses R(f) of eq. 9: the approximate response.
        got = noise.lisa(np.array(FREQS), years=years, response="approximate")
        want = [math.sqrt(f * by_hand_psd(f, years)) for f in FREQS]
        # Same formula, different order of operations: a few ulp.
        np.testing.assert_allclose(got, want, rtol=1e-13)
        np.testing.assert_allclose(noise.lisa_psd(FREQS, years, response="approximate"),
                                   [by_hand_psd(f, years) for f in FREQS], rtol=1e-13)

    def test_approximate_transfer_function_is_the_one_used(self):
        # Above f* the instrument term is P_n / R with R = 3/10 / (1 + 0.6
        # (f/f*)^2) exactly; the full response would differ there by per
        # cent.  P_n here is eq. 2 by hand.
        f = np.array([0.03, 0.1, 0.5])
        x = f / FSTAR
        p_oms = (1.5e-11) ** 2 * (1 + (0.002 / f) ** 4)
        p_acc = (3e-15) ** 2 * (1 + (0.0004 / f) ** 2) * (1 + (f / 0.008) ** 4)
        p_n = (p_oms + 2 * (1 + np.cos(x) ** 2) * p_acc / (2 * np.pi * f) ** 4) / L**2
        approx = noise.LISA(None, response="approximate")
        np.testing.assert_allclose(approx.instrument_psd(f) * (0.3 / (1 + 0.6 * x**2)), p_n, rtol=1e-13)

    def test_magnitude_at_the_bucket(self):
        # sqrt(S_n) is about 1e-20 Hz^-1/2 near 5-10 mHz (the paper's Fig. 1);
        # a slip of a factor (L, 10/3, 2 pi) would move it by far more.
        asd = math.sqrt(noise.lisa_psd(0.007, 4))
        assert 5e-21 < asd < 2e-20

    def test_confusion_fits_cross(self):
        # A longer observation does not lower S_c everywhere: 1 year lies
        # above 0.5 years at low frequencies and below it near the knee.
        f = np.geomspace(1e-5, 1e-2, 400)
        half, one = noise.LISA(0.5).confusion_psd(f), noise.LISA(1).confusion_psd(f)
        assert (one > half).any() and (one < half).any()

    def test_confusion_vanishes_far_above_the_knee_without_nan(self):
        f = np.array([1.0, 10.0, 369.0, 1e4])
        for y in (0.5, 1, 2, 4):
            sc = noise.LISA(y).confusion_psd(f)
            assert np.all(np.isfinite(sc)) and np.all(sc < 1e-60)

    def test_shape_and_units(self):
        u = pytest.importorskip("astropy.units")
        grid = np.geomspace(1e-4, 1e-1, 12).reshape(3, 4)
        assert noise.lisa(grid).shape == (3, 4)
        assert noise.lisa(1e-3) == noise.lisa(1.0 * u.mHz)

    @pytest.mark.parametrize("years", [5, 0.25, -1, "four"])
    def test_only_times_the_fits_cover(self, years):
        with pytest.raises(InputError, match="years") as err:
            noise.LISA(years)
        assert err.value.argument == "years"
        if years in (5, 0.25):  # the list, and the curve that takes any time
            assert "0.5, 1, 2, 4 years" in str(err.value) and "'lisa-scird'" in str(err.value)

    def test_bad_frequencies(self):
        with pytest.raises(InputError, match=r"f\[1\] = 0.0"):
            noise.lisa([1e-3, 0.0])


# ---- files ---------------------------------------------------------------


def write(tmp_path, text, name="curve.txt"):
    p = tmp_path / name
    p.write_text(text)
    return p


class TestFromFile:
    def test_kinds_agree_and_nodes_are_reproduced(self, tmp_path):
        f = np.geomspace(1e-4, 1e-1, 7)
        hn = noise.lisa(f)
        asd = hn / np.sqrt(f)
        psd = hn**2 / f
        curves = {
            "hn": write(tmp_path, "".join(f"{a!r} {b!r}\n" for a, b in zip(f, hn)), "hn.txt"),
            "asd": write(tmp_path, "# f, asd\n" + "".join(f"{a!r}, {b!r}\n" for a, b in zip(f, asd)), "asd.txt"),
            "psd": write(tmp_path, "freq psd\n" + "".join(f"{a!r}\t{b!r}\n" for a, b in zip(f, psd)), "psd.txt"),
        }
        for kind, path in curves.items():
            c = noise.from_file(path, kind)
            # exp(log(x)) and the kind conversion: a few ulp.
            np.testing.assert_allclose(c(f), hn, rtol=1e-13, err_msg=kind)

    def test_log_log_interpolation(self, tmp_path):
        c = noise.from_file(write(tmp_path, "1e-3 1e-20\n1e-1 1e-16\n"), "hn")
        # h_n ~ f^2 between the nodes: at the log-midpoint 1e-2, 1e-18.
        assert c(1e-2) == pytest.approx(1e-18, rel=1e-12)
        assert c(np.array([3e-3]))[0] == pytest.approx(1e-20 * 3**2, rel=1e-12)

    def test_outside_the_range_is_infinite_and_counted(self, tmp_path):
        c = noise.from_file(write(tmp_path, "1e-3 1e-20\n1e-2 1e-19\n"), "hn")
        grid = np.array([[1e-4, 1e-3, 5e-3, 1e-2, 2e-2], [2e-3, 3e-3, 4e-3, 5e-3, 6e-3]])
        sample = c.evaluate(grid)
        assert np.isinf(sample.hn[0, [0, 4]]).all() and np.isfinite(sample.hn[0, 1:4]).all()
        assert sample.n_outside.tolist() == [2, 0]
        assert c.range == (1e-3, 1e-2)

    @pytest.mark.needs_library
    def test_points_outside_contribute_nothing_to_the_snr(self, tmp_path, library_path):
        import phenomd

        f = np.geomspace(1e-5, 1.0, 400)
        full = noise.from_file(write(tmp_path, "".join(f"{a!r} {b!r}\n" for a, b in zip(f, noise.lisa(f)))), "hn")
        cut = noise.from_file(write(tmp_path, "".join(f"{a!r} {b!r}\n" for a, b in zip(f, noise.lisa(f)) if a < 2e-3),
                                    "cut.txt"), "hn")
        kw = dict(m1=1e6, m2=5e5, spin1=0.2, spin2=0.1, distance=None, redshift=1.0, t_start=4.0, length=500)
        a = phenomd.binary_snr(**kw, method="trapezoid", noise=full)
        b = phenomd.binary_snr(**kw, method="trapezoid", noise=cut)
        assert a.n_outside[0] == 0 and b.n_outside[0] > 0
        # Cutting the curve at 2 mHz (above the merger boundary here) keeps
        # the inspiral below it and loses merger and ringdown.
        assert a.f_merger_start[0] < 2e-3 < a.f_ringdown_start[0]
        assert b.snr_rd[0] == 0.0 and 0 < b.snr_mrg[0] < a.snr_mrg[0]

    @pytest.mark.parametrize("text, line, words", [
        ("1e-3 1e-20\n2e-3 2e-20\n1.5e-3 3e-20\n", 3, "strictly ascending"),
        ("1e-3 1e-20\n1e-3 2e-20\n", 2, "strictly ascending"),
        ("# comment\n1e-3 1e-20\n\n2e-3 -2e-20\n", 4, "positive"),
        ("0 1e-20\n2e-3 2e-20\n", 1, "positive"),
        ("1e-3 nan\n2e-3 2e-20\n", 1, "non-finite"),
        ("1e-3 1e-20\n2e-3 inf\n", 2, "non-finite"),
        ("1e-3 1e-20 5\n2e-3 2e-20\n", 1, "expected two numbers"),
        ("f h\n1e-3 1e-20\nabc 2e-20\n", 3, "expected two numbers"),
        ("1e-3 1e-20\n", None, "at least 2"),
        ("# nothing\n", None, "0 data point(s)"),
        ("1e-3 1e-20\n0.0031622776601683794 2e-20\n0.00316227766016838 3e-20\n", 3, "within a relative 1e-09 of line 2"),
        (b"# f [Hz] \xb5 asd\n1e-3 1e-20\n2e-3 2e-20\n", 1, "byte 10 (0xb5) is not UTF-8"),  # cp1252 micro sign
        (b"/dev/zero", None, "not a regular file"),
    ])
    def test_bad_files_name_file_and_line(self, tmp_path, text, line, words):
        if text == b"/dev/zero":  # a device streams without end
            p = "/dev/zero"
            with pytest.raises(noise.NoiseFileError, match=words):
                noise.from_file(p, "asd")
            return
        p = tmp_path / "bad.txt"
        p.write_bytes(text if isinstance(text, bytes) else text.encode())
        with pytest.raises(noise.NoiseFileError) as err:
            noise.from_file(p, "asd")
        assert err.value.line == line and err.value.path == str(p)
        assert str(err.value).startswith(f"{p}, line {line}:" if line else f"{p}:")
        assert words in str(err.value)

    def test_byte_order_mark_is_accepted(self, tmp_path):
        p = tmp_path / "bom.txt"
        p.write_bytes(b"\xef\xbb\xbf1e-3 1e-20\n2e-3 2e-20\n")
        assert noise.from_file(p, "hn")(1e-3) == pytest.approx(1e-20, rel=1e-14)

    def test_spline_that_would_ring_gives_way_to_pchip(self, tmp_path):
        # A clean file (LISA's curve, 4 digits) and the same with one point
        # 1e-6 (relative) after another, 0.1 % off: the spline through the
        # pair swings far outside the data (a 70-fold SNR before); PCHIP
        # stays, on every interval, between its two nodes (Fritsch &
        # Carlson 1980), and the clean file keeps the cubic spline.
        f = np.geomspace(1e-5, 1.0, 301)
        h = np.array([float(f"{v:.4g}") for v in noise.lisa(f)])
        clean = noise.from_file(write(tmp_path, "".join(f"{a!r} {b!r}\n" for a, b in zip(f, h))), "hn")
        g, hh = np.insert(f, 151, f[150] * (1 + 1e-6)), np.insert(h, 151, h[150] * 1.001)
        paired = noise.from_file(write(tmp_path, "".join(f"{a!r} {b!r}\n" for a, b in zip(g, hh)), "pair.txt"), "hn")
        assert clean.interpolation == "cubic" and paired.interpolation == "pchip" and "overshoots" in repr(paired)
        u = np.linspace(0, 1, 41)[1:-1]
        x = np.exp(np.log(g[:-1, None]) + u * np.diff(np.log(g))[:, None])
        got = np.log(paired(x))
        lo, hi = np.log(np.minimum(hh[:-1], hh[1:])), np.log(np.maximum(hh[:-1], hh[1:]))
        assert (got >= lo[:, None] - 1e-12).all() and (got <= hi[:, None] + 1e-12).all()
        # PCHIP is local (a node's slope depends on its two neighbours): away
        # from the pair the curve is PCHIP's through the clean file.
        dense = np.geomspace(1e-5, 1.0, 20001)
        far = (dense < f[148]) | (dense > f[153])
        ref = noise.TabulatedNoise(f, h, interpolation="pchip")
        np.testing.assert_allclose(paired(dense[far]), ref(dense[far]), rtol=1e-12, atol=0)

    def test_missing_file_and_unknown_kind(self, tmp_path):
        with pytest.raises(noise.NoiseFileError, match="cannot read"):
            noise.from_file(tmp_path / "absent.txt", "psd")
        with pytest.raises(InputError, match="kind = 'strain'"):
            noise.from_file(write(tmp_path, "1 1\n2 2\n"), "strain")


@pytest.mark.parametrize("p", [-290, 250])
def test_noise_far_from_usual_levels_scales_the_snr_exactly(tmp_path, p):
    """SNR is inversely proportional to h_n: an ASD file written 10^p times
    the LISA curve (decimal exponents shifted in the text, so the scaling
    is exact) gives 10^-p times every SNR, including where h_n is
    subnormal (p = -290: h_n ~ 1e-310, SNR ~ 1e293) and where (h_c/h_n)^2
    would underflow (p = 250), by every method and for the curve as a
    plain function, and the same detection
    time for a threshold scaled alike."""
    import phenomd

    f = np.geomspace(1e-5, 1.0, 400)
    asd = noise.lisa(f) / np.sqrt(f)
    rows = [f"{a!r} {b:.17e}\n" for a, b in zip(f, asd)]
    shifted = [r.rsplit("e", 1)[0] + f"e{int(r.rsplit('e', 1)[1]) + p}\n" for r in rows]
    ref = noise.from_file(write(tmp_path, "".join(rows), "ref.txt"), "asd")
    odd = noise.from_file(write(tmp_path, "".join(shifted), "odd.txt"), "asd")
    binary = ([1e6, 3e4], [5e5, 2e4], [0.3, -0.2], [0.1, 0.5], None, [1.0, 3.0], 4.0)
    for kw, wrap in (({}, None), ({"method": "trapezoid", "length": 300}, None), ({}, "callable")):
        # "callable": the curves as plain functions, summed at the nodes.
        a, b = (phenomd.binary_snr(*binary, noise=c if wrap is None else (lambda f, c=c: c(f)), **kw)
                for c in (ref, odd))
        for name in ("snr_all", "snr_ins", "snr_mrg", "snr_rd"):
            np.testing.assert_allclose(getattr(b, name) * 10.0 ** p, getattr(a, name), rtol=1e-12)
    # The bound on the share of rho^2 beyond the file's range is scale-free.
    from phenomd._outside import outside_share

    share = [outside_share(c, np.array([1e-6, 1e-6]), np.array([0.1, 0.1]), r.f_merger_start, *binary[:2],
                           binary[5], r.distance, r.inclination_factor, r.snr_all)[1] for c, r in ((ref, a), (odd, b))]
    np.testing.assert_allclose(share[1], share[0], rtol=1e-9)
    assert (share[0] > 0).all()
    t_ref = phenomd.detection_time(*binary, snr=10.0, noise=ref)
    t_odd = phenomd.detection_time(*binary, snr=10.0 ** (1 - p), noise=odd)
    np.testing.assert_allclose(t_odd.t_detect, t_ref.t_detect, rtol=1e-9)

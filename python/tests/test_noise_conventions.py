"""Conventions of users' noise files (channels, sky averaging) and of the
LISA curve's numerically averaged response.  Robson, Cornish & Liu (2019,
sec. 2): S_n = P_n / R with P_n the noise of one Michelson channel in strain
units (their eq. 2) and R the sky-averaged response summed over two
channels, R -> 3/10; one channel's averaged sensitivity is 2 P_n / R."""

import math

import numpy as np
import pytest

from phenomd import InputError, noise

C = 299792458.0
L = 2.5e9
FSTAR = C / (2 * math.pi * L)


def p_n_by_hand(f):
    # Robson et al. eqs. 2, 10, 11: one channel's noise in strain units.
    p_oms = (1.5e-11) ** 2 * (1 + (2e-3 / f) ** 4)
    p_acc = (3e-15) ** 2 * (1 + (0.4e-3 / f) ** 2) * (1 + (f / 8e-3) ** 4)
    return (p_oms + 2 * (1 + np.cos(f / FSTAR) ** 2) * p_acc / (2 * np.pi * f) ** 4) / L**2


def write(path, f, values):
    path.write_text("# f  value\n" + "".join(f"{a!r} {b!r}\n" for a, b in zip(f, values)))
    return path


class TestLISAResponse:
    def test_numerical_response_tends_to_three_tenths(self):
        # Long-wavelength limit R = 3/10 - (169/1680) x^2 (x = f/f*).
        f = np.array([1e-5, 1e-4])
        x = f / FSTAR
        np.testing.assert_allclose(noise.LISA(None).response(f), 0.3 - 169 / 1680 * x**2, rtol=1e-7)

    def test_psd_is_p_n_over_numerical_r_plus_confusion(self):
        from phenomd.noise import _lisa_response

        f = np.array([1e-4, 3e-3, 0.05, 0.4])
        c = noise.LISA(2)
        want = p_n_by_hand(f) / _lisa_response.response(f) + noise.LISA(2, response="approximate").confusion_psd(f)
        np.testing.assert_allclose(c.psd(f), want, rtol=1e-13)

    def test_numerical_and_approximate_agree_at_low_frequency_only(self):
        # R = 3/10 (1 - (169/504) x^2 + ...) against eq. 9's 3/10 (1 - 0.6 x^2 + ...):
        # 0.265 x^2 apart, 2.7e-3 at x = f/f* = 0.1; tens of per cent near 0.3 Hz.
        num, app = noise.LISA(None), noise.LISA(None, response="approximate")
        low = np.geomspace(1e-5, 1.9e-3, 50)
        np.testing.assert_allclose(num.psd(low), app.psd(low), rtol=3e-3)
        assert abs(num.psd(0.3) / app.psd(0.3) - 1) > 0.1


@pytest.fixture
def lisa_curve():
    return noise.LISA(4)


class TestFileConventions:
    F = np.geomspace(1e-5, 1.0, 4000)

    def test_single_channel_unaveraged_psd(self, tmp_path, lisa_curve):
        # The file holds P_1 = P_n + R S_c: one channel's PSD, not averaged.
        r = lisa_curve.response(self.F)
        p1 = p_n_by_hand(self.F) + r * lisa_curve.confusion_psd(self.F)
        c = noise.from_file(write(tmp_path / "p1.txt", self.F, p1), "psd", channels=1, sky_averaged=False,
                            response="lisa")
        np.testing.assert_allclose(c(self.F), lisa_curve(self.F), rtol=1e-13)  # at the nodes
        mid = np.sqrt(self.F[1:] * self.F[:-1])
        # Between nodes: the file's spline, 20 nodes per period of R's wiggles near 1 Hz.
        np.testing.assert_allclose(c(mid), lisa_curve(mid), rtol=5e-5)
        assert "sky_averaged=False" in repr(c)

    def test_single_channel_averaged_sensitivity(self, tmp_path, lisa_curve):
        # One channel's averaged sensitivity is twice the two-channel S_n.
        asd1 = np.sqrt(2 * lisa_curve.psd(self.F))
        c = noise.from_file(write(tmp_path / "s1.txt", self.F, asd1), "asd", channels=1)
        np.testing.assert_allclose(c(self.F), lisa_curve(self.F), rtol=1e-13)

    def test_low_frequency_factors(self, tmp_path):
        # response="low-frequency": S_n = (10/3) P exactly (R = 3/10); the
        # one-channel averaged file: S_n = S / 2 = (10/3) P for S = (20/3) P.
        f = np.geomspace(1e-4, 1e-3, 20)
        p = 1e-38 * (f / 1e-3) ** -4
        c = noise.from_file(write(tmp_path / "p.txt", f, p), "psd", channels=1, sky_averaged=False,
                            response="low-frequency")
        np.testing.assert_allclose(c.psd(f), 10 / 3 * p, rtol=1e-13)
        c1 = noise.from_file(write(tmp_path / "s.txt", f, 20 / 3 * p), "psd", channels=1)
        np.testing.assert_allclose(c1.psd(f), 10 / 3 * p, rtol=1e-13)

    @pytest.mark.needs_library
    def test_snr_from_the_file_is_the_built_in_snr(self, tmp_path, library_path, lisa_curve):
        # The end-to-end check a user would make: a single-channel,
        # non-averaged PSD file of the LISA curve, loaded with its
        # convention, gives the built-in SNRs; loaded as if it were already
        # averaged, it gives SNRs sqrt(10/3) too large at low frequency.
        import phenomd

        r = lisa_curve.response(self.F)
        p1 = p_n_by_hand(self.F) + r * lisa_curve.confusion_psd(self.F)
        path = write(tmp_path / "p1.txt", self.F, p1)
        right = noise.from_file(path, "psd", channels=1, sky_averaged=False, response="lisa")
        wrong = noise.from_file(path, "psd")
        amp = phenomd.amplitude([1e6, 3e5, 2e4], [5e5, 1e5, 1e4], 0.3, -0.2, None, [1.0, 2.0, 0.5], 4.0)
        snr = {}
        for key, c in (("built-in", lisa_curve), ("right", right), ("wrong", wrong)):
            snr[key] = phenomd.snr(amp.freqs, amp.hc, c(amp.freqs), amp.f_merger_start, amp.f_ringdown_start)
        np.testing.assert_allclose(snr["right"].snr_all, snr["built-in"].snr_all, rtol=1e-6)
        # The 1e6 + 5e5 binary at z = 1 radiates below ~3 mHz, where R ~ 3/10.
        assert snr["wrong"].snr_all[0] / snr["right"].snr_all[0] == pytest.approx(math.sqrt(10 / 3), rel=0.03)


class TestFileInterpolation:
    def test_cubic_follows_a_smooth_curve_far_better_than_lines(self, tmp_path):
        truth = noise.LISASciRD(None)
        f = np.geomspace(1e-5, 1, 120)
        path = write(tmp_path / "h.txt", f, truth(f))
        mid = np.sqrt(f[1:] * f[:-1])
        err = {}
        for how in ("cubic", "linear"):
            c = noise.from_file(path, "hn", interpolation=how)
            np.testing.assert_allclose(c(f), truth(f), rtol=1e-14)  # the nodes themselves
            err[how] = np.max(np.abs(np.log(c(mid) / truth(mid))))
        assert err["cubic"] < 1e-5 < err["linear"]  # measured: 4e-6 and 2.4e-3

    def test_power_laws_exact_with_either(self, tmp_path):
        f = np.geomspace(1e-4, 1e-1, 9)
        path = write(tmp_path / "pl.txt", f, 1e-20 * (f / 1e-3) ** -1.5)
        g = np.geomspace(1e-4, 1e-1, 101)
        for how in ("cubic", "linear"):
            np.testing.assert_allclose(noise.from_file(path, "hn", interpolation=how)(g),
                                       1e-20 * (g / 1e-3) ** -1.5, rtol=1e-12)


@pytest.mark.parametrize("kwargs, words", [
    (dict(sky_averaged=False), "needs the detector's response"),
    (dict(sky_averaged=False, channels=2, response="lisa"), "one channel"),
    (dict(channels=3), "must be 1 or 2"),
    (dict(sky_averaged="yes"), "must be True or False"),
    (dict(sky_averaged=False, response="virgo"), "a curve name"),
    (dict(interpolation="quintic"), "'pchip' or 'linear'"),
])
def test_convention_arguments_checked(tmp_path, kwargs, words):
    p = write(tmp_path / "c.txt", [1e-3, 2e-3], [1e-40, 2e-40])
    with pytest.raises(InputError, match=words):
        noise.from_file(p, "psd", **kwargs)

"""The strain and SNR convention: the package's averaged h_c against the
leading-order (Newtonian) stationary-phase amplitude computed here from the
chirp mass, and its SNR against an independent quadrature; the inclination
factors exactly.

Leading-order amplitude of one polarisation of a face-on source (Cutler &
Flanagan 1994, eq. 3.7; Peters & Mathews 1963):

    A(f) = sqrt(5/24) pi^(-2/3) (G Mc_z / c^3)^(5/6) f^(-7/6) c / D_L,

Mc_z = (1+z) eta^(3/5) M the redshifted chirp mass.  With h+ = A(1+cos^2 i)/2,
hx = A cos i and the sky- and polarisation-averaged PSD S_n,

    rho^2 = 4 int <|h+|^2 + |hx|^2>_i / S_n df = (16/5) int A^2 / S_n df
          = (16/5) int (f A)^2 / (f S_n) d ln f,

so the averaged characteristic strain is h_c,avg = sqrt(16/5) f A and
rho^2 = int (h_c,avg / h_n)^2 d ln f with h_n = sqrt(f S_n).
"""

import math

import numpy as np
import pytest

import phenomd

pytestmark = pytest.mark.needs_library

# Constants written out here, independent of the module's own.
G = 6.67430e-11  # m^3 kg^-1 s^-2, CODATA 2018
C = 299792458.0  # m/s, exact
GM_SUN = 1.3271244e20  # m^3 s^-2, IAU 2015 Resolution B3 nominal solar mass parameter
MPC = 3.0856775814913673e22  # m: 10^6 pc, pc = 648000/pi au, au = 149597870700 m (IAU 2012)


def newtonian_amplitude(f, m1, m2, z, distance_mpc):
    M = (m1 + m2) * (1 + z)
    eta = m1 * m2 / (m1 + m2) ** 2
    t_chirp = eta ** 0.6 * M * GM_SUN / C ** 3  # G Mc_z / c^3 in seconds
    return math.sqrt(5 / 24) * math.pi ** (-2 / 3) * t_chirp ** (5 / 6) * f ** (-7 / 6) * C / (distance_mpc * MPC)


def one_pn_coefficient(eta):
    """Relative 1PN correction of the stationary-phase amplitude, in units
    of x = v^2 = (pi M f)^(2/3).  |h~| is proportional to
    |h_22| sqrt(-dE/dv / F) (stationary phase), so the 1PN coefficient is the
    sum of the 1PN terms of
      -dE/dv, E = -(eta M v^2/2)(1 - (9 + eta) v^2/12):  -(9 + eta)/6, halved;
      1/F, F proportional to 1 - (1247/336 + 35 eta/12) v^2:  +(1247/336 + 35 eta/12), halved;
      the (2,2) mode amplitude 1 + (-107/42 + 55 eta/42) v^2,
    (Blanchet 2014, Living Rev. Relativ. 17, 2: binding energy, flux and mode
    amplitudes at 1PN), which add up to -323/224 + 451 eta/168."""
    return -(9 + eta) / 12 + (1247 / 336 + 35 * eta / 12) / 2 + (-107 / 42 + 55 * eta / 42)


# Robson, Cornish & Liu 2019 (CQG 36 105011) eqs. 1, 10, 11 with the
# approximate response of eq. 9, no confusion noise: two Michelson
# channels, sky- and polarisation-averaged.
L_ARM = 2.5e9
F_STAR = C / (2 * math.pi * L_ARM)


def robson_psd(f):
    p_oms = (1.5e-11) ** 2 * (1 + (2e-3 / f) ** 4)
    p_acc = (3e-15) ** 2 * (1 + (0.4e-3 / f) ** 2) * (1 + (f / 8e-3) ** 4)
    return (10 / (3 * L_ARM ** 2) * (p_oms + 2 * (1 + np.cos(f / F_STAR) ** 2) * p_acc / (2 * np.pi * f) ** 4)
            * (1 + 0.6 * (f / F_STAR) ** 2))


def robson_hn(f):
    return np.sqrt(f * robson_psd(f))


class TestFactors:
    def test_named_conventions_exactly(self):
        assert phenomd.inclination_factor("average") == math.sqrt(16 / 5)
        assert phenomd.inclination_factor("face-on") == math.sqrt(8)
        assert phenomd.inclination_factor("edge-on") == 1.0
        assert np.array_equal(phenomd.inclination_factor("face-on", n=3), np.full(3, math.sqrt(8)))

    def test_angles_follow_the_polarisation_amplitudes(self):
        # k(i)^2 = 4 (|h+|^2 + |hx|^2)/A^2 with h+ = A(1+cos^2 i)/2, hx = A cos i,
        # computed here per angle.
        i = np.array([0.0, 0.3, math.pi / 3, math.pi / 2, 2.0, math.pi])
        c = np.cos(i)
        want = np.sqrt(4 * (((1 + c ** 2) / 2) ** 2 + c ** 2))
        np.testing.assert_allclose(phenomd.inclination_factor(i), want, rtol=1e-15)
        assert phenomd.inclination_factor(0.0) == pytest.approx(math.sqrt(8), rel=1e-15)
        assert phenomd.inclination_factor(math.pi / 2) == pytest.approx(1.0, rel=1e-15)
        # The isotropic average of k^2 over cos i uniform in [-1, 1] is 16/5
        # (Gauss-Legendre, exact for this degree-4 polynomial in cos i).
        x, w = np.polynomial.legendre.leggauss(8)
        k2 = phenomd.inclination_factor(np.arccos(x)) ** 2
        assert 0.5 * np.sum(w * k2) == pytest.approx(16 / 5, rel=1e-14)

    def test_quantity_angles_and_bad_values(self):
        u = pytest.importorskip("astropy.units")
        assert phenomd.inclination_factor(60 * u.deg) == pytest.approx(phenomd.inclination_factor(math.pi / 3),
                                                                         rel=1e-15)
        for bad, words in [("sideways", "must be 'average'"), (np.nan, "finite"), (3 * u.m, "does not convert"),
                           ("", "must be 'average'")]:
            with pytest.raises(phenomd.InputError, match=words) as err:
                phenomd.inclination_factor(bad)
            assert err.value.argument == "inclination"
        with pytest.raises(phenomd.InputError, match="2 values for 3 binaries"):
            phenomd.inclination_factor([0.1, 0.2], n=3)

    def test_plain_numbers_outside_zero_to_pi_are_refused_as_likely_degrees(self):
        # 60 read as radians gave k = 2.66, 1.5 times the average, where
        # 60 degrees gives 0.9 times: a plain number is radians in [0, pi].
        u = pytest.importorskip("astropy.units")
        rng = np.random.default_rng(4)
        for _ in range(20):
            angles = rng.uniform(0, math.pi, 6)
            i = int(rng.integers(6))
            angles[i] = rng.choice([-1, 1]) * rng.uniform(math.pi + 1e-9, 360)
            angles[i] = angles[i] if angles[i] > 0 else -rng.uniform(1e-9, 3)
            with pytest.raises(phenomd.InputError, match=rf"inclination\[{i}\] = .*radians, in \[0, pi\]; did "
                                                         "you mean .*deg") as err:
                phenomd.inclination_factor(angles, n=6)
            assert err.value.index == i
        with pytest.raises(phenomd.InputError, match="did you mean 60deg"):
            phenomd.binary_snr(1e6, 1e6, 0.0, 0.0, None, 1.0, 4.0, inclination=60)
        assert phenomd.inclination_factor(math.pi) == phenomd.inclination_factor(0.0)  # both ends accepted
        assert phenomd.inclination_factor(200 * u.deg) == pytest.approx(phenomd.inclination_factor(math.radians(160)))

    def test_results_scale_by_the_factor_and_edge_on_is_the_module(self, library_path):
        kw = dict(m1=[1e6, 3e4, 2e5], m2=[5e5, 2e4, 2e5], spin1=0.3, spin2=-0.2, distance=[1e4, 3e3, 5e3],
                  redshift=[1.0, 0.4, 0.7], t_start=4.0, length=100)
        edge = phenomd.amplitude(**kw, inclination="edge-on")
        # Bitwise the module called through bare ctypes (test_core's helper).
        from test_core import direct_amplitude

        f, hc, _, _ = direct_amplitude(library_path, {**kw, "t_end": 0.0}, 100)
        assert np.array_equal(edge.hc.ravel(), hc) and np.array_equal(edge.freqs.ravel(), f)
        angles = np.array([0.0, 1.0, math.pi / 2])
        for incl, k in [("average", math.sqrt(16 / 5)), ("face-on", math.sqrt(8)),
                        (angles, phenomd.inclination_factor(angles))]:
            got = phenomd.amplitude(**kw, inclination=incl)
            assert np.array_equal(got.hc, edge.hc * np.reshape(k, (-1, 1)))
            assert np.array_equal(got.inclination_factor, np.broadcast_to(k, (3,)))
        noise = phenomd.noise.LISA(4, response="approximate")
        se = phenomd.binary_snr(**kw, method="trapezoid", noise=noise, inclination="edge-on")
        for incl, k in [("average", math.sqrt(16 / 5)), ("face-on", math.sqrt(8)), (angles, angles)]:
            s = phenomd.binary_snr(**kw, method="trapezoid", noise=noise, inclination=incl)
            k = phenomd.inclination_factor(k) if incl is angles else k
            # The SNR is linear in h_c: equal to rounding.
            np.testing.assert_allclose(s.snr_all, se.snr_all * k, rtol=1e-14)
            np.testing.assert_allclose(s.snr_ins, se.snr_ins * k, rtol=1e-14)
        # snr() applies no factor: it integrates what it is given.
        a = phenomd.amplitude(**kw)
        s = phenomd.snr(a.freqs, a.hc, noise, a.f_merger_start, a.f_ringdown_start)
        s_avg = phenomd.binary_snr(**kw, method="trapezoid", noise=noise, population=False)  # the same two library calls
        assert np.array_equal(s.snr_all, s_avg.snr_all)


class TestNewtonianLimit:
    """At Mf -> 0 the model's inspiral amplitude tends to the leading-order
    one; the first correction is the 1PN term a2 x, x = (pi M f)^(2/3)."""

    @pytest.mark.parametrize("t_start", [1e6, 1e4, 1e2])
    def test_averaged_strain_over_newtonian_tends_to_one(self, t_start):
        m1, m2, z, d = 1e5, 1e5, 0.5, 2000.0
        a = phenomd.amplitude(m1, m2, 0.0, 0.0, d, z, t_start, length=50)
        f = a.freqs[0]
        Mf = f * (m1 + m2) * (1 + z) * GM_SUN / C ** 3
        low = Mf <= 1e-4
        assert low.sum() >= 3
        ratio = a.hc[0][low] / (math.sqrt(16 / 5) * f[low] * newtonian_amplitude(f[low], m1, m2, z, d))
        x = (np.pi * Mf[low]) ** (2 / 3)
        a2 = one_pn_coefficient(0.25)
        # Deviation within the 1PN term (< 3e-3 at Mf <= 1e-4)...
        assert np.all(np.abs(ratio - 1) <= 1.2 * abs(a2) * x)
        # ...and it IS the 1PN term, up to terms of relative order
        # v = x^(1/2) (and the ~1e-9 difference of the module's constants).
        v = np.sqrt(x)
        assert np.all(np.abs((ratio - 1) / (a2 * x) - 1) <= 3 * v)


class TestAveragedSNR:
    @pytest.mark.parametrize("t_start, t_end", [(10.0, 5.0), (100.0, 10.0), (4.0, 1.0)])
    def test_inspiral_band_against_quadrature_of_the_newtonian_amplitude(self, t_start, t_end):
        """A 1e4 + 1e4 solar-mass binary years before merger (Mf < 1e-4, well
        inside the inspiral) against Robson et al.'s curve: the package's
        default SNR is (16/5) int A^2/S_n df, to the 1PN correction of the
        amplitude at the band's top, |a2| x_max < 0.4 %."""
        m1 = m2 = 1e4
        z, d = 0.1, 500.0
        kw = dict(m1=m1, m2=m2, spin1=0.0, spin2=0.0, distance=d, redshift=z, t_start=t_start, t_end=t_end,
                  length=1000)
        grid = phenomd.amplitude(**kw).freqs[0]
        r = phenomd.binary_snr(**kw, noise=robson_hn)
        assert r.snr_ins[0] == r.snr_all[0]  # the band ends in the inspiral
        from scipy.integrate import quad

        def integrand(ln_f):
            f = math.exp(ln_f)
            return 16 / 5 * f * newtonian_amplitude(f, m1, m2, z, d) ** 2 / robson_psd(f)

        rho_newton = math.sqrt(quad(integrand, math.log(grid[0]), math.log(grid[-1]), epsrel=1e-12, limit=200)[0])
        x_max = (math.pi * grid[-1] * (m1 + m2) * (1 + z) * GM_SUN / C ** 3) ** (2 / 3)
        bound = 1.2 * abs(one_pn_coefficient(0.25)) * x_max
        assert bound < 4e-3
        assert abs(r.snr_all[0] / rho_newton - 1) <= bound
        # Edge-on, it is the module's h_c: sqrt(5/16) of that.
        edge = phenomd.binary_snr(**kw, noise=robson_hn, inclination="edge-on")
        assert abs(edge.snr_all[0] * math.sqrt(16 / 5) / rho_newton - 1) <= bound
        # The package's own LISA curve (instrument only, eq. 9 response) is
        # this h_n: the same SNR through either path.
        own = phenomd.binary_snr(**kw, noise=phenomd.noise.LISA(None, response="approximate"))
        assert own.snr_all[0] == pytest.approx(r.snr_all[0], rel=1e-9)


def test_band_ends_are_the_documented_1pn_chirp():
    # docs/conventions.md, "The band": M f(t) = theta^(-3/8) [1 + (743/2688
    # + 11/32 eta) theta^(-1/4)] / (8 pi), theta = eta t / (5 M), M the
    # redshifted total mass in seconds; t_end <= 0 ends the band at M f = 0.2.
    rng = np.random.default_rng(3)
    m1 = 10 ** rng.uniform(3, 8, 50)
    m2 = m1 * 10 ** rng.uniform(-2.5, 0, 50)
    z, t = rng.uniform(0, 5, 50), 10 ** rng.uniform(-2, 1, 50)
    a = phenomd.amplitude(m1, m2, 0.0, 0.0, 1e3, z, t, 0.0, 2)
    m_sec = (m1 + m2) * (1 + z) * GM_SUN / C**3
    eta = m1 * m2 / (m1 + m2) ** 2
    theta = eta * t * 365.25 * 86400 / (5 * m_sec)
    mf = theta ** (-3 / 8) * (1 + (743 / 2688 + 11 / 32 * eta) * theta ** (-1 / 4)) / (8 * math.pi)
    live = mf < 0.2
    np.testing.assert_allclose(a.freqs[live, 0], (mf / m_sec)[live], rtol=1e-6)
    np.testing.assert_allclose(a.freqs[live, -1], (0.2 / m_sec)[live], rtol=1e-6)

// Leaver's radial and angular continued fractions on their own: closed-form
// limits, perturbation theory, and the asymptotics behind Nollert's tail.
#include <gtest/gtest.h>

#include <cmath>

#include "angular_eigenvalue.h"
#include "radial_cf.h"

namespace qnm {
namespace {

// --- angular eigenvalue -----------------------------------------------------

TEST(AngularEigenvalue, SphericalLimitIsLTimesLPlusOneMinusSTimesSPlusOne) {
  // At c = 0 the recurrence is diagonal and G(A) = beta_0 = l(l+1) - s(s+1) - A
  // for the lowest l = max(|m|, |s|).  Exact up to the secant's rounding.
  for (const ModeIndices mode : {ModeIndices{-2, 2, 2}, ModeIndices{-2, 2, -2},
                                 ModeIndices{-2, 3, 3}, ModeIndices{0, 1, 1}}) {
    const AngularResult r = solve_angular_eigenvalue(0.0, mode, 1.0);
    ASSERT_TRUE(r.converged);
    EXPECT_NEAR(r.A.real(), spherical_separation_constant(mode), 1e-12) << mode.l << mode.m;
    EXPECT_NEAR(r.A.imag(), 0.0, 1e-12);
  }
  EXPECT_EQ(spherical_separation_constant(ModeIndices{-2, 2, 2}), 4.0);
}

TEST(AngularEigenvalue, FirstOrderInCMatchesPerturbationTheory) {
  // The -2 c s u term shifts A by 2 c s <u> with <u> = -m s / (l(l+1)) for a
  // spin-weighted spherical harmonic: dA/dc = -2 s^2 m / (l(l+1)) = -8/3 for
  // s = -2, l = m = 2, and +8/3 for m = -2.  The O(c^2) remainder at
  // c = 1e-4 leaves a difference quotient within 1e-4 of the slope.
  const double c = 1e-4;
  const AngularResult plus = solve_angular_eigenvalue(c, {-2, 2, 2}, 4.0);
  const AngularResult minus = solve_angular_eigenvalue(c, {-2, 2, -2}, 4.0);
  EXPECT_NEAR((plus.A.real() - 4.0) / c, -8.0 / 3.0, 1e-4);
  EXPECT_NEAR((minus.A.real() - 4.0) / c, 8.0 / 3.0, 1e-4);
}

TEST(AngularEigenvalue, ScalarSpheroidalSecondOrder) {
  // s = 0: A = l(l+1) - c^2 <u^2> + O(c^4), <u^2> = 1/3 for l = m = 0 and 1/5
  // for l = m = 1.  At c = 0.1 the c^4 term is below 2e-6.
  const double c = 0.1;
  EXPECT_NEAR(solve_angular_eigenvalue(c, {0, 0, 0}, 0.0).A.real(), -c * c / 3.0, 5e-6);
  EXPECT_NEAR(solve_angular_eigenvalue(c, {0, 1, 1}, 2.0).A.real(), 2.0 - c * c / 5.0, 5e-6);
}

TEST(AngularEigenvalue, ReflectionSymmetryCAndMToMinusCAndMinusM) {
  // u -> -u maps the equation with (c, m) onto (-c, -m); the recurrence swaps
  // k1 and k2, so the two eigenvalues agree only if both branches are right.
  const cplx c(0.7, -0.05);
  const AngularResult a = solve_angular_eigenvalue(c, {-2, 2, 2}, 3.0);
  const AngularResult b = solve_angular_eigenvalue(-c, {-2, 2, -2}, 3.0);
  ASSERT_TRUE(a.converged && b.converged);
  EXPECT_NEAR(std::abs(a.A - b.A), 0.0, 1e-12);
}

TEST(AngularEigenvalue, DepthIsConverged) {
  // The angular series' ratio falls like 2c/n: depth 100 and 200 must agree
  // to rounding for |c| ~ 1, the largest the ringdown tables reach.
  const cplx c(0.96, -0.01);
  const ModeIndices mode{-2, 2, 2};
  const cplx a100 = solve_angular_eigenvalue(c, mode, 2.0, 100).A;
  const cplx a200 = solve_angular_eigenvalue(c, mode, 2.0, 200).A;
  EXPECT_LT(std::abs(a100 - a200), 1e-13);
}

// --- radial continued fraction ----------------------------------------------

TEST(RadialContinuedFraction, TailRatioMatchesMinimalSolution) {
  // The ratio a_{n+1}/a_n of the minimal solution, from a backward sweep
  // started far deeper, must agree with 1 + C1/sqrt(n) + C2/n up to the
  // omitted O(n^(-3/2)) term; with the opposite branch of C1 or a wrong C2 the
  // discrepancy would be O(n^(-1/2)) or O(n^(-1)).
  const ModeIndices mode{-2, 2, 2};
  for (double a : {0.0, 0.7, -0.9}) {
    const RadialRecurrence rec(0.5 * a, cplx(0.8, -0.18), mode.s, mode.m, cplx(3.0, 0.1));
    cplx r = 1.0 + rec.tail_c1() / std::sqrt(400000.0) + rec.tail_c2() / 400000.0;
    double prev_scaled = 0.0;
    for (int n = 400000; n >= 1000; --n) {
      r = -rec.gamma(n) / (rec.beta(n) + rec.alpha(n) * r);  // r is now r_{n-1}
      const int k = n - 1;
      if (k == 1000 || k == 4000 || k == 16000) {
        const double dk = k;
        const cplx tail = 1.0 + rec.tail_c1() / std::sqrt(dk) + rec.tail_c2() / dk;
        const double scaled = std::abs(r - tail) * std::pow(dk, 1.5);
        // The scaled discrepancy is the next coefficient |C3|: bounded, and
        // the same at every k to within the O(1/sqrt(k)) correction.
        EXPECT_LT(scaled, 10.0) << "a=" << a << " k=" << k;
        if (prev_scaled > 0.0) {
          EXPECT_NEAR(scaled / prev_scaled, 1.0, 0.5);
        }
        prev_scaled = scaled;
      }
    }
    EXPECT_LT(rec.tail_c1().real(), 0.0);
  }
}

TEST(RadialContinuedFraction, NollertTailIsCloserThanTruncationAtEqualDepth) {
  // Near extremality the plain fraction converges slowly; the asymptotic
  // start must bring the value at depth 300 nearer to the deep limit.
  const ModeIndices mode{-2, 2, 2};
  const double a = -0.99;
  const cplx w(0.29, -0.088), A(4.5, 0.1);
  const cplx deep = radial_continued_fraction(a, w, mode, A, 200000, Tail::kNone);
  const cplx plain = radial_continued_fraction(a, w, mode, A, 300, Tail::kNone);
  const cplx tail = radial_continued_fraction(a, w, mode, A, 300, Tail::kNollert);
  EXPECT_LT(std::abs(tail - deep), 0.2 * std::abs(plain - deep));
}

}  // namespace
}  // namespace qnm

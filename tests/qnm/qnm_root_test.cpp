// The QNM root finder: Schwarzschild values, depth doubling, the symmetries
// of the Kerr spectrum, and continuation in spin.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "angular_eigenvalue.h"
#include "qnm_root.h"

namespace qnm {
namespace {

const ModeIndices kMode22{-2, 2, 2};

TEST(QnmRootSchwarzschild, FundamentalL2) {
  // Leaver (1985) Table 1 / Nollert (1993): M omega = 0.37367168 - 0.08896232 i,
  // quoted to 8 decimals, so the tolerance is half a unit in the last digit.
  const QnmRoot r = solve_qnm(0.0, kMode22, cplx(0.37, -0.09), cplx(4.0, 0.0));
  ASSERT_TRUE(r.converged);
  EXPECT_NEAR(r.omega.real(), 0.37367168, 5e-9);
  EXPECT_NEAR(r.omega.imag(), -0.08896232, 5e-9);
  EXPECT_NEAR(std::abs(r.A - 4.0), 0.0, 1e-12);
}

TEST(QnmRootSchwarzschild, FundamentalL3) {
  // l = 3: the standard Schwarzschild value M omega = 0.599443 - 0.092703 i
  // (Leaver 1985, Table 1, converted to M = 1), to half a unit in its 6th
  // decimal.  Exercises k1, k2 and the spherical constant for m = 3.
  const ModeIndices mode{-2, 3, 3};
  const QnmRoot r = solve_qnm(0.0, mode, cplx(0.6, -0.09),
                              cplx(spherical_separation_constant(mode), 0.0));
  ASSERT_TRUE(r.converged);
  EXPECT_NEAR(r.omega.real(), 0.599443, 5e-7);
  EXPECT_NEAR(r.omega.imag(), -0.092703, 5e-7);
}

TEST(QnmRootSchwarzschild, IndependentOfM) {
  // Without rotation the frequency cannot depend on m.
  const QnmRoot p = solve_qnm(0.0, {-2, 2, 2}, kSchwarzschildGuess, cplx(4.0, 0.0));
  const QnmRoot n = solve_qnm(0.0, {-2, 2, -2}, kSchwarzschildGuess, cplx(4.0, 0.0));
  EXPECT_NEAR(std::abs(p.omega - n.omega), 0.0, 1e-14);
}

TEST(QnmRootDepth, DoublingDiagnosticsNearExtremality) {
  // a = -0.999: the fraction needs thousands of levels.  The accepted root
  // changed by less than the 1e-12 criterion on the last doubling, and a
  // root at twice the accepted depth agrees to that level too (the estimate
  // is not fooled by a stalled sweep).
  const std::vector<QnmRoot> roots = follow_mode({-0.999}, kMode22);
  const QnmRoot& r = roots.front();
  ASSERT_TRUE(r.converged);
  EXPECT_GE(r.depth, 2048);
  EXPECT_LT(r.rel_err_re, 1e-12);
  EXPECT_LT(r.rel_err_im, 1e-12);
  const FixedDepthRoot deeper =
      find_root_fixed_depth(-0.999, kMode22, r.omega, r.A, 4 * r.depth, SolverOptions());
  EXPECT_LT(std::abs(deeper.omega - r.omega) / std::abs(r.omega), 1e-12);
}

TEST(QnmRootDepth, ShallowDepthIsDetectedAsUnconverged) {
  // With the doubling capped at depth 64 the a = -0.999 root moves by far more
  // than the criterion, and the solver must say so rather than accept it.
  SolverOptions opts;
  opts.initial_depth = 32;
  opts.max_depth = 64;
  const QnmRoot r = solve_qnm(-0.999, kMode22, cplx(0.2916, -0.0880), cplx(4.6, 0.0), opts);
  EXPECT_FALSE(r.converged);
  EXPECT_GT(std::max(r.rel_err_re, r.rel_err_im), 1e-6);
}

TEST(QnmRootSymmetry, NegativeSpinIsMinusMAtPositiveSpin) {
  // omega(-a, m) = omega(a, -m): the two problems share every radial
  // coefficient, while the angular recurrence runs with c -> -c and k1 <-> k2.
  const QnmRoot neg = follow_mode({-0.6}, {-2, 2, 2}).front();
  const QnmRoot pos = follow_mode({0.6}, {-2, 2, -2}).front();
  ASSERT_TRUE(neg.converged && pos.converged);
  EXPECT_LT(std::abs(neg.omega - pos.omega) / std::abs(neg.omega), 1e-12);
}

TEST(QnmRootSymmetry, MirrorModeIsMinusConjugate) {
  // If omega solves (a, m) then -conj(omega) solves (a, -m) (with conj A).
  // So at a = 0.6, m = 2 there is a root at -conj(omega(a = 0.6, m = -2)),
  // i.e. -conj of the counter-rotating root.  Started nearby, the solver must
  // land there and not on the co-rotating root.
  const QnmRoot counter = follow_mode({-0.6}, kMode22).front();
  const cplx target = -std::conj(counter.omega);
  const QnmRoot mirror = solve_qnm(0.6, kMode22, target * 1.01, std::conj(counter.A));
  ASSERT_TRUE(mirror.converged);
  EXPECT_LT(std::abs(mirror.omega - target) / std::abs(target), 1e-11);
  EXPECT_LT(std::abs(mirror.A - std::conj(counter.A)), 1e-10);
}

TEST(QnmRootContinuation, PathIndependence) {
  // The root at a spin must not depend on the continuation steps taken to
  // reach it (a jump to a neighbouring overtone or to the mirror mode would).
  SolverOptions coarse;
  coarse.max_spin_step = 0.1;
  const QnmRoot fine = follow_mode({0.95}, kMode22).front();
  const QnmRoot big = follow_mode({0.95}, kMode22, coarse).front();
  EXPECT_LT(std::abs(fine.omega - big.omega) / std::abs(fine.omega), 1e-12);
}

TEST(QnmRootContinuation, RejectsUnorderedOrExtremalTargets) {
  EXPECT_THROW(follow_mode({0.5, 0.4}, kMode22), std::invalid_argument);
  EXPECT_THROW(follow_mode({0.5, -0.6}, kMode22), std::invalid_argument);
  EXPECT_THROW(follow_mode({1.0}, kMode22), std::invalid_argument);
}

TEST(QnmRootContinuation, CoRotatingModeStiffensWithSpin) {
  // Physical trend of the l = m = 2 mode: Re(omega) grows and |Im(omega)|
  // shrinks towards a = 1 (Re -> m/2 = 1 at extremality, Detweiler 1980).
  const std::vector<QnmRoot> r = follow_mode({0.3, 0.6, 0.9, 0.99, 0.999}, kMode22);
  for (size_t i = 1; i < r.size(); ++i) {
    EXPECT_GT(r[i].omega.real(), r[i - 1].omega.real());
    EXPECT_LT(std::abs(r[i].omega.imag()), std::abs(r[i - 1].omega.imag()));
  }
  EXPECT_LT(r.back().omega.real(), 1.0);
  EXPECT_GT(r.back().omega.real(), 0.9);
}

}  // namespace
}  // namespace qnm

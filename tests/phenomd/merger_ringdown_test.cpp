// Merger-ringdown and intermediate pieces: peak, collocation and joins.
#include "merger_ringdown.h"

#include <gtest/gtest.h>

#include <cmath>

#include "hexfloat.h"
#include "model_fixture.h"
#include "reference.h"

namespace phenomd {
namespace {

using phenomd_test::FilledModel;
using phenomd_test::MatchesQuoted;
using phenomd_test::ParameterSpread;
using phenomd_test::Params;
using phenomd_test::RelDiff;

// Derivative of the quartic, from its coefficients.
double IntermediateSlope(const BinaryAmpModel& m, double Mf) {
  return m.delta1 + 2.0 * m.delta2 * Mf + 3.0 * m.delta3 * Mf * Mf +
         4.0 * m.delta4 * Mf * Mf * Mf;
}

// Sum of the magnitudes of the slope's terms: the scale of its rounding.
double IntermediateSlopeScale(const BinaryAmpModel& m, double Mf) {
  return std::fabs(m.delta1) + std::fabs(2.0 * m.delta2 * Mf) +
         std::fabs(3.0 * m.delta3 * Mf * Mf) +
         std::fabs(4.0 * m.delta4 * Mf * Mf * Mf);
}

struct CollocationReference {
  double eta, chi1, chi2;
  const char *gamma2, *f_peak, *f2, *v1, *d1, *v2, *v3, *d2;
  const char* delta[5];
};

// Regression snapshot of this library, six significant digits (no paper
// prints these values); the first binary takes the gamma2 <= 1 branch of the
// peak frequency, the second the gamma2 > 1 branch.
const CollocationReference kCollocation[] = {
    {0.25,
     0.0,
     0.0,
     "0.851906",
     "0.0780391",
     "0.0460196",
     "0.822662",
     "-10.7227",
     "0.875949",
     "1.15316",
     nullptr,
     {"1.07021", "-24.8871", "527.285", "-555.774", "-24857.9"}},
    {0.1,
     0.95,
     0.95,
     "1.00484",
     "0.111282",
     "0.0626411",
     "0.945435",
     "-0.429805",
     "0.966459",
     "1.21399",
     "-0.510582",
     {"0.923238", "4.35721", "-256.010", "4430.72", "-20407.9"}},
};

TEST(Collocation, ReproducesTheReferenceBinariesToSixDigits) {
  for (const CollocationReference& r : kCollocation) {
    SCOPED_TRACE(::testing::Message() << "eta=" << r.eta << " chi=" << r.chi1);
    const BinaryAmpModel m = FilledModel(r.eta, r.chi1, r.chi2).m;
    EXPECT_TRUE(MatchesQuoted(m.gamma2, r.gamma2));
    EXPECT_TRUE(MatchesQuoted(m.f_peak, r.f_peak));
    EXPECT_TRUE(MatchesQuoted(m.f2, r.f2));
    EXPECT_TRUE(MatchesQuoted(m.v1, r.v1));
    EXPECT_TRUE(MatchesQuoted(m.d1, r.d1));
    EXPECT_TRUE(MatchesQuoted(m.v2, r.v2));
    EXPECT_TRUE(MatchesQuoted(m.v3, r.v3));
    if (r.d2 != nullptr) {
      EXPECT_TRUE(MatchesQuoted(m.d2, r.d2));
    }
    const double delta[5] = {m.delta0, m.delta1, m.delta2, m.delta3, m.delta4};
    for (int k = 0; k < 5; ++k) {
      EXPECT_TRUE(MatchesQuoted(delta[k], r.delta[k])) << "delta" << k;
    }
  }
}

TEST(Collocation, RecordsTheJoinsAndCollocationFrequencies) {
  const BinaryAmpModel m = FilledModel(0.2, 0.3, -0.4).m;
  EXPECT_EQ(m.f1, 0.014);
  EXPECT_EQ(m.f_ins_end, 0.014);
  EXPECT_TRUE(phenomd_test::SameBits(m.f3, m.f_peak));
  EXPECT_TRUE(phenomd_test::SameBits(m.f_mr_start, m.f_peak));
  EXPECT_TRUE(phenomd_test::SameBits(m.f2, (m.f_peak - 0.014) * 0.5 + 0.014));
}

// The quartic meets both neighbours with value and slope, and passes through
// v2, for every binary of the spread.  The closed form is accurate to ~1e-13
// relative; 1e-10 leaves room for the ill-conditioning as f_peak nears 0.014.
TEST(Collocation, QuarticSatisfiesAllFiveConditions) {
  int both_branches[2] = {0, 0};
  for (const Params& p : ParameterSpread()) {
    SCOPED_TRACE(::testing::Message() << "eta=" << p.eta << " chi1=" << p.chi1
                                      << " chi2=" << p.chi2);
    const AmpModel a = FilledModel(p.eta, p.chi1, p.chi2);
    const BinaryAmpModel& m = a.m;
    ++both_branches[m.gamma2 > 1.0 ? 1 : 0];
    EXPECT_LT(RelDiff(IntermediateAnsatz(m, m.f1), m.v1), 1e-10);
    EXPECT_LT(RelDiff(IntermediateAnsatz(m, m.f2), m.v2), 1e-10);
    EXPECT_LT(RelDiff(IntermediateAnsatz(m, m.f3), m.v3), 1e-10);
    EXPECT_NEAR(IntermediateSlope(m, m.f1), m.d1,
                1e-10 * IntermediateSlopeScale(m, m.f1));
    EXPECT_NEAR(IntermediateSlope(m, m.f3), m.d2,
                1e-10 * IntermediateSlopeScale(m, m.f3));
  }
  EXPECT_GT(both_branches[0], 0);
  EXPECT_GT(both_branches[1], 0);
}

TEST(PeakFrequency, IsTheMaximumOfTheMergerPieceWhenGamma2AtMostOne) {
  for (const Params& p : ParameterSpread()) {
    const AmpModel a = FilledModel(p.eta, p.chi1, p.chi2);
    const BinaryAmpModel& m = a.m;
    if (m.gamma2 > 1.0) {
      // Past the stationary point's existence the slope at f_peak is
      // negative (gamma1 > 0).
      EXPECT_LT(m.d2, 0.0);
      continue;
    }
    // d2 vanishes to rounding: compare with the size of either term.
    const double x = m.f_peak - m.f_rd;
    const double L = x * x + a.shape.w_w;
    EXPECT_NEAR(m.d2, 0.0, 1e-12 * m.gamma1 * m.gamma2 / L);
    const double h = 1e-4 * a.shape.w;
    EXPECT_LT(MergerAnsatz(a.shape, m.f_peak - h), m.v3);
    EXPECT_LT(MergerAnsatz(a.shape, m.f_peak + h), m.v3);
  }
}

TEST(PeakFrequency, BothBranchesAgreeAtGamma2EqualOne) {
  const double f_rd = 0.09, f_damp = 0.013, gamma3 = 1.3;
  const double at_one = PeakFrequency(f_rd, f_damp, 1.0, gamma3);
  EXPECT_NEAR(at_one, f_rd - gamma3 * f_damp, 1e-17);
  EXPECT_NEAR(PeakFrequency(f_rd, f_damp, std::nextafter(1.0, 2.0), gamma3),
              at_one, 1e-15);
}

TEST(PeakFrequency, TakesTheAbsoluteValueOfTheWholeSum) {
  // A width far above f_rd drives the sum negative.
  EXPECT_NEAR(PeakFrequency(0.01, 1.0, 1.2, 1.0), std::fabs(0.01 - 1.0 / 1.2),
              1e-16);
}

TEST(PeakFrequency, StaysWithinThePhysicalRange) {
  for (const Params& p : ParameterSpread()) {
    const BinaryAmpModel m = FilledModel(p.eta, p.chi1, p.chi2).m;
    EXPECT_GT(m.f_peak, 0.035) << p.eta << " " << p.chi1 << " " << p.chi2;
    EXPECT_LT(m.f_peak, 0.16);
    EXPECT_GT(m.gamma1, 0.0);
    EXPECT_GT(m.gamma3, 1.28);
  }
}

TEST(MergerAnsatz, SlopeAgreesWithACentralDifference) {
  const AmpModel a = FilledModel(0.1, 0.95, 0.95);
  for (double Mf : {0.05, a.m.f_peak, 0.15, 0.19}) {
    const double h = 1e-6;
    const double diff =
        (MergerAnsatz(a.shape, Mf + h) - MergerAnsatz(a.shape, Mf - h)) /
        (2 * h);
    // Truncation ~h^2 f''' ~ 1e-12 f / w^3 ~ 1e-6 relative to the slope scale.
    EXPECT_NEAR(MergerAnsatzSlope(a.shape, Mf), diff,
                1e-5 * MergerAnsatz(a.shape, Mf) / a.shape.w)
        << Mf;
  }
}

TEST(MergerAnsatz, IsALorentzianTimesADecayingExponential) {
  const AmpModel a = FilledModel(0.25, 0.0, 0.0);
  const MergerShape& s = a.shape;
  // At Mf = f_rd the exponential is 1 and the Lorentzian gamma1 / w.
  EXPECT_NEAR(MergerAnsatz(s, s.f_rd), s.gamma1 / s.w, 1e-15 * s.gamma1 / s.w);
  // One width above f_rd: gamma1 exp(-gamma2) / (2 w).
  EXPECT_LT(RelDiff(MergerAnsatz(s, s.f_rd + s.w),
                    s.gamma1 * std::exp(-s.gamma2) / (2.0 * s.w)),
            1e-14);
}

}  // namespace
}  // namespace phenomd

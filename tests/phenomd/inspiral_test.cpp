// The inspiral piece: post-Newtonian terms, collocation at 0.014, slope.
#include "inspiral.h"

#include <gtest/gtest.h>

#include <cmath>

#include "hexfloat.h"
#include "reference.h"

namespace phenomd {
namespace {

using phenomd_test::MatchesQuoted;

const CallConstants& Constants() {
  static const CallConstants k = CallConstants::Make(3.1415926536);
  return k;
}

struct Inspiral {
  BinaryAmpModel m{};
  InspiralAmpTerms t{};
};

Inspiral Build(double eta, double chi1, double chi2, double rho1 = 0.0,
               double rho2 = 0.0, double rho3 = 0.0) {
  Inspiral s;
  s.m.eta = eta;
  s.m.chi1 = chi1;
  s.m.chi2 = chi2;
  s.m.rho1 = rho1;
  s.m.rho2 = rho2;
  s.m.rho3 = rho3;
  BuildInspiralTerms(s.m, Constants(), s.t);
  InspiralCollocation(s.t, Constants(), s.m);
  return s;
}

struct InspiralReference {
  double eta, chi1, chi2;
  const char *c_2_3, *c_1, *c_4_3, *c_5_3, *c_2, *amp_norm, *v1, *d1;
};

// Regression snapshot of this library, ten significant digits, with rho1 =
// rho2 = rho3 = 0 (no paper prints these values; the leading coefficient at
// equal masses is checked against its closed form below).
const InspiralReference kReference[] = {
    {0.25, 0.0, 0.0, "-1.653460160", "0", "-20.91655472", "0", "-49.74113287",
     "0.3373386190", "0.8236281585", "-12.68795177"},
    {0.2, 0.5, -0.3, "-1.941379285", "2.841795767", "-21.22463469",
     "24.38391231", "-43.79875858", "0.3017248334", "0.8666436055",
     "-8.214499461"},
    {0.25, 0.9, 0.9, "-1.653460160", "8.246680716", "-28.37041953",
     "71.85104245", "121.9767724", "0.3373386190", "1.006018997",
     "4.927635519"},
    {0.1, -0.5, 0.7, "-2.517217534", "-3.925079436", "-19.83474705",
     "-61.76481066", "-138.5099458", "0.2133516758", "0.6545257814",
     "-27.11978839"},
};

TEST(InspiralTerms, ReproduceTheReferenceTableToTenDigits) {
  for (const InspiralReference& r : kReference) {
    SCOPED_TRACE(::testing::Message() << "eta=" << r.eta << " chi1=" << r.chi1
                                      << " chi2=" << r.chi2);
    const Inspiral s = Build(r.eta, r.chi1, r.chi2);
    EXPECT_TRUE(MatchesQuoted(s.t.c_2_3, r.c_2_3));
    EXPECT_TRUE(MatchesQuoted(s.t.c_1, r.c_1));
    EXPECT_TRUE(MatchesQuoted(s.t.c_4_3, r.c_4_3));
    EXPECT_TRUE(MatchesQuoted(s.t.c_5_3, r.c_5_3));
    EXPECT_TRUE(MatchesQuoted(s.t.c_2, r.c_2));
    EXPECT_TRUE(MatchesQuoted(s.t.amp_norm, r.amp_norm));
    EXPECT_TRUE(MatchesQuoted(s.m.v1, r.v1));
    EXPECT_TRUE(MatchesQuoted(s.m.d1, r.d1));
  }
}

TEST(InspiralTerms, EqualMassesGiveTheClosedFormLeadingTerm) {
  // Independent computation: the first post-Newtonian amplitude correction,
  // (-969 + 1804 eta) / 672 times (Pi Mf)^(2/3), at eta = 1/4 with the
  // model's ten-digit Pi: -518 Pi^(2/3) / 672, to the last bit.
  const double closed =
      (-969.0 + 1804.0 * 0.25) / 672.0 * std::pow(3.1415926536, 2.0 / 3.0);
  EXPECT_TRUE(phenomd_test::SameBits(Build(0.25, 0.0, 0.0).t.c_2_3, closed));
}

TEST(InspiralTerms, NonSpinningEqualMassesHaveNoOddTerms) {
  const Inspiral s = Build(0.25, 0.0, 0.0);
  EXPECT_EQ(s.t.c_1, 0.0);
  EXPECT_EQ(s.t.c_5_3, 0.0);  // the factor 4 eta - 1 vanishes
}

TEST(InspiralTerms, UseTheModelsTenDigitPi) {
  // amp_norm = sqrt(2 eta / 3) / Pi^(1/6) with Pi = 3.1415926536, not M_PI:
  // the two differ in the eleventh digit, which the quoted table resolves.
  const Inspiral s = Build(0.25, 0.0, 0.0);
  const double with_full_pi =
      std::sqrt(2.0 * 0.25 / 3.0) / std::pow(M_PI, 1.0 / 6.0);
  EXPECT_NEAR(s.t.amp_norm,
              std::sqrt(2.0 * 0.25 / 3.0) / std::pow(3.1415926536, 1.0 / 6.0),
              1e-16);
  EXPECT_NE(s.t.amp_norm, with_full_pi);
}

TEST(InspiralTerms, UpperCoefficientsAreTheFittedRhos) {
  const Inspiral s = Build(0.2, 0.1, 0.2, 11.0, -22.0, 33.0);
  EXPECT_EQ(s.t.c_7_3, 11.0);
  EXPECT_EQ(s.t.c_8_3, -22.0);
  EXPECT_EQ(s.t.c_3, 33.0);
}

// Each unit of rho_k adds 0.014^((6+k)/3) to v1 and its derivative,
// ((6+k)/3) 0.014^((3+k)/3), to d1 (independent computation with std::pow).
TEST(InspiralCollocation, EachRhoAddsItsPowerOf0014) {
  const Inspiral base = Build(0.2, 0.5, -0.3);
  const double tol = 1e-15;
  const Inspiral r1 = Build(0.2, 0.5, -0.3, 1.0, 0.0, 0.0);
  EXPECT_NEAR(r1.m.v1 - base.m.v1, std::pow(0.014, 7.0 / 3.0), tol);
  EXPECT_NEAR(r1.m.d1 - base.m.d1, 7.0 / 3.0 * std::pow(0.014, 4.0 / 3.0), tol);
  const Inspiral r2 = Build(0.2, 0.5, -0.3, 0.0, 1.0, 0.0);
  EXPECT_NEAR(r2.m.v1 - base.m.v1, std::pow(0.014, 8.0 / 3.0), tol);
  EXPECT_NEAR(r2.m.d1 - base.m.d1, 8.0 / 3.0 * std::pow(0.014, 5.0 / 3.0), tol);
  const Inspiral r3 = Build(0.2, 0.5, -0.3, 0.0, 0.0, 1.0);
  EXPECT_NEAR(r3.m.v1 - base.m.v1, 0.014 * 0.014 * 0.014, tol);
  EXPECT_NEAR(r3.m.d1 - base.m.d1, 3.0 * 0.014 * 0.014, tol);
}

// Independent computation: pow at the double nearest each fraction k/3 (the
// exponents the exact module passes), the integer powers as products.
TEST(InspiralCollocation, PowersOf0014AreThoseOfThePowerFunction) {
  using phenomd_test::SameBits;
  const InspiralPowers& p = Constants().join;
  EXPECT_TRUE(SameBits(p.p1_3, std::pow(0.014, 1.0 / 3.0)));
  EXPECT_TRUE(SameBits(p.p2_3, std::pow(0.014, 2.0 / 3.0)));
  EXPECT_TRUE(SameBits(p.p4_3, std::pow(0.014, 4.0 / 3.0)));
  EXPECT_TRUE(SameBits(p.p5_3, std::pow(0.014, 5.0 / 3.0)));
  EXPECT_TRUE(SameBits(p.p7_3, std::pow(0.014, 7.0 / 3.0)));
  EXPECT_TRUE(SameBits(p.p8_3, std::pow(0.014, 8.0 / 3.0)));
  EXPECT_TRUE(SameBits(p.p2, 0.014 * 0.014));
  EXPECT_TRUE(SameBits(p.p3, 0.014 * (0.014 * 0.014)));
}

TEST(InspiralAnsatz, AtTheJoinReturnsV1Exactly) {
  for (const InspiralReference& r : kReference) {
    const Inspiral s = Build(r.eta, r.chi1, r.chi2, 3000.0, -40000.0, 90000.0);
    EXPECT_TRUE(
        phenomd_test::SameBits(InspiralAnsatz(s.t, kInspiralJoin), s.m.v1));
  }
}

TEST(InspiralAnsatz, SlopeAgreesWithACentralDifference) {
  // With h = 1e-4 Mf the truncation error h^2 f'''/6 is ~1e-8 at Mf = 0.001
  // (f''' ~ Mf^(-7/3)) and the rounding error ~1e-16 / h stays below 1e-8.
  for (const InspiralReference& r : kReference) {
    const Inspiral s = Build(r.eta, r.chi1, r.chi2, 3000.0, -40000.0, 90000.0);
    for (double Mf : {0.001, 0.005, kInspiralJoin}) {
      const double h = 1e-4 * Mf;
      const double diff =
          (InspiralAnsatz(s.t, Mf + h) - InspiralAnsatz(s.t, Mf - h)) / (2 * h);
      EXPECT_NEAR(InspiralAnsatzSlope(s.t, Mf), diff, 1e-7) << Mf;
    }
    EXPECT_TRUE(phenomd_test::SameBits(InspiralAnsatzSlope(s.t, kInspiralJoin),
                                       s.m.d1));
  }
}

TEST(InspiralAnsatz, TendsToOneAtLowFrequency) {
  const Inspiral s = Build(0.1, -0.5, 0.7);
  EXPECT_NEAR(InspiralAnsatz(s.t, 1e-12), 1.0, 1e-7);
}

}  // namespace
}  // namespace phenomd

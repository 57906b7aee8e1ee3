// The reduced spin and the seven fitted coefficients.
#include "fits.h"

#include <gtest/gtest.h>

#include "hexfloat.h"
#include "reference.h"

namespace phenomd {
namespace {

using phenomd_test::MatchesQuoted;

BinaryAmpModel FittedModel(double eta, double chi1, double chi2) {
  BinaryAmpModel m{};
  m.eta = eta;
  m.chi1 = chi1;
  m.chi2 = chi2;
  ApplyReducedSpin(m);
  const FitVariables v(m.eta, m.chi_pn);
  ApplyMergerRingdownFits(v, m);
  ApplyInspiralFits(v, m);
  return m;
}

// Regression snapshot of this library: the fits at equal masses as it
// evaluates them, to 16-17 digits that no paper prints.  The rho fits cancel
// coefficients of up to 1e8, so these pin the order of summation as well as
// the coefficient table.
TEST(PhenomFits, EqualMassesWithoutSpinReproduceTheQuotedValues) {
  const BinaryAmpModel m = FittedModel(0.25, 0.0, 0.0);
  EXPECT_EQ(m.chi_pn, 0.0);
  EXPECT_TRUE(MatchesQuoted(m.rho1, "3732.3231153540255"));
  EXPECT_TRUE(MatchesQuoted(m.rho2, "-38985.41177768905"));
  EXPECT_TRUE(MatchesQuoted(m.rho3, "97150.39259917563"));
  EXPECT_TRUE(MatchesQuoted(m.v2, "0.8759494447295397"));
  EXPECT_TRUE(MatchesQuoted(m.gamma1, "0.01689426822520189"));
  EXPECT_TRUE(MatchesQuoted(m.gamma2, "0.8519055328762579"));
  EXPECT_TRUE(MatchesQuoted(m.gamma3, "1.321833713760335"));
}

TEST(PhenomFits, EqualMassesWithMaximalAlignedSpinsReproduceTheQuotedValues) {
  const BinaryAmpModel m = FittedModel(0.25, 1.0, 1.0);
  EXPECT_TRUE(MatchesQuoted(m.chi_pn, "0.831858407079646"));
  EXPECT_TRUE(MatchesQuoted(m.rho1, "-1894.899229906421"));
  EXPECT_TRUE(MatchesQuoted(m.rho2, "4180.407002648743"));
  EXPECT_TRUE(MatchesQuoted(m.rho3, "393.19942922335656"));
  EXPECT_TRUE(MatchesQuoted(m.v2, "1.305810201525409"));
  EXPECT_TRUE(MatchesQuoted(m.gamma1, "0.015553414204874045"));
  EXPECT_TRUE(MatchesQuoted(m.gamma2, "0.9915382083134907"));
  EXPECT_TRUE(MatchesQuoted(m.gamma3, "1.310510503004484"));
}

TEST(PhenomFits,
     EqualMassesWithMaximalAntiAlignedSpinsReproduceTheQuotedValues) {
  const BinaryAmpModel m = FittedModel(0.25, -1.0, -1.0);
  EXPECT_TRUE(MatchesQuoted(m.chi_pn, "-0.831858407079646"));
  EXPECT_TRUE(MatchesQuoted(m.v2, "0.71154926407789"));
  EXPECT_TRUE(MatchesQuoted(m.gamma2, "0.7420308143964818"));
}

TEST(PhenomFits, ExchangingSpinsOfEqualMassesChangesNothing) {
  const BinaryAmpModel a = FittedModel(0.25, 0.7, -0.2);
  const BinaryAmpModel b = FittedModel(0.25, -0.2, 0.7);
  EXPECT_TRUE(phenomd_test::SameBits(a.chi_pn, b.chi_pn));
  EXPECT_TRUE(phenomd_test::SameBits(a.rho1, b.rho1));
  EXPECT_TRUE(phenomd_test::SameBits(a.rho2, b.rho2));
  EXPECT_TRUE(phenomd_test::SameBits(a.rho3, b.rho3));
  EXPECT_TRUE(phenomd_test::SameBits(a.v2, b.v2));
  EXPECT_TRUE(phenomd_test::SameBits(a.gamma1, b.gamma1));
  EXPECT_TRUE(phenomd_test::SameBits(a.gamma2, b.gamma2));
  EXPECT_TRUE(phenomd_test::SameBits(a.gamma3, b.gamma3));
}

TEST(ReducedSpin, EqualSpinsScaleBy1Minus76EtaOver113) {
  for (double eta : {0.05, 0.1, 0.2, 0.25}) {
    for (double chi : {-0.9, 0.3, 1.0}) {
      EXPECT_NEAR(ReducedSpin(eta, chi, chi), chi * (1.0 - 76.0 * eta / 113.0),
                  1e-15)
          << eta << " " << chi;
    }
  }
}

TEST(ReducedSpin, IsTheMassWeightedSpinLessTheSpinOrbitCorrection) {
  const double eta = 0.16;  // q = 4: delta = 0.6, mass fractions 0.8 and 0.2
  const double chi1 = 0.5, chi2 = -0.8;
  const double expected =
      0.8 * chi1 + 0.2 * chi2 - (38.0 * eta / 113.0) * (chi1 + chi2);
  EXPECT_NEAR(ReducedSpin(eta, chi1, chi2), expected, 1e-15);
}

TEST(PhenomFit, AtXiZeroReducesToTheFirstTwoCoefficients) {
  // chi_pn = 1 makes xi = 0 exactly.
  for (const PhenomFitCoefficients* c :
       {&kFitRho1, &kFitRho2, &kFitRho3, &kFitV2, &kFitGamma1, &kFitGamma2,
        &kFitGamma3}) {
    EXPECT_TRUE(phenomd_test::SameBits(PhenomFit(*c, 0.2, 1.0),
                                       c->k[0] + c->k[1] * 0.2));
  }
}

TEST(PhenomFit, EachCoefficientMultipliesItsMonomial) {
  // A fit with a single unit coefficient returns that monomial.
  const double eta = 0.2, chi_pn = 0.4, xi = chi_pn - 1.0;
  const double monomials[11] = {1.0,
                                eta,
                                xi,
                                eta * xi,
                                eta * eta * xi,
                                xi * xi,
                                eta * xi * xi,
                                eta * eta * xi * xi,
                                xi * xi * xi,
                                eta * xi * xi * xi,
                                eta * eta * xi * xi * xi};
  for (int j = 0; j < 11; ++j) {
    PhenomFitCoefficients c{};
    c.k[j] = 1.0;
    EXPECT_NEAR(PhenomFit(c, eta, chi_pn), monomials[j], 1e-15) << "k" << j + 1;
  }
}

}  // namespace
}  // namespace phenomd

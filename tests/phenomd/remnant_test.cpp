// Fitted remnant spin and radiated energy.
#include "remnant.h"

#include <gtest/gtest.h>

#include "reference.h"

namespace phenomd {
namespace {

using phenomd_test::MatchesQuoted;

// The quoted remnant spins and radiated energies are a regression snapshot
// of this library (the fits evaluated at equal masses, to 16-17 digits that
// no paper prints); the total spins are exact: S = (chi1 + chi2) / 4 there.
TEST(Remnant, EqualMassesWithoutSpinReduceToThePolynomialsInEta) {
  EXPECT_EQ(TotalSpin(0.25, 0.0, 0.0), 0.0);
  EXPECT_TRUE(MatchesQuoted(RemnantSpin(0.25, 0.0, 0.0), "0.6864170524001022"));
  EXPECT_TRUE(
      MatchesQuoted(RadiatedEnergy(0.25, 0.0, 0.0), "0.04838790573395908"));
}

TEST(Remnant, EqualMassesWithMaximalSpinsReproduceTheQuotedValues) {
  EXPECT_EQ(TotalSpin(0.25, 1.0, 1.0), 0.5);
  EXPECT_TRUE(MatchesQuoted(RemnantSpin(0.25, 1.0, 1.0), "0.9512253800539884"));
  EXPECT_TRUE(
      MatchesQuoted(RadiatedEnergy(0.25, 1.0, 1.0), "0.11357938823031068"));
  EXPECT_EQ(TotalSpin(0.25, -1.0, -1.0), -0.5);
  EXPECT_TRUE(
      MatchesQuoted(RemnantSpin(0.25, -1.0, -1.0), "0.35777766759210533"));
  EXPECT_TRUE(
      MatchesQuoted(RadiatedEnergy(0.25, -1.0, -1.0), "0.03125762200259737"));
}

TEST(Remnant, SpinsThatCancelInTheSumLeaveTheNonSpinningValues) {
  // eta = 0.16: mass fractions 0.8 and 0.2, so chi1 = 0.05 and chi2 = -0.8
  // give S = 0.05 * 0.64 - 0.8 * 0.04 = 0.
  const double eta = 0.16;
  EXPECT_NEAR(TotalSpin(eta, 0.05, -0.8), 0.0, 1e-17);
  EXPECT_NEAR(RemnantSpin(eta, 0.05, -0.8), RemnantSpin(eta, 0.0, 0.0), 1e-15);
  EXPECT_NEAR(RadiatedEnergy(eta, 0.05, -0.8), RadiatedEnergy(eta, 0.0, 0.0),
              1e-15);
}

TEST(Remnant, StaysInsideTheKerrBoundForPhysicalBinaries) {
  // |a_f| < 1 and 0 < E_rad < 1 over the physical parameter space, so the
  // ringdown tables are never evaluated outside their range.
  for (double eta = 0.001; eta <= 0.25; eta += 0.0249) {
    for (double chi1 = -1.0; chi1 <= 1.0; chi1 += 0.25) {
      for (double chi2 = -1.0; chi2 <= 1.0; chi2 += 0.25) {
        const double a = RemnantSpin(eta, chi1, chi2);
        const double e = RadiatedEnergy(eta, chi1, chi2);
        EXPECT_LT(std::fabs(a), 1.0) << eta << " " << chi1 << " " << chi2;
        EXPECT_GT(e, 0.0);
        EXPECT_LT(e, 0.2);
      }
    }
  }
}

TEST(Remnant, TestParticleLimitKeepsTheHeavierSpin) {
  // As eta -> 0 the remnant is the heavier hole: a_f -> chi1, E_rad -> 0.
  EXPECT_NEAR(RemnantSpin(1e-9, 0.7, -0.3), 0.7, 1e-7);
  EXPECT_NEAR(RadiatedEnergy(1e-9, 0.7, -0.3), 0.0, 1e-9);
}

}  // namespace
}  // namespace phenomd

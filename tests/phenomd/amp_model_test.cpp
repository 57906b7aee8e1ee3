// The piecewise amplitude ratio of a filled model, across its joins.
#include "amp_model.h"

#include <gtest/gtest.h>

#include <cmath>

#include "hexfloat.h"
#include "model_fixture.h"
#include "reference.h"

namespace phenomd {
namespace {

using phenomd_test::FilledModel;
using phenomd_test::ParameterSpread;
using phenomd_test::Params;
using phenomd_test::RelDiff;

TEST(AmplitudeRatio, PicksThePieceByFrequency) {
  const AmpModel a = FilledModel(0.2, 0.4, 0.1);
  EXPECT_TRUE(phenomd_test::SameBits(AmplitudeRatio(a, 0.014),
                                     InspiralAnsatz(a.t, 0.014)));
  EXPECT_TRUE(phenomd_test::SameBits(AmplitudeRatio(a, 0.03),
                                     IntermediateAnsatz(a.m, 0.03)));
  // A point exactly at f_peak belongs to the merger-ringdown piece.
  EXPECT_TRUE(phenomd_test::SameBits(AmplitudeRatio(a, a.m.f_peak),
                                     MergerAnsatz(a.shape, a.m.f_peak)));
  EXPECT_TRUE(phenomd_test::SameBits(AmplitudeRatio(a, a.m.f_peak), a.m.v3));
  EXPECT_TRUE(phenomd_test::SameBits(AmplitudeRatio(a, 0.19),
                                     MergerAnsatz(a.shape, 0.19)));
}

// Value and slope are continuous across both joins: one-sided differences
// from each side agree to the truncation error of the difference.
TEST(AmplitudeRatio, IsContinuousWithContinuousSlopeAtBothJoins) {
  for (const Params& p : ParameterSpread()) {
    SCOPED_TRACE(::testing::Message() << "eta=" << p.eta << " chi1=" << p.chi1
                                      << " chi2=" << p.chi2);
    const AmpModel a = FilledModel(p.eta, p.chi1, p.chi2);
    for (double join : {0.014, a.m.f_peak}) {
      const double below = AmplitudeRatio(a, std::nextafter(join, 0.0));
      const double above = AmplitudeRatio(a, std::nextafter(join, 1.0));
      EXPECT_LT(RelDiff(below, above), 1e-10);
      const double h = 1e-7;
      const double left =
          (AmplitudeRatio(a, join) - AmplitudeRatio(a, join - h)) / h;
      const double right =
          (AmplitudeRatio(a, join + h) - AmplitudeRatio(a, join)) / h;
      // One-sided differences err by ~h f'' / 2 ~ 1e-7 * 1e4.
      EXPECT_NEAR(left, right, 2e-3 + 1e-6 * std::fabs(left));
    }
  }
}

TEST(AmplitudeRatio, IsPositiveAndFiniteOverTheWholeBand) {
  for (const Params& p : ParameterSpread()) {
    const AmpModel a = FilledModel(p.eta, p.chi1, p.chi2);
    for (double Mf = 1e-5; Mf <= 0.2; Mf *= 1.05) {
      const double r = AmplitudeRatio(a, Mf);
      ASSERT_TRUE(std::isfinite(r) && r > 0.0)
          << p.eta << " " << p.chi1 << " " << p.chi2 << " Mf=" << Mf;
    }
  }
}

}  // namespace
}  // namespace phenomd

// The batch driver through the C entry point: bands, grids, sentinels,
// boundaries and the symmetries of the inputs.
#include <gtest/gtest.h>

#include <cmath>

#include "batch.h"
#include "hexfloat.h"
#include "reference.h"

namespace {

using phenomd_test::Batch;
using phenomd_test::Binary;
using phenomd_test::Msec;
using phenomd_test::RelDiff;

constexpr double kModelPi = 3.1415926536;

// Mf reached t years before merger, written independently of the library:
// (1 + (743/2688 + 11 eta / 32) theta^(-1/4)) / (8 Pi theta^(3/8)),
// theta = eta t / (5 Msec).
double MfAtTime(const Binary& b, double t_years) {
  const double M = b.m1 + b.m2;
  const double eta = b.m1 * b.m2 / (M * M);
  const double theta = eta * t_years * 31557600.0 / (5.0 * Msec(b));
  return (1.0 + (743.0 / 2688.0 + 11.0 * eta / 32.0) * std::pow(theta, -0.25)) /
         (8.0 * kModelPi * std::pow(theta, 0.375));
}

const Binary kMassive = {1e6, 1e6, 0.0, 0.0, 6791.0, 1.0, 4.0, 0.0};
const Binary kUnequal = {3e4, 3e5, 0.9, -0.5, 26000.0, 3.0, 1.0, 0.0};

TEST(AmplitudeBand, RunsFromTheStartTimeToMf02WhenTEndIsNotPositive) {
  for (double t_end : {0.0, -1.0, std::nan("")}) {
    Binary b = kUnequal;
    b.t_end = t_end;
    Batch batch({b}, 200);
    EXPECT_EQ(batch.Run(), 0);
    EXPECT_LT(RelDiff(batch.freq(0, 0), MfAtTime(b, b.t_start) / Msec(b)),
              1e-14);
    EXPECT_LT(RelDiff(batch.freq(0, 199), 0.2 / Msec(b)), 1e-14);
  }
}

TEST(AmplitudeBand, EndsAtTheEndTimeWhenItIsPositive) {
  Binary b = kMassive;
  b.t_start = 2.0;
  b.t_end = 0.01;
  Batch batch({b}, 50);
  batch.Run();
  EXPECT_LT(RelDiff(batch.freq(0, 0), MfAtTime(b, 2.0) / Msec(b)), 1e-14);
  EXPECT_LT(RelDiff(batch.freq(0, 49), MfAtTime(b, 0.01) / Msec(b)), 1e-14);
}

TEST(AmplitudeBand, GridIsLogarithmicAndAscending) {
  Batch batch({kUnequal}, 300);
  batch.Run();
  const double ratio = batch.freq(0, 1) / batch.freq(0, 0);
  for (int j = 1; j < 300; ++j) {
    ASSERT_GT(batch.freq(0, j), batch.freq(0, j - 1));
    EXPECT_NEAR(batch.freq(0, j) / batch.freq(0, j - 1), ratio, 1e-12);
  }
}

TEST(AmplitudeBand, InvertedBandsGetTheSentinelsAndStillTheirBoundaries) {
  Binary ok = kMassive;
  ok.t_start = 1.0;
  ok.t_end = 0.5;
  Binary inverted = ok;  // ends before it starts
  inverted.t_start = 0.5;
  inverted.t_end = 1.0;
  Binary too_late = kMassive;  // starts above Mf = 0.2
  too_late.t_start = 1e-9;
  Batch batch({ok, inverted, too_late}, 16);
  batch.Run();
  for (int i : {1, 2}) {
    for (int j = 0; j < 16; ++j) {
      EXPECT_EQ(batch.freq(i, j), 1e-30);
      EXPECT_EQ(batch.strain(i, j), 1e-60);
    }
    EXPECT_TRUE(phenomd_test::SameBits(batch.f_merger_start[i],
                                       batch.f_merger_start[0]));
    EXPECT_TRUE(phenomd_test::SameBits(batch.f_ringdown_start[i],
                                       batch.f_ringdown_start[0]));
  }
  EXPECT_GT(batch.freq(0, 0), 1e-30);
}

TEST(AmplitudeBand, EqualStartAndEndGiveOneRepeatedFrequency) {
  Binary b = kMassive;
  b.t_start = b.t_end = 0.3;
  Batch batch({b}, 10);
  batch.Run();
  for (int j = 0; j < 10; ++j) {
    EXPECT_TRUE(phenomd_test::SameBits(batch.freq(0, j), batch.freq(0, 0)));
    EXPECT_TRUE(phenomd_test::SameBits(batch.strain(0, j), batch.strain(0, 0)));
  }
  EXPECT_GT(batch.strain(0, 0), 0.0);
}

TEST(AmplitudeBand, SinglePointSitsAtTheBandStart) {
  Batch one({kUnequal}, 1);
  Batch many({kUnequal}, 100);
  one.Run();
  many.Run();
  EXPECT_TRUE(phenomd_test::SameBits(one.freq(0, 0), many.freq(0, 0)));
  EXPECT_TRUE(phenomd_test::SameBits(one.strain(0, 0), many.strain(0, 0)));
  EXPECT_TRUE(std::isfinite(one.strain(0, 0)));

  Binary inverted = kMassive;
  inverted.t_start = 0.5;
  inverted.t_end = 1.0;
  Batch sentinel({inverted}, 1);
  sentinel.Run();
  EXPECT_EQ(sentinel.freq(0, 0), 1e-30);
  EXPECT_EQ(sentinel.strain(0, 0), 1e-60);
}

TEST(AmplitudeBoundaries, AreTheIscoFrequencyAndThePeakInHertz) {
  Batch batch({kMassive, kUnequal}, 4);
  batch.Run();
  for (int i = 0; i < 2; ++i) {
    const double msec = Msec(batch.binaries[i]);
    EXPECT_LT(RelDiff(batch.f_merger_start[i],
                      1.0 / (std::pow(6.0, 1.5) * kModelPi * msec)),
              1e-15);
    // f_peak lies between 0.04 and 0.16 for physical binaries.
    EXPECT_GT(batch.f_ringdown_start[i] * msec, 0.04);
    EXPECT_LT(batch.f_ringdown_start[i] * msec, 0.16);
  }
}

TEST(AmplitudeBatch, NonPositiveLengthWritesOnlyTheBoundaries) {
  for (int length : {0, -5}) {
    Batch batch({kMassive, kUnequal}, length);
    batch.freqs.assign(8, -7.0);
    batch.hc.assign(8, -7.0);
    EXPECT_EQ(batch.Run(), 0);
    for (double v : batch.freqs) EXPECT_EQ(v, -7.0);
    for (double v : batch.hc) EXPECT_EQ(v, -7.0);
    Batch reference({kMassive, kUnequal}, 8);
    reference.Run();
    EXPECT_EQ(batch.f_merger_start, reference.f_merger_start);
    EXPECT_EQ(batch.f_ringdown_start, reference.f_ringdown_start);
  }
}

TEST(AmplitudeBatch, EmptyBatchWritesNothingAndReturnsZero) {
  for (int n : {0, -1}) {
    Batch batch({kMassive}, 8);
    EXPECT_EQ(batch.Run(n), 0);
    for (double v : batch.freqs) EXPECT_EQ(v, -7.0);
    for (double v : batch.hc) EXPECT_EQ(v, -7.0);
    EXPECT_EQ(batch.f_merger_start[0], -7.0);
    EXPECT_EQ(batch.f_ringdown_start[0], -7.0);
  }
}

TEST(AmplitudeBatch, RowsDependOnlyOnTheirOwnBinary) {
  Batch pair({kMassive, kUnequal}, 64);
  Batch alone({kUnequal}, 64);
  pair.Run();
  alone.Run();
  for (int j = 0; j < 64; ++j) {
    EXPECT_TRUE(phenomd_test::SameBits(pair.freq(1, j), alone.freq(0, j)));
    EXPECT_TRUE(phenomd_test::SameBits(pair.strain(1, j), alone.strain(0, j)));
  }
}

TEST(AmplitudeSymmetry, SwappingUnequalBodiesChangesNothing) {
  Binary swapped = kUnequal;
  std::swap(swapped.m1, swapped.m2);
  std::swap(swapped.spin1, swapped.spin2);
  Batch a({kUnequal}, 128), b({swapped}, 128);
  a.Run();
  b.Run();
  EXPECT_EQ(a.freqs, b.freqs);
  EXPECT_EQ(a.hc, b.hc);
  EXPECT_EQ(a.f_merger_start, b.f_merger_start);
  EXPECT_EQ(a.f_ringdown_start, b.f_ringdown_start);
}

TEST(AmplitudeSymmetry, EqualMassesAreSymmetricInTheSpinsToRounding) {
  Binary a = kMassive, b = kMassive;
  a.spin1 = b.spin2 = 0.8;
  a.spin2 = b.spin1 = -0.3;
  Batch x({a}, 128), y({b}, 128);
  x.Run();
  y.Run();
  for (int j = 0; j < 128; ++j) {
    EXPECT_LT(RelDiff(x.strain(0, j), y.strain(0, j)), 1e-12) << j;
  }
}

TEST(AmplitudeMasses, MassesEqualToWithinRoundingGiveAFiniteRow) {
  // (m h)/(M M) rounds to 0.25000000000000006 here, so 1 - 4 eta < 0.
  Binary near = kMassive;
  near.m2 = 1000000.0000000001;
  ASSERT_LT(1.0 - 4.0 * (near.m1 * near.m2) /
                      ((near.m1 + near.m2) * (near.m1 + near.m2)),
            0.0);
  Batch a({near}, 100), b({kMassive}, 100);
  a.Run();
  b.Run();
  for (int j = 0; j < 100; ++j) {
    ASSERT_TRUE(std::isfinite(a.strain(0, j))) << j;
    EXPECT_LT(RelDiff(a.strain(0, j), b.strain(0, j)), 1e-13) << j;
  }
  EXPECT_TRUE(std::isfinite(a.f_ringdown_start[0]));
}

TEST(AmplitudeScale, StrainFallsAsOneOverDistance) {
  Binary far = kUnequal;
  far.dist *= 8.0;
  Batch a({kUnequal}, 64), b({far}, 64);
  a.Run();
  b.Run();
  for (int j = 0; j < 64; ++j) {
    EXPECT_LT(RelDiff(a.strain(0, j), 8.0 * b.strain(0, j)), 1e-15);
  }
}

// Far below merger the strain is the Newtonian chirp, 2 f |h| with
// |h| = sqrt(5/96) Pi^(-2/3) c Mc^(5/6) f^(-7/6) / D (Mc in seconds), times
// the 1PN amplitude correction 1 + (-323/224 + 451 eta / 168) (Pi Mf)^(2/3);
// at Mf ~ 1e-7 the next terms are ~1e-8.
TEST(AmplitudeScale, LowFrequencyLimitIsTheNewtonianChirp) {
  Binary b = {10.0, 30.0, 0.0, 0.0, 100.0, 0.0, 1e4, 1e3};
  Batch batch({b}, 2);
  batch.Run();
  const double f = batch.freq(0, 0);
  const double M = b.m1 + b.m2;
  const double eta = b.m1 * b.m2 / (M * M);
  const double Mc_sec = std::pow(eta, 0.6) * Msec(b);
  const double D = b.dist * 3.08567782e22;
  const double h = std::sqrt(5.0 / 96.0) * std::pow(kModelPi, -2.0 / 3.0) *
                   299792458.0 * std::pow(Mc_sec, 5.0 / 6.0) *
                   std::pow(f, -7.0 / 6.0) / D;
  ASSERT_LT(f * Msec(b), 1e-6);
  const double pn1 = 1.0 + (-323.0 / 224.0 + 451.0 * eta / 168.0) *
                               std::pow(kModelPi * f * Msec(b), 2.0 / 3.0);
  EXPECT_NEAR(batch.strain(0, 0) / (2.0 * f * h), pn1, 1e-7);
}

}  // namespace

// Ringdown and damping frequencies from the tabulated quasi-normal mode.
#include "ringdown.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "batch.h"
#include "hexfloat.h"
#include "reference.h"
#include "remnant.h"
#include "ringdown_tables.h"

namespace phenomd {
namespace {

using phenomd_test::Batch;
using phenomd_test::Binary;
using phenomd_test::MatchesQuoted;

TEST(RingdownTables, SplinesPassThroughEveryTabulatedRow) {
  const RingdownTables tables;
  ASSERT_TRUE(tables.ok());
  for (int i = 0; i + 1 < kQNMRows; ++i) {
    EXPECT_TRUE(phenomd_test::SameBits(tables.RingFrequency(QNMData_a[i]),
                                       QNMData_fring[i]))
        << i;
    EXPECT_TRUE(phenomd_test::SameBits(tables.DampingFrequency(QNMData_a[i]),
                                       QNMData_fdamp[i]))
        << i;
  }
  // The last node is reached from the left of its interval.
  const int last = kQNMRows - 1;
  EXPECT_NEAR(tables.RingFrequency(1.0), QNMData_fring[last], 1e-16);
  EXPECT_NEAR(tables.DampingFrequency(1.0), QNMData_fdamp[last], 1e-16);
  EXPECT_TRUE(
      phenomd_test::SameBits(tables.RingFrequency(-1.0), QNMData_fring[0]));
}

TEST(RingdownFrequencies, EqualMassesWithoutSpinMatchTheWorkedExample) {
  // a_f = 0.686417 lies between rows 844 (0.686) and 845 (0.688).  The
  // seven-digit values are a regression snapshot of this library.
  const RingdownTables tables;
  BinaryAmpModel m{};
  m.eta = 0.25;
  ASSERT_TRUE(RingdownFrequencies(tables, m));
  const double a_f = RemnantSpin(0.25, 0.0, 0.0);
  EXPECT_TRUE(MatchesQuoted(tables.RingFrequency(a_f), "0.0838245"));
  EXPECT_TRUE(MatchesQuoted(tables.DampingFrequency(a_f), "0.0129377"));
  EXPECT_TRUE(MatchesQuoted(m.f_rd, "0.0880868"));
  EXPECT_TRUE(MatchesQuoted(m.f_damp, "0.0135955"));
}

TEST(RingdownFrequencies, RescaleByTheRemnantMass) {
  const RingdownTables tables;
  for (double chi : {-1.0, 1.0}) {
    BinaryAmpModel m{};
    m.eta = 0.25;
    m.chi1 = m.chi2 = chi;
    ASSERT_TRUE(RingdownFrequencies(tables, m));
    const double a_f = RemnantSpin(0.25, chi, chi);
    const double scale = 1.0 - RadiatedEnergy(0.25, chi, chi);
    EXPECT_TRUE(
        phenomd_test::SameBits(m.f_rd, tables.RingFrequency(a_f) / scale));
    EXPECT_TRUE(
        phenomd_test::SameBits(m.f_damp, tables.DampingFrequency(a_f) / scale));
  }
}

TEST(RingdownFrequencies, RemnantSpinOutsideTheTablesIsMarkedNotEvaluated) {
  const RingdownTables tables;
  // The fitted remnant spin is 1.025 at chi = 1.5 and -3.66 at chi = -5.
  for (double chi : {1.5, -5.0, std::nan("")}) {
    BinaryAmpModel m{};
    m.eta = 0.25;
    m.chi1 = m.chi2 = chi;
    EXPECT_FALSE(RingdownFrequencies(tables, m)) << chi;
    EXPECT_TRUE(std::isnan(m.f_rd));
    EXPECT_TRUE(std::isnan(m.f_damp));
  }
}

// A binary whose remnant spin leaves [-1, 1] must not reach GSL's error
// handler (its default aborts the host); its row is NaN and its neighbours
// are untouched.
TEST(RingdownFrequencies, OutOfRangeSpinMarksOnlyItsOwnBinary) {
  ASSERT_GT(RemnantSpin(0.25, 1.5, 1.5), 1.0);
  const Binary good = {1e6, 2e6, 0.3, 0.1, 6791.0, 1.0, 4.0, 0.0};
  const Binary bad = {1e6, 1e6, 1.5, 1.5, 6791.0, 1.0, 4.0, 0.0};
  Batch batch({good, bad, good}, 32);
  Batch alone({good, {1e6, 1e6, 0.0, 0.0, 6791.0, 1.0, 4.0, 0.0}, good}, 32);
  EXPECT_EQ(batch.Run(), 0);
  alone.Run();
  for (int j = 0; j < 32; ++j) {
    EXPECT_TRUE(std::isnan(batch.strain(1, j)));
    EXPECT_TRUE(phenomd_test::SameBits(batch.freq(1, j), alone.freq(1, j)));
    for (int i : {0, 2}) {
      EXPECT_TRUE(phenomd_test::SameBits(batch.freq(i, j), alone.freq(i, j)));
      EXPECT_TRUE(
          phenomd_test::SameBits(batch.strain(i, j), alone.strain(i, j)));
    }
  }
  EXPECT_TRUE(std::isnan(batch.f_ringdown_start[1]));
  EXPECT_TRUE(
      phenomd_test::SameBits(batch.f_merger_start[1], alone.f_merger_start[1]));
}

}  // namespace
}  // namespace phenomd

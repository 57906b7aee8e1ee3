// The compiled ringdown tables: reference rows, grid, invariants, rounding,
// and agreement with the generator.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "ringdown_grid.h"
#include "table_writer.h"
#include "utils/phenomd/ringdown_tables.h"

namespace {

using phenomd::kQNMRows;
using phenomd::QNMData_a;
using phenomd::QNMData_fdamp;
using phenomd::QNMData_fring;

struct ListedRow {
  int row;
  double a, fring, fdamp;
};

// Regression snapshot of the committed ringdown tables (written by tools/qnm)
// at a few rows.  Compared exactly: the table stores the same decimal
// literals.  Row 501 (a = 0) is also checked against Leaver (1985) below.
const ListedRow kListed[] = {
    {0, -1.0, 0.0464014, 0.0140098},     {1, -0.999, 0.046411, 0.0140102},
    {2, -0.998, 0.0464197, 0.0140106},   {370, -0.262, 0.0548956, 0.0141952},
    {501, 0.0, 0.0594717, 0.0141588},    {751, 0.5, 0.0738675, 0.0136298},
    {844, 0.686, 0.0837962, 0.01294},    {845, 0.688, 0.0839321, 0.0129288},
    {951, 0.9, 0.106891, 0.0103243},     {996, 0.99, 0.138607, 0.00467763},
    {1000, 0.998, 0.1493707, 0.0023131}, {1001, 0.999, 0.1521282, 0.0016762},
    {1002, 1.0, 0.1579619, 0.0002908},
};

TEST(RingdownTable, ListedRowsExactly) {
  static_assert(kQNMRows == 1003, "row count");
  for (const ListedRow& l : kListed) {
    EXPECT_EQ(QNMData_a[l.row], l.a) << "row " << l.row;
    EXPECT_EQ(QNMData_fring[l.row], l.fring) << "row " << l.row;
    EXPECT_EQ(QNMData_fdamp[l.row], l.fdamp) << "row " << l.row;
  }
}

TEST(RingdownTable, GridIsTheNearestDoubleToEachThreeDecimalSpin) {
  // Built here independently of the generator: thousandths k, the decimal
  // text "k/1000" and its correctly rounded value (strtod), which must also
  // equal the correctly rounded quotient k / 1000.0.
  for (int i = 0; i < kQNMRows; ++i) {
    int k;
    if (i == 0) k = -1000;
    else if (i == 1) k = -999;
    else if (i == 1001) k = 999;
    else if (i == 1002) k = 1000;
    else k = -998 + 2 * (i - 2);
    char text[16];
    std::snprintf(text, sizeof text, "%s%d.%03d", k < 0 ? "-" : "", std::abs(k) / 1000,
                  std::abs(k) % 1000);
    EXPECT_EQ(QNMData_a[i], std::strtod(text, nullptr)) << "row " << i << " " << text;
    EXPECT_EQ(QNMData_a[i], k / 1000.0) << "row " << i;
  }
  EXPECT_EQ(QNMData_a[501], 0.0);
  EXPECT_FALSE(std::signbit(QNMData_a[501]));
}

TEST(RingdownTable, SpinsAndRingFrequencyStrictlyIncrease) {
  for (int i = 1; i < kQNMRows; ++i) {
    EXPECT_LT(QNMData_a[i - 1], QNMData_a[i]) << "row " << i;
    EXPECT_LT(QNMData_fring[i - 1], QNMData_fring[i]) << "row " << i;
  }
}

// At a = 0 the l = m = 2 fundamental mode is Schwarzschild's, M omega =
// 0.37367168 - 0.08896232 i (Leaver 1985, Table 1, in units of M; Nollert
// 1993): f_ring = Re(omega) / 2 pi and f_damp = -Im(omega) / 2 pi, to the
// table's six significant digits.
TEST(RingdownTable, SchwarzschildRowIsLeaversFundamentalMode) {
  const double two_pi = 2.0 * 3.14159265358979323846;
  EXPECT_EQ(QNMData_a[501], 0.0);
  EXPECT_NEAR(QNMData_fring[501], 0.37367168 / two_pi, 5e-8);
  EXPECT_NEAR(QNMData_fdamp[501], 0.08896232 / two_pi, 5e-8);
}

TEST(RingdownTable, DampingPeaksAtRow370AndFallsOnEitherSide) {
  int imax = 0;
  for (int i = 1; i < kQNMRows; ++i) {
    if (QNMData_fdamp[i] > QNMData_fdamp[imax]) imax = i;
  }
  EXPECT_EQ(imax, 370);
  EXPECT_EQ(QNMData_fdamp[370], 0.0141952);
  EXPECT_EQ(QNMData_a[370], -0.262);
  // Rounding to six digits flattens the peak into ties, hence not strict.
  for (int i = 1; i <= 370; ++i) EXPECT_LE(QNMData_fdamp[i - 1], QNMData_fdamp[i]) << i;
  for (int i = 371; i < kQNMRows; ++i) EXPECT_GE(QNMData_fdamp[i - 1], QNMData_fdamp[i]) << i;
  EXPECT_LT(QNMData_fdamp[kQNMRows - 1], 0.001);  // towards 0 as a -> 1
}

TEST(RingdownTable, CellsCarryTheRoundedPrecision) {
  // Every cell is already a six-significant-digit (rows 0-999) or
  // seven-decimal (rows 1000-1002) number: rounding it again is the identity.
  for (int i = 0; i < kQNMRows; ++i) {
    for (double v : {QNMData_fring[i], QNMData_fdamp[i]}) {
      char buf[32];
      std::snprintf(buf, sizeof buf, i >= 1000 ? "%.7f" : "%.6g", v);
      EXPECT_EQ(std::strtod(buf, nullptr), v) << "row " << i;
    }
  }
}

TEST(RingdownGenerator, GridAndRoundingHelpers) {
  EXPECT_EQ(qnm::spin_literal(0), "-1.0");
  EXPECT_EQ(qnm::spin_literal(2), "-0.998");
  EXPECT_EQ(qnm::spin_literal(501), "0.0");
  EXPECT_EQ(qnm::spin_literal(502), "0.002");
  EXPECT_EQ(qnm::spin_literal(1001), "0.999");
  EXPECT_EQ(qnm::spin_literal(1002), "1.0");
  EXPECT_EQ(qnm::round_cell(1, 0.04641095572), "0.046411");
  EXPECT_EQ(qnm::round_cell(999, 0.0031617920), "0.00316179");
  EXPECT_EQ(qnm::round_cell(1000, 0.14937066558), "0.1493707");
  EXPECT_EQ(qnm::round_cell(1000, 0.00231315257), "0.0023132");
  // 0.12345649 is 1e-8 (relative 8.1e-8) below the boundary 0.1234565.
  EXPECT_NEAR(qnm::rounding_margin(10, 0.12345649), 1e-8 / 0.12345649, 1e-12);
  EXPECT_NEAR(qnm::rounding_margin(1000, 0.12345649), 4e-8 / 0.12345649, 1e-12);
}

TEST(RingdownGenerator, AgreesWithCompiledTableAtSampleRows) {
  // Rows across the grid, both ends' near-extremal rows, the peak of the
  // damping and the given cells (which the generator must also keep).
  const std::vector<int> sample = {0, 1, 2, 50, 200, 370, 501, 620, 751, 844,
                                   845, 951, 990, 996, 999, 1000, 1001, 1002};
  const std::vector<qnm::TableRow> rows = qnm::compute_rows(sample, false);
  ASSERT_EQ(rows.size(), sample.size());
  for (const qnm::TableRow& r : rows) {
    EXPECT_EQ(r.a, QNMData_a[r.row]);
    EXPECT_EQ(std::strtod(r.fring_literal.c_str(), nullptr), QNMData_fring[r.row]) << r.row;
    EXPECT_EQ(std::strtod(r.fdamp_literal.c_str(), nullptr), QNMData_fdamp[r.row]) << r.row;
    if (r.computed) {
      // At least 9 significant digits by the depth-doubling estimate.
      EXPECT_LT(r.root.rel_err_re, 1e-9) << r.row;
      EXPECT_LT(r.root.rel_err_im, 1e-9) << r.row;
      // The estimate is far below the distance to the rounding boundary, so
      // the stored literal cannot depend on the last digits of the root.
      for (const double v : {r.fring_full, r.fdamp_full}) {
        EXPECT_GT(qnm::rounding_margin(r.row, v), 1e3 * std::max(r.root.rel_err_re, r.root.rel_err_im)) << r.row;
      }
    }
  }
}

TEST(RingdownGenerator, RegenerationReproducesCommittedHeader) {
  // The whole table takes well under a second, so the committed file is
  // checked byte for byte against a fresh run of the generator.
  std::ifstream in(QNM_COMMITTED_TABLE, std::ios::binary);
  ASSERT_TRUE(in) << QNM_COMMITTED_TABLE;
  std::stringstream committed;
  committed << in.rdbuf();
  std::ostringstream fresh;
  qnm::write_ringdown_header(fresh, qnm::compute_rows(qnm::all_rows(), true));
  EXPECT_TRUE(fresh.str() == committed.str()) << "regenerate with: " << qnm::kRegenerateCommand;
}

}  // namespace

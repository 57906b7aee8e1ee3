// The exact row evaluation against the straightforward one: per point
// Mf = pow(10, j step + L0), f = Mf / Msec and
// hc = 2 (amp_scale / pow(Mf, 7/6)) AmplitudeRatio(a, Mf) f, with the
// binary's model filled by FillAmpModel.  Every output must be bit-identical.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "amp_model.h"
#include "batch.h"
#include "grid.h"
#include "hexfloat.h"
#include "model_fixture.h"
#include "phenomd.h"

namespace {

using phenomd::AmpModel;
using phenomd::RowGrid;
using phenomd_test::Batch;
using phenomd_test::Binary;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Which piece AmplitudeRatio gives Mf, for the coverage counts.
enum Piece { kInspiral, kIntermediate, kMerger, kPieces };
Piece PieceOf(const AmpModel& a, double Mf) {
  if (Mf <= phenomd::kInspiralJoin) return kInspiral;
  if (Mf >= a.m.f_mr_start) return kMerger;
  return kIntermediate;
}

// The straightforward row, point by point.
void ReferenceRow(const AmpModel& a, const RowGrid& g, double* freqs,
                  double* hc, long* pieces) {
  for (std::ptrdiff_t j = 0; j < g.length; ++j) {
    const double Mf = std::pow(10.0, static_cast<double>(j) * g.step + g.L0);
    const double f = Mf / g.Msec;
    freqs[j] = f;
    hc[j] = a.remnant_ok
                ? 2.0 * (g.amp_scale / std::pow(Mf, 1.1666666666666667)) *
                      phenomd::AmplitudeRatio(a, Mf) * f
                : kNaN;
    if (pieces != nullptr) ++pieces[PieceOf(a, Mf)];
  }
}

// The straightforward evaluation of one binary of an Amplitude call, with the
// driver's band, sentinels and boundaries, from the model's constants.
struct ReferenceBatch {
  std::vector<double> freqs, hc, f_merger_start, f_ringdown_start;
  long pieces[kPieces] = {0, 0, 0};
  int inverted_rows = 0, nan_rows = 0;

  ReferenceBatch(const std::vector<Binary>& bs, int length) {
    const phenomd::RingdownTables tables;
    const phenomd::CallConstants k = phenomd::CallConstants::Make(Pi);
    const std::size_t len = length > 0 ? length : 0;
    freqs.assign(bs.size() * len, -7.0);
    hc.assign(bs.size() * len, -7.0);
    for (std::size_t i = 0; i < bs.size(); ++i) {
      const Binary& b = bs[i];
      const bool first_heavier = b.m1 > b.m2;
      const double mh = first_heavier ? b.m1 : b.m2;
      const double ml = first_heavier ? b.m2 : b.m1;
      const double chi1 = first_heavier ? b.spin1 : b.spin2;
      const double chi2 = first_heavier ? b.spin2 : b.spin1;
      const double M = mh + ml;
      const double eta = (ml * mh) / (M * M);
      const double Mz = (b.z + 1.0) * M;
      const double Msec = MTSUN * Mz;
      auto mf_at = [&](double t) {
        const double theta = t * SECONDS_PER_YEAR * eta / (Msec * 5.0);
        return (1.0 / (std::pow(theta, 0.375) * 8.0 * Pi)) *
               ((0.34375 * eta + 0.27641369047619047) / std::pow(theta, 0.25) +
                1.0);
      };
      const double Mf_start = mf_at(b.t_start);
      const double Mf_end = b.t_end > 0.0 ? mf_at(b.t_end) : 0.2;
      AmpModel a;
      phenomd::FillAmpModel(eta, chi1, chi2, k, tables, a);
      const double amp_scale = std::sqrt(5.0 / (Pi * 64.0)) * Mz * MRSUN * Mz *
                               MTSUN / (b.dist * (PARSEC_TO_METERS * 1e6)) *
                               a.t.amp_norm;
      if (length >= 1) {
        const double L0 = std::log10(Mf_start);
        const double L1 = std::log10(Mf_end);
        const double step =
            length == 1 ? 0.0 : (L1 - L0) / static_cast<double>(length - 1);
        const bool inverted = length == 1 ? L1 < L0 : step < 0.0;
        double* f = freqs.data() + i * len;
        double* h = hc.data() + i * len;
        if (inverted) {
          ++inverted_rows;
          for (std::size_t j = 0; j < len; ++j) {
            f[j] = 1e-30;
            h[j] = 1e-60;
          }
        } else {
          if (!a.remnant_ok) ++nan_rows;
          ReferenceRow(a, RowGrid{L0, step, Msec, amp_scale, length}, f, h,
                       a.remnant_ok ? pieces : nullptr);
        }
      }
      f_merger_start.push_back((1.0 / (Pi * 14.696938456699069)) / Msec);
      f_ringdown_start.push_back(a.m.f_peak / Msec);
    }
  }
};

// Masses, mass ratios (either body the heavier), spins in [-1, 1] with both
// ends, redshifts, and bands in every regime: inspiral only, full, late
// starts through merger-ringdown, ends inside the intermediate range,
// inverted bands and bands starting above Mf = 0.2.
std::vector<Binary> Spread() {
  const double masses[][2] = {{1e6, 1e6},   {3e5, 3e4},  {1e4, 2e5},
                              {5e6, 2.5e5}, {10.0, 8.0}, {1e8, 3e7}};
  const double spins[][2] = {{-1.0, -1.0}, {-1.0, 1.0},  {0.0, 0.0},
                             {0.4, -0.73}, {0.98, 0.98}, {1.0, 1.0},
                             {1.0, 0.3}};
  const double redshifts[] = {0.0, 0.3, 2.0, 8.0};
  const double bands[][2] = {{4.0, 0.0},   {1e3, 1.0},  {1e-3, 0.0},
                             {1.0, 2.0},   {1e-9, 0.0}, {0.01, 1e-4},
                             {1e-5, 1e-7}, {30.0, -1.0}};
  std::vector<Binary> out;
  for (const auto& m : masses)
    for (const auto& s : spins)
      for (double z : redshifts)
        for (const auto& t : bands) {
          // Scale the band times with the mass so that every band regime is
          // met for light and heavy binaries alike.
          const double scale = (m[0] + m[1]) / 2e6;
          out.push_back({m[0], m[1], s[0], s[1], 1e3 + 7e3 * z, z, t[0] * scale,
                         t[1] * scale});
        }
  return out;
}

void ExpectBitIdentical(const std::vector<double>& got,
                        const std::vector<double>& want, const char* what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  EXPECT_TRUE(phenomd_test::SameBits(got.data(), want.data(), got.size()))
      << what;
}

TEST(ExactGrid, AmplitudeIsBitIdenticalToThePerPointEvaluation) {
  const std::vector<Binary> spread = Spread();
  for (int length : {100, 7, 2, 1, 0}) {
    SCOPED_TRACE(length);
    Batch batch(spread, length);
    ASSERT_EQ(batch.Run(), 0);
    const ReferenceBatch ref(spread, length);
    ExpectBitIdentical(batch.freqs, ref.freqs, "freqs");
    ExpectBitIdentical(batch.hc, ref.hc, "hc");
    ExpectBitIdentical(batch.f_merger_start, ref.f_merger_start,
                       "f_merger_start");
    ExpectBitIdentical(batch.f_ringdown_start, ref.f_ringdown_start,
                       "f_ringdown_start");
    if (length == 100) {
      // The spread does reach every piece and both special rows.
      EXPECT_GT(ref.pieces[kInspiral], 10000);
      EXPECT_GT(ref.pieces[kIntermediate], 10000);
      EXPECT_GT(ref.pieces[kMerger], 10000);
      EXPECT_GT(ref.inverted_rows, 100);
    }
  }
}

TEST(ExactGrid, RemnantOutOfRangeGivesTheGridAndNaNStrainsAsPerPoint) {
  std::vector<Binary> bs = {{1e6, 5e5, 1.5, 1.5, 1e4, 1.0, 1.0, 0.0},
                            {1e6, 5e5, kNaN, 0.1, 1e4, 1.0, 1.0, 0.0},
                            {1e6, 5e5, -3.0, -3.0, 1e4, 1.0, 1.0, 0.0}};
  Batch batch(bs, 33);
  batch.Run();
  const ReferenceBatch ref(bs, 33);
  EXPECT_EQ(ref.nan_rows, 3);
  ExpectBitIdentical(batch.freqs, ref.freqs, "freqs");
  ExpectBitIdentical(batch.hc, ref.hc, "hc");
}

// Rows with grids chosen directly, including ones the driver does not lay:
// descending grids that leave and re-enter pieces in reverse order, NaN and
// infinite exponents, a join above f_peak (the quartic never used) and a NaN
// f_mr_start (every point above 0.014 then takes the quartic).
class ExactRowGrids : public ::testing::Test {
 protected:
  void Check(const AmpModel& a, const RowGrid& g) {
    std::vector<double> f(g.length), h(g.length), rf(g.length), rh(g.length);
    phenomd::ExactRow(a, g, f.data(), h.data());
    ReferenceRow(a, g, rf.data(), rh.data(), nullptr);
    ExpectBitIdentical(f, rf, "freqs");
    ExpectBitIdentical(h, rh, "hc");
  }
};

TEST_F(ExactRowGrids, AscendingDescendingAndDegenerateGrids) {
  for (const auto& p : phenomd_test::ParameterSpread()) {
    const AmpModel a = phenomd_test::FilledModel(p.eta, p.chi1, p.chi2);
    const double lo = std::log10(1e-3), hi = std::log10(0.3);
    for (std::ptrdiff_t n : {1, 2, 3, 64, 257}) {
      const double step = n > 1 ? (hi - lo) / (n - 1) : 0.0;
      Check(a, RowGrid{lo, step, 3.7, 1e-19, n});
      Check(a, RowGrid{hi, -step, 3.7, 1e-19, n});
    }
    // Starting exactly at the join and at f_mr_start.
    Check(a, RowGrid{std::log10(0.014), 1e-4, 1.0, 1.0, 50});
    Check(a, RowGrid{std::log10(a.m.f_mr_start), -1e-4, 1.0, 1.0, 50});
    Check(a, RowGrid{kNaN, 0.01, 1.0, 1.0, 5});
    Check(a,
          RowGrid{-2.0, std::numeric_limits<double>::infinity(), 1.0, 1.0, 4});
  }
}

TEST_F(ExactRowGrids, PeakBelowTheJoinAndNaNPeak) {
  AmpModel a = phenomd_test::FilledModel(0.16, 0.5, 0.2);
  a.m.f_mr_start = 0.01;
  Check(a, RowGrid{-3.0, 0.05, 2.0, 1.0, 60});
  // Descending from 0.2: the points in [0.01, 0.014] are inspiral, although
  // they are also above f_mr_start and follow merger-ringdown points.
  Check(a, RowGrid{std::log10(0.2), -0.005, 2.0, 1.0, 300});
  a.m.f_mr_start = kNaN;
  Check(a, RowGrid{-3.0, 0.05, 2.0, 1.0, 60});
  a.remnant_ok = false;
  Check(a, RowGrid{-3.0, 0.05, 2.0, 1.0, 60});
}

}  // namespace

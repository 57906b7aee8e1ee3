// The fast row's kernels against the exact row: 1e-14 relative in every
// frequency, and in every strain up to the point's own conditioning (see
// conditioning.h), NaN exactly where the exact row has NaN, nothing written
// past the row.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "conditioning.h"
#include "hexfloat.h"
#include "grid.h"
#include "model_fixture.h"
#include "relative.h"

namespace {

using phenomd::AmpModel;
using phenomd::RowGrid;
using Kernel = void (*)(const AmpModel&, const RowGrid&, double*, double*);

constexpr double kTol = 1e-14;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int kGuard = 8;  // cells after the row that must stay untouched

// The piece AmplitudeRatio takes at Mf.
int PieceOf(const AmpModel& a, double Mf) {
  if (Mf <= phenomd::kInspiralJoin) return 0;
  if (Mf >= a.m.f_mr_start) return 2;
  return 1;
}

// The exact strain formula at Mf (with Msec = 1) with a given piece.
double ExactStrainWithPiece(const AmpModel& a, const RowGrid& g, double Mf,
                            int piece) {
  const double ratio = piece == 0   ? phenomd::InspiralAnsatz(a.t, Mf)
                       : piece == 2 ? phenomd::MergerAnsatz(a.shape, Mf)
                                    : phenomd::IntermediateAnsatz(a.m, Mf);
  return 2.0 * (g.amp_scale / std::pow(Mf, 1.1666666666666667)) * ratio * Mf;
}

struct KernelCase {
  const char* name;
  Kernel kernel;
  bool (*supported)();  // null: any x86-64
};

void PrintTo(const KernelCase& c, std::ostream* os) { *os << c.name; }

class FastKernel : public ::testing::TestWithParam<KernelCase> {
 protected:
  void SetUp() override {
    if (GetParam().supported != nullptr && !GetParam().supported()) {
      GTEST_SKIP() << "CPU without " << GetParam().name;
    }
  }

  // Runs the kernel and the exact row on one grid and compares.
  void Compare(const AmpModel& a, const RowGrid& g) {
    const std::size_t n = static_cast<std::size_t>(g.length);
    std::vector<double> f(n + kGuard, -7.0), h(n + kGuard, -7.0);
    std::vector<double> rf(n), rh(n);
    GetParam().kernel(a, g, f.data(), h.data());
    phenomd::ExactRow(a, g, rf.data(), rh.data());
    for (std::size_t j = 0; j < n; ++j) {
      freqs_.Check(f[j], rf[j], kTol, "freqs", static_cast<long>(j));
      double want = rh[j];
      double Mf = rf[j] * g.Msec;
      if (g.Msec == 1.0 && a.remnant_ok &&
          PieceOf(a, f[j]) != PieceOf(a, rf[j])) {
        // Mf within an ulp of a boundary, on the other side of it in the
        // fast row: the pieces meet only to the collocation's accuracy, so
        // compare with the exact formula of the piece the fast row took.
        ++straddling_;
        want = ExactStrainWithPiece(a, g, rf[j], PieceOf(a, f[j]));
        Mf = f[j];  // the condition of the piece compared
      }
      const double cond = fast_test::StrainCondition(a, Mf);
      strains_.Check(h[j], want, fast_test::StrainTolerance(cond), "hc",
                     static_cast<long>(j));
      if (!std::isnan(want) &&
          !(std::fabs(h[j] - want) <= kTol * std::fabs(want))) {
        ++over_1e14_;
      }
    }
    for (std::size_t j = n; j < n + kGuard; ++j) {
      ASSERT_EQ(f[j], -7.0) << "freqs written past the row, length " << n;
      ASSERT_EQ(h[j], -7.0) << "hc written past the row, length " << n;
    }
  }

  void Report() {
    RecordProperty("max_rel_freqs", std::to_string(freqs_.max_rel));
    RecordProperty("max_rel_hc", std::to_string(strains_.max_rel));
    std::printf(
        "%s: %ld points, max relative difference freqs %.3g, hc %.3g; "
        "%ld strains beyond 1e-14 (ill-conditioned points), %ld across a "
        "boundary\n",
        GetParam().name, freqs_.compared, freqs_.max_rel, strains_.max_rel,
        over_1e14_, straddling_);
  }

  fast_test::Agreement freqs_, strains_;
  long over_1e14_ = 0, straddling_ = 0;
};

// Mass ratios 1-20, spins over [-1, 1] (ends included), grids from Mf = 1e-5
// to 0.3, ascending and descending, of every length from 1 to 9 (partial
// blocks) and longer.
TEST_P(FastKernel, AgreesWithTheExactRowOverARandomBatch) {
  fast_test::Stream r(20240611);
  const std::ptrdiff_t lengths[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 16, 100, 333};
  for (int b = 0; b < 600; ++b) {
    const double q = r.Uniform(1.0, 20.0);
    const double eta = q / ((1.0 + q) * (1.0 + q));
    double chi1 = r.Uniform(-1.0, 1.0), chi2 = r.Uniform(-1.0, 1.0);
    if (b % 50 == 0) chi1 = chi2 = 1.0;
    if (b % 50 == 1) chi1 = chi2 = -1.0;
    const AmpModel a = phenomd_test::FilledModel(eta, chi1, chi2);
    const double L0 = std::log10(r.LogUniform(1e-5, 0.1));
    const double L1 = std::log10(r.LogUniform(std::pow(10.0, L0), 0.3));
    const std::ptrdiff_t n = lengths[b % 12];
    double step = n > 1 ? (L1 - L0) / static_cast<double>(n - 1) : 0.0;
    const double Msec = r.LogUniform(1e-4, 1e3);
    const double amp = r.LogUniform(1e-24, 1e-16);
    if (b % 3 == 0) {
      Compare(a, RowGrid{L1, -step, Msec, amp, n});
    } else {
      Compare(a, RowGrid{L0, step, Msec, amp, n});
    }
  }
  EXPECT_EQ(freqs_.failures + strains_.failures, 0);
  Report();
}

// Fine grids across the join 0.014 and across f_mr_start, so that vector
// blocks hold points of two pieces.
TEST_P(FastKernel, AgreesAcrossThePieceBoundaries) {
  for (const auto& p : phenomd_test::ParameterSpread()) {
    const AmpModel a = phenomd_test::FilledModel(p.eta, p.chi1, p.chi2);
    for (double centre : {0.014, a.m.f_mr_start}) {
      for (std::ptrdiff_t n : {5, 11, 64}) {
        const double L = std::log10(centre);
        Compare(a, RowGrid{L - 3e-15 * n, 6e-15, 1.0, 1.0, n});
        Compare(a, RowGrid{L - 1e-3, 2e-3 / n, 1.0, 1.0, n});
      }
    }
  }
  EXPECT_EQ(freqs_.failures + strains_.failures, 0);
  Report();
}

TEST_P(FastKernel, NaNStrainsWhenTheRemnantIsOutOfRangeAndNaNGrids) {
  AmpModel a = phenomd_test::FilledModel(0.2, 0.3, -0.4);
  Compare(a, RowGrid{kNaN, 0.01, 1.0, 1.0, 7});
  Compare(a, RowGrid{-2.0, kNaN, 1.0, 1.0, 7});
  a.remnant_ok = false;
  Compare(a, RowGrid{-3.0, 0.01, 2.0, 1.0, 13});
  EXPECT_EQ(freqs_.failures + strains_.failures, 0);
  // The NaN rows are all NaN, not merely agreeing.
  std::vector<double> f(13), h(13);
  GetParam().kernel(a, RowGrid{-3.0, 0.01, 2.0, 1.0, 13}, f.data(), h.data());
  for (double v : h) EXPECT_TRUE(std::isnan(v));
  for (double v : f) EXPECT_FALSE(std::isnan(v));
}

// A grid runs one way: a point never falls below the point before it (above,
// for a descending exponent).  The exponent x_j = j step + L0 is monotone,
// but a SIMD exp10 good to an ulp is not: where consecutive x differ by an
// ulp of x (bands narrower than ~1e-14 relative, Mf near 0.75 to 1 where x is
// small and its ulp far below Mf's), two neighbours' errors can cross.  The
// starts, steps and lengths below are chosen for that (an independent sweep,
// no reference values): without the running maximum every kernel here had
// descending pairs.  The steps run from far below an ulp of x to well above
// the width from which the kernels leave a row as it is, at starts from
// Mf = 1e-6 (x = -6, where x's ulp is larger) to 1.
TEST_P(FastKernel, GridIsMonotoneForBandsNarrowerThanAnUlpOfMf) {
  const AmpModel a = phenomd_test::FilledModel(0.24, 0.3, 0.1);
  long descents = 0, rows = 0;
  for (int s = 0; s < 400; ++s) {
    const double L0 =
        s % 4 == 3 ? -6.0 + 3.0 * s / 400.0 : std::log10(0.5 + 0.5 * s / 400.0);
    for (double step : {1e-19, 7e-18, 3e-17, 1e-16, 4e-16, 2e-15, 1e-14, 4e-14,
                        2e-13, 1e-12}) {
      for (double sign : {1.0, -1.0}) {
        const std::ptrdiff_t n = 300 - s % 7;  // partial last blocks too
        std::vector<double> f(static_cast<std::size_t>(n)),
            h(static_cast<std::size_t>(n));
        GetParam().kernel(a, RowGrid{L0, sign * step, 1e-3, 1e-20, n},
                          f.data(), h.data());
        ++rows;
        for (std::ptrdiff_t j = 1; j < n; ++j) {
          const bool ok = sign > 0 ? f[j] >= f[j - 1] : f[j] <= f[j - 1];
          if (!ok && descents++ < 3) {
            ADD_FAILURE() << "freqs out of order at " << j << " (L0 " << L0
                          << ", step " << sign * step << "): "
                          << phenomd_test::Hex(f[j - 1]) << " then "
                          << phenomd_test::Hex(f[j]);
          }
        }
        for (double v : h) ASSERT_TRUE(std::isfinite(v) && v > 0.0);
      }
    }
  }
  EXPECT_EQ(descents, 0) << "over " << rows << " rows";
}

INSTANTIATE_TEST_SUITE_P(
    Kernels, FastKernel,
    ::testing::Values(
        KernelCase{"sse2", phenomd::FastRowSse2, nullptr},
        KernelCase{"avx2", phenomd::FastRowAvx2, phenomd::CpuHasAvx2},
        KernelCase{"avx512", phenomd::FastRowAvx512, phenomd::CpuHasAvx512}),
    [](const ::testing::TestParamInfo<KernelCase>& i) {
      return std::string(i.param.name);
    });

TEST(FastRowDispatch, UsesTheWidestKernelTheCpuSupports) {
  const AmpModel a = phenomd_test::FilledModel(0.16, 0.7, 0.1);
  const RowGrid g{-3.5, 0.01, 1.0, 1.0, 301};
  std::vector<double> f(301), h(301), kf(301), kh(301);
  phenomd::FastRow(a, g, f.data(), h.data());
  const bool avx512 = phenomd::CpuHasAvx512(), avx2 = phenomd::CpuHasAvx2();
  // The kernels give the same values on the same CPU, so the choice itself
  // is checked by name.
  EXPECT_STREQ(phenomd::FastRowKernel(),
               avx512 ? "avx512" : (avx2 ? "avx2" : "sse2"));
  const Kernel widest = avx512 ? phenomd::FastRowAvx512
                        : avx2 ? phenomd::FastRowAvx2
                               : phenomd::FastRowSse2;
  widest(a, g, kf.data(), kh.data());
  EXPECT_TRUE(phenomd_test::SameBits(f.data(), kf.data(), 301)) << "freqs";
  EXPECT_TRUE(phenomd_test::SameBits(h.data(), kh.data(), 301)) << "hc";
}

}  // namespace

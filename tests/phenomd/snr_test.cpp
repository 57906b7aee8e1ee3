// Signal-to-noise integration through the C entry point.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "hexfloat.h"
#include "phenomd.h"

namespace {

struct Snr {
  double all, ins, mrg, rd;
};

Snr RunRow(const std::vector<double>& f, const std::vector<double>& hc,
           const std::vector<double>& hn, double fm, double fr) {
  Snr s{};
  SNR_function(&s.all, &s.ins, &s.mrg, &s.rd, f.data(), hc.data(), hn.data(),
               &fm, &fr, static_cast<int>(f.size()), 1);
  return s;
}

std::vector<double> LogGrid(double f_lo, double f_hi, int n) {
  std::vector<double> f(n);
  for (int j = 0; j < n; ++j) {
    f[j] = f_lo * std::pow(f_hi / f_lo, static_cast<double>(j) / (n - 1));
  }
  return f;
}

// On f_k = f0 r^k each trapezoid of c^2 / f has area c^2 (r - 1/r) / 2 =
// c^2 sinh(ln r), so SNR^2 = c^2 (n - 1) sinh(ln r) exactly; it tends to
// c^2 ln(f_hi / f_lo) with relative error (ln r)^2 / 6.
TEST(SnrIntegration, ConstantRatioGivesTheClosedFormTrapezoid) {
  const int n = 2001;
  const double f_lo = 1e-4, f_hi = 1e-1, c = 7.0;
  const std::vector<double> f = LogGrid(f_lo, f_hi, n);
  const std::vector<double> hc(n, c * 1e-20), hn(n, 1e-20);
  const Snr s = RunRow(f, hc, hn, 1.0, 2.0);  // all inspiral
  const double dlnf = std::log(f_hi / f_lo) / (n - 1);
  EXPECT_NEAR(s.all * s.all, c * c * (n - 1) * std::sinh(dlnf),
              1e-11 * c * c * std::log(f_hi / f_lo));
  EXPECT_NEAR(s.all * s.all / (c * c * std::log(f_hi / f_lo)), 1.0,
              dlnf * dlnf / 6.0 * 1.01);
  EXPECT_TRUE(phenomd_test::SameBits(s.ins, s.all));
  EXPECT_EQ(s.mrg, 0.0);
  EXPECT_EQ(s.rd, 0.0);
}

TEST(SnrIntegration, PhaseSquaresSumToTheTotal) {
  const int n = 500;
  const std::vector<double> f = LogGrid(1e-3, 1.0, n);
  std::vector<double> hc(n), hn(n);
  for (int j = 0; j < n; ++j) {
    hc[j] = 1e-19 * std::pow(f[j], -0.3) * std::exp(-f[j]);
    hn[j] = 1e-20 * (1.0 + 1e-3 / f[j] + f[j] * f[j]);
  }
  const Snr s = RunRow(f, hc, hn, 0.01, 0.1);
  EXPECT_GT(s.ins, 0.0);
  EXPECT_GT(s.mrg, 0.0);
  EXPECT_GT(s.rd, 0.0);
  EXPECT_NEAR(s.ins * s.ins + s.mrg * s.mrg + s.rd * s.rd, s.all * s.all,
              1e-13 * s.all * s.all);
}

// Midpoints of the grid 1, 2, 3, 4 are 1.5, 2.5, 3.5; each interval of
// (hc/hn)^2 = f has area (f_k+1 - f_k) = 1.
TEST(SnrIntegration, BoundariesAreInclusiveOnTheInspiralAndRingdownSides) {
  const std::vector<double> f = {1.0, 2.0, 3.0, 4.0};
  std::vector<double> hc(4), hn(4, 1.0);
  for (int j = 0; j < 4; ++j) hc[j] = f[j];  // (hc/hn)^2 / f = f
  // Area of interval k: (f_k + f_k+1)/2: 1.5, 2.5, 3.5.
  const Snr a = RunRow(f, hc, hn, 2.5, 3.5);
  EXPECT_DOUBLE_EQ(a.ins * a.ins, 1.5 + 2.5);
  EXPECT_DOUBLE_EQ(a.mrg * a.mrg, 0.0);
  EXPECT_DOUBLE_EQ(a.rd * a.rd, 3.5);
  const Snr b = RunRow(f, hc, hn, 1.5, 3.0);
  EXPECT_DOUBLE_EQ(b.ins * b.ins, 1.5);
  EXPECT_DOUBLE_EQ(b.mrg * b.mrg, 2.5);
  EXPECT_DOUBLE_EQ(b.rd * b.rd, 3.5);
}

TEST(SnrIntegration, RingdownStartBelowMergerStartLeavesNoMerger) {
  const std::vector<double> f = {1.0, 2.0, 3.0, 4.0};
  const std::vector<double> hc = {1.0, 2.0, 3.0, 4.0}, hn(4, 1.0);
  const Snr s = RunRow(f, hc, hn, 2.0, 1.0);
  EXPECT_DOUBLE_EQ(s.ins * s.ins, 1.5);
  EXPECT_EQ(s.mrg, 0.0);
  EXPECT_DOUBLE_EQ(s.rd * s.rd, 2.5 + 3.5);
}

TEST(SnrIntegration, SentinelRowsGiveZeroRatios) {
  const std::vector<double> f(16, 1e-30), hc(16, 1e-60), hn(16, 1e-21);
  const Snr s = RunRow(f, hc, hn, 1e-3, 1e-2);
  EXPECT_EQ(s.all, 0.0);
  EXPECT_EQ(s.ins, 0.0);
  EXPECT_EQ(s.mrg, 0.0);
  EXPECT_EQ(s.rd, 0.0);
}

TEST(SnrIntegration, RowsShorterThanTwoPointsGiveZeros) {
  for (int length : {1, 0, -3}) {
    double all[2] = {9, 9}, ins[2] = {9, 9}, mrg[2] = {9, 9}, rd[2] = {9, 9};
    const double f[2] = {1.0, 2.0}, h[2] = {1.0, 1.0}, b[2] = {1.0, 1.0};
    EXPECT_EQ(SNR_function(all, ins, mrg, rd, f, h, h, b, b, length, 2), 0);
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(all[i], 0.0);
      EXPECT_EQ(ins[i], 0.0);
      EXPECT_EQ(mrg[i], 0.0);
      EXPECT_EQ(rd[i], 0.0);
    }
  }
}

TEST(SnrIntegration, EmptyBatchWritesNothing) {
  for (int n : {0, -1}) {
    double all = 9, ins = 9, mrg = 9, rd = 9;
    const double f[2] = {1.0, 2.0}, h[2] = {1.0, 1.0}, b = 1.0;
    EXPECT_EQ(SNR_function(&all, &ins, &mrg, &rd, f, h, h, &b, &b, 2, n), 0);
    EXPECT_EQ(all, 9.0);
    EXPECT_EQ(ins, 9.0);
    EXPECT_EQ(mrg, 9.0);
    EXPECT_EQ(rd, 9.0);
  }
}

TEST(SnrIntegration, RowsAreIndependent) {
  // Zero noise in the second binary makes only its ratios infinite.
  const int n = 3, len = 8;
  std::vector<double> f(n * len), hc(n * len, 1.0), hn(n * len, 1.0);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < len; ++j) f[i * len + j] = 1.0 + j;
  hn[len + 3] = 0.0;
  double all[n], ins[n], mrg[n], rd[n];
  const double fm[n] = {100, 100, 100}, fr[n] = {200, 200, 200};
  SNR_function(all, ins, mrg, rd, f.data(), hc.data(), hn.data(), fm, fr, len,
               n);
  EXPECT_TRUE(phenomd_test::SameBits(all[0], all[2]));
  EXPECT_TRUE(std::isfinite(all[0]));
  EXPECT_TRUE(std::isinf(all[1]));
}

// The straightforward evaluation: each interval's trapezoid from the two
// integrands, assigned by its midpoint, summed in row order.
Snr PointByPoint(const double* f, const double* hc, const double* hn, int n,
                 double fm, double fr) {
  double all = 0.0, ins = 0.0, mrg = 0.0, rd = 0.0;
  for (int k = 1; k < n; ++k) {
    const double r0 = hc[k - 1] / hn[k - 1], r1 = hc[k] / hn[k];
    const double g0 = (1.0 / f[k - 1]) * r0 * r0, g1 = (1.0 / f[k]) * r1 * r1;
    const double area = (g0 + g1) * (f[k] - f[k - 1]) * 0.5;
    const double mid = (f[k] + f[k - 1]) * 0.5;
    if (mid <= fm) {
      ins += area;
    } else if (mid >= fr) {
      rd += area;
    } else {
      mrg += area;
    }
    all += area;
  }
  return {std::sqrt(all), std::sqrt(ins), std::sqrt(mrg), std::sqrt(rd)};
}

// The row is summed pairwise in runs of one phase; every output must still
// be the bits of the point-by-point sum, for increasing grids with the
// boundaries anywhere (on a midpoint, before the first, after the last),
// odd and even lengths, unordered frequencies, and NaN or infinite entries.
TEST(SnrIntegration, RunsGiveThePointByPointSumsBitwise) {
  std::mt19937_64 rng(20261208);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const int lengths[] = {2, 3, 4, 5, 8, 9, 64, 257, 1000};
  int rows = 0;
  for (int len : lengths) {
    for (int variant = 0; variant < 60; ++variant) {
      std::vector<double> f = LogGrid(1e-4 * (1.0 + u(rng)), 0.3, len);
      std::vector<double> hc(len), hn(len);
      for (int j = 0; j < len; ++j) {
        hc[j] = 1e-19 * (0.5 + u(rng)) * std::pow(f[j], -0.2);
        hn[j] = 1e-20 * (0.5 + u(rng)) * (1.0 + 1e-3 / f[j]);
      }
      const auto mid = [&](int k) { return 0.5 * (f[k] + f[k - 1]); };
      double fm = 1e-4 + u(rng) * 0.05, fr = fm * (1.0 + 5.0 * u(rng));
      switch (variant % 10) {
        case 1: fm = mid(1 + (variant * 7) % (len - 1)); break;
        case 2: fr = mid(1 + (variant * 5) % (len - 1)); break;
        case 3: fm = 0.0; fr = 1.0; break;        // all merger
        case 4: fm = 1.0; break;                  // all inspiral
        case 5: fm = -inf; fr = 0.0; break;       // all ringdown
        case 6: std::swap(fm, fr); break;         // ringdown start first
        case 7: fm = nan; break;
        case 8: std::shuffle(f.begin(), f.end(), rng); break;
        case 9: {
          const int j = static_cast<int>(u(rng) * len);
          double* targets[] = {&f[j], &hc[j], &hn[j]};
          const double bad[] = {nan, inf, 0.0};
          *targets[variant / 10 % 3] = bad[(variant / 10 + len) % 3];
          break;
        }
        default: break;
      }
      const Snr got = RunRow(f, hc, hn, fm, fr);
      const Snr want =
          PointByPoint(f.data(), hc.data(), hn.data(), len, fm, fr);
      const double g[4] = {got.all, got.ins, got.mrg, got.rd};
      const double w[4] = {want.all, want.ins, want.mrg, want.rd};
      EXPECT_TRUE(phenomd_test::SameBits(g, w, 4))
          << "length " << len << ", variant " << variant
          << " (all, ins, mrg, rd)";
      ++rows;
    }
  }
  EXPECT_EQ(rows, 540);
}

}  // namespace

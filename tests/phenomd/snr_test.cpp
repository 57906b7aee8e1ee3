// Signal-to-noise integration through the C entry point.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

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
  EXPECT_EQ(s.ins, s.all);
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
  EXPECT_EQ(all[0], all[2]);
  EXPECT_TRUE(std::isfinite(all[0]));
  EXPECT_TRUE(std::isinf(all[1]));
}

}  // namespace

// Shared by the population module's tests: deterministic batches, a smooth
// noise curve tabulated as the module reads it, and the independent
// read-back of the table (cubic Lagrange in log10 f from the frequency
// itself).
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "../fast/relative.h"
#include "phenomd_population.h"

namespace population_test {

// Deterministic draws (SplitMix64), shared with the fast module's tests.
using fast_test::Stream;

struct Batch {
  int n = 0;
  std::vector<double> m1, m2, s1, s2, dist, z, t0, t1, factor;
};

// Total masses 10 to 1e9 M_sun, mass ratios 1-20 (either body first),
// spins in [-0.99, 0.99], redshifts 0.01-10, band starts from a day to a
// century before merger, ends at 0 (through ringdown) for three in four,
// otherwise earlier than the start; factors between 1 (edge-on) and sqrt(8)
// (face-on).
inline Batch BroadBatch(int n, std::uint64_t seed) {
  Stream r(seed);
  Batch b;
  b.n = n;
  for (int i = 0; i < n; ++i) {
    const double M = r.LogUniform(10.0, 1e9);
    const double q = r.LogUniform(1.0, 20.0);
    const bool swap = r.Uniform(0.0, 1.0) < 0.5;
    b.m1.push_back(swap ? M / (1.0 + q) : M * q / (1.0 + q));
    b.m2.push_back(swap ? M * q / (1.0 + q) : M / (1.0 + q));
    b.s1.push_back(r.Uniform(-0.99, 0.99));
    b.s2.push_back(r.Uniform(-0.99, 0.99));
    b.z.push_back(r.LogUniform(0.01, 10.0));
    b.dist.push_back(r.LogUniform(10.0, 1e5));
    const double t0 = r.LogUniform(1.0 / 365.25, 100.0);
    b.t0.push_back(t0);
    b.t1.push_back(r.Uniform(0.0, 1.0) < 0.75 ? 0.0
                                              : t0 * r.Uniform(0.01, 0.9));
    b.factor.push_back(r.Uniform(1.0, std::sqrt(8.0)));
  }
  return b;
}

// ln h_n of a smooth two-slope noise curve (a low-frequency wall, a bucket
// near 3 mHz and a rise above), tabulated at `per_dex` nodes per decade
// over [f_min, f_max] with one node of padding below and two above.
struct Table {
  std::vector<double> ln_hn;
  phenomd_noise_table t;
};

inline double CurveLnHn(double f) {
  const double x = f / 3e-3;
  return std::log(1e-20 * std::sqrt(1.0 + 1.0 / (x * x * x * x) + x * x));
}

inline Table MakeTable(double f_min, double f_max, int per_dex) {
  Table tab;
  const double d = 1.0 / per_dex;
  const double lo = std::log10(f_min) - d;
  const int nodes =
      static_cast<int>(std::ceil((std::log10(f_max) - lo) / d)) + 3;
  for (int k = 0; k < nodes; ++k)
    tab.ln_hn.push_back(CurveLnHn(std::pow(10.0, lo + k * d)));
  tab.t = {lo, d, nullptr, nodes, f_min, f_max};
  tab.t.ln_hn = tab.ln_hn.data();
  return tab;
}

// h_n at f read back from the table as its documentation states: +inf
// outside [f_min, f_max]; else x = (log10 f - log10_f0) / dlog10_f,
// i = floor(x) clamped to [1, length - 3], t = x - i and the cubic Lagrange
// polynomial through nodes i - 1 .. i + 2 in ln h_n.
inline double TableHn(const phenomd_noise_table& t, double f) {
  if (!(f >= t.f_min && f <= t.f_max)) return INFINITY;
  const double x = (std::log10(f) - t.log10_f0) / t.dlog10_f;
  double i = std::floor(x);
  if (i < 1) i = 1;
  if (i > static_cast<double>(t.length - 3)) i = t.length - 3;
  const double u = x - i;
  const std::int64_t k = static_cast<std::int64_t>(i);
  const double* y = t.ln_hn;
  const double l = -u * (u - 1) * (u - 2) / 6 * y[k - 1] +
                   (u + 1) * (u - 1) * (u - 2) / 2 * y[k] -
                   (u + 1) * u * (u - 2) / 2 * y[k + 1] +
                   (u + 1) * u * (u - 1) / 6 * y[k + 2];
  return std::exp(l);
}

}  // namespace population_test

// The condition number of a grid point's strain in the model's own terms:
// how much the exact evaluation itself amplifies relative perturbations of
// its inputs (the powers of Mf, Mf itself).  Where the inspiral sum or the
// intermediate quartic cancels (large rho or delta coefficients, e.g. strong
// anti-aligned spins at small eta), one ulp in a power of Mf moves the strain
// by tens of ulps, in the exact library as much as in the fast one; the
// agreement tests allow for that and nothing more.
#pragma once

#include <cmath>

#include "amp_model.h"

namespace fast_test {

inline double StrainCondition(const phenomd::AmpModel& a, double Mf) {
  if (Mf <= phenomd::kInspiralJoin) {
    const phenomd::InspiralAmpTerms& t = a.t;
    const double c = std::cbrt(Mf), c2 = c * c, Mf2 = Mf * Mf;
    const double terms[8] = {
        t.c_2_3 * c2, t.c_1 * Mf,        t.c_4_3 * Mf * c,   t.c_5_3 * Mf * c2,
        t.c_2 * Mf2,  t.c_7_3 * Mf2 * c, t.c_8_3 * Mf2 * c2, t.c_3 * Mf2 * Mf};
    double sum = 1.0, abs_sum = 1.0;
    for (double v : terms) {
      sum += v;
      abs_sum += std::fabs(v);
    }
    return abs_sum / std::fabs(sum);
  }
  if (Mf >= a.m.f_mr_start) {
    // d log / d log Mf of the exponential and of the Lorentzian.
    const double x = Mf - a.m.f_rd, w = a.shape.w;
    return 1.0 + std::fabs(a.m.gamma2 * Mf / w) +
           2.0 * std::fabs(x) * Mf / (x * x + w * w);
  }
  const phenomd::BinaryAmpModel& m = a.m;
  const double terms[5] = {m.delta0, m.delta1 * Mf, m.delta2 * Mf * Mf,
                           m.delta3 * Mf * Mf * Mf,
                           m.delta4 * Mf * Mf * Mf * Mf};
  double sum = 0.0, abs_sum = 0.0;
  for (double v : terms) {
    sum += v;
    abs_sum += std::fabs(v);
  }
  return abs_sum / std::fabs(sum);
}

// The strain tolerance at a point: 1e-14 relative, widened in proportion to
// the point's condition number where that exceeds about 17 (6e-16 per unit,
// about five unit roundoffs: the largest difference seen is within 5e-16 per
// unit, while powers of Mf taken at the true fractions instead of the exact
// library's rounded exponents exceed 6e-16).
inline double StrainTolerance(double condition) {
  const double t = 6e-16 * condition;
  return t > 1e-14 ? t : 1e-14;
}

}  // namespace fast_test

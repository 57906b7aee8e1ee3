// Merger-ringdown and intermediate pieces of the amplitude (Khan et al. 2016):
// a Lorentzian centred on f_rd, of width f_damp gamma3 and
// damped by an exponential, from f_peak up; and a quartic in Mf bridging the
// inspiral join 0.014 and f_peak, fixed by five collocation conditions.
#pragma once

#include <cmath>

#include "model.h"

namespace phenomd {

// The merger-ringdown shape of one binary with its width w = f_damp gamma3
// and the products gamma1 w and w w, formed once per binary.
struct MergerShape {
  double f_rd, f_damp, gamma1, gamma2, gamma3;
  double w, gamma1_w, w_w;

  explicit MergerShape(const BinaryAmpModel& m)
      : f_rd(m.f_rd),
        f_damp(m.f_damp),
        gamma1(m.gamma1),
        gamma2(m.gamma2),
        gamma3(m.gamma3),
        w(m.f_damp * m.gamma3),
        gamma1_w(m.gamma1 * w),
        w_w(w * w) {}
};

// Frequency of the maximum of MergerAnsatz for gamma2 <= 1; for gamma2 > 1,
// where the Lorentzian times the exponential has no stationary point, the
// real part of the complex roots.
double PeakFrequency(double f_rd, double f_damp, double gamma2, double gamma3);

// gamma1 w exp(-gamma2 (Mf - f_rd) / w) / ((Mf - f_rd)^2 + w^2): one
// exponential per call.
// Its two halves around the exponential, with x = Mf - f_rd: the exponent,
// and the ratio from x and the exponential's value.
inline double MergerExponent(const MergerShape& s, double x) {
  return -(s.gamma2 * x) / s.w;
}
inline double MergerFromExp(const MergerShape& s, double x, double e) {
  return (e * s.gamma1_w) / (x * x + s.w_w);
}
inline double MergerAnsatz(const MergerShape& s, double Mf) {
  const double x = Mf - s.f_rd;
  return MergerFromExp(s, x, std::exp(MergerExponent(s, x)));
}

// Exact derivative of MergerAnsatz, with the exponential of the positive
// exponent as divisor.
double MergerAnsatzSlope(const MergerShape& s, double Mf);

// Fills f_ins_end, f_mr_start, f1-f3, v3, d2 and delta0-delta4 of `m`, whose
// f_peak, v1, d1 and v2 are already set.  The quartic is solved in closed
// form over the common denominator (0.014 - f3)^3 (0.014 - f2)^2 (f3 - f2)^2.
void SolveIntermediate(const MergerShape& s, BinaryAmpModel& m);

// delta0 + delta1 Mf + delta2 Mf^2 + delta3 Mf^3 + delta4 Mf^4, in ascending
// order, powers by repeated multiplication.
inline double IntermediateAnsatz(const BinaryAmpModel& m, double Mf) {
  const double Mf2 = Mf * Mf;
  const double Mf3 = Mf * Mf2;
  const double Mf4 = Mf * Mf3;
  return m.delta1 * Mf + m.delta0 + m.delta2 * Mf2 + m.delta3 * Mf3 +
         m.delta4 * Mf4;
}

}  // namespace phenomd

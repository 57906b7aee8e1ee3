// Inspiral piece of the amplitude: the post-Newtonian amplitude ratio to
// 3.5PN with the three fitted higher-order terms rho1-3 (Khan et al. 2016),
// a polynomial in Mf^(1/3) that starts at 1.
#pragma once

#include <cmath>

#include "model.h"

namespace phenomd {

// Fills all nine fields of `t` from eta, chi1, chi2 and rho1-3 of `m`.
void BuildInspiralTerms(const BinaryAmpModel& m, const CallConstants& k,
                        InspiralAmpTerms& t);

// The powers of Mf that InspiralAnsatz and InspiralAnsatzSlope use.
InspiralPowers InspiralPowersAt(double Mf);

// 1 + c_2_3 Mf^(2/3) + c_1 Mf + ... + c_3 Mf^3, summed left to right in
// ascending powers.
inline double InspiralSum(const InspiralAmpTerms& t, const InspiralPowers& p) {
  return 1.0 + t.c_2_3 * p.p2_3 + t.c_1 * p.p1 + t.c_4_3 * p.p4_3 +
         t.c_5_3 * p.p5_3 + t.c_2 * p.p2 + t.c_7_3 * p.p7_3 + t.c_8_3 * p.p8_3 +
         t.c_3 * p.p3;
}

// The exact derivative of InspiralSum with respect to Mf.
inline double InspiralSlopeSum(const InspiralAmpTerms& t,
                               const InspiralPowers& p) {
  return (2.0 / 3.0) * t.c_2_3 * p.m1_3 + t.c_1 +
         (4.0 / 3.0) * t.c_4_3 * p.p1_3 + (5.0 / 3.0) * t.c_5_3 * p.p2_3 +
         2.0 * t.c_2 * p.p1 + (7.0 / 3.0) * t.c_7_3 * p.p4_3 +
         (8.0 / 3.0) * t.c_8_3 * p.p5_3 + 3.0 * t.c_3 * p.p2;
}

// InspiralSum at Mf given its five fractional powers (pow at the rounded
// exponents 2/3, 4/3, 5/3, 7/3, 8/3); the integer powers by products.
inline double InspiralSumAt(const InspiralAmpTerms& t, double Mf, double p2_3,
                            double p4_3, double p5_3, double p7_3,
                            double p8_3) {
  InspiralPowers p;
  p.p2_3 = p2_3;
  p.p4_3 = p4_3;
  p.p5_3 = p5_3;
  p.p7_3 = p7_3;
  p.p8_3 = p8_3;
  p.p1 = Mf;
  p.p2 = Mf * Mf;
  p.p3 = Mf * p.p2;
  return InspiralSum(t, p);
}

// Inspiral amplitude ratio at a grid point Mf > 0: five calls of pow.
inline double InspiralAnsatz(const InspiralAmpTerms& t, double Mf) {
  return InspiralSumAt(t, Mf, std::pow(Mf, 0.6666666666666666),
                       std::pow(Mf, 1.3333333333333333),
                       std::pow(Mf, 1.6666666666666667),
                       std::pow(Mf, 2.3333333333333335),
                       std::pow(Mf, 2.6666666666666665));
}

// Derivative of InspiralAnsatz with respect to Mf.
inline double InspiralAnsatzSlope(const InspiralAmpTerms& t, double Mf) {
  return InspiralSlopeSum(t, InspiralPowersAt(Mf));
}

// v1 and d1 of `m`: the inspiral ratio and its slope at the join 0.014, from
// the call's powers of 0.014 (the same values pow gives on the grid).
void InspiralCollocation(const InspiralAmpTerms& t, const CallConstants& k,
                         BinaryAmpModel& m);

}  // namespace phenomd

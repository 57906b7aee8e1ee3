// Per-binary records of the amplitude model and the values shared by every
// binary of one Amplitude call.
#pragma once

#include <cmath>

namespace phenomd {

// Coefficients of one binary.  All frequencies are dimensionless (Mf).
struct BinaryAmpModel {
  double eta;               // symmetric mass ratio m1 m2 / M^2
  double chi1;              // aligned spin of the heavier body
  double chi2;              // aligned spin of the lighter body
  double q;                 // mass ratio heavier / lighter, >= 1
  double chi_pn;            // reduced spin of the post-Newtonian expansion
  double f_rd;              // ringdown frequency
  double f_damp;            // damping frequency of the ringdown
  double f_peak;            // peak of the merger-ringdown piece
  double rho1, rho2, rho3;  // inspiral fits
  double delta0, delta1, delta2, delta3, delta4;  // intermediate quartic
  double gamma1, gamma2, gamma3;                  // merger-ringdown fits
  double f1, f2, f3;                              // collocation frequencies
  double v1, v2, v3;  // amplitude ratio at f1, f2, f3
  double d1, d2;      // slope of the amplitude ratio at f1 and f3
  double f_ins_end;   // upper end of the inspiral piece, 0.014
  double f_mr_start;  // lower end of the merger-ringdown piece, f_peak
};

// Inspiral ansatz: coefficients of ascending powers of Mf^(1/3), and the
// amplitude normalisation sqrt(2 eta / 3) / Pi^(1/6).
struct InspiralAmpTerms {
  double c_2_3, c_1, c_4_3, c_5_3, c_2, c_7_3, c_8_3, c_3;
  double amp_norm;
};

// The inspiral join; also f1 and f_ins_end.
constexpr double kInspiralJoin = 0.014;

// The powers of Mf that the inspiral piece and its slope take.  The
// fractional ones come from pow with the exponent nearest the fraction;
// Mf^2 and Mf^3 are products.
struct InspiralPowers {
  double m1_3, p1_3, p2_3, p4_3, p5_3, p7_3, p8_3;
  double p1, p2, p3;
};

// Powers of the model's Pi and of the join 0.014, formed once per call (the
// model's Pi is a writable global and is read at each call).
struct CallConstants {
  double pi;
  double pi_1_6, pi_2_3, pi_4_3, pi_5_3;
  InspiralPowers join;  // powers of 0.014

  static CallConstants Make(double pi);
};

// delta = sqrt(1 - 4 eta), the symmetric mass difference.  For masses equal
// to within rounding eta can exceed 1/4 by an ulp; the difference is then 0.
inline double SymmetricMassDifference(double eta) {
  const double x = 1.0 - 4.0 * eta;
  return x < 0.0 ? 0.0 : std::sqrt(x);
}

}  // namespace phenomd

// Leaver's radial continued fraction for Kerr quasi-normal modes.
//
// Leaver (1985), Proc. R. Soc. Lond. A 402, 285, eqs. (25)-(27): the radial
// Teukolsky function is expanded about the horizon,
//   R(r) = (r - r+)^(-s - i sigma+) (r - r-)^(-1 - s + i omega + i sigma+)
//          e^(i omega r) sum_n a_n ((r - r+)/(r - r-))^n,
// and the coefficients obey the three-term recurrence
//   alpha_n a_{n+1} + beta_n a_n + gamma_n a_{n-1} = 0,
// whose minimal solution exists exactly at a quasi-normal frequency, i.e.
// where the continued fraction
//   F(omega) = beta_0 - alpha_0 gamma_1 / (beta_1 - alpha_1 gamma_2 / (beta_2 - ...))
// vanishes.  The tail of the fraction is approximated by the large-n
// expansion of the ratio a_{n+1}/a_n (Nollert 1993, Phys. Rev. D 47, 5253),
// which removes most of the depth the plain fraction needs when the hole is
// close to extremal.
#pragma once

#include "kerr_mode.h"

namespace qnm {

// The coefficients of Leaver's radial recurrence (Leaver 1985, eq. 25,
// written with the constants c0..c4 of his eq. 26), in units 2M = 1.
struct RadialRecurrence {
  cplx c0, c1, c2, c3, c4;

  // a_L, omega_L: spin and frequency in Leaver's units 2M = 1 (|a_L| < 1/2).
  // A: separation constant of the angular equation (Leaver's A_lm).
  RadialRecurrence(double a_L, cplx omega_L, int s, int m, cplx A);

  cplx alpha(double n) const { return n * n + (c0 + 1.0) * n + c0; }
  cplx beta(double n) const { return -2.0 * n * n + (c1 + 2.0) * n + c3; }
  cplx gamma(double n) const { return n * n + (c2 - 3.0) * n + c4 - c2 + 2.0; }

  // Coefficients of the asymptotic ratio a_{N+1}/a_N = 1 + C1 N^(-1/2) +
  // C2 N^(-1) + O(N^(-3/2)), obtained by inserting the series into the
  // recurrence (Nollert 1993, eq. 8, here for the Teukolsky coefficients).
  // The branch of C1 with negative real part belongs to the minimal solution.
  cplx tail_c1() const;
  cplx tail_c2() const;

  cplx omega_L;
  double b;  // sqrt(1 - 4 a_L^2)
};

enum class Tail {
  kNone,     // truncate with a_{N+1} = 0
  kNollert,  // start the backward sweep from the asymptotic ratio
};

// Value of the radial continued fraction F(omega) truncated after `depth`
// levels.  Spin a and frequency omega in units M = 1.
cplx radial_continued_fraction(double a, cplx omega, const ModeIndices& mode,
                               cplx A, int depth, Tail tail = Tail::kNollert);

}  // namespace qnm

// Separation constant of the spin-weighted spheroidal harmonics from Leaver's
// angular continued fraction.
//
// Leaver (1985) eqs. (18)-(21): with u = cos(theta), the angular Teukolsky
// equation
//   d/du[(1 - u^2) dS/du] + [c^2 u^2 - 2 c s u + s + A - (m + s u)^2/(1 - u^2)] S = 0,
// c = a*omega, is solved by
//   S(u) = e^(c u) (1 + u)^k1 (1 - u)^k2 sum_n a_n (1 + u)^n,
//   k1 = |m - s|/2,  k2 = |m + s|/2,
// whose coefficients obey a three-term recurrence; the series converges at
// u = 1 only when A makes the continued fraction
//   G(A) = beta_0 - alpha_0 gamma_1 / (beta_1 - alpha_1 gamma_2 / (beta_2 - ...))
// vanish.  At c = 0, A = l(l+1) - s(s+1).
#pragma once

#include "kerr_mode.h"

namespace qnm {

// Value of the angular continued fraction G(A) for spheroidal parameter c,
// truncated after `depth` levels.
cplx angular_continued_fraction(cplx c, const ModeIndices& mode, cplx A,
                                int depth);

struct AngularResult {
  cplx A;
  int iterations = 0;
  bool converged = false;
};

// Root of G near `guess` by the secant method, to relative accuracy `rtol`.
AngularResult solve_angular_eigenvalue(cplx c, const ModeIndices& mode,
                                       cplx guess, int depth = 100,
                                       double rtol = 1e-14);

// Separation constant of the spherical limit c = 0: l(l+1) - s(s+1).
double spherical_separation_constant(const ModeIndices& mode);

}  // namespace qnm

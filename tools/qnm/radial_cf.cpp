#include "radial_cf.h"

#include <cmath>

namespace qnm {

namespace {
const cplx kI(0.0, 1.0);
}

RadialRecurrence::RadialRecurrence(double a_L, cplx w, int s, int m, cplx A)
    : omega_L(w), b(std::sqrt(1.0 - 4.0 * a_L * a_L)) {
  // Leaver (1985) eq. (26).  x = omega/2 - a m appears in every constant
  // through the horizon frequency sigma+ = (omega r+ - a m)/b.
  const cplx x = 0.5 * w - a_L * static_cast<double>(m);
  const double sd = static_cast<double>(s);
  c0 = 1.0 - sd - kI * w - (2.0 * kI / b) * x;
  c1 = -4.0 + 2.0 * kI * w * (2.0 + b) + (4.0 * kI / b) * x;
  c2 = sd + 3.0 - 3.0 * kI * w - (2.0 * kI / b) * x;
  c3 = w * w * (4.0 + 2.0 * b - a_L * a_L) - 2.0 * a_L * static_cast<double>(m) * w -
       sd - 1.0 + (2.0 + b) * kI * w - A + ((4.0 * w + 2.0 * kI) / b) * x;
  c4 = sd + 1.0 - 2.0 * w * w - (2.0 * sd + 3.0) * kI * w -
       ((4.0 * w + 2.0 * kI) / b) * x;
}

cplx RadialRecurrence::tail_c1() const {
  // Order n^1 of the recurrence divided by a_n: C1^2 = -(c0 + c1 + c2)
  // = -2 i b omega_L.
  cplx c = std::sqrt(-(c0 + c1 + c2));
  if (c.real() > 0.0) c = -c;
  return c;
}

cplx RadialRecurrence::tail_c2() const {
  // Order n^(1/2): 2 C2 = C1^2 + (c2 - 3) - (c0 + 1) + 1/2.
  const cplx c1sq = -(c0 + c1 + c2);
  return 0.5 * (c1sq + (c2 - 3.0) - (c0 + 1.0) + 0.5);
}

cplx radial_continued_fraction(double a, cplx omega, const ModeIndices& mode,
                               cplx A, int depth, Tail tail) {
  const RadialRecurrence rec(0.5 * a, 2.0 * omega, mode.s, mode.m, A);
  // Backward sweep over the ratios r_n = a_{n+1}/a_n:
  //   r_{n-1} = -gamma_n / (beta_n + alpha_n r_n),   F = beta_0 + alpha_0 r_0,
  // which is the continued fraction of Leaver (1985) eq. (27).
  cplx r(0.0, 0.0);
  const double N = static_cast<double>(depth);
  if (tail == Tail::kNollert) {
    r = 1.0 + rec.tail_c1() / std::sqrt(N) + rec.tail_c2() / N;
  }
  for (int n = depth; n >= 1; --n) {
    const double dn = static_cast<double>(n);
    r = -rec.gamma(dn) / (rec.beta(dn) + rec.alpha(dn) * r);
  }
  return rec.beta(0.0) + rec.alpha(0.0) * r;
}

}  // namespace qnm

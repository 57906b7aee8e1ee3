#include "angular_eigenvalue.h"

#include <cmath>
#include <cstdlib>

namespace qnm {

cplx angular_continued_fraction(cplx c, const ModeIndices& mode, cplx A,
                                int depth) {
  const double s = mode.s;
  const double k1 = 0.5 * std::abs(mode.m - mode.s);
  const double k2 = 0.5 * std::abs(mode.m + mode.s);
  // Leaver (1985) eq. (20).
  auto alpha = [&](double n) { return cplx(-2.0 * (n + 1.0) * (n + 2.0 * k1 + 1.0), 0.0); };
  auto beta = [&](double n) {
    return n * (n - 1.0) + 2.0 * n * (k1 + k2 + 1.0 - 2.0 * c) -
           (2.0 * c * (2.0 * k1 + s + 1.0) - (k1 + k2) * (k1 + k2 + 1.0)) -
           (c * c + s * (s + 1.0) + A);
  };
  auto gamma = [&](double n) { return 2.0 * c * (n + k1 + k2 + s); };

  // Backward sweep over r_n = a_{n+1}/a_n from r_depth = 0; the minimal
  // solution falls off like r_n ~ -2c/n, so the truncation error decays
  // factorially with depth.
  cplx r(0.0, 0.0);
  for (int n = depth; n >= 1; --n) {
    const double dn = static_cast<double>(n);
    r = -gamma(dn) / (beta(dn) + alpha(dn) * r);
  }
  return beta(0.0) + alpha(0.0) * r;
}

AngularResult solve_angular_eigenvalue(cplx c, const ModeIndices& mode,
                                       cplx guess, int depth, double rtol) {
  AngularResult res;
  cplx x0 = guess;
  cplx x1 = guess + cplx(1e-6 * (1.0 + std::abs(guess)), 0.0);
  cplx f0 = angular_continued_fraction(c, mode, x0, depth);
  cplx f1 = angular_continued_fraction(c, mode, x1, depth);
  for (int it = 1; it <= 60; ++it) {
    res.iterations = it;
    if (f1 == f0) {  // flat to rounding: x1 is as good as it gets
      res.converged = (std::abs(x1 - x0) <= 1e3 * rtol * (1.0 + std::abs(x1)));
      break;
    }
    const cplx x2 = x1 - f1 * (x1 - x0) / (f1 - f0);
    x0 = x1;
    f0 = f1;
    x1 = x2;
    if (std::abs(x1 - x0) <= rtol * (1.0 + std::abs(x1))) {
      res.converged = true;
      break;
    }
    f1 = angular_continued_fraction(c, mode, x1, depth);
  }
  res.A = x1;
  return res;
}

double spherical_separation_constant(const ModeIndices& mode) {
  return mode.l * (mode.l + 1.0) - mode.s * (mode.s + 1.0);
}

}  // namespace qnm

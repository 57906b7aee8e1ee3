// Gauss-Legendre nodes and weights on [-1, 1] (Abramowitz & Stegun 25.4.29):
// the n-point rule integrates polynomials of degree 2n - 1 exactly.
#pragma once

namespace phenomd {
namespace population {

struct GaussLegendreRule {
  int n;
  const double* x;  // [n] ascending nodes
  const double* w;  // [n] weights, summing to 2
};

// The rule of n points, 1 <= n <= 64, computed once per process (Newton's
// iteration on P_n from Tricomi's initial guess, to full precision).
GaussLegendreRule GaussLegendre(int n);

}  // namespace population
}  // namespace phenomd

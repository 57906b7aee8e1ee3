#include "gauss_legendre.h"

#include <array>
#include <cmath>
#include <mutex>

namespace phenomd {
namespace population {
namespace {

constexpr int kMaxNodes = 64;

struct Table {
  std::array<double, kMaxNodes> x{}, w{};
};

// P_n(t) and P_n'(t) by the three-term recurrence.
void Legendre(int n, double t, double& p, double& dp) {
  double p0 = 1.0, p1 = t;
  for (int k = 2; k <= n; ++k) {
    const double p2 = ((2.0 * k - 1.0) * t * p1 - (k - 1.0) * p0) / k;
    p0 = p1;
    p1 = p2;
  }
  p = n == 0 ? 1.0 : p1;
  dp = n * (t * p1 - p0) / (t * t - 1.0);
}

void Fill(int n, Table& tab) {
  const double pi = 3.14159265358979323846;
  for (int i = 0; i < (n + 1) / 2; ++i) {
    // Root i from the top, Tricomi's asymptotic first guess.
    double t = std::cos(pi * (i + 0.75) / (n + 0.5));
    double p = 0.0, dp = 1.0;
    for (int it = 0; it < 100; ++it) {
      Legendre(n, t, p, dp);
      const double dt = p / dp;
      t -= dt;
      if (std::fabs(dt) < 1e-17) break;
    }
    Legendre(n, t, p, dp);
    const double w = 2.0 / ((1.0 - t * t) * dp * dp);
    tab.x[n - 1 - i] = t;
    tab.x[i] = -t;
    tab.w[i] = tab.w[n - 1 - i] = w;
  }
  if (n % 2 == 1) tab.x[n / 2] = 0.0;
}

}  // namespace

GaussLegendreRule GaussLegendre(int n) {
  static std::array<Table, kMaxNodes + 1> tables;
  static std::array<std::once_flag, kMaxNodes + 1> once;
  if (n < 1) n = 1;
  if (n > kMaxNodes) n = kMaxNodes;
  std::call_once(once[n], [n] { Fill(n, tables[n]); });
  return {n, tables[n].x.data(), tables[n].w.data()};
}

}  // namespace population
}  // namespace phenomd

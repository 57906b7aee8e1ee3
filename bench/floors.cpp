// The floors of the model's arithmetic: for each grid point only the libm
// calls the model prescribes (the power of ten that lays the grid, Mf^(7/6)
// of the strain, and the piece: five fractional powers in the inspiral, one
// exponential in the merger-ringdown, none in the intermediate quartic), and
// for the SNR the three arrays streamed once with the same two divisions per
// point.  Everything else the library does (stores, products, the piecewise
// choice) is left out, so these are lower bounds for the exact library.
#include <cmath>

#include "workload.h"

namespace bench {

double AmplitudeFloor(const std::vector<FloorRow>& rows) {
  // Each point's power of ten is called one point ahead, as the exact
  // library does, so that the floor has the same freedom to overlap the
  // calls.
  double sink = 0.0;
  for (const FloorRow& r : rows) {
    if (r.length <= 0) continue;
    auto grid = [&r](int j) { return std::pow(10.0, j * r.step + r.L0); };
    double Mf = grid(0);
    int j = 0;
    for (; j < r.n_ins; ++j) {
      const double next = j + 1 < r.length ? grid(j + 1) : 0.0;
      sink +=
          std::pow(Mf, 1.1666666666666667) + std::pow(Mf, 0.6666666666666666) +
          std::pow(Mf, 1.3333333333333333) + std::pow(Mf, 1.6666666666666667) +
          std::pow(Mf, 2.3333333333333335) + std::pow(Mf, 2.6666666666666665);
      Mf = next;
    }
    for (; j < r.n_mr; ++j) {
      const double next = j + 1 < r.length ? grid(j + 1) : 0.0;
      sink += std::pow(Mf, 1.1666666666666667);
      Mf = next;
    }
    for (; j < r.length; ++j) {
      const double next = j + 1 < r.length ? grid(j + 1) : 0.0;
      sink += std::pow(Mf, 1.1666666666666667) + std::exp(r.k_mr * Mf);
      Mf = next;
    }
  }
  return sink;
}

double SnrFloor(const double* freqs, const double* hc, const double* hn, int n,
                int length) {
  double sink = 0.0;
  for (int i = 0; i < n; ++i) {
    const std::size_t row = static_cast<std::size_t>(i) * length;
    double s = 0.0;
    for (int k = 0; k < length; ++k) {
      const double r = hc[row + k] / hn[row + k];
      s += (1.0 / freqs[row + k]) * r * r;
    }
    sink += s;
  }
  return sink;
}

}  // namespace bench

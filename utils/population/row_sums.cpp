// The row-sum kernel chosen once per process, and the portable one.
#include "row_sums.h"

#include <cmath>

#include "grid.h"

namespace phenomd {
namespace population {
namespace {

using Kernel = RowSums (*)(const RowSumsInputs&, const double*, const double*,
                           double*);

struct Choice {
  Kernel kernel;
  const char* name;
};

Choice ChooseKernel() {
#ifdef PHENOMD_HAVE_FAST_ROW
  if (CpuHasAvx512()) return {SumRowAvx512, "avx512"};
  if (CpuHasAvx2()) return {SumRowAvx2, "avx2"};
  return {SumRowSse2, "sse2"};
#else
  return {SumRowScalar, "scalar"};
#endif
}

// The initialisation of a local static is thread-safe.
const Choice& Chosen() {
  static const Choice choice = ChooseKernel();
  return choice;
}

}  // namespace

RowSums SumRowScalar(const RowSumsInputs& in, const double* freqs,
                     const double* hc, double* g) {
  const int hi = in.table_length - 3;
  const double* y = in.ln_hn;
  const std::ptrdiff_t n = in.length;
  RowSums s{0.0, 0.0, 0.0, 0.0, 0};
  for (std::ptrdiff_t j = 0; j < n; ++j) {
    const double f = freqs[j];
    double e = 0.0;  // 1 / (f h_n^2)
    if (f >= in.f_min && f <= in.f_max) {
      const double x = static_cast<double>(j) * in.x_step + in.x0;
      int i = static_cast<int>(x);  // x is finite: f is in the table's range
      i = i < 1 ? 1 : (i > hi ? hi : i);
      const double t = x - static_cast<double>(i);
      const double tp1 = t + 1.0, tm1 = t - 1.0, tm2 = t - 2.0;
      const double w0 = t * tm1 * tm2 * (1.0 / 6.0);
      const double w1 = tp1 * tm1 * tm2 * 0.5;
      const double w2 = tp1 * t * tm2 * 0.5;
      const double w3 = tp1 * t * tm1 * (1.0 / 6.0);
      const double m_lnh =
          w0 * y[i - 1] - w1 * y[i] + w2 * y[i + 1] - w3 * y[i + 2];
      const double ln_f = x * in.ln_f_step + in.ln_f0;
      e = std::exp((m_lnh + m_lnh) - ln_f);
    } else {
      ++s.outside;
    }
    const double r = hc[j] * in.factor;
    g[j] = r * r * e;
  }
  AddIntervals(in, freqs, g, 1, s);
  return s;
}

RowSums SumRow(const RowSumsInputs& in, const double* freqs, const double* hc,
               double* g) {
  return Chosen().kernel(in, freqs, hc, g);
}

const char* SumRowKernel() { return Chosen().name; }

}  // namespace population
}  // namespace phenomd

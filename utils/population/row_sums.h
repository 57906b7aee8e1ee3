// The SNR of one binary's row against a log-uniform noise table, summed
// without materialising h_n: per point the noise is interpolated from the
// table, the integrand g = (1/f) (k hc / h_n)^2 formed, and the trapezoid
// rule over the intervals summed with each interval given to a phase by its
// midpoint (<= f_merger_start: inspiral; otherwise >= f_ringdown_start:
// ringdown; the rest, NaN included, merger), the assignment of
// SnrSquaredOfRow.
//
// The table index comes from the grid's own exponent: the row's point j has
// Mf_j = 10^(j step + L0) and f_j = Mf_j / Msec, so
//   x_j = (log10 f_j - log10_f0) / dlog10_f
//       = j (step / dlog10_f) + (L0 - log10 Msec - log10_f0) / dlog10_f,
// with no logarithm per point (it differs from the logarithm of the rounded
// f_j by rounding only).  Then, with i = floor(x) clamped to
// [1, table_length - 3] and t = x - i, the cubic Lagrange polynomial through
// nodes i - 1 .. i + 2 gives ln h_n, and the integrand is
//   g = (k hc)^2 exp(-2 ln h_n - ln f) = (1/f) (k hc / h_n)^2
// (ln f from the same exponent).  A point whose f_j lies outside
// [f_min, f_max] (or is NaN) has g = 0 (h_n = +inf) and is counted.
#pragma once

#include <cstddef>
#include <cstdint>

namespace phenomd {
namespace population {

struct RowSumsInputs {
  // Table: ln h_n at log10 f = log10_f0 + k dlog10_f, k < table_length.
  const double* ln_hn;
  std::int32_t table_length;  // >= 4
  double f_min, f_max;
  // Fractional table index of point j: x_j = j x_step + x0; and ln f_j =
  // x_j ln_f_step + ln_f0 (ln 10 dlog10_f and ln 10 log10_f0).
  double x_step, x0;
  double ln_f_step, ln_f0;
  double factor;  // applied to hc
  double f_merger_start, f_ringdown_start;
  std::ptrdiff_t length;  // >= 2
};

struct RowSums {
  double all, ins, mrg, rd;  // squared SNRs
  std::int64_t outside;      // points outside [f_min, f_max]
};

// Adds the intervals [j - 1, j] for j = from .. length - 1 to s one after
// another in row order, each to its phase by its midpoint: the whole sum of
// the portable kernel and the tail of the SIMD ones.
inline void AddIntervals(const RowSumsInputs& in, const double* freqs,
                         const double* g, std::ptrdiff_t from, RowSums& s) {
  for (std::ptrdiff_t j = from; j < in.length; ++j) {
    const double f_hi = freqs[j], f_lo = freqs[j - 1];
    const double area = (g[j - 1] + g[j]) * (f_hi - f_lo) * 0.5;
    const double mid = (f_hi + f_lo) * 0.5;
    if (mid <= in.f_merger_start) {
      s.ins += area;
    } else if (mid >= in.f_ringdown_start) {
      s.rd += area;
    } else {
      s.mrg += area;
    }
    s.all += area;
  }
}

// Sums over the row freqs[0 .. length), hc[0 .. length), using g[0 ..
// length) as scratch.  Chooses its kernel once per process (the widest the
// CPU supports).
RowSums SumRow(const RowSumsInputs& in, const double* freqs, const double* hc,
               double* g);

// The portable kernel (std::exp, intervals summed in order) and the SIMD
// kernels where built (SLEEF exp, intervals summed in W lanes).
RowSums SumRowScalar(const RowSumsInputs& in, const double* freqs,
                     const double* hc, double* g);
RowSums SumRowSse2(const RowSumsInputs& in, const double* freqs,
                   const double* hc, double* g);
RowSums SumRowAvx2(const RowSumsInputs& in, const double* freqs,
                   const double* hc, double* g);
RowSums SumRowAvx512(const RowSumsInputs& in, const double* freqs,
                     const double* hc, double* g);

// The kernel SumRow uses: "avx512", "avx2", "sse2" or "scalar".
const char* SumRowKernel();

}  // namespace population
}  // namespace phenomd

// The exact row.  Per point the model prescribes pow(10, x) for the grid,
// pow(Mf, 7/6) for the strain and the piece (five pows in the inspiral, one
// exp in the merger-ringdown, products in the intermediate quartic); this
// file keeps exactly those operations and moves everything else out of the
// way of the libm calls:
//  - the binary's coefficients are copied into locals once per row;
//  - the row is walked in blocks of kBlock points: first the block's powers
//    of ten, back to back, and its frequencies; then the block is split into
//    runs of consecutive points of one piece, the run ended by the very test
//    AmplitudeRatio makes (Mf <= 0.014 first, then Mf >= f_mr_start), so
//    every point gets the piece AmplitudeRatio would give it, whatever the
//    order of the Mf values and also when Mf is NaN (intermediate);
//  - each run makes all its libm calls in one loop, whose calls do not wait
//    on each other, so the out-of-order core overlaps them, and then does
//    the products, sums and divisions in loops of their own, which the
//    compiler vectorises (packed IEEE operations: the same values);
//  - a row whose remnant is out of range writes its grid and NaN strains.
// The operations, and so the values, are those of the plain per-point loop.
#include "grid.h"

#include <cmath>
#include <limits>

namespace phenomd {
namespace {

// Points per block: the block's libm calls run back to back, with nothing
// between them that waits on their results, and the arithmetic of the block
// follows in loops of its own.
constexpr std::ptrdiff_t kBlock = 32;

// 2 (amp_scale / Mf^(7/6)) A f, in that order of operations.
inline double Strain(double amp_scale, double p7_6, double ratio, double f) {
  return 2.0 * (amp_scale / p7_6) * ratio * f;
}

// Each span below evaluates `count` <= kBlock consecutive points of one
// piece from their Mf and f: first every libm call of the span, then the
// products, sums and divisions of the piece and the strain.

void InspiralSpan(const InspiralAmpTerms& t, double amp_scale,
                  const double* Mf, const double* f, double* hc,
                  std::ptrdiff_t count) {
  double p7_6[kBlock], p2_3[kBlock], p4_3[kBlock], p5_3[kBlock],
      p7_3[kBlock], p8_3[kBlock];
  for (std::ptrdiff_t i = 0; i < count; ++i) {
    p7_6[i] = std::pow(Mf[i], 1.1666666666666667);
    p2_3[i] = std::pow(Mf[i], 0.6666666666666666);
    p4_3[i] = std::pow(Mf[i], 1.3333333333333333);
    p5_3[i] = std::pow(Mf[i], 1.6666666666666667);
    p7_3[i] = std::pow(Mf[i], 2.3333333333333335);
    p8_3[i] = std::pow(Mf[i], 2.6666666666666665);
  }
  for (std::ptrdiff_t i = 0; i < count; ++i) {
    const double ratio =
        InspiralSumAt(t, Mf[i], p2_3[i], p4_3[i], p5_3[i], p7_3[i], p8_3[i]);
    hc[i] = Strain(amp_scale, p7_6[i], ratio, f[i]);
  }
}

void MergerSpan(const MergerShape& s, double amp_scale, const double* Mf,
                const double* f, double* hc, std::ptrdiff_t count) {
  double x[kBlock], e[kBlock], p7_6[kBlock];
  for (std::ptrdiff_t i = 0; i < count; ++i) x[i] = Mf[i] - s.f_rd;
  for (std::ptrdiff_t i = 0; i < count; ++i) e[i] = MergerExponent(s, x[i]);
  for (std::ptrdiff_t i = 0; i < count; ++i) {
    e[i] = std::exp(e[i]);
    p7_6[i] = std::pow(Mf[i], 1.1666666666666667);
  }
  for (std::ptrdiff_t i = 0; i < count; ++i) {
    hc[i] = Strain(amp_scale, p7_6[i], MergerFromExp(s, x[i], e[i]), f[i]);
  }
}

void IntermediateSpan(const BinaryAmpModel& m, double amp_scale,
                      const double* Mf, const double* f, double* hc,
                      std::ptrdiff_t count) {
  double p7_6[kBlock];
  for (std::ptrdiff_t i = 0; i < count; ++i)
    p7_6[i] = std::pow(Mf[i], 1.1666666666666667);
  for (std::ptrdiff_t i = 0; i < count; ++i) {
    hc[i] = Strain(amp_scale, p7_6[i], IntermediateAnsatz(m, Mf[i]), f[i]);
  }
}

}  // namespace

void ExactRow(const AmpModel& a, const RowGrid& g, double* freqs, double* hc) {
  const std::ptrdiff_t n = g.length;
  const double L0 = g.L0;
  const double step = g.step;
  const double Msec = g.Msec;
  const double amp_scale = g.amp_scale;
  const InspiralAmpTerms t = a.t;
  const MergerShape s = a.shape;
  const BinaryAmpModel& m = a.m;
  const double f_mr_start = m.f_mr_start;

  double Mf[kBlock];
  for (std::ptrdiff_t j = 0; j < n; j += kBlock) {
    const std::ptrdiff_t count = n - j < kBlock ? n - j : kBlock;
    for (std::ptrdiff_t k = 0; k < count; ++k)
      Mf[k] = std::pow(10.0, static_cast<double>(j + k) * step + L0);
    double* f = freqs + j;
    double* h = hc + j;
    for (std::ptrdiff_t k = 0; k < count; ++k) f[k] = Mf[k] / Msec;
    if (!a.remnant_ok) {
      for (std::ptrdiff_t k = 0; k < count; ++k)
        h[k] = std::numeric_limits<double>::quiet_NaN();
      continue;
    }
    // Runs of one piece, ended by the tests AmplitudeRatio makes (Mf <=
    // 0.014 first, then Mf >= f_mr_start; NaN fails both: intermediate).
    std::ptrdiff_t k = 0;
    while (k < count) {
      std::ptrdiff_t e = k + 1;
      if (Mf[k] <= kInspiralJoin) {
        while (e < count && Mf[e] <= kInspiralJoin) ++e;
        InspiralSpan(t, amp_scale, Mf + k, f + k, h + k, e - k);
      } else if (Mf[k] >= f_mr_start) {
        while (e < count && !(Mf[e] <= kInspiralJoin) && Mf[e] >= f_mr_start)
          ++e;
        MergerSpan(s, amp_scale, Mf + k, f + k, h + k, e - k);
      } else {
        while (e < count && !(Mf[e] <= kInspiralJoin) &&
               !(Mf[e] >= f_mr_start))
          ++e;
        IntermediateSpan(m, amp_scale, Mf + k, f + k, h + k, e - k);
      }
      k = e;
    }
  }
}

}  // namespace phenomd

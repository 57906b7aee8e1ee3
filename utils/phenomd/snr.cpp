#include "snr.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace phenomd {

namespace {

// (hc/hn)^2 / f: the integrand over f of the squared ratio.
inline double Integrand(double f, double hc, double hn) {
  const double r = hc / hn;
  return (1.0 / f) * r * r;
}

enum class Phase { kInspiral, kMerger, kRingdown };

// The phase of an interval by its midpoint: <= f_merger_start is inspiral,
// otherwise >= f_ringdown_start is ringdown, the rest (NaN included) merger.
inline Phase PhaseOf(double f_mid, double f_merger_start,
                     double f_ringdown_start) {
  if (f_mid <= f_merger_start) return Phase::kInspiral;
  if (f_mid >= f_ringdown_start) return Phase::kRingdown;
  return Phase::kMerger;
}

// Position in a row: the next point k and the previous point's f and
// integrand, so that each point's integrand is computed once.
struct Cursor {
  std::ptrdiff_t k;
  double f_lo, g_lo;
};

// Adds the interval ending at point c.k to its phase and the total.
inline void AddOneInterval(const double* freqs, const double* hc,
                           const double* hn, double f_merger_start,
                           double f_ringdown_start, Cursor& c, SnrSplit& s) {
  const double f_hi = freqs[c.k];
  const double g_hi = Integrand(f_hi, hc[c.k], hn[c.k]);
  const double area = (c.g_lo + g_hi) * (f_hi - c.f_lo) * 0.5;
  const double f_mid = (f_hi + c.f_lo) * 0.5;
  switch (PhaseOf(f_mid, f_merger_start, f_ringdown_start)) {
    case Phase::kInspiral: s.ins += area; break;
    case Phase::kRingdown: s.rd += area; break;
    case Phase::kMerger: s.mrg += area; break;
  }
  s.all += area;
  c.f_lo = f_hi;
  c.g_lo = g_hi;
  ++c.k;
}

#if defined(__SSE2__)

// Mask of the two midpoints that lie in phase P (the same comparisons as
// PhaseOf; the negated ones are true for NaN, as PhaseOf's fall-through is).
template <Phase P>
inline int InPhaseMask(__m128d mid, __m128d f_mrg, __m128d f_rd) {
  if (P == Phase::kInspiral) return _mm_movemask_pd(_mm_cmple_pd(mid, f_mrg));
  if (P == Phase::kRingdown)
    return _mm_movemask_pd(
        _mm_and_pd(_mm_cmpnle_pd(mid, f_mrg), _mm_cmpge_pd(mid, f_rd)));
  return _mm_movemask_pd(
      _mm_and_pd(_mm_cmpnle_pd(mid, f_mrg), _mm_cmpnge_pd(mid, f_rd)));
}

// Adds intervals two at a time while both lie in phase P, and stops before
// the first pair that does not.  The integrands of a pair are formed with
// packed divisions (two lanes, the same IEEE operations as one at a time);
// the areas are added one after the other in row order, so each running sum
// is the one the point-by-point loop forms.  Within a run every interval
// needs one comparison per pair and no branch on its phase.
template <Phase P>
inline void AddRun(const double* freqs, const double* hc, const double* hn,
                   std::ptrdiff_t n, double f_merger_start,
                   double f_ringdown_start, Cursor& c, double& all,
                   double& phase) {
  const __m128d one = _mm_set1_pd(1.0);
  const __m128d half = _mm_set1_pd(0.5);
  const __m128d f_mrg = _mm_set1_pd(f_merger_start);
  const __m128d f_rd = _mm_set1_pd(f_ringdown_start);
  __m128d sum_all = _mm_set_sd(all);
  __m128d sum_phase = _mm_set_sd(phase);
  __m128d prev_f = _mm_set1_pd(c.f_lo);
  __m128d prev_g = _mm_set1_pd(c.g_lo);
  std::ptrdiff_t k = c.k;
  for (; k + 1 < n; k += 2) {
    const __m128d f_hi = _mm_loadu_pd(freqs + k);
    const __m128d r = _mm_div_pd(_mm_loadu_pd(hc + k), _mm_loadu_pd(hn + k));
    const __m128d g_hi = _mm_mul_pd(_mm_mul_pd(_mm_div_pd(one, f_hi), r), r);
    const __m128d f_lo = _mm_shuffle_pd(prev_f, f_hi, 0);
    const __m128d g_lo = _mm_shuffle_pd(prev_g, g_hi, 0);
    const __m128d f_mid = _mm_mul_pd(_mm_add_pd(f_hi, f_lo), half);
    if (InPhaseMask<P>(f_mid, f_mrg, f_rd) != 3) break;
    const __m128d area = _mm_mul_pd(
        _mm_mul_pd(_mm_add_pd(g_lo, g_hi), _mm_sub_pd(f_hi, f_lo)), half);
    const __m128d area_hi = _mm_unpackhi_pd(area, area);
    sum_all = _mm_add_sd(sum_all, area);
    sum_phase = _mm_add_sd(sum_phase, area);
    sum_all = _mm_add_sd(sum_all, area_hi);
    sum_phase = _mm_add_sd(sum_phase, area_hi);
    prev_f = _mm_unpackhi_pd(f_hi, f_hi);
    prev_g = _mm_unpackhi_pd(g_hi, g_hi);
  }
  all = _mm_cvtsd_f64(sum_all);
  phase = _mm_cvtsd_f64(sum_phase);
  c.k = k;
  c.f_lo = _mm_cvtsd_f64(prev_f);
  c.g_lo = _mm_cvtsd_f64(prev_g);
}

#endif  // __SSE2__

}  // namespace

SnrSplit SnrSquaredOfRow(const double* freqs, const double* hc,
                         const double* hn, std::ptrdiff_t n,
                         double f_merger_start, double f_ringdown_start) {
  SnrSplit s{0.0, 0.0, 0.0, 0.0};
  Cursor c{1, freqs[0], Integrand(freqs[0], hc[0], hn[0])};
#if defined(__SSE2__)
  // A row is a few runs of one phase each (three for an increasing grid).
  // Each run goes pairwise; a pair that leaves the phase, and a last odd
  // interval, are added singly and the next run starts after them.
  while (c.k < n) {
    if (c.k + 1 < n) {
      const double f_mid = (freqs[c.k] + c.f_lo) * 0.5;
      switch (PhaseOf(f_mid, f_merger_start, f_ringdown_start)) {
        case Phase::kInspiral:
          AddRun<Phase::kInspiral>(freqs, hc, hn, n, f_merger_start,
                                   f_ringdown_start, c, s.all, s.ins);
          break;
        case Phase::kMerger:
          AddRun<Phase::kMerger>(freqs, hc, hn, n, f_merger_start,
                                 f_ringdown_start, c, s.all, s.mrg);
          break;
        case Phase::kRingdown:
          AddRun<Phase::kRingdown>(freqs, hc, hn, n, f_merger_start,
                                   f_ringdown_start, c, s.all, s.rd);
          break;
      }
    }
    if (c.k < n)
      AddOneInterval(freqs, hc, hn, f_merger_start, f_ringdown_start, c, s);
  }
#else
  while (c.k < n)
    AddOneInterval(freqs, hc, hn, f_merger_start, f_ringdown_start, c, s);
#endif
  return s;
}

}  // namespace phenomd

// The row-sum kernel with SSE2 (2 lanes; the table is read by scalar loads)
// and SLEEF's SSE2 exp.  Runs on any x86-64.
#include <emmintrin.h>
#include <sleef.h>

#include "row_sums_impl.h"

namespace phenomd {
namespace population {
namespace {

struct Sse2 {
  using R = __m128d;
  using M = __m128d;
  struct I {
    int lo, hi;
  };
  static constexpr int kLanes = 2;
  static R Set1(double v) { return _mm_set1_pd(v); }
  static R Iota() { return _mm_set_pd(1.0, 0.0); }
  static R Load(const double* p) { return _mm_loadu_pd(p); }
  static void Store(double* p, R v) { _mm_storeu_pd(p, v); }
  static R Add(R a, R b) { return _mm_add_pd(a, b); }
  static R Sub(R a, R b) { return _mm_sub_pd(a, b); }
  static R Mul(R a, R b) { return _mm_mul_pd(a, b); }
  static R Div(R a, R b) { return _mm_div_pd(a, b); }
  static R Exp(R a) { return Sleef_expd2_u10sse2(a); }
  static M Le(R a, R b) { return _mm_cmple_pd(a, b); }
  static M Ge(R a, R b) { return _mm_cmpge_pd(a, b); }
  static M And(M a, M b) { return _mm_and_pd(a, b); }
  static M Or(M a, M b) { return _mm_or_pd(a, b); }
  static M AndNot(M a, M b) { return _mm_andnot_pd(a, b); }  // ~a & b
  static M AllTrue() { return _mm_castsi128_pd(_mm_set1_epi32(-1)); }
  static int Bits(M m) { return _mm_movemask_pd(m); }
  static R Select(M m, R a, R b) {
    return _mm_or_pd(_mm_and_pd(m, a), _mm_andnot_pd(m, b));
  }
  static double Sum(R v) {
    return _mm_cvtsd_f64(_mm_add_sd(v, _mm_unpackhi_pd(v, v)));
  }
  static int Clamp(int i, int lo, int hi) {
    return i < lo ? lo : (i > hi ? hi : i);
  }
  static I TruncClamp(R x, int lo, int hi) {
    const __m128i i = _mm_cvttpd_epi32(x);  // NaN, overflow: INT_MIN
    return I{Clamp(_mm_cvtsi128_si32(i), lo, hi),
             Clamp(_mm_cvtsi128_si32(_mm_srli_si128(i, 4)), lo, hi)};
  }
  static R ToDouble(I i) {
    return _mm_set_pd(static_cast<double>(i.hi), static_cast<double>(i.lo));
  }
  // y0..y3 = base[i + 0..3] of each lane.
  static void Load4(const double* base, I i, R& y0, R& y1, R& y2, R& y3) {
    const double* a = base + i.lo;
    const double* b = base + i.hi;
    y0 = _mm_set_pd(b[0], a[0]);
    y1 = _mm_set_pd(b[1], a[1]);
    y2 = _mm_set_pd(b[2], a[2]);
    y3 = _mm_set_pd(b[3], a[3]);
  }
};

}  // namespace

RowSums SumRowSse2(const RowSumsInputs& in, const double* freqs,
                   const double* hc, double* g) {
  return RowSumsKernel<Sse2>(in, freqs, hc, g);
}

}  // namespace population
}  // namespace phenomd

// The fast row with SSE2 (2 lanes) and SLEEF's SSE2 functions: runs on any
// x86-64.
#include <emmintrin.h>
#include <sleef.h>

#include "grid_fast_impl.h"

namespace phenomd {
namespace fast {
namespace {

struct Sse2 {
  using R = __m128d;
  using M = __m128d;
  static constexpr int kLanes = 2;
  static constexpr int kAll = 0x3;
  static R Set1(double v) { return _mm_set1_pd(v); }
  static R Iota() { return _mm_set_pd(1.0, 0.0); }
  static void Store(double* p, R v) { _mm_storeu_pd(p, v); }
  static R Add(R a, R b) { return _mm_add_pd(a, b); }
  static R Sub(R a, R b) { return _mm_sub_pd(a, b); }
  static R Mul(R a, R b) { return _mm_mul_pd(a, b); }
  static R Div(R a, R b) { return _mm_div_pd(a, b); }
  static R Sqrt(R a) { return _mm_sqrt_pd(a); }
  static R Neg(R a) { return _mm_xor_pd(a, _mm_set1_pd(-0.0)); }
  static R Exp10(R a) { return Sleef_exp10d2_u10sse2(a); }
  static R Exp(R a) { return Sleef_expd2_u10sse2(a); }
  // Ordered comparisons: false when either side is NaN.
  static M Le(R a, R b) { return _mm_cmple_pd(a, b); }
  static M Ge(R a, R b) { return _mm_cmpge_pd(a, b); }
  static M AndNot(M a, M b) { return _mm_andnot_pd(a, b); }  // ~a & b
  static int Bits(M m) { return _mm_movemask_pd(m); }
  static R Select(M m, R a, R b) {
    return _mm_or_pd(_mm_and_pd(m, a), _mm_andnot_pd(m, b));
  }
  // max/min return b when either operand is NaN.
  static R Max(R a, R b) { return _mm_max_pd(a, b); }
  static R Min(R a, R b) { return _mm_min_pd(a, b); }
  // Lane k gets the maximum (minimum) of lanes 0..k: lane 1 against lane 0.
  static R PrefixMax(R v) { return _mm_max_pd(_mm_unpacklo_pd(v, v), v); }
  static R PrefixMin(R v) { return _mm_min_pd(_mm_unpacklo_pd(v, v), v); }
  static R BroadcastLast(R v) { return _mm_unpackhi_pd(v, v); }
};

}  // namespace

void RowSse2(const RowInputs& in, double* freqs, double* hc) {
  RowKernel<Sse2>(in, freqs, hc);
}

}  // namespace fast
}  // namespace phenomd

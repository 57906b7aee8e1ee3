// The fast row with AVX2 (4 lanes) and SLEEF's AVX2 functions.  Built with
// -mavx2 only; run only where the CPU has AVX2 and FMA (SLEEF's AVX2 code
// uses FMA inside its functions).
#include <immintrin.h>
#include <sleef.h>

#include "grid_fast_impl.h"

namespace phenomd {
namespace fast {
namespace {

struct Avx2 {
  using R = __m256d;
  using M = __m256d;
  static constexpr int kLanes = 4;
  static constexpr int kAll = 0xf;
  static R Set1(double v) { return _mm256_set1_pd(v); }
  static R Iota() { return _mm256_set_pd(3.0, 2.0, 1.0, 0.0); }
  static void Store(double* p, R v) { _mm256_storeu_pd(p, v); }
  static R Add(R a, R b) { return _mm256_add_pd(a, b); }
  static R Sub(R a, R b) { return _mm256_sub_pd(a, b); }
  static R Mul(R a, R b) { return _mm256_mul_pd(a, b); }
  static R Div(R a, R b) { return _mm256_div_pd(a, b); }
  static R Sqrt(R a) { return _mm256_sqrt_pd(a); }
  static R Neg(R a) { return _mm256_xor_pd(a, _mm256_set1_pd(-0.0)); }
  static R Exp10(R a) { return Sleef_exp10d4_u10avx2(a); }
  static R Exp(R a) { return Sleef_expd4_u10avx2(a); }
  static M Le(R a, R b) { return _mm256_cmp_pd(a, b, _CMP_LE_OQ); }
  static M Ge(R a, R b) { return _mm256_cmp_pd(a, b, _CMP_GE_OQ); }
  static M AndNot(M a, M b) { return _mm256_andnot_pd(a, b); }  // ~a & b
  static int Bits(M m) { return _mm256_movemask_pd(m); }
  static R Select(M m, R a, R b) { return _mm256_blendv_pd(b, a, m); }
  // max/min return b when either operand is NaN.
  static R Max(R a, R b) { return _mm256_max_pd(a, b); }
  static R Min(R a, R b) { return _mm256_min_pd(a, b); }
  // Lane k gets the maximum (minimum) of lanes 0..k: against the lane one
  // below, then two below (a lane shifted in below lane 0 is the lane
  // itself, which changes nothing).
  template <class Op>
  static R Prefix(R v, Op op) {
    v = op(_mm256_permute4x64_pd(v, _MM_SHUFFLE(2, 1, 0, 0)), v);
    return op(_mm256_permute4x64_pd(v, _MM_SHUFFLE(1, 0, 1, 0)), v);
  }
  static R PrefixMax(R v) { return Prefix(v, Max); }
  static R PrefixMin(R v) { return Prefix(v, Min); }
  static R BroadcastLast(R v) {
    return _mm256_permute4x64_pd(v, _MM_SHUFFLE(3, 3, 3, 3));
  }
};

}  // namespace

void RowAvx2(const RowInputs& in, double* freqs, double* hc) {
  RowKernel<Avx2>(in, freqs, hc);
}

}  // namespace fast
}  // namespace phenomd

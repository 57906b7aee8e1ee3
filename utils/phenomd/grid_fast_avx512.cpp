// The fast row with AVX-512F (8 lanes) and SLEEF's AVX-512F functions.  Built
// with -mavx512f; run only where the CPU has AVX-512F.
#include <immintrin.h>
#include <sleef.h>

#include "grid_fast_impl.h"

namespace phenomd {
namespace fast {
namespace {

struct Avx512 {
  using R = __m512d;
  using M = __mmask8;
  static constexpr int kLanes = 8;
  static constexpr int kAll = 0xff;
  static R Set1(double v) { return _mm512_set1_pd(v); }
  static R Iota() {
    return _mm512_set_pd(7.0, 6.0, 5.0, 4.0, 3.0, 2.0, 1.0, 0.0);
  }
  static void Store(double* p, R v) { _mm512_storeu_pd(p, v); }
  static R Add(R a, R b) { return _mm512_add_pd(a, b); }
  static R Sub(R a, R b) { return _mm512_sub_pd(a, b); }
  static R Mul(R a, R b) { return _mm512_mul_pd(a, b); }
  static R Div(R a, R b) { return _mm512_div_pd(a, b); }
  // The zero-masked form with every lane selected: GCC 12's plain
  // _mm512_sqrt_pd trips a false -Wmaybe-uninitialized.
  static R Sqrt(R a) { return _mm512_maskz_sqrt_pd(0xff, a); }
  static R Neg(R a) {
    // Sign flip by integer xor (the double xor needs AVX-512DQ).
    return _mm512_castsi512_pd(_mm512_xor_si512(
        _mm512_castpd_si512(a),
        _mm512_set1_epi64(static_cast<long long>(1ull << 63))));
  }
  static R Exp10(R a) { return Sleef_exp10d8_u10avx512f(a); }
  static R Exp(R a) { return Sleef_expd8_u10avx512f(a); }
  static M Le(R a, R b) { return _mm512_cmp_pd_mask(a, b, _CMP_LE_OQ); }
  static M Ge(R a, R b) { return _mm512_cmp_pd_mask(a, b, _CMP_GE_OQ); }
  static M AndNot(M a, M b) { return static_cast<M>(~a & b); }  // ~a & b
  static int Bits(M m) { return m; }
  static R Select(M m, R a, R b) { return _mm512_mask_blend_pd(m, b, a); }
  // max/min return b when either operand is NaN.  (Zero-masked forms with
  // every lane selected, as for Sqrt: GCC 12 warns on the plain ones.)
  static R Max(R a, R b) { return _mm512_maskz_max_pd(0xff, a, b); }
  static R Min(R a, R b) { return _mm512_maskz_min_pd(0xff, a, b); }
  static R Permute(__m512i idx, R v) {
    return _mm512_maskz_permutexvar_pd(0xff, idx, v);
  }
  // Lane k gets the maximum (minimum) of lanes 0..k: against the lane one,
  // two and four below (a lane shifted in below lane 0 is one of lanes
  // 0..k already, which changes nothing).
  template <class Op>
  static R Prefix(R v, Op op) {
    v = op(Permute(_mm512_set_epi64(6, 5, 4, 3, 2, 1, 0, 0), v), v);
    v = op(Permute(_mm512_set_epi64(5, 4, 3, 2, 1, 0, 1, 0), v), v);
    return op(Permute(_mm512_set_epi64(3, 2, 1, 0, 3, 2, 1, 0), v), v);
  }
  static R PrefixMax(R v) { return Prefix(v, Max); }
  static R PrefixMin(R v) { return Prefix(v, Min); }
  static R BroadcastLast(R v) { return Permute(_mm512_set1_epi64(7), v); }
};

}  // namespace

void RowAvx512(const RowInputs& in, double* freqs, double* hc) {
  RowKernel<Avx512>(in, freqs, hc);
}

}  // namespace fast
}  // namespace phenomd

// The row-sum kernel with AVX2 (4 lanes) and SLEEF's AVX2
// exp.  Built with -mavx2 only; run only where the CPU has AVX2 and FMA
// (SLEEF's AVX2 functions use FMA inside).
#include <immintrin.h>
#include <sleef.h>

#include "row_sums_impl.h"

namespace phenomd {
namespace population {
namespace {

struct Avx2 {
  using R = __m256d;
  using M = __m256d;
  using I = __m128i;
  static constexpr int kLanes = 4;
  static R Set1(double v) { return _mm256_set1_pd(v); }
  static R Iota() { return _mm256_set_pd(3.0, 2.0, 1.0, 0.0); }
  static R Load(const double* p) { return _mm256_loadu_pd(p); }
  static void Store(double* p, R v) { _mm256_storeu_pd(p, v); }
  static R Add(R a, R b) { return _mm256_add_pd(a, b); }
  static R Sub(R a, R b) { return _mm256_sub_pd(a, b); }
  static R Mul(R a, R b) { return _mm256_mul_pd(a, b); }
  static R Div(R a, R b) { return _mm256_div_pd(a, b); }
  static R Exp(R a) { return Sleef_expd4_u10avx2(a); }
  static M Le(R a, R b) { return _mm256_cmp_pd(a, b, _CMP_LE_OQ); }
  static M Ge(R a, R b) { return _mm256_cmp_pd(a, b, _CMP_GE_OQ); }
  static M And(M a, M b) { return _mm256_and_pd(a, b); }
  static M Or(M a, M b) { return _mm256_or_pd(a, b); }
  static M AndNot(M a, M b) { return _mm256_andnot_pd(a, b); }  // ~a & b
  static M AllTrue() { return _mm256_castsi256_pd(_mm256_set1_epi64x(-1)); }
  static int Bits(M m) { return _mm256_movemask_pd(m); }
  static R Select(M m, R a, R b) { return _mm256_blendv_pd(b, a, m); }
  static double Sum(R v) {
    const __m128d s =
        _mm_add_pd(_mm256_castpd256_pd128(v), _mm256_extractf128_pd(v, 1));
    return _mm_cvtsd_f64(_mm_add_sd(s, _mm_unpackhi_pd(s, s)));
  }
  static I TruncClamp(R x, int lo, int hi) {
    const I i = _mm256_cvttpd_epi32(x);  // NaN, overflow: INT_MIN
    return _mm_min_epi32(_mm_max_epi32(i, _mm_set1_epi32(lo)),
                         _mm_set1_epi32(hi));
  }
  static R ToDouble(I i) { return _mm256_cvtepi32_pd(i); }
  // y0..y3 = base[i + 0..3] of each lane: one 4-double load per lane and
  // a 4 x 4 transpose (cheaper than four gathers).
  static void Load4(const double* base, I i, R& y0, R& y1, R& y2, R& y3) {
    alignas(16) int k[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(k), i);
    const R q0 = _mm256_loadu_pd(base + k[0]),
            q1 = _mm256_loadu_pd(base + k[1]),
            q2 = _mm256_loadu_pd(base + k[2]),
            q3 = _mm256_loadu_pd(base + k[3]);
    const R t0 = _mm256_unpacklo_pd(q0, q1), t1 = _mm256_unpackhi_pd(q0, q1);
    const R t2 = _mm256_unpacklo_pd(q2, q3), t3 = _mm256_unpackhi_pd(q2, q3);
    y0 = _mm256_permute2f128_pd(t0, t2, 0x20);
    y2 = _mm256_permute2f128_pd(t0, t2, 0x31);
    y1 = _mm256_permute2f128_pd(t1, t3, 0x20);
    y3 = _mm256_permute2f128_pd(t1, t3, 0x31);
  }
};

}  // namespace

RowSums SumRowAvx2(const RowSumsInputs& in, const double* freqs,
                   const double* hc, double* g) {
  return RowSumsKernel<Avx2>(in, freqs, hc, g);
}

}  // namespace population
}  // namespace phenomd

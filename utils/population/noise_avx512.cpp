// -ln h_n at many ln f from the table with AVX-512F gathers (built with
// -mavx512f; run only where the CPU has it).  Plain arguments only: no
// inline code of the model's headers is compiled with the wider set.  The
// same operations as MinusLnNoise's portable loop, lane by lane.
#include <immintrin.h>

#include <cstddef>

namespace phenomd {
namespace population {

void MinusLnNoiseAvx512(const double* y, int hi, double x_per_ln_f,
                        double x_offset, const double* ln_f, std::ptrdiff_t n,
                        double* out) {
  const __m512d a = _mm512_set1_pd(x_per_ln_f), b = _mm512_set1_pd(x_offset);
  const __m512d one = _mm512_set1_pd(1.0), two = _mm512_set1_pd(2.0);
  const __m512d half = _mm512_set1_pd(0.5), sixth = _mm512_set1_pd(1.0 / 6.0);
  const __m256i lo_i = _mm256_set1_epi32(1), hi_i = _mm256_set1_epi32(hi);
  const __m256i one_i = _mm256_set1_epi32(1);
  std::ptrdiff_t j = 0;
  for (; j < n; j += 8) {
    const __mmask8 m =
        n - j >= 8 ? __mmask8(0xff) : __mmask8((1u << (n - j)) - 1u);
    const __m512d lf = _mm512_maskz_loadu_pd(m, ln_f + j);
    const __m512d x = _mm512_sub_pd(_mm512_mul_pd(lf, a), b);
    __m256i i = _mm512_cvttpd_epi32(x);
    i = _mm256_min_epi32(_mm256_max_epi32(i, lo_i), hi_i);
    const __m512d t = _mm512_sub_pd(x, _mm512_cvtepi32_pd(i));
    const __m512d tp1 = _mm512_add_pd(t, one), tm1 = _mm512_sub_pd(t, one),
                  tm2 = _mm512_sub_pd(t, two);
    const __m512d w0 = _mm512_mul_pd(_mm512_mul_pd(_mm512_mul_pd(t, tm1), tm2), sixth);
    const __m512d w1 = _mm512_mul_pd(_mm512_mul_pd(_mm512_mul_pd(tp1, tm1), tm2), half);
    const __m512d w2 = _mm512_mul_pd(_mm512_mul_pd(_mm512_mul_pd(tp1, t), tm2), half);
    const __m512d w3 = _mm512_mul_pd(_mm512_mul_pd(_mm512_mul_pd(tp1, t), tm1), sixth);
    const __m256i im1 = _mm256_sub_epi32(i, one_i);
    const __m512d y0 = _mm512_mask_i32gather_pd(_mm512_setzero_pd(), m, im1, y, 8);
    const __m512d y1 = _mm512_mask_i32gather_pd(_mm512_setzero_pd(), m, i, y, 8);
    const __m512d y2 = _mm512_mask_i32gather_pd(
        _mm512_setzero_pd(), m, _mm256_add_epi32(i, one_i), y, 8);
    const __m512d y3 = _mm512_mask_i32gather_pd(
        _mm512_setzero_pd(), m, _mm256_add_epi32(i, _mm256_set1_epi32(2)), y, 8);
    __m512d r = _mm512_sub_pd(_mm512_mul_pd(w0, y0), _mm512_mul_pd(w1, y1));
    r = _mm512_add_pd(r, _mm512_mul_pd(w2, y2));
    r = _mm512_sub_pd(r, _mm512_mul_pd(w3, y3));
    _mm512_mask_storeu_pd(out + j, m, r);
  }
}

}  // namespace population
}  // namespace phenomd

// ExpArray with AVX-512F and SLEEF's AVX-512F exp (built with -mavx512f;
// run only where the CPU has AVX-512F).  The tail by a masked load/store.
#include <immintrin.h>
#include <sleef.h>

#include <cstddef>

namespace phenomd {

void ExpArrayAvx512(const double* x, double* y, std::ptrdiff_t n) {
  std::ptrdiff_t j = 0;
  for (; j + 8 <= n; j += 8)
    _mm512_storeu_pd(y + j, Sleef_expd8_u10avx512f(_mm512_loadu_pd(x + j)));
  if (j < n) {
    const __mmask8 m = static_cast<__mmask8>((1u << (n - j)) - 1u);
    const __m512d v = _mm512_maskz_loadu_pd(m, x + j);
    _mm512_mask_storeu_pd(y + j, m, Sleef_expd8_u10avx512f(v));
  }
}

}  // namespace phenomd

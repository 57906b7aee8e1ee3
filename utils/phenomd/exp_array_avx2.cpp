// ExpArray with AVX2 and SLEEF's AVX2 exp (built with -mavx2; run only
// where the CPU has AVX2 and FMA).  Plain arguments only: no inline code of
// the model's headers is compiled with the wider instruction set.
#include <immintrin.h>
#include <sleef.h>

#include <cstddef>

namespace phenomd {

void ExpArrayAvx2(const double* x, double* y, std::ptrdiff_t n) {
  std::ptrdiff_t j = 0;
  for (; j + 4 <= n; j += 4)
    _mm256_storeu_pd(y + j, Sleef_expd4_u10avx2(_mm256_loadu_pd(x + j)));
  if (j < n) {
    double t[4] = {0.0, 0.0, 0.0, 0.0};
    for (std::ptrdiff_t k = 0; j + k < n; ++k) t[k] = x[j + k];
    _mm256_storeu_pd(t, Sleef_expd4_u10avx2(_mm256_loadu_pd(t)));
    for (std::ptrdiff_t k = 0; j + k < n; ++k) y[j + k] = t[k];
  }
}

}  // namespace phenomd

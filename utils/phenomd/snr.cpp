#include "snr.h"

namespace phenomd {

namespace {

// (hc/hn)^2 / f: the integrand over f of the squared ratio.
inline double Integrand(double f, double hc, double hn) {
  const double r = hc / hn;
  return (1.0 / f) * r * r;
}

}  // namespace

SnrSplit SnrSquaredOfRow(const double* freqs, const double* hc,
                         const double* hn, std::ptrdiff_t n,
                         double f_merger_start, double f_ringdown_start) {
  SnrSplit s{0.0, 0.0, 0.0, 0.0};
  double f_lo = freqs[0];
  double g_lo = Integrand(f_lo, hc[0], hn[0]);
  for (std::ptrdiff_t k = 1; k < n; ++k) {
    // Each point's integrand is computed once and reused by the next interval.
    const double f_hi = freqs[k];
    const double g_hi = Integrand(f_hi, hc[k], hn[k]);
    const double area = (g_lo + g_hi) * (f_hi - f_lo) * 0.5;
    const double f_mid = (f_hi + f_lo) * 0.5;
    if (f_mid <= f_merger_start) {
      s.ins += area;
    } else if (f_mid >= f_ringdown_start) {
      s.rd += area;
    } else {
      s.mrg += area;
    }
    s.all += area;
    f_lo = f_hi;
    g_lo = g_hi;
  }
  return s;
}

}  // namespace phenomd

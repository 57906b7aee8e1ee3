/* The public header is plain C: this file is compiled as C99 and linked
 * against the shared module, and checks one call of each entry point. */
#include <math.h>
#include <stdio.h>

#include "phenomd.h"

int main(void) {
  double freqs[4], hc[4], fm, fr;
  const double m1 = 1e6, m2 = 1e6, s1 = 0.0, s2 = 0.0, d = 6791.0, z = 1.0;
  const double t0 = 4.0, t1 = 0.0;
  double all, ins, mrg, rd;
  double hn[4];
  int i;
  if (Amplitude(freqs, hc, &fm, &fr, &m1, &m2, &s1, &s2, &d, &z, &t0, &t1, 1,
                4) != 0)
    return 1;
  for (i = 0; i < 4; ++i) {
    if (!(freqs[i] > 0.0 && hc[i] > 0.0 && isfinite(hc[i]))) return 2;
    hn[i] = hc[i];
  }
  if (SNR_function(&all, &ins, &mrg, &rd, freqs, hc, hn, &fm, &fr, 4, 1) != 0)
    return 3;
  /* hc/hn = 1: SNR^2 is the trapezoid of 1/f over f, near ln(f_hi/f_lo). */
  if (!(all > 0.0 && fabs(all * all - (ins * ins + mrg * mrg + rd * rd)) <
                         1e-12 * all * all))
    return 4;
  if (Pi != 3.1415926536) return 5;
  printf("ok %g %g\n", freqs[0], hc[0]);
  return 0;
}

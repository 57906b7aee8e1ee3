/* Links against the installed module through its CMake package. */
#include <phenomd.h>
#include <stdio.h>

int main(void) {
  const double m = 1e6, s = 0.0, d = 1e3, z = 0.0, t0 = 1.0, t1 = 0.0;
  double f[8], h[8], fm, fr;
  Amplitude(f, h, &fm, &fr, &m, &m, &s, &s, &d, &z, &t0, &t1, 1, 8);
  if (!(h[0] > 0.0 && f[7] > f[0])) return 1;
  printf("consumer ok: f_merger_start = %g Hz\n", fm);
  return 0;
}

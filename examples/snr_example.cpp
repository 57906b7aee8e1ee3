// End-to-end use of the module by a host program: load it at run time,
// compute the strain of a few binaries over the last four years before
// merger, put a noise curve on each binary's grid, and print the
// signal-to-noise ratio in total and by phase (edge-on, as the module's h_c
// is; the first line of the output says so).
//
//   snr_example path/to/libphenomd.so
#include <dlfcn.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "phenomd.h"

namespace {

// The entry points' types from the header; their addresses come from dlsym.
using AmplitudeFn = decltype(&Amplitude);
using SnrFn = decltype(&SNR_function);

// Sky-averaged LISA instrument noise as a characteristic strain,
// h_n = sqrt(f S_n(f)), with S_n of Robson, Cornish & Liu (2019), eq. 1,
// with the approximate transfer function and without the galactic
// confusion noise.
double LisaNoiseStrain(double f) {
  const double L = 2.5e9, f_star = 19.09e-3;
  const double p_oms = 1.5e-11 * 1.5e-11 * (1.0 + std::pow(2e-3 / f, 4));
  const double p_acc = 3e-15 * 3e-15 * (1.0 + std::pow(0.4e-3 / f, 2)) *
                       (1.0 + std::pow(f / 8e-3, 4));
  const double two_pi_f = 2.0 * M_PI * f;
  const double c = std::cos(f / f_star);
  const double s_n =
      10.0 / (3.0 * L * L) *
      (p_oms + 2.0 * (1.0 + c * c) * p_acc / std::pow(two_pi_f, 4)) *
      (1.0 + 0.6 * (f / f_star) * (f / f_star));
  return std::sqrt(f * s_n);
}

struct Binary {
  const char* name;
  double m1, m2, spin1, spin2, dist_mpc, z;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s path/to/libphenomd.so\n", argv[0]);
    return 2;
  }
  void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    std::fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
    return 1;
  }
  auto amplitude = reinterpret_cast<AmplitudeFn>(dlsym(module, "Amplitude"));
  auto snr = reinterpret_cast<SnrFn>(dlsym(module, "SNR_function"));
  if (amplitude == nullptr || snr == nullptr) {
    std::fprintf(stderr, "%s lacks Amplitude or SNR_function\n", argv[1]);
    return 1;
  }

  // Luminosity distances for Planck 2018 cosmology.
  const Binary binaries[] = {
      {"1e6 Msun, q=1, chi=0/0, z=1", 5e5, 5e5, 0.0, 0.0, 6791.27, 1.0},
      {"1e4 Msun, q=10, chi=0.9/-0.5, z=3", 1e4 * 10.0 / 11.0, 1e4 / 11.0, 0.9,
       -0.5, 26016.0, 3.0},
      {"1e8 Msun, q=1, chi=0.95/0.95, z=0.5", 5e7, 5e7, 0.95, 0.95, 2919.62,
       0.5},
  };
  const int n = sizeof binaries / sizeof binaries[0];
  const int length = 4096;
  std::vector<double> m1(n), m2(n), s1(n), s2(n), d(n), z(n), t0(n, 4.0),
      t1(n, 0.0);
  for (int i = 0; i < n; ++i) {
    m1[i] = binaries[i].m1;
    m2[i] = binaries[i].m2;
    s1[i] = binaries[i].spin1;
    s2[i] = binaries[i].spin2;
    d[i] = binaries[i].dist_mpc;
    z[i] = binaries[i].z;
  }
  std::vector<double> freqs(n * length), hc(n * length), hn(n * length);
  std::vector<double> f_merger(n), f_ringdown(n);
  amplitude(freqs.data(), hc.data(), f_merger.data(), f_ringdown.data(),
            m1.data(), m2.data(), s1.data(), s2.data(), d.data(), z.data(),
            t0.data(), t1.data(), n, length);
  for (int k = 0; k < n * length; ++k) hn[k] = LisaNoiseStrain(freqs[k]);

  std::vector<double> all(n), ins(n), mrg(n), rd(n);
  snr(all.data(), ins.data(), mrg.data(), rd.data(), freqs.data(), hc.data(),
      hn.data(), f_merger.data(), f_ringdown.data(), length, n);

  // The module's h_c is f |h~| of one polarisation of an edge-on source
  // (k = 1): these SNRs are edge-on, against a sky- and
  // polarisation-averaged S_n.  The inclination-averaged SNR is sqrt(16/5)
  // = 1.789 times larger (face-on: sqrt(8)).  Names give q = m1/m2 >= 1.
  std::printf(
      "# edge-on SNR (the module's h_c = f|h~|, x sqrt(16/5) = 1.789 for the "
      "inclination average) against sky- and polarisation-averaged LISA "
      "noise without foreground, q = m1/m2\n");
  std::printf("%-38s %12s %12s %12s %12s\n", "binary (t = 4 yr to merger)",
              "SNR", "inspiral", "merger", "ringdown");
  for (int i = 0; i < n; ++i) {
    std::printf("%-38s %12.3f %12.3f %12.3f %12.3f\n", binaries[i].name, all[i],
                ins[i], mrg[i], rd[i]);
  }
  dlclose(module);
  return 0;
}

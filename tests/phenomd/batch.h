// A batch of binaries with its output arrays, run through the C entry point.
#pragma once

#include <cstddef>
#include <vector>

#include "phenomd.h"

namespace phenomd_test {

struct Binary {
  double m1, m2, spin1, spin2, dist, z, t_start, t_end;
};

// The eight input arrays of the C interface, one element per binary.
struct InputColumns {
  std::vector<double> m1, m2, s1, s2, d, z, t0, t1;

  explicit InputColumns(const std::vector<Binary>& bs) {
    for (const Binary& b : bs) {
      m1.push_back(b.m1);
      m2.push_back(b.m2);
      s1.push_back(b.spin1);
      s2.push_back(b.spin2);
      d.push_back(b.dist);
      z.push_back(b.z);
      t0.push_back(b.t_start);
      t1.push_back(b.t_end);
    }
  }

  // Amplitude over the first n binaries into the given outputs.
  int Amplitude(double* freqs, double* hc, double* fm, double* fr, int n,
                int length) const {
    return ::Amplitude(freqs, hc, fm, fr, m1.data(), m2.data(), s1.data(),
                       s2.data(), d.data(), z.data(), t0.data(), t1.data(), n,
                       length);
  }
};

struct Batch {
  std::vector<Binary> binaries;
  int length = 0;
  std::vector<double> freqs, hc, f_merger_start, f_ringdown_start;

  Batch(std::vector<Binary> b, int len, double fill = -7.0)
      : binaries(std::move(b)), length(len) {
    const std::size_t n = binaries.size();
    const std::size_t cells = len > 0 ? n * static_cast<std::size_t>(len) : 0;
    freqs.assign(cells, fill);
    hc.assign(cells, fill);
    f_merger_start.assign(n, fill);
    f_ringdown_start.assign(n, fill);
  }

  // Calls Amplitude over the whole batch.
  int Run() { return Run(static_cast<int>(binaries.size())); }

  // Calls Amplitude with num_binaries = n.
  int Run(int n) {
    return InputColumns(binaries).Amplitude(
        freqs.data(), hc.data(), f_merger_start.data(),
        f_ringdown_start.data(), n, length);
  }

  double freq(std::size_t i, std::size_t j) const {
    return freqs[i * static_cast<std::size_t>(length) + j];
  }
  double strain(std::size_t i, std::size_t j) const {
    return hc[i * static_cast<std::size_t>(length) + j];
  }
};

// Observed-frame total mass in seconds.
inline double Msec(const Binary& b) {
  return MTSUN * (1.0 + b.z) * (b.m1 + b.m2);
}

}  // namespace phenomd_test

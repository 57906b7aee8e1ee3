#include "workload.h"

#include <dlfcn.h>

#include <cmath>

namespace bench {
namespace {

// SplitMix64: a deterministic stream, the same on every platform.
class Stream {
 public:
  explicit Stream(std::uint64_t seed) : s_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (s_ += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  double Uniform(double lo, double hi) {
    return lo + (hi - lo) * (static_cast<double>(Next() >> 11) * 0x1p-53);
  }
  double LogUniform(double lo, double hi) {
    return std::pow(10.0, Uniform(std::log10(lo), std::log10(hi)));
  }

 private:
  std::uint64_t s_;
};

struct Drawn {
  double m1, m2, s1, s2, dist, z;
};

Drawn Draw(Stream& r) {
  const double M = r.LogUniform(1e4, 1e7);
  const double q = r.Uniform(1.0, 10.0);
  Drawn d;
  d.m1 = M * q / (1.0 + q);
  d.m2 = M / (1.0 + q);
  if (r.Next() & 1) std::swap(d.m1, d.m2);
  d.s1 = r.Uniform(-0.99, 0.99);
  d.s2 = r.Uniform(-0.99, 0.99);
  d.z = r.Uniform(0.1, 5.0);
  d.dist = r.Uniform(1e3, 5e4);
  return d;
}

double Msec(const Module& m, const Drawn& d) {
  return m.mtsun * ((d.z + 1.0) * (d.m1 + d.m2));
}

// The 1PN frequency Mf reached t years before merger, in the library's order
// of operations.
double MfAtTime(const Module& m, const Drawn& d, double t) {
  const double M = d.m1 + d.m2;
  const double eta = (d.m1 * d.m2) / (M * M);
  const double theta = t * m.seconds_per_year * eta / (Msec(m, d) * 5.0);
  return (1.0 / (std::pow(theta, 0.375) * 8.0 * m.pi)) *
         ((0.34375 * eta + 0.27641369047619047) / std::pow(theta, 0.25) + 1.0);
}

// Years before merger at which Mf is reached (MfAtTime decreases with t).
double TimeAtMf(const Module& m, const Drawn& d, double Mf) {
  double lo = -15.0, hi = 10.0;  // log10 of years
  for (int i = 0; i < 200; ++i) {
    const double mid = 0.5 * (lo + hi);
    if (MfAtTime(m, d, std::pow(10.0, mid)) > Mf) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  return std::pow(10.0, 0.5 * (lo + hi));
}

Drawn RowOf(const Batch& b, int i) {
  return {b.m1[i], b.m2[i], b.s1[i], b.s2[i], b.dist[i], b.z[i]};
}

void Push(Batch* b, const Drawn& d, double t0, double t1) {
  b->m1.push_back(d.m1);
  b->m2.push_back(d.m2);
  b->s1.push_back(d.s1);
  b->s2.push_back(d.s2);
  b->dist.push_back(d.dist);
  b->z.push_back(d.z);
  b->t_start.push_back(t0);
  b->t_end.push_back(t1);
}

void Allocate(Batch* b) {
  b->n = static_cast<int>(b->m1.size());
  b->freqs.assign(b->points(), 0.0);
  b->hc.assign(b->points(), 0.0);
  b->f_merger_start.assign(b->n, 0.0);
  b->f_ringdown_start.assign(b->n, 0.0);
}

}  // namespace

bool Module::Load(const std::string& p, std::string* error) {
  path = p;
  handle = dlopen(p.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    *error = dlerror();
    return false;
  }
  amplitude = reinterpret_cast<AmplitudeFn>(dlsym(handle, "Amplitude"));
  snr = reinterpret_cast<SnrFn>(dlsym(handle, "SNR_function"));
  auto* p_pi = static_cast<double*>(dlsym(handle, "Pi"));
  auto* p_yr = static_cast<double*>(dlsym(handle, "SECONDS_PER_YEAR"));
  auto* p_mt = static_cast<double*>(dlsym(handle, "MTSUN"));
  if (!amplitude || !snr || !p_pi || !p_yr || !p_mt) {
    *error = "missing symbols in " + p;
    return false;
  }
  pi = *p_pi;
  seconds_per_year = *p_yr;
  mtsun = *p_mt;
  return true;
}

int Batch::Run(const Module& m) {
  return m.amplitude(freqs.data(), hc.data(), f_merger_start.data(),
                     f_ringdown_start.data(), m1.data(), m2.data(), s1.data(),
                     s2.data(), dist.data(), z.data(), t_start.data(),
                     t_end.data(), n, length);
}

bool MakeBatch(const Module& reference, Band band, int n, int length,
               std::uint64_t seed, Batch* out, std::string* error) {
  Stream r(seed);
  Batch b;
  b.length = length;
  if (band == Band::kAbovePeak) {
    // Candidates first, their f_peak from the reference module (a run with
    // no grid writes only the boundaries); kept while f_peak < 0.15 so that
    // the band up to 0.2 has room.
    Batch c;
    c.length = 0;
    for (int i = 0; i < 2 * n + 16; ++i) Push(&c, Draw(r), 1.0, 0.0);
    Allocate(&c);
    c.Run(reference);
    for (int i = 0; i < c.n && b.m1.size() < static_cast<std::size_t>(n); ++i) {
      const Drawn d = RowOf(c, i);
      const double Mf_peak = c.f_ringdown_start[i] * Msec(reference, d);
      if (Mf_peak < 0.15)
        Push(&b, d, TimeAtMf(reference, d, 1.02 * Mf_peak), 0.0);
    }
  } else {
    for (int i = 0; i < n; ++i) {
      const Drawn d = Draw(r);
      if (band == Band::kInspiral) {
        const double Mf0 = r.LogUniform(1e-4, 1e-3);
        Push(&b, d, TimeAtMf(reference, d, Mf0), TimeAtMf(reference, d, 0.012));
      } else {
        const double Mf0 = r.LogUniform(1e-4, 3e-3);
        Push(&b, d, TimeAtMf(reference, d, Mf0), 0.0);
      }
    }
  }
  Allocate(&b);
  if (b.n != n) {
    *error = "too few binaries with room above f_peak";
    return false;
  }
  // Check the regime with one run of the reference module.
  b.Run(reference);
  for (int i = 0; i < b.n && length > 0; ++i) {
    const double Ms = Msec(reference, RowOf(b, i));
    const double first = b.freqs[static_cast<std::size_t>(i) * length] * Ms;
    const double last =
        b.freqs[static_cast<std::size_t>(i) * length + length - 1] * Ms;
    const double Mf_peak = b.f_ringdown_start[i] * Ms;
    bool ok = first <= last;
    if (band == Band::kInspiral) ok = ok && last <= 0.0139;
    if (band == Band::kFull) ok = ok && first < 0.0139 && last > 0.199;
    if (band == Band::kAbovePeak) ok = ok && first > Mf_peak;
    if (!ok) {
      *error = "row " + std::to_string(i) + " is outside its band regime";
      return false;
    }
  }
  *out = std::move(b);
  return true;
}

std::vector<FloorRow> FloorRows(const Module& reference, const Batch& b) {
  std::vector<FloorRow> rows;
  for (int i = 0; i < b.n; ++i) {
    const Drawn d = RowOf(b, i);
    const double Ms = Msec(reference, d);
    const double Mf_start = MfAtTime(reference, d, b.t_start[i]);
    const double Mf_end =
        b.t_end[i] > 0.0 ? MfAtTime(reference, d, b.t_end[i]) : 0.2;
    FloorRow row;
    row.length = b.length;
    row.L0 = std::log10(Mf_start);
    row.step =
        b.length > 1 ? (std::log10(Mf_end) - row.L0) / (b.length - 1.0) : 0.0;
    row.k_mr = -40.0;
    const double Mf_peak = b.f_ringdown_start[i] * Ms;
    row.n_ins = 0;
    row.n_mr = b.length;
    for (int j = b.length - 1; j >= 0; --j) {
      const double Mf = std::pow(10.0, j * row.step + row.L0);
      if (Mf <= 0.014 && row.n_ins == 0) row.n_ins = j + 1;
      if (Mf >= Mf_peak && Mf > 0.014) row.n_mr = j;
    }
    rows.push_back(row);
  }
  return rows;
}

}  // namespace bench

// Inputs of the benchmarks: a loaded module, deterministic batches of
// binaries whose bands lie in a chosen regime, and the per-row description
// of the grid that the floors walk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "phenomd.h"

namespace bench {

// The entry points' types from the header; their addresses come from dlsym.
using AmplitudeFn = decltype(&Amplitude);
using SnrFn = decltype(&SNR_function);

// A shared module loaded with dlopen (RTLD_LOCAL, so that two builds with
// the same symbol names coexist) and its entry points and constants.
struct Module {
  std::string path;
  void* handle = nullptr;
  AmplitudeFn amplitude = nullptr;
  SnrFn snr = nullptr;
  double pi = 0, seconds_per_year = 0, mtsun = 0;

  bool Load(const std::string& p, std::string* error);
};

// Where the grid of each row lies.
enum class Band {
  kInspiral,   // whole band at Mf <= 0.014
  kFull,       // from the inspiral through ringdown to Mf = 0.2 (t_end = 0)
  kAbovePeak,  // whole band above f_peak, to Mf = 0.2
};

// A batch in the layout of the C interface, with its output arrays.
struct Batch {
  int n = 0, length = 0;
  std::vector<double> m1, m2, s1, s2, dist, z, t_start, t_end;
  std::vector<double> freqs, hc, f_merger_start, f_ringdown_start;

  std::size_t points() const {
    return static_cast<std::size_t>(n) *
           static_cast<std::size_t>(length > 0 ? length : 0);
  }
  int Run(const Module& m);
};

// n binaries drawn deterministically from `seed` (total masses 1e4-1e7
// M_sun, mass ratios 1-10, spins in [-0.99, 0.99], redshifts 0.1-5), their
// bands placed in `band` by solving the band's start and end times from the
// 1PN frequency-time relation with the module's constants.  The reference
// module supplies f_peak for kAbovePeak.  Returns false (with a message) if
// a run of the reference module shows a row outside the requested regime.
bool MakeBatch(const Module& reference, Band band, int n, int length,
               std::uint64_t seed, Batch* out, std::string* error);

// One row's grid as the floors walk it: Mf_j = 10^(j step + L0), inspiral
// for j < n_ins, merger-ringdown for j >= n_mr, intermediate between; k_mr
// is the (negative) slope of the merger-ringdown exponent.
struct FloorRow {
  double L0, step, k_mr;
  int n_ins, n_mr, length;
};

// The floor rows of a batch, classified with the reference module's
// f_ringdown_start (as f_peak) and the join 0.014.
std::vector<FloorRow> FloorRows(const Module& reference, const Batch& b);

// The floors: only the libm calls that the model prescribes per point,
// summed into the returned sink.
double AmplitudeFloor(const std::vector<FloorRow>& rows);

// The SNR floor: the three arrays streamed once with the same divisions,
// (1/f) (hc/hn)^2 per point, summed per row into the returned sink.
double SnrFloor(const double* freqs, const double* hc, const double* hn, int n,
                int length);

}  // namespace bench

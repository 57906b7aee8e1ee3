// The batch loops behind the C entry points.  Every module built from the
// model (the exact and fast modules, the population module) shares them; a
// module differs only in the row function it passes, which evaluates one
// binary's grid and strain (ExactRow or FastRow, see grid.h).
#pragma once

#include <cstddef>

#include "amp_model.h"
#include "grid.h"
#include "ringdown.h"

namespace phenomd {

// Evaluates one binary's row: freqs and hc of g.length points.
using RowFunction = void (*)(const AmpModel& a, const RowGrid& g, double* freqs,
                             double* hc);

// What one call shares across its binaries: the model's constants as the
// writable globals hold them when the call starts.
struct CallContext {
  CallConstants k;
  double inspiral_boundary;  // 1 / (6^(3/2) Pi), the ISCO frequency as Mf
  double amp_prefactor;      // sqrt(5 / (64 Pi))
  double mrsun, mtsun, mpc;  // MRSUN, MTSUN, metres per megaparsec

  CallContext();
};

// A binary's band as its row was laid out: the grid's exponent L0 + j step
// (log10 of Mf at point j), the observed total mass in seconds (f = Mf /
// Msec), and whether the band was inverted (sentinel row).
struct BinaryBand {
  double L0, step, Msec;
  bool inverted;
};

// Sentinels of a row whose band ends below its start.
constexpr double kSentinelFreq = 1e-30;
constexpr double kSentinelStrain = 1e-60;

// One binary: its band, records, row (`length` points of freqs and hc,
// nothing when length <= 0) and both boundaries, exactly as Amplitude.
BinaryBand AmplitudeOfBinary(RowFunction row, const CallContext& c,
                             const RingdownTables& tables, double m1, double m2,
                             double spin1, double spin2, double dist, double z,
                             double t_start, double t_end,
                             std::ptrdiff_t length, double* freqs, double* hc,
                             double* f_merger_start, double* f_ringdown_start);

// Amplitude over a batch, with the given row function (the arguments and
// layout of the C entry point).
int AmplitudeBatch(RowFunction row, double* freqs, double* hc,
                   double* f_merger_start, double* f_ringdown_start,
                   const double* m1, const double* m2, const double* spin1,
                   const double* spin2, const double* dist, const double* z,
                   const double* t_start, const double* t_end, int num_binaries,
                   int length);

// SNR_function over a batch (the arguments of the C entry point).
int SnrBatch(double* snr_all, double* snr_ins, double* snr_mrg, double* snr_rd,
             const double* freqs, const double* hc, const double* hn,
             const double* f_merger_start, const double* f_ringdown_start,
             int length, int num_binaries);

}  // namespace phenomd

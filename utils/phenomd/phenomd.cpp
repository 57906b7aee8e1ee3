// The batch loops of Amplitude and SNR_function; the modules' entry files
// (entry_exact.cpp, entry_fast.cpp) bind them to the C names with their row.
#include "batch.h"
#include "binary.h"

#include <cmath>
#include <cstddef>
#include <limits>

#include "phenomd.h"
#include "snr.h"

namespace phenomd {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

void FillRow(double* f, double* h, std::ptrdiff_t n, double fv, double hv) {
  for (std::ptrdiff_t j = 0; j < n; ++j) {
    f[j] = fv;
    h[j] = hv;
  }
}

}  // namespace

CallContext::CallContext()
    : k(CallConstants::Make(Pi)),
      inspiral_boundary(1.0 / (Pi * 14.696938456699069)),
      amp_prefactor(std::sqrt(5.0 / (Pi * 64.0))),
      mrsun(MRSUN),
      mtsun(MTSUN),
      mpc(PARSEC_TO_METERS * 1e6) {}

BinaryBand AmplitudeOfBinary(RowFunction row, const CallContext& c,
                             const RingdownTables& tables, double m1,
                             double m2, double spin1, double spin2,
                             double dist, double z, double t_start,
                             double t_end, std::ptrdiff_t length,
                             double* freqs, double* hc,
                             double* f_merger_start,
                             double* f_ringdown_start) {
  BinarySetup b;
  SetUpBinary(c, tables, m1, m2, spin1, spin2, dist, z, t_start, t_end, b);
  const AmpModel& a = b.a;
  const double Msec = b.Msec;
  const double amp_scale = b.amp_scale;
  const double Mf_start = b.Mf_start;
  const double Mf_end = b.Mf_end;

  BinaryBand band{0.0, 0.0, Msec, false};
  if (length >= 1) {
    const double L0 = std::log10(Mf_start);
    const double L1 = std::log10(Mf_end);
    // A single point sits at the band's start (the step would be x/0).
    const double step =
        length == 1 ? 0.0 : (L1 - L0) / static_cast<double>(length - 1);
    const bool inverted = length == 1 ? L1 < L0 : step < 0.0;
    band = BinaryBand{L0, step, Msec, inverted};
    if (inverted) {
      FillRow(freqs, hc, length, kSentinelFreq, kSentinelStrain);
    } else {
      const RowGrid g{L0, step, Msec, amp_scale, length};
      row(a, g, freqs, hc);
    }
  }
  *f_merger_start = c.inspiral_boundary / Msec;
  *f_ringdown_start = a.m.f_peak / Msec;
  return band;
}

int AmplitudeBatch(RowFunction row, double* freqs, double* hc,
                   double* f_merger_start, double* f_ringdown_start,
                   const double* m1, const double* m2, const double* spin1,
                   const double* spin2, const double* dist, const double* z,
                   const double* t_start, const double* t_end,
                   int num_binaries, int length) {
  // The interpolants are built before the batch is looked at and released
  // when the call returns.
  const RingdownTables tables;
  if (num_binaries <= 0) return 0;
  const std::ptrdiff_t n = num_binaries;
  const std::ptrdiff_t len = length;
  if (!tables.ok()) {
    // Only reachable with GSL's error handler turned off: mark everything.
    for (std::ptrdiff_t i = 0; i < n; ++i) {
      if (len > 0) FillRow(freqs + i * len, hc + i * len, len, kNaN, kNaN);
      f_merger_start[i] = kNaN;
      f_ringdown_start[i] = kNaN;
    }
    return 0;
  }
  const CallContext c;
  for (std::ptrdiff_t i = 0; i < n; ++i) {
    const std::ptrdiff_t at = i * (len > 0 ? len : 0);
    AmplitudeOfBinary(row, c, tables, m1[i], m2[i], spin1[i], spin2[i],
                      dist[i], z[i], t_start[i], t_end[i], len, freqs + at,
                      hc + at, f_merger_start + i, f_ringdown_start + i);
  }
  return 0;
}

int SnrBatch(double* snr_all, double* snr_ins, double* snr_mrg, double* snr_rd,
             const double* freqs, const double* hc, const double* hn,
             const double* f_merger_start, const double* f_ringdown_start,
             int length, int num_binaries) {
  if (num_binaries <= 0) return 0;
  const std::ptrdiff_t n = num_binaries;
  const std::ptrdiff_t len = length;
  for (std::ptrdiff_t i = 0; i < n; ++i) {
    if (len < 2) {
      snr_all[i] = snr_ins[i] = snr_mrg[i] = snr_rd[i] = 0.0;
      continue;
    }
    const std::ptrdiff_t row = i * len;
    const SnrSplit s = SnrSquaredOfRow(freqs + row, hc + row, hn + row, len,
                                       f_merger_start[i], f_ringdown_start[i]);
    snr_all[i] = std::sqrt(s.all);
    snr_ins[i] = std::sqrt(s.ins);
    snr_mrg[i] = std::sqrt(s.mrg);
    snr_rd[i] = std::sqrt(s.rd);
  }
  return 0;
}

}  // namespace phenomd

// The population entry points.  The trapezoid one: per binary, the model's
// row into a buffer, then the noise from the table, the factor and the split
// trapezoid of SNR_function over it (row_sums.h).  The Gauss one: per
// binary, the quadrature of quadrature.h.  The buffer holds one row (three
// arrays of `length` doubles), so a row is written, read back and summed
// while it is still in cache, and nothing of size num_binaries x length
// ever exists.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <vector>

#include "batch.h"
#include "binary.h"
#include "phenomd_population.h"
#include "quadrature.h"
#include "row_sums.h"

namespace phenomd {
namespace population {

// The table must give every f in [f_min, f_max] its four nodes: index
// x = (log10 f - log10_f0) / dlog10_f within [1, length - 2] (up to a
// rounding slack; the kernels clamp the index anyway).
bool TableUsable(const phenomd_noise_table* t) {
  if (t == nullptr || t->ln_hn == nullptr) return false;
  if (t->length < 4 || t->length > 0x7fffffff) return false;
  if (!(t->dlog10_f > 0.0) || !std::isfinite(t->dlog10_f)) return false;
  if (!std::isfinite(t->log10_f0)) return false;
  if (!(t->f_min > 0.0) || !(t->f_min <= t->f_max) || !std::isfinite(t->f_max))
    return false;
  const double slack = 1e-6;
  const double x_lo = (std::log10(t->f_min) - t->log10_f0) / t->dlog10_f;
  const double x_hi = (std::log10(t->f_max) - t->log10_f0) / t->dlog10_f;
  return x_lo >= 1.0 - slack &&
         x_hi <= static_cast<double>(t->length - 2) + slack;
}

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kLn10 = 2.302585092994045684;

struct Outputs {
  double *snr_all, *snr_ins, *snr_mrg, *snr_rd;
  double *f_merger_start, *f_ringdown_start;
  std::int64_t* n_outside;
};

void SetRatios(const Outputs& o, std::ptrdiff_t i, double all, double ins,
               double mrg, double rd) {
  o.snr_all[i] = all;
  o.snr_ins[i] = ins;
  o.snr_mrg[i] = mrg;
  o.snr_rd[i] = rd;
}

// Every binary of the batch marked unknown: NaN ratios and boundaries, no
// point outside, none inverted (the ringdown tables could not be built).
void MarkAllUnknown(const Outputs& o, std::ptrdiff_t n, double* f_merger_start,
                    double* f_ringdown_start, std::int64_t* n_outside,
                    unsigned char* inverted) {
  for (std::ptrdiff_t i = 0; i < n; ++i) {
    SetRatios(o, i, kNaN, kNaN, kNaN, kNaN);
    f_merger_start[i] = f_ringdown_start[i] = kNaN;
    n_outside[i] = 0;
    if (inverted != nullptr) inverted[i] = 0;
  }
}

}  // namespace
}  // namespace population
}  // namespace phenomd

extern "C" PHENOMD_POPULATION_API int phenomd_population_has_fast_row(void) {
#ifdef PHENOMD_HAVE_FAST_ROW
  return 1;
#else
  return 0;
#endif
}

extern "C" PHENOMD_POPULATION_API int phenomd_population_snr(
    double* snr_all, double* snr_ins, double* snr_mrg, double* snr_rd,
    double* f_merger_start, double* f_ringdown_start, int64_t* n_outside,
    unsigned char* inverted, const double* m1, const double* m2,
    const double* spin1, const double* spin2, const double* dist,
    const double* z, const double* t_start, const double* t_end,
    const double* factor, const phenomd_noise_table* table,
    int64_t num_binaries, int length, int fast) {
  using namespace phenomd;
  using namespace phenomd::population;
  RowFunction row = ExactRow;
  if (fast) {
#ifdef PHENOMD_HAVE_FAST_ROW
    row = FastRow;
#else
    return PHENOMD_POPULATION_NO_FAST_ROW;
#endif
  }
  if (!TableUsable(table)) return PHENOMD_POPULATION_BAD_TABLE;
  if (num_binaries <= 0) return PHENOMD_POPULATION_OK;

  const std::ptrdiff_t n = num_binaries;
  const std::ptrdiff_t len = length > 0 ? length : 0;
  std::vector<double> buffer;
  try {
    buffer.resize(static_cast<std::size_t>(3 * (len > 0 ? len : 1)));
  } catch (const std::bad_alloc&) {
    return PHENOMD_POPULATION_NO_MEMORY;
  }
  double* const freqs = buffer.data();
  double* const hc = freqs + len;
  double* const g = hc + len;

  const Outputs o{snr_all,        snr_ins,          snr_mrg,  snr_rd,
                  f_merger_start, f_ringdown_start, n_outside};
  RowSumsInputs sums{};
  sums.ln_hn = table->ln_hn;
  sums.table_length = static_cast<std::int32_t>(table->length);
  sums.f_min = table->f_min;
  sums.f_max = table->f_max;
  sums.length = len;

  // As in Amplitude: the interpolants for the whole call, built first.
  const RingdownTables tables;
  if (!tables.ok()) {
    // Only reachable with GSL's error handler turned off: mark everything.
    MarkAllUnknown(o, n, f_merger_start, f_ringdown_start, n_outside, inverted);
    return PHENOMD_POPULATION_OK;
  }
  const CallContext c;
  for (std::ptrdiff_t i = 0; i < n; ++i) {
    const BinaryBand band =
        AmplitudeOfBinary(row, c, tables, m1[i], m2[i], spin1[i], spin2[i],
                          dist[i], z[i], t_start[i], t_end[i], len, freqs, hc,
                          f_merger_start + i, f_ringdown_start + i);
    if (inverted != nullptr) inverted[i] = band.inverted ? 1 : 0;
    if (len == 0) {
      SetRatios(o, i, 0.0, 0.0, 0.0, 0.0);
      n_outside[i] = 0;
      continue;
    }
    if (band.inverted) {
      // Sentinel row: every point at one frequency, so every trapezoid
      // interval has zero width and the SNR is 0.
      const double f = kSentinelFreq;
      n_outside[i] = f >= table->f_min && f <= table->f_max ? 0 : len;
      SetRatios(o, i, 0.0, 0.0, 0.0, 0.0);
      continue;
    }
    if (len < 2) {
      // One point: no interval, SNR 0 as SNR_function gives; the point is
      // counted if outside.
      const double f = freqs[0];
      n_outside[i] = f >= table->f_min && f <= table->f_max ? 0 : 1;
      SetRatios(o, i, 0.0, 0.0, 0.0, 0.0);
      continue;
    }
    // Table index of point j: (log10 f_j - log10_f0) / dlog10_f with
    // log10 f_j = (j step + L0) - log10 Msec.
    sums.x_step = band.step / table->dlog10_f;
    sums.x0 =
        (band.L0 - std::log10(band.Msec) - table->log10_f0) / table->dlog10_f;
    sums.ln_f_step = kLn10 * table->dlog10_f;
    sums.ln_f0 = kLn10 * table->log10_f0;
    sums.factor = factor != nullptr ? factor[i] : 1.0;
    sums.f_merger_start = f_merger_start[i];
    sums.f_ringdown_start = f_ringdown_start[i];
    const RowSums s = SumRow(sums, freqs, hc, g);
    n_outside[i] = s.outside;
    SetRatios(o, i, std::sqrt(s.all), std::sqrt(s.ins), std::sqrt(s.mrg),
              std::sqrt(s.rd));
  }
  return PHENOMD_POPULATION_OK;
}

namespace phenomd {
namespace population {

int GaussPopulationSnr(double* snr_all, double* snr_ins, double* snr_mrg,
                       double* snr_rd, double* f_merger_start,
                       double* f_ringdown_start, std::int64_t* n_outside,
                       unsigned char* inverted, const double* m1,
                       const double* m2, const double* spin1,
                       const double* spin2, const double* dist,
                       const double* z, const double* t_start,
                       const double* t_end, const double* factor,
                       const phenomd_noise_table* table,
                       const double* noise_kinks, std::int64_t num_noise_kinks,
                       std::int64_t num_binaries, const QuadratureRule& rule,
                       int fast) {
#ifndef PHENOMD_HAVE_FAST_ROW
  if (fast) return PHENOMD_POPULATION_NO_FAST_ROW;
#endif
  if (!TableUsable(table)) return PHENOMD_POPULATION_BAD_TABLE;
  if (!(rule.panels_per_decade > 0.0) || !(rule.panels_per_decade <= 1e6) ||
      rule.nodes < 1 || rule.nodes > 64 ||
      !(rule.rtol > 0.0))
    return PHENOMD_POPULATION_BAD_ARGUMENT;
  if (!KinksValid(noise_kinks, num_noise_kinks))
    return PHENOMD_POPULATION_BAD_ARGUMENT;
  if (num_binaries <= 0) return PHENOMD_POPULATION_OK;

  const std::ptrdiff_t n = num_binaries;
  const Outputs o{snr_all,        snr_ins,          snr_mrg,  snr_rd,
                  f_merger_start, f_ringdown_start, n_outside};
  QuadratureWork work;
  std::vector<double> ln_kinks;
  try {
    KinkBreaks(*table, noise_kinks, num_noise_kinks, ln_kinks);
    // Room for a typical binary's nodes, so that the loop rarely allocates.
    work.ln_f.reserve(4096);
  } catch (const std::bad_alloc&) {
    return PHENOMD_POPULATION_NO_MEMORY;
  }
  std::vector<double> cells;
  try {
    CellWidths(*table, rule.nodes, rule.rtol, cells);
  } catch (const std::bad_alloc&) {
    return PHENOMD_POPULATION_NO_MEMORY;
  }
  const NoiseView nv = ViewOf(*table, ln_kinks.data(),
                              static_cast<std::ptrdiff_t>(ln_kinks.size()),
                              &cells);

  const RingdownTables tables;
  if (!tables.ok()) {
    // Only reachable with GSL's error handler turned off: mark everything.
    MarkAllUnknown(o, n, f_merger_start, f_ringdown_start, n_outside, inverted);
    return PHENOMD_POPULATION_OK;
  }
  const CallContext c;
  BinarySetup b;
  for (std::ptrdiff_t i = 0; i < n; ++i) {
    SetUpBinary(c, tables, m1[i], m2[i], spin1[i], spin2[i], dist[i], z[i],
                t_start[i], t_end[i], b);
    const BinaryBreaks br = BreaksOf(c, b);
    f_merger_start[i] = br.f_merger_start;
    f_ringdown_start[i] = br.f_ringdown_start;
    if (inverted != nullptr) inverted[i] = br.inverted ? 1 : 0;
    QuadratureSums s;
    try {
      s = IntegrateBinary(b, br, nv, factor != nullptr ? factor[i] : 1.0,
                          rule, fast != 0, work);
    } catch (const std::bad_alloc&) {
      return PHENOMD_POPULATION_NO_MEMORY;
    }
    n_outside[i] = s.outside;
    SetRatios(o, i, std::sqrt(s.all), std::sqrt(s.ins), std::sqrt(s.mrg),
              std::sqrt(s.rd));
  }
  return PHENOMD_POPULATION_OK;
}

}  // namespace population
}  // namespace phenomd

extern "C" PHENOMD_POPULATION_API int phenomd_population_snr_gauss(
    double* snr_all, double* snr_ins, double* snr_mrg, double* snr_rd,
    double* f_merger_start, double* f_ringdown_start, int64_t* n_outside,
    unsigned char* inverted, const double* m1, const double* m2,
    const double* spin1, const double* spin2, const double* dist,
    const double* z, const double* t_start, const double* t_end,
    const double* factor, const phenomd_noise_table* table,
    const double* noise_kinks, int64_t num_noise_kinks,
    int64_t num_binaries, double rtol, int fast) {
  using namespace phenomd::population;
#ifndef PHENOMD_HAVE_FAST_ROW
  if (fast) return PHENOMD_POPULATION_NO_FAST_ROW;
#endif
  // The codes in the trapezoid entry's order: the table, then the rest.
  if (!TableUsable(table)) return PHENOMD_POPULATION_BAD_TABLE;
  if (!(rtol >= 1e-9 && rtol <= 0.1)) return PHENOMD_POPULATION_BAD_ARGUMENT;
  return GaussPopulationSnr(snr_all, snr_ins, snr_mrg, snr_rd, f_merger_start,
                            f_ringdown_start, n_outside, inverted, m1, m2,
                            spin1, spin2, dist, z, t_start, t_end, factor,
                            table, noise_kinks, num_noise_kinks, num_binaries,
                            RuleForTolerance(rtol), fast);
}

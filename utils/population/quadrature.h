// The SNR of one binary by Gauss-Legendre quadrature in ln f:
//   rho^2 = integral of (k hc / h_n)^2 d ln f
// over the part of the binary's band inside the noise table's range.  The
// range is cut into pieces at every frequency where the integrand is not
// smooth or changes phase: the band's ends, f_merger_start and
// f_ringdown_start, the model's two joins (Mf = 0.014 and f_mr_start, where
// the amplitude is only C^1), the table's f_min and f_max (h_n = +inf
// outside) and the frequencies the caller declares non-smooth for its noise;
// and graded around the ringdown's Lorentzian (BinaryBreaks::f_ring).
// Each piece lies in one phase (inspiral below f_merger_start, ringdown
// from f_ringdown_start, merger between; the tests of SNR_function on the
// piece's midpoint) and gets ceil(decades x panels_per_decade) panels of an
// n-point Gauss-Legendre rule (more where the noise itself needs them,
// CellWidths), so every phase integrates from its own
// boundary and converges with the total.  The noise comes from the table's
// cubic Lagrange interpolant (phenomd_population.h) at each node's ln f.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "phenomd_population.h"
#include "strain_at.h"

namespace phenomd {
namespace population {

// How many nodes: `nodes` per panel, panels per decade of frequency (at
// least one panel per piece).  adaptive: starting from that, the panels are
// doubled until two successive estimates of every phase's rho^2 agree to
// `rtol` (relative to the phase, or to 1e-3 of the total for a phase
// below that), and the finer one is returned.
struct QuadratureRule {
  int nodes;
  double panels_per_decade;
  bool adaptive;
  double rtol;
};

// The fixed rule calibrated to put every SNR within rtol (see
// bench/README.md for the measurement); rtol in [1e-9, 0.1].
QuadratureRule RuleForTolerance(double rtol);

// The table check of both entry points: non-null, >= 4 nodes, a positive
// finite spacing, and the four nodes of every f in [f_min, f_max].
bool TableUsable(const phenomd_noise_table* t);

// The noise as the quadrature reads it.
struct NoiseView {
  const double* ln_hn;
  std::int32_t table_length;
  double x_per_ln_f;  // 1 / (ln 10 dlog10_f)
  double x_offset;    // log10_f0 / dlog10_f
  double f_min, f_max;
  double ln_f_min, ln_f_max;
  const double* ln_kinks;  // ascending ln f of declared non-smooth points
  std::ptrdiff_t num_kinks;
  // Widest panel (in ln f) that resolves the noise within each cell of
  // kCellNodes table nodes (CellWidths); none: no limit.
  const double* cell_width;
  std::ptrdiff_t num_cells;
  double min_cell_width;
  double ln_f_limited_lo, ln_f_limited_hi;  // where any cell has a limit
};

constexpr int kCellNodes = 64;

// The noise's own limit on panel widths, per cell of kCellNodes nodes: where
// ln h_n oscillates (a curve's response at high frequency, say), its second
// and fourth differences (over about 0.01 in ln f, above the values'
// rounding) give the oscillation's wavenumber kappa and amplitude a, and the width is the one where an n-point Gauss panel's
// error on a cos(kappa ln f), a (kappa H / 2)^(2n) / (2n)!, stays below
// rtol / 100.  Smooth cells (a power law, a bucket) get no limit beyond the
// rule's own.  O(table length), once per call.
void CellWidths(const phenomd_noise_table& t, int nodes, double rtol,
                std::vector<double>& widths);

NoiseView ViewOf(const phenomd_noise_table& t, const double* ln_kinks,
                 std::ptrdiff_t num_kinks, const std::vector<double>* cells);

// -ln h_n at ln f[0 .. n), each inside [ln f_min, ln f_max]: the cubic
// Lagrange interpolant of phenomd_population.h at table index
// x = ln f / (ln 10 dlog10_f) - log10_f0 / dlog10_f.  With AVX-512F
// gathers where the CPU has it (the same operations per lane).
void MinusLnNoise(const NoiseView& nv, const double* ln_f, std::ptrdiff_t n,
                  double* out);
void MinusLnNoiseAvx512(const double* y, int hi, double x_per_ln_f,
                        double x_offset, const double* ln_f, std::ptrdiff_t n,
                        double* out);

struct QuadratureSums {
  double all, ins, mrg, rd;  // squared SNRs
  std::int64_t outside;      // band ends outside [f_min, f_max]: 0, 1 or 2
  std::int64_t nodes;        // integrand evaluations made
};

// One Gauss panel [lo, hi] in ln f of a piece, and its share of rho^2.
// split: the panel was replaced by narrower ones (its sum is 0 and its
// parts follow in the list), so it is no edge of the cumulative integral.
struct Panel {
  double lo, hi;
  int piece;
  double sum;
  bool split = false;
};

// Per-thread scratch, grown as needed.
struct QuadratureWork {
  std::vector<double> ln_f, w, g, hc, work, cuts;
  std::vector<Panel> panels;
  std::vector<unsigned char> piece_phase, piece_model;
};

// rho^2 of one binary, its band and breaks from SetUpBinary and BreaksOf,
// with factor k on hc; fast: StrainAtFast, else StrainAtExact.  An inverted
// band gives 0; a band with a non-finite end, NaN.  May throw bad_alloc.
QuadratureSums IntegrateBinary(const BinarySetup& b, const BinaryBreaks& br,
                               const NoiseView& nv, double factor,
                               const QuadratureRule& rule, bool fast,
                               QuadratureWork& work);

// Whether a declared kink list is usable: a count >= 0, an array where the
// count is positive, every kink finite and positive.
bool KinksValid(const double* kinks, std::int64_t num_kinks);

// The breaks of the declared noise kinks in ln f, ascending: each kink and
// every table node whose interpolation stencil reaches across it (on
// [i, i + 1] the interpolant uses nodes i - 1 .. i + 2, so the intervals
// from node ceil(x) - 2 to floor(x) + 2, x the kink's table index, are
// cubics of a non-smooth curve, each smooth only within itself).  The
// kinks must be finite and positive (checked by the caller).  May throw
// bad_alloc.
void KinkBreaks(const phenomd_noise_table& t, const double* kinks,
                std::int64_t num_kinks, std::vector<double>& ln_breaks);

// The cumulative integral of the last IntegrateBinary of `work`: rho^2
// from the lower end of the integration to the upper end of each panel,
// the panels in ascending order (split ones left out).  ln_f0: the lower
// end; out: (ln f, rho^2) pairs, the first (ln_f0, 0).  May throw
// bad_alloc.
void CumulativeEdges(const QuadratureWork& work, double ln_f0,
                     std::vector<std::pair<double, double>>& out);

// The batch behind phenomd_population_snr_gauss with an explicit rule
// (benchmarks and tests compare rules through it); the arguments otherwise
// as that entry.  Returns its codes.
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
                       int fast);

}  // namespace population
}  // namespace phenomd

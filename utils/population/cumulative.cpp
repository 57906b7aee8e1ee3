// phenomd_population_snr_edges: rho^2 accumulated along each binary's band
// at the edges of the Gauss-Legendre panels of phenomd_population_snr_gauss
// (the same breaks, rule and noise), for bracketing the frequency at which
// the accumulated SNR reaches a value.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <utility>
#include <vector>

#include "batch.h"
#include "binary.h"
#include "phenomd_population.h"
#include "quadrature.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Writes `edges` (ln f, rho^2) into the row, keeping the first and last and
// an evenly spaced subset between when there are more than `room`.
std::int64_t WriteRow(const std::vector<std::pair<double, double>>& edges,
                      std::int64_t room, double* f, double* rho2) {
  const std::int64_t m = static_cast<std::int64_t>(edges.size());
  if (m <= room) {
    for (std::int64_t j = 0; j < m; ++j) {
      f[j] = std::exp(edges[j].first);
      rho2[j] = edges[j].second;
    }
    return m;
  }
  for (std::int64_t j = 0; j < room; ++j) {
    // j (m - 1) / (room - 1): 0 at j = 0, m - 1 at j = room - 1, increasing.
    const std::int64_t k = j * (m - 1) / (room - 1);
    f[j] = std::exp(edges[k].first);
    rho2[j] = edges[k].second;
  }
  return room;
}

}  // namespace

extern "C" PHENOMD_POPULATION_API int phenomd_population_snr_edges(
    double* edge_f, double* edge_rho2, int64_t* num_edges, const double* m1,
    const double* m2, const double* spin1, const double* spin2,
    const double* dist, const double* z, const double* t_start,
    const double* t_end, const double* factor,
    const phenomd_noise_table* table, const double* noise_kinks,
    int64_t num_noise_kinks, int64_t num_binaries, int64_t max_edges,
    double rtol, int fast) {
  using namespace phenomd;
  using namespace phenomd::population;
#ifndef PHENOMD_HAVE_FAST_ROW
  if (fast) return PHENOMD_POPULATION_NO_FAST_ROW;
#endif
  if (!TableUsable(table)) return PHENOMD_POPULATION_BAD_TABLE;
  if (!(rtol >= 1e-9 && rtol <= 0.1) || max_edges < 2)
    return PHENOMD_POPULATION_BAD_ARGUMENT;
  if (!KinksValid(noise_kinks, num_noise_kinks))
    return PHENOMD_POPULATION_BAD_ARGUMENT;
  if (num_binaries <= 0) return PHENOMD_POPULATION_OK;

  const QuadratureRule rule = RuleForTolerance(rtol);
  QuadratureWork work;
  std::vector<double> ln_kinks, cells;
  std::vector<std::pair<double, double>> edges;
  try {
    KinkBreaks(*table, noise_kinks, num_noise_kinks, ln_kinks);
    CellWidths(*table, rule.nodes, rule.rtol, cells);
    work.ln_f.reserve(4096);
    edges.reserve(256);
  } catch (const std::bad_alloc&) {
    return PHENOMD_POPULATION_NO_MEMORY;
  }
  const NoiseView nv = ViewOf(*table, ln_kinks.data(),
                              static_cast<std::ptrdiff_t>(ln_kinks.size()),
                              &cells);
  const RingdownTables tables;
  const CallContext c;
  BinarySetup b;
  for (std::int64_t i = 0; i < num_binaries; ++i) {
    double* f = edge_f + i * max_edges;
    double* r = edge_rho2 + i * max_edges;
    num_edges[i] = 0;
    if (!tables.ok()) {
      f[0] = r[0] = kNaN;
      continue;
    }
    SetUpBinary(c, tables, m1[i], m2[i], spin1[i], spin2[i], dist[i], z[i],
                t_start[i], t_end[i], b);
    const BinaryBreaks br = BreaksOf(c, b);
    // The cases in which IntegrateBinary makes no panels.
    if (br.inverted) continue;
    const double lo_band = std::log(br.f_start), hi_band = std::log(br.f_end);
    if (!std::isfinite(lo_band) || !std::isfinite(hi_band)) continue;
    const double lo = std::max(lo_band, nv.ln_f_min);
    const double hi = std::min(hi_band, nv.ln_f_max);
    if (!(lo < hi)) continue;
    try {
      IntegrateBinary(b, br, nv, factor != nullptr ? factor[i] : 1.0, rule,
                      fast != 0, work);
      CumulativeEdges(work, lo, edges);
    } catch (const std::bad_alloc&) {
      return PHENOMD_POPULATION_NO_MEMORY;
    }
    num_edges[i] = WriteRow(edges, max_edges, f, r);
  }
  return PHENOMD_POPULATION_OK;
}

// phenomd_population_nodes: the quadrature of phenomd_population_snr_gauss
// handed back to the caller instead of summed, for a noise the module
// cannot read itself (a function of frequency known only to the host).
//
// Per binary the panels are those of the Gauss entry with h_n = 1 and the
// caller's range [f_min, f_max] and kinks (IntegrateBinary on a flat table:
// the band's ends, both phase boundaries, the model's joins, the
// Lorentzian's grading, the range's edges and the kinks), and each node j
// comes back as (ln f_j, W_j = w_j (k hc(f_j))^2, phase).  The host then
// has rho^2 of a phase = sum over its nodes of W_j / h_n(f_j)^2, the same
// rule the Gauss entry applies to its table.  The Gauss entry narrows its
// panels where the table oscillates; a host's function is not seen here, so
// `refine` doubles the panels per decade that many times and the host
// compares successive levels until its sums agree.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <vector>

#include "batch.h"
#include "binary.h"
#include "phenomd_population.h"
#include "quadrature.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

}  // namespace

extern "C" PHENOMD_POPULATION_API int phenomd_population_nodes(
    double* ln_f, double* weight, unsigned char* phase, int64_t capacity,
    int64_t* offsets, double* f_merger_start, double* f_ringdown_start,
    int64_t* n_outside, unsigned char* inverted, const double* m1,
    const double* m2, const double* spin1, const double* spin2,
    const double* dist, const double* z, const double* t_start,
    const double* t_end, const double* factor, double f_min, double f_max,
    const double* noise_kinks, int64_t num_noise_kinks, int64_t num_binaries,
    double rtol, int refine, int fast, int64_t* num_done) {
  using namespace phenomd;
  using namespace phenomd::population;
#ifndef PHENOMD_HAVE_FAST_ROW
  if (fast) return PHENOMD_POPULATION_NO_FAST_ROW;
#endif
  if (num_done == nullptr || offsets == nullptr || capacity < 0)
    return PHENOMD_POPULATION_BAD_ARGUMENT;
  *num_done = 0;
  offsets[0] = 0;
  if (!(f_min > 0.0) || !(f_min < f_max) || !std::isfinite(f_max))
    return PHENOMD_POPULATION_BAD_TABLE;
  if (!(rtol >= 1e-9 && rtol <= 0.1) || refine < 0 || refine > 16)
    return PHENOMD_POPULATION_BAD_ARGUMENT;
  if (!KinksValid(noise_kinks, num_noise_kinks))
    return PHENOMD_POPULATION_BAD_ARGUMENT;
  if (num_binaries <= 0) return PHENOMD_POPULATION_OK;

  // h_n = 1 over [f_min, f_max]: ln h_n = 0 at eight nodes whose second
  // and third span the range (so every f in it has its four nodes).
  const double lo = std::log10(f_min), hi = std::log10(f_max);
  static const double zeros[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  const phenomd_noise_table flat{lo - (hi - lo), hi - lo, zeros, 8, f_min,
                                 f_max};
  if (!TableUsable(&flat)) return PHENOMD_POPULATION_BAD_TABLE;
  QuadratureRule rule = RuleForTolerance(rtol);
  rule.panels_per_decade *= static_cast<double>(1 << refine);

  QuadratureWork work;
  std::vector<double> ln_kinks;
  try {
    for (int64_t k = 0; k < num_noise_kinks; ++k)
      ln_kinks.push_back(std::log(noise_kinks[k]));
    std::sort(ln_kinks.begin(), ln_kinks.end());
    work.ln_f.reserve(4096);
  } catch (const std::bad_alloc&) {
    return PHENOMD_POPULATION_NO_MEMORY;
  }
  // No cells: a flat table sets no limit of its own on the panels.
  const NoiseView nv = ViewOf(flat, ln_kinks.data(),
                              static_cast<std::ptrdiff_t>(ln_kinks.size()),
                              nullptr);
  const RingdownTables tables;
  const CallContext c;
  BinarySetup b;
  int64_t used = 0;
  for (int64_t i = 0; i < num_binaries; ++i) {
    double fm = kNaN, fr = kNaN;
    bool inv = false;
    QuadratureSums s{kNaN, kNaN, kNaN, kNaN, 0, 0};
    if (tables.ok()) {
      SetUpBinary(c, tables, m1[i], m2[i], spin1[i], spin2[i], dist[i], z[i],
                  t_start[i], t_end[i], b);
      const BinaryBreaks br = BreaksOf(c, b);
      fm = br.f_merger_start;
      fr = br.f_ringdown_start;
      inv = br.inverted;
      try {
        s = IntegrateBinary(b, br, nv, factor != nullptr ? factor[i] : 1.0,
                            rule, fast != 0, work);
      } catch (const std::bad_alloc&) {
        return PHENOMD_POPULATION_NO_MEMORY;
      }
    }
    // A binary with NaN sums (a non-finite band end, a remnant outside
    // the tables) gives one NaN node per phase, so that every sum is NaN.
    const bool nan = std::isnan(s.all) && s.nodes == 0;
    const int64_t count = nan ? 3 : s.nodes;
    if (count > capacity - used) break;
    if (nan) {
      for (int p = 0; p < 3; ++p) {
        ln_f[used + p] = 0.0;
        weight[used + p] = kNaN;
        phase[used + p] = static_cast<unsigned char>(p);
      }
    } else {
      // The nodes of the fixed rule, panel by panel (IntegrateBinary's
      // work space after a non-adaptive pass, no panel split: the flat
      // table has no cells).
      for (int64_t j = 0; j < count; ++j) {
        const Panel& q = work.panels[static_cast<std::size_t>(j / rule.nodes)];
        ln_f[used + j] = work.ln_f[j];
        weight[used + j] = work.g[j];
        phase[used + j] = work.piece_phase[static_cast<std::size_t>(q.piece)];
      }
    }
    used += count;
    offsets[i + 1] = used;
    f_merger_start[i] = fm;
    f_ringdown_start[i] = fr;
    n_outside[i] = s.outside;
    if (inverted != nullptr) inverted[i] = inv ? 1 : 0;
    *num_done = i + 1;
  }
  return PHENOMD_POPULATION_OK;
}

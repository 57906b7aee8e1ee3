#include "quadrature.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "gauss_legendre.h"
#include "grid.h"

namespace phenomd {
namespace population {
namespace {

constexpr double kLn10 = 2.302585092994045684;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

enum : unsigned char { kIns = 0, kMrg = 1, kRd = 2 };

bool Outside(double f, const NoiseView& nv) {
  return !(f >= nv.f_min && f <= nv.f_max);
}

// Appends `count` equal panels of the rule over [a, c], each with its piece.
void AddPanels(double a, double c, std::ptrdiff_t count, int piece,
               const GaussLegendreRule& gl, QuadratureWork& wk) {
  const double h = (c - a) / static_cast<double>(count);
  const std::size_t at = wk.ln_f.size();
  wk.ln_f.resize(at + count * gl.n);
  wk.w.resize(at + count * gl.n);
  double* x = wk.ln_f.data() + at;
  double* w = wk.w.data() + at;
  for (std::ptrdiff_t q = 0; q < count; ++q) {
    const double lo = a + static_cast<double>(q) * h;
    const double hi = q + 1 == count ? c : lo + h;
    const double mid = 0.5 * (lo + hi), half = 0.5 * (hi - lo);
    for (int i = 0; i < gl.n; ++i) {
      x[i] = mid + half * gl.x[i];
      w[i] = half * gl.w[i];
    }
    x += gl.n;
    w += gl.n;
    wk.panels.push_back({lo, hi, piece, 0.0});
  }
}

// Panels of at most `panel` over `width` (both in ln f).  A width or panel
// that is not finite and positive (a degenerate table or band) gets one
// panel; the count is capped at 2^16 per piece (the calibrated rules use a
// few panels per decade, so only a degenerate input reaches the cap), which
// keeps the node buffers bounded and the float-to-integer conversion
// defined.
// Sub-panels all the splits of one pass may add together (see Pass).
constexpr std::ptrdiff_t kMaxSplitPanels = 1 << 16;

std::ptrdiff_t PanelsFor(double width, double panel) {
  constexpr double kMaxPanels = 65536.0;
  const double p = std::ceil(width / panel);
  if (!(p >= 1.0)) return 1;
  return static_cast<std::ptrdiff_t>(std::min(p, kMaxPanels));
}

// The narrowest noise cell width over [a, c] (NoiseView::cell_width).
double NoiseWidth(const NoiseView& nv, double a, double c) {
  if (nv.num_cells == 0 || nv.min_cell_width == INFINITY) return INFINITY;
  if (c < nv.ln_f_limited_lo || a > nv.ln_f_limited_hi) return INFINITY;
  const double x_a = a * nv.x_per_ln_f - nv.x_offset;
  const double x_c = c * nv.x_per_ln_f - nv.x_offset;
  const double last = static_cast<double>(nv.num_cells - 1);
  const double k0 = std::min(std::max(std::floor(x_a / kCellNodes), 0.0), last);
  const double k1 = std::min(std::max(std::floor(x_c / kCellNodes), 0.0), last);
  double w = INFINITY;
  for (std::ptrdiff_t k = static_cast<std::ptrdiff_t>(k0);
       k <= static_cast<std::ptrdiff_t>(k1); ++k)
    w = std::min(w, nv.cell_width[k]);
  return w;
}

// The weighted integrand w_j (k hc_j / h_n_j)^2 at the nodes of the panels
// [p_from, p_to), into wk.g.  Fast: each run of panels of one piece by
// SquaredStrainTimesExp, the noise folded into the strain's exponentials;
// exact: StrainAtExact and std::exp.
void Evaluate(const BinarySetup& b, const NoiseView& nv, double factor,
              bool fast, int nodes, std::size_t p_from, std::size_t p_to,
              QuadratureWork& wk) {
  const std::ptrdiff_t from = static_cast<std::ptrdiff_t>(p_from) * nodes;
  const std::ptrdiff_t to = static_cast<std::ptrdiff_t>(p_to) * nodes;
  const std::ptrdiff_t n = to - from;
  if (n <= 0) return;
  if (static_cast<std::ptrdiff_t>(wk.g.size()) < to) {
    wk.g.resize(wk.ln_f.size());
    wk.hc.resize(wk.ln_f.size());
  }
  if (static_cast<std::ptrdiff_t>(wk.work.size()) < 3 * n) wk.work.resize(3 * n);
  const double* const x = wk.ln_f.data() + from;
  const double* const w = wk.w.data() + from;
  double* const g = wk.g.data() + from;
  double* const e = wk.hc.data() + from;  // 2 (-ln h_n), then scratch
  MinusLnNoise(nv, x, n, e);
  const double k2 = factor * factor;
  if (fast) {
    for (std::ptrdiff_t j = 0; j < n; ++j) e[j] = 2.0 * e[j];
    std::size_t p = p_from;
    while (p < p_to) {
      std::size_t q = p + 1;
      const int piece = wk.panels[p].piece;
      while (q < p_to && wk.panels[q].piece == piece) ++q;
      const std::ptrdiff_t j0 = static_cast<std::ptrdiff_t>(p - p_from) * nodes;
      const std::ptrdiff_t m = static_cast<std::ptrdiff_t>(q - p) * nodes;
      SquaredStrainTimesExp(b, static_cast<ModelPiece>(wk.piece_model[piece]),
                            x + j0, e + j0, m, g + j0, wk.work.data());
      p = q;
    }
    for (std::ptrdiff_t j = 0; j < n; ++j) g[j] = w[j] * (k2 * g[j]);
  } else {
    double* const f = wk.work.data();
    double* const hc = wk.work.data() + n;
    for (std::ptrdiff_t j = 0; j < n; ++j) f[j] = std::exp(x[j]);
    StrainAtExact(b, f, n, hc);
    for (std::ptrdiff_t j = 0; j < n; ++j) {
      const double r = factor * hc[j];
      g[j] = w[j] * (r * r * std::exp(2.0 * e[j]));
    }
  }
}

// Sums of the panels [from, to) of the nodes' weighted integrand.
void SumPanels(int nodes, std::size_t from, std::size_t to, QuadratureWork& wk) {
  for (std::size_t p = from; p < to; ++p) {
    const double* g = wk.g.data() + p * nodes;
    double s = 0.0;
    for (int i = 0; i < nodes; ++i) s += g[i];
    wk.panels[p].sum = s;
  }
}

// One pass of the rule at `ppd` panels per decade: every piece in equal
// panels at most ln 10 / ppd wide; then every panel lying where the noise
// needs narrower panels (CellWidths) and carrying enough of the integral
// for that to matter is split to the noise's width and evaluated again.
QuadratureSums Pass(const BinarySetup& b, const NoiseView& nv, double factor,
                    int nodes, double ppd, bool fast, const double* cuts,
                    int num_cuts, double ln_fms, double ln_frs,
                    QuadratureWork& wk) {
  const GaussLegendreRule gl = GaussLegendre(nodes);
  const int pieces = num_cuts - 1;
  wk.piece_phase.resize(static_cast<std::size_t>(pieces));
  wk.piece_model.resize(static_cast<std::size_t>(pieces));
  wk.ln_f.clear();
  wk.w.clear();
  wk.panels.clear();
  const double base = kLn10 / ppd;
  for (int p = 0; p < pieces; ++p) {
    const double a = cuts[p], c = cuts[p + 1];
    AddPanels(a, c, PanelsFor(c - a, base), p, gl, wk);
    // The phase of the piece by the tests SNR_function makes on a midpoint
    // (NaN boundaries leave it to the merger).
    const double m = 0.5 * (a + c);
    wk.piece_phase[p] = m <= ln_fms ? kIns : (m >= ln_frs ? kRd : kMrg);
    wk.piece_model[p] =
        static_cast<unsigned char>(PieceAt(b, std::exp(m) * b.Msec));
  }
  std::ptrdiff_t evaluated = static_cast<std::ptrdiff_t>(wk.ln_f.size());
  const std::size_t coarse = wk.panels.size();
  Evaluate(b, nv, factor, fast, gl.n, 0, coarse, wk);
  SumPanels(gl.n, 0, coarse, wk);

  if (nv.min_cell_width < base) {
    double total = 0.0;
    for (std::size_t p = 0; p < coarse; ++p) total += std::fabs(wk.panels[p].sum);
    // A panel of width H where the noise's cells allow W < H errs by about
    // (H / W)^(2n) rtol / 100 of itself: split it unless that stays below
    // rtol / 100 of 1e-3 of the total (the smallest phase that must meet
    // rtol).
    // The splits of one pass share a budget of sub-panels, so that a table
    // whose cells are far narrower than any curve needs (a degenerate or
    // hostile one) costs bounded time and memory; the package's tables use
    // a small fraction of it.
    std::ptrdiff_t budget = kMaxSplitPanels;
    for (std::size_t p = 0; p < coarse && budget > 0; ++p) {
      const Panel q = wk.panels[p];
      const double h = q.hi - q.lo;
      const double wdt = NoiseWidth(nv, q.lo, q.hi);
      if (!(wdt < h)) continue;
      double grow = 1.0;  // (h / wdt)^(2n)
      for (int i = 0; i < gl.n; ++i) grow *= (h / wdt) * (h / wdt);
      if (!(std::fabs(q.sum) * grow > 1e-3 * total)) continue;
      const std::ptrdiff_t parts = std::min(PanelsFor(h, wdt), budget);
      budget -= parts;
      wk.panels[p].sum = 0.0;  // replaced by its parts
      wk.panels[p].split = true;
      AddPanels(q.lo, q.hi, parts, q.piece, gl, wk);
    }
    Evaluate(b, nv, factor, fast, gl.n, coarse, wk.panels.size(), wk);
    SumPanels(gl.n, coarse, wk.panels.size(), wk);
    evaluated = static_cast<std::ptrdiff_t>(wk.ln_f.size());
  }

  QuadratureSums s{0.0, 0.0, 0.0, 0.0, 0, evaluated};
  for (const Panel& q : wk.panels) {
    switch (wk.piece_phase[q.piece]) {
      case kIns: s.ins += q.sum; break;
      case kMrg: s.mrg += q.sum; break;
      default: s.rd += q.sum; break;
    }
  }
  s.all = s.ins + s.mrg + s.rd;
  return s;
}

bool Agree(double fine, double coarse, double total, double rtol) {
  return std::fabs(fine - coarse) <=
         rtol * std::max(std::fabs(fine), 1e-3 * std::fabs(total));
}

}  // namespace

QuadratureRule RuleForTolerance(double rtol) {
  // Calibrated on random populations against 16-node, 64-panel-per-decade
  // values (bench/README.md, "Calibration"): the largest SNR error seen
  // over two populations was 2.2e-6 with 8 nodes at 3 panels per decade,
  // 1.8e-9 at 4, 1.2e-10 with 12 nodes at 4.  Each step keeps a margin of
  // at least 2 below the smallest rtol it serves.
  QuadratureRule r;
  r.adaptive = false;
  r.rtol = rtol;
  if (rtol >= 1e-5) {
    r.nodes = 8;
    r.panels_per_decade = 3.0;
  } else if (rtol >= 4e-9) {
    r.nodes = 8;
    r.panels_per_decade = 4.0;
  } else {
    r.nodes = 12;
    r.panels_per_decade = 4.0;
  }
  return r;
}

void CellWidths(const phenomd_noise_table& t, int nodes, double rtol,
                std::vector<double>& widths) {
  const std::ptrdiff_t len = t.length;
  const std::ptrdiff_t cells = (len + kCellNodes - 1) / kCellNodes;
  widths.assign(static_cast<std::size_t>(cells), INFINITY);
  const double h = kLn10 * t.dlog10_f;  // node spacing in ln f
  // Differences over a stride of about 0.01 in ln f: on a fine table the
  // differences of neighbouring nodes are the values' rounding, not the
  // curve (a 4th difference of rounding errors is 8 eps |y| over h^4).
  const std::ptrdiff_t stride =
      std::max<std::ptrdiff_t>(1, static_cast<std::ptrdiff_t>(0.01 / h));
  const double hs = h * static_cast<double>(stride);
  const std::ptrdiff_t step = std::max<std::ptrdiff_t>(1, stride / 4);
  const double* y = t.ln_hn;
  double fact = 1.0;  // (2n)!
  for (int k = 2; k <= 2 * nodes; ++k) fact *= k;
  const double tol = 0.01 * rtol;
  const double eps = 2.220446049250313e-16;
  for (std::ptrdiff_t c = 0; c < cells; ++c) {
    double y2 = 0.0, y4 = 0.0, ymax = 0.0;
    const std::ptrdiff_t j0 = std::max<std::ptrdiff_t>(2 * stride, c * kCellNodes);
    const std::ptrdiff_t j1 =
        std::min<std::ptrdiff_t>(len - 2 * stride, (c + 1) * kCellNodes);
    for (std::ptrdiff_t j = j0; j < j1; j += step) {
      const double a2 = y[j - 2 * stride], a1 = y[j - stride], a0 = y[j],
                   b1 = y[j + stride], b2 = y[j + 2 * stride];
      y2 = std::max(y2, std::fabs(a1 - 2.0 * a0 + b1));
      y4 = std::max(y4, std::fabs(a2 - 4.0 * a1 + 6.0 * a0 - 4.0 * b1 + b2));
      ymax = std::max(ymax, std::fabs(a0));
    }
    // Below the rounding floor there is nothing to resolve.
    if (!(y4 > 64.0 * eps * ymax) || !(y2 > 16.0 * eps * ymax) ||
        !std::isfinite(y2) || !std::isfinite(y4))
      continue;
    // A component a cos(kappa ln f) of ln h_n has second and fourth
    // derivatives a kappa^2 and a kappa^4: kappa and a from the cell's
    // largest differences, and the integrand exp(-2 ln h_n) carries 2a.
    const double d2 = y2 / (hs * hs), d4 = y4 / (hs * hs * hs * hs);
    const double kappa = std::sqrt(d4 / d2);
    const double amp = 2.0 * d2 * d2 / d4;
    if (!(amp > tol)) continue;
    // Gauss's error on a panel of width H for that component:
    // amp (kappa H / 2)^(2n) / (2n)! <= tol.
    widths[c] = (2.0 / kappa) * std::pow(tol * fact / amp, 0.5 / nodes);
  }
}

NoiseView ViewOf(const phenomd_noise_table& t, const double* ln_kinks,
                 std::ptrdiff_t num_kinks, const std::vector<double>* cells) {
  NoiseView v;
  v.ln_hn = t.ln_hn;
  v.table_length = static_cast<std::int32_t>(t.length);
  v.x_per_ln_f = 1.0 / (kLn10 * t.dlog10_f);
  v.x_offset = t.log10_f0 / t.dlog10_f;
  v.f_min = t.f_min;
  v.f_max = t.f_max;
  v.ln_f_min = std::log(t.f_min);
  v.ln_f_max = std::log(t.f_max);
  v.ln_kinks = ln_kinks;
  v.num_kinks = num_kinks;
  v.cell_width = cells != nullptr ? cells->data() : nullptr;
  v.num_cells = cells != nullptr ? static_cast<std::ptrdiff_t>(cells->size()) : 0;
  v.min_cell_width = INFINITY;
  // The ln f span of the cells with a limit, for a quick test per panel.
  v.ln_f_limited_lo = INFINITY;
  v.ln_f_limited_hi = -INFINITY;
  for (std::ptrdiff_t c = 0; c < v.num_cells; ++c) {
    v.min_cell_width = std::min(v.min_cell_width, v.cell_width[c]);
    if (v.cell_width[c] < INFINITY) {
      const double lo = (c * double(kCellNodes) + v.x_offset) / v.x_per_ln_f;
      const double hi = ((c + 1) * double(kCellNodes) + v.x_offset) / v.x_per_ln_f;
      v.ln_f_limited_lo = std::min(v.ln_f_limited_lo, lo);
      v.ln_f_limited_hi = std::max(v.ln_f_limited_hi, hi);
    }
  }
  return v;
}

void MinusLnNoise(const NoiseView& nv, const double* ln_f, std::ptrdiff_t n,
                  double* out) {
  const int hi = nv.table_length - 3;
#ifdef PHENOMD_HAVE_FAST_ROW
  static const bool avx512 = CpuHasAvx512();
  if (avx512) {
    MinusLnNoiseAvx512(nv.ln_hn, hi, nv.x_per_ln_f, nv.x_offset, ln_f, n, out);
    return;
  }
#endif
  const double* y = nv.ln_hn;
  for (std::ptrdiff_t j = 0; j < n; ++j) {
    const double x = ln_f[j] * nv.x_per_ln_f - nv.x_offset;
    int i = static_cast<int>(x);  // x >= 1 - slack inside the range
    i = i < 1 ? 1 : (i > hi ? hi : i);
    const double t = x - static_cast<double>(i);
    const double tp1 = t + 1.0, tm1 = t - 1.0, tm2 = t - 2.0;
    const double w0 = t * tm1 * tm2 * (1.0 / 6.0);
    const double w1 = tp1 * tm1 * tm2 * 0.5;
    const double w2 = tp1 * t * tm2 * 0.5;
    const double w3 = tp1 * t * tm1 * (1.0 / 6.0);
    out[j] = w0 * y[i - 1] - w1 * y[i] + w2 * y[i + 1] - w3 * y[i + 2];
  }
}

QuadratureSums IntegrateBinary(const BinarySetup& b, const BinaryBreaks& br,
                               const NoiseView& nv, double factor,
                               const QuadratureRule& rule, bool fast,
                               QuadratureWork& wk) {
  QuadratureSums zero{0.0, 0.0, 0.0, 0.0, 0, 0};
  if (br.inverted) return zero;
  zero.outside = (Outside(br.f_start, nv) ? 1 : 0) + (Outside(br.f_end, nv) ? 1 : 0);
  const double lo_band = std::log(br.f_start), hi_band = std::log(br.f_end);
  if (!std::isfinite(lo_band) || !std::isfinite(hi_band)) {
    return QuadratureSums{kNaN, kNaN, kNaN, kNaN, zero.outside, 0};
  }
  const double lo = std::max(lo_band, nv.ln_f_min);
  const double hi = std::min(hi_band, nv.ln_f_max);
  if (!(lo < hi)) return zero;

  // The cuts: the ends and every break strictly inside, ascending.
  const double ln_fms = std::log(br.f_merger_start);
  const double ln_frs = std::log(br.f_ringdown_start);
  std::vector<double>& cuts = wk.cuts;
  cuts.clear();
  cuts.push_back(lo);
  cuts.push_back(hi);
  for (double v : {ln_fms, ln_frs, std::log(br.f_ins_join),
                   std::log(br.f_mr_join)})
    if (v > lo && v < hi) cuts.push_back(v);
  // Around the Lorentzian's poles at f_ring +- i f_width: panels graded
  // geometrically away from f_ring (f_ring + 3^k f_width, and below it down
  // to the piece's start), so each panel's width is at most twice its
  // distance from the pole and Gauss converges at a fixed rate on every one.
  if (br.f_width > 0.0 && std::isfinite(br.f_width)) {
    const double e_hi = std::exp(hi);
    double d = br.f_width;
    if (br.f_ring > br.f_mr_join) {
      const double v = std::log(br.f_ring);
      if (v > lo && v < hi) cuts.push_back(v);
    }
    for (int k = 0; k < 40 && br.f_ring + d < e_hi; ++k, d *= 3.0) {
      const double v = std::log(br.f_ring + d);
      if (v > lo && v < hi) cuts.push_back(v);
    }
    d = br.f_width;
    for (int k = 0; k < 40 && br.f_ring - d > br.f_mr_join; ++k, d *= 3.0) {
      const double v = std::log(br.f_ring - d);
      if (v > lo && v < hi) cuts.push_back(v);
    }
  }
  // Declared kinks of the noise in the range: a slice of the ascending list.
  const double* k_lo = std::upper_bound(nv.ln_kinks, nv.ln_kinks + nv.num_kinks, lo);
  const double* k_hi = std::lower_bound(k_lo, nv.ln_kinks + nv.num_kinks, hi);
  cuts.insert(cuts.end(), k_lo, k_hi);
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
  const int num = static_cast<int>(cuts.size());

  if (!rule.adaptive) {
    QuadratureSums s = Pass(b, nv, factor, rule.nodes, rule.panels_per_decade,
                            fast, cuts.data(), num, ln_fms, ln_frs, wk);
    s.outside = zero.outside;
    return s;
  }
  double ppd = rule.panels_per_decade;
  QuadratureSums coarse =
      Pass(b, nv, factor, rule.nodes, ppd, fast, cuts.data(), num, ln_fms, ln_frs, wk);
  std::int64_t evaluations = coarse.nodes;
  for (int level = 0; level < 10; ++level) {
    ppd *= 2.0;
    QuadratureSums fine = Pass(b, nv, factor, rule.nodes, ppd, fast, cuts.data(), num,
                               ln_fms, ln_frs, wk);
    evaluations += fine.nodes;
    const bool done = Agree(fine.ins, coarse.ins, fine.all, rule.rtol) &&
                      Agree(fine.mrg, coarse.mrg, fine.all, rule.rtol) &&
                      Agree(fine.rd, coarse.rd, fine.all, rule.rtol);
    coarse = fine;
    if (done || !std::isfinite(fine.all)) break;
  }
  coarse.outside = zero.outside;
  coarse.nodes = evaluations;
  return coarse;
}

bool KinksValid(const double* kinks, std::int64_t num_kinks) {
  if (num_kinks < 0 || (num_kinks > 0 && kinks == nullptr)) return false;
  for (std::int64_t k = 0; k < num_kinks; ++k)
    if (!(kinks[k] > 0.0) || !std::isfinite(kinks[k])) return false;
  return true;
}

void KinkBreaks(const phenomd_noise_table& t, const double* kinks,
                std::int64_t num_kinks, std::vector<double>& ln_breaks) {
  ln_breaks.clear();
  const double per_ln_f = 1.0 / (kLn10 * t.dlog10_f);
  const double offset = t.log10_f0 / t.dlog10_f;
  for (std::int64_t k = 0; k < num_kinks; ++k) {
    const double ln_k = std::log(kinks[k]);
    ln_breaks.push_back(ln_k);
    const double x = ln_k * per_ln_f - offset;
    for (double m = std::ceil(x) - 2.0; m <= std::floor(x) + 2.0; m += 1.0)
      ln_breaks.push_back((m + offset) / per_ln_f);
  }
  std::sort(ln_breaks.begin(), ln_breaks.end());
}

void CumulativeEdges(const QuadratureWork& work, double ln_f0,
                     std::vector<std::pair<double, double>>& out) {
  out.clear();
  // (hi, sum) of every panel that counts, in ascending order: the panels
  // of the pieces come in order, the parts of split panels after them.
  for (const Panel& q : work.panels)
    if (!q.split) out.emplace_back(q.hi, q.sum);
  std::sort(out.begin(), out.end(),
            [](const std::pair<double, double>& a,
               const std::pair<double, double>& b) { return a.first < b.first; });
  double running = 0.0;
  for (auto& e : out) {
    running += e.second;
    e.second = running;
  }
  out.insert(out.begin(), {ln_f0, 0.0});
}

}  // namespace population
}  // namespace phenomd

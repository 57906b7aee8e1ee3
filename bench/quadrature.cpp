// The population module's Gauss-Legendre SNRs against its trapezoid, in
// process, on a LISA-like population: converged SNRs per second with two
// threads (fast and exact rows), the trapezoid at L = 1000 in the same run,
// the accuracy of each against converged values, peak RSS, and the
// calibration of the fixed rule (panels per decade against rtol) beside the
// adaptive one (panels doubled until two estimates agree).
//
//   build/bin/quadrature_bench [N] [REPS]        throughput table
//   build/bin/quadrature_bench calibrate [N]     accuracy / cost per rule
//
// The noise is LISA's sky-averaged sensitivity of Robson, Cornish & Liu
// (2019), Eqs. (1)-(14), with the 4-year galactic foreground, tabulated as
// ln h_n (h_n = sqrt(f S_n)) at 1/2048 dex over 1e-5-1 Hz.
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "phenomd_population.h"
#include "quadrature.h"

namespace {

double LisaLnHn(double f) {
  const double L = 2.5e9, fs = 19.09e-3, pi = 3.14159265358979323846;
  const double p_oms = 1.5e-11 * 1.5e-11 * (1.0 + std::pow(2e-3 / f, 4));
  const double p_acc = 3e-15 * 3e-15 * (1.0 + std::pow(0.4e-3 / f, 2)) *
                       (1.0 + std::pow(f / 8e-3, 4));
  const double c = std::cos(f / fs);
  const double pn = p_oms / (L * L) +
                    2.0 * (1.0 + c * c) * p_acc / (std::pow(2 * pi * f, 4) * L * L);
  const double sc = 9e-45 * std::pow(f, -7.0 / 3.0) *
                    std::exp(-std::pow(f, 0.138) - 221.0 * f * std::sin(521.0 * f)) *
                    (1.0 + std::tanh(1680.0 * (0.00113 - f)));
  const double sn = 10.0 / 3.0 * pn * (1.0 + 0.6 * (f / fs) * (f / fs)) + sc;
  return 0.5 * std::log(f * sn);
}

struct Table {
  std::vector<double> ln_hn;
  phenomd_noise_table t;
};

Table LisaTable() {
  Table tab;
  const double d = 1.0 / 2048, f_min = 1e-5, f_max = 1.0;
  const double lo = std::log10(f_min) - d;
  const int nodes = static_cast<int>(std::ceil((std::log10(f_max) - lo) / d)) + 3;
  for (int k = 0; k < nodes; ++k)
    tab.ln_hn.push_back(LisaLnHn(std::pow(10.0, lo + k * d)));
  tab.t = {lo, d, tab.ln_hn.data(), nodes, f_min, f_max};
  return tab;
}

struct Stream {
  std::uint64_t s;
  double U(double lo, double hi) {
    std::uint64_t z = (s += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    z ^= z >> 31;
    return lo + (hi - lo) * (static_cast<double>(z >> 11) * 0x1p-53);
  }
  double LogU(double lo, double hi) {
    return std::pow(10.0, U(std::log10(lo), std::log10(hi)));
  }
};

struct Inputs {
  std::size_t n;
  std::vector<double> m1, m2, s1, s2, dist, z, t0, t1, k;
};

// The population of the trapezoid's accuracy measurement: total masses
// 1e4-1e8 M_sun, q 0.1-1, |chi| < 0.9, z 0.1-10, 4 years to merger, the
// averaged factor sqrt(16/5).  `broad`: masses 1e2-1e9, q 1e-3-1, spins
// +-0.99, z 1e-3-20, bands from a day to a century, one in four ending
// before merger.
Inputs Draw(std::size_t n, std::uint64_t seed, bool broad) {
  Stream r{seed};
  Inputs in;
  in.n = n;
  for (auto* v : {&in.m1, &in.m2, &in.s1, &in.s2, &in.dist, &in.z, &in.t0,
                  &in.t1, &in.k})
    v->resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double M = broad ? r.LogU(1e2, 1e9) : r.LogU(1e4, 1e8);
    const double q = broad ? r.LogU(1e-3, 1.0) : r.U(0.1, 1.0);
    const double chi = broad ? 0.99 : 0.9;
    in.m1[i] = M / (1.0 + q);
    in.m2[i] = M * q / (1.0 + q);
    in.s1[i] = r.U(-chi, chi);
    in.s2[i] = r.U(-chi, chi);
    in.z[i] = broad ? r.LogU(1e-3, 20.0) : r.LogU(0.1, 10.0);
    // Luminosity distance: only a scale here (the SNR's accuracy is
    // relative); c z / H0 with H0 = 70 km/s/Mpc times (1 + z).
    in.dist[i] = 4282.7 * in.z[i] * (1.0 + in.z[i]);
    in.t0[i] = broad ? r.LogU(1.0 / 365.25, 100.0) : 4.0;
    in.t1[i] = broad && r.U(0.0, 1.0) < 0.25 ? in.t0[i] * r.U(0.01, 0.9) : 0.0;
    in.k[i] = std::sqrt(16.0 / 5.0);
  }
  return in;
}

struct Outputs {
  std::vector<double> all, ins, mrg, rd, fm, fr;
  std::vector<std::int64_t> out;
  std::vector<unsigned char> inv;
  explicit Outputs(std::size_t n)
      : all(n), ins(n), mrg(n), rd(n), fm(n), fr(n), out(n), inv(n) {}
};

using phenomd::population::QuadratureRule;

// Runs [lo, hi) of the batch by the trapezoid (length > 0) or a rule.
int RunRange(const Inputs& in, Outputs& o, const phenomd_noise_table& t,
             std::size_t lo, std::size_t hi, int length,
             const QuadratureRule* rule, int fast) {
  const std::int64_t m = static_cast<std::int64_t>(hi - lo);
  if (rule == nullptr)
    return phenomd_population_snr(
        &o.all[lo], &o.ins[lo], &o.mrg[lo], &o.rd[lo], &o.fm[lo], &o.fr[lo],
        &o.out[lo], &o.inv[lo], &in.m1[lo], &in.m2[lo], &in.s1[lo], &in.s2[lo],
        &in.dist[lo], &in.z[lo], &in.t0[lo], &in.t1[lo], &in.k[lo], &t, m,
        length, fast);
  return phenomd::population::GaussPopulationSnr(
      &o.all[lo], &o.ins[lo], &o.mrg[lo], &o.rd[lo], &o.fm[lo], &o.fr[lo],
      &o.out[lo], &o.inv[lo], &in.m1[lo], &in.m2[lo], &in.s1[lo], &in.s2[lo],
      &in.dist[lo], &in.z[lo], &in.t0[lo], &in.t1[lo], &in.k[lo], &t, nullptr,
      0, m, *rule, fast);
}

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + 1e-9 * t.tv_nsec;
}

// CPU seconds of the last Run (all threads), beside its wall seconds.
double g_last_cpu = 0.0;

// Wall seconds for the whole batch on `threads` threads, chunks of 4096.
double Run(const Inputs& in, Outputs& o, const phenomd_noise_table& t,
           int threads, int length, const QuadratureRule* rule, int fast) {
  const std::size_t chunk = 4096;
  std::atomic<std::size_t> next{0};
  const double c0 = CpuSeconds();
  const auto t0 = std::chrono::steady_clock::now();
  auto work = [&] {
    for (;;) {
      const std::size_t lo = next.fetch_add(chunk);
      if (lo >= in.n) return;
      const std::size_t hi = std::min(in.n, lo + chunk);
      if (RunRange(in, o, t, lo, hi, length, rule, fast) != 0) std::abort();
    }
  };
  std::vector<std::thread> pool;
  for (int k = 1; k < threads; ++k) pool.emplace_back(work);
  work();
  for (auto& th : pool) th.join();
  g_last_cpu = CpuSeconds() - c0;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0)
      .count();
}

// Largest relative error of each SNR against the reference, over binaries
// whose phase carries at least 1e-3 of the total rho^2 (the total always).
struct Errors {
  double all = 0, ins = 0, mrg = 0, rd = 0;
  double Max() const { return std::max({all, ins, mrg, rd}); }
};

Errors Compare(const Outputs& got, const Outputs& ref, std::size_t n) {
  Errors e;
  auto rel = [](double g, double r) { return std::fabs(g - r) / r; };
  for (std::size_t i = 0; i < n; ++i) {
    const double tot2 = ref.all[i] * ref.all[i];
    if (!(ref.all[i] > 0.0)) continue;
    e.all = std::max(e.all, rel(got.all[i], ref.all[i]));
    if (ref.ins[i] * ref.ins[i] >= 1e-3 * tot2)
      e.ins = std::max(e.ins, rel(got.ins[i], ref.ins[i]));
    if (ref.mrg[i] * ref.mrg[i] >= 1e-3 * tot2)
      e.mrg = std::max(e.mrg, rel(got.mrg[i], ref.mrg[i]));
    if (ref.rd[i] * ref.rd[i] >= 1e-3 * tot2)
      e.rd = std::max(e.rd, rel(got.rd[i], ref.rd[i]));
  }
  return e;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

long PeakRssMb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss / 1024;
}

// The converged reference: 16 nodes, 64 panels per decade (its own error
// is checked against 128 panels per decade and printed).
Outputs Converged(const Inputs& in, const phenomd_noise_table& t, int threads) {
  QuadratureRule r{16, 64.0, false, 1e-14};
  Outputs ref(in.n), finer(in.n);
  Run(in, ref, t, threads, 0, &r, 0);
  QuadratureRule r2{16, 128.0, false, 1e-14};
  Run(in, finer, t, threads, 0, &r2, 0);
  const Errors e = Compare(ref, finer, in.n);
  std::printf("# reference (16 nodes, 64/decade) vs 128/decade: %.1e\n", e.Max());
  return ref;
}

void Calibrate(std::size_t n) {
  const Table tab = LisaTable();
  if (std::getenv("QB_CELLS") != nullptr) {
    std::vector<double> cells;
    phenomd::population::CellWidths(tab.t, 8, 1e-6, cells);
    for (std::size_t c = 0; c < cells.size(); ++c)
      if (cells[c] < 1.0)
        std::printf("cell %zu f=%.3g width %.3g (ln f)\n", c,
                    std::pow(10.0, tab.t.log10_f0 + c * 64.0 * tab.t.dlog10_f),
                    cells[c]);
    return;
  }
  for (int broad = 0; broad < 2; ++broad) {
    const Inputs in = Draw(n, broad ? 7 : 3, broad != 0);
    std::printf("# %s population, %zu binaries\n",
                broad ? "broad" : "LISA", n);
    const Outputs ref = Converged(in, tab.t, 2);
    std::printf("%-28s %10s %10s %10s %10s %10s %9s\n", "rule", "all", "ins",
                "mrg", "rd", "nodes/bin", "us/bin");
    auto show = [&](const char* name, const QuadratureRule* r, int length) {
      Outputs o(in.n);
      const double s = Run(in, o, tab.t, 1, length, r, 1);
      // Nodes per binary: recount with the same rule, one binary at a time.
      double nodes = length;
      if (r != nullptr) {
        phenomd::population::QuadratureWork wk;
        std::vector<double> cells;
        phenomd::population::CellWidths(tab.t, r->nodes, r->rtol, cells);
        const phenomd::population::NoiseView nv =
            phenomd::population::ViewOf(tab.t, nullptr, 0, &cells);
        const phenomd::CallContext c;
        const phenomd::RingdownTables rt;
        phenomd::BinarySetup b;
        double sum = 0;
        for (std::size_t i = 0; i < in.n; ++i) {
          phenomd::SetUpBinary(c, rt, in.m1[i], in.m2[i], in.s1[i], in.s2[i],
                               in.dist[i], in.z[i], in.t0[i], in.t1[i], b);
          sum += static_cast<double>(
              phenomd::population::IntegrateBinary(
                  b, phenomd::BreaksOf(c, b), nv, in.k[i], *r, true, wk)
                  .nodes);
        }
        nodes = sum / static_cast<double>(in.n);
      }
      const Errors e = Compare(o, ref, in.n);
      if (std::getenv("QB_WORST") != nullptr && r != nullptr && r->nodes == 8 &&
          r->panels_per_decade == 3.0 && !r->adaptive) {
        for (std::size_t i = 0; i < in.n; ++i) {
          const double t2 = ref.all[i] * ref.all[i];
          auto bad = [&](double g, double w) {
            return w * w >= 1e-3 * t2 && std::fabs(g - w) > 1e-5 * w;
          };
          if (bad(o.ins[i], ref.ins[i]) || bad(o.rd[i], ref.rd[i]) ||
              bad(o.mrg[i], ref.mrg[i]))
            std::printf("  worst? i=%zu m1=%g m2=%g s=%g,%g z=%g t=%g,%g "
                        "fm=%g fr=%g ins %g/%g mrg %g/%g rd %g/%g\n",
                        i, in.m1[i], in.m2[i], in.s1[i], in.s2[i], in.z[i],
                        in.t0[i], in.t1[i], ref.fm[i], ref.fr[i], o.ins[i],
                        ref.ins[i], o.mrg[i], ref.mrg[i], o.rd[i], ref.rd[i]);
        }
      }
      std::printf("%-28s %10.1e %10.1e %10.1e %10.1e %10.1f %9.2f\n", name,
                  e.all, e.ins, e.mrg, e.rd, nodes, 1e6 * s / in.n);
    };
    show("trapezoid L=1000", nullptr, 1000);
    show("trapezoid L=2000", nullptr, 2000);
    for (int nodes : {8, 12, 16}) {
      for (double ppd : {1.0, 2.0, 3.0, 4.0, 6.0, 8.0}) {
        QuadratureRule r{nodes, ppd, false, 1e-8};
        char name[64];
        std::snprintf(name, sizeof name, "fixed n=%d ppd=%g", nodes, ppd);
        show(name, &r, 0);
      }
    }
    for (double rtol : {1e-4, 1e-6, 1e-8, 1e-10}) {
      QuadratureRule r = phenomd::population::RuleForTolerance(rtol);
      char name[64];
      std::snprintf(name, sizeof name, "RuleForTolerance(%g)", rtol);
      show(name, &r, 0);
      for (int nodes : {8, 16}) {
        QuadratureRule a{nodes, 1.0, true, rtol};
        std::snprintf(name, sizeof name, "adaptive n=%d rtol=%g", nodes, rtol);
        show(name, &a, 0);
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "calibrate") == 0) {
    Calibrate(argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 2000);
    return 0;
  }
  const std::size_t n = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000000;
  const int reps = argc > 2 ? std::atoi(argv[2]) : 3;
  const double rtol = 1e-6;
  const Table tab = LisaTable();
  const Inputs in = Draw(n, 11, false);
  const long rss_inputs = PeakRssMb();
  Outputs o(n);
  const QuadratureRule rule = phenomd::population::RuleForTolerance(rtol);
  if (argc > 3) {
    // One method alone, one thread (for a profiler): gauss-fast,
    // gauss-exact or trapezoid.
    const std::string m = argv[3];
    const double s = m == "trapezoid" ? Run(in, o, tab.t, 1, 1000, nullptr, 1)
                                      : Run(in, o, tab.t, 1, 0, &rule, m == "gauss-fast");
    std::printf("%s: %.3f s, %.2f us per binary (CPU %.2f us), one thread\n",
                m.c_str(), s, 1e6 * s / n, 1e6 * g_last_cpu / n);
    return 0;
  }
  std::vector<double> gf, ge, tz, cf, ce, ct;
  // Interleaved repetitions: the machine is shared, so the ratio is taken
  // within each round; CPU seconds (all threads) beside wall seconds.
  for (int k = 0; k < reps; ++k) {
    gf.push_back(Run(in, o, tab.t, 2, 0, &rule, 1));
    cf.push_back(g_last_cpu);
    ge.push_back(Run(in, o, tab.t, 2, 0, &rule, 0));
    ce.push_back(g_last_cpu);
    tz.push_back(Run(in, o, tab.t, 2, 1000, nullptr, 1));
    ct.push_back(g_last_cpu);
  }
  const long rss = PeakRssMb();
  std::printf("binaries %zu, reps %d, 2 threads, rtol %g (%d nodes, %.2f "
              "panels/decade)\n", n, reps, rtol, rule.nodes,
              rule.panels_per_decade);
  // "2 cores' worth": binaries per CPU second times two, what two
  // uncontended threads would give.
  auto line = [&](const char* name, const std::vector<double>& wall,
                  const std::vector<double>& cpu) {
    std::printf("%-22s wall median %.3f s = %5.0f k/s; CPU median %.3f s = "
                "%5.0f k/s on 2 cores' worth\n", name, Median(wall),
                n / Median(wall) / 1e3, Median(cpu), 2.0 * n / Median(cpu) / 1e3);
  };
  line("gauss fast", gf, cf);
  line("gauss exact", ge, ce);
  line("trapezoid L=1000 fast", tz, ct);
  std::vector<double> ratio, cratio;
  for (int k = 0; k < reps; ++k) {
    ratio.push_back(tz[k] / gf[k]);
    cratio.push_back(ct[k] / cf[k]);
  }
  std::printf("speed-up gauss fast over trapezoid L=1000 (median of rounds): "
              "wall %.2f, CPU %.2f\n", Median(ratio), Median(cratio));
  std::printf("peak RSS %ld MB (after drawing inputs: %ld MB)\n", rss, rss_inputs);
  // Accuracy on the first 20000 binaries against the converged reference.
  const std::size_t m = std::min<std::size_t>(n, 20000);
  Inputs sub = in;
  sub.n = m;
  const Outputs ref = Converged(sub, tab.t, 2);
  for (int fast : {1, 0}) {
    Outputs g(m);
    Run(sub, g, tab.t, 2, 0, &rule, fast);
    const Errors e = Compare(g, ref, m);
    std::printf("gauss %s vs converged (%zu binaries): all %.1e ins %.1e mrg %.1e rd %.1e\n",
                fast ? "fast " : "exact", m, e.all, e.ins, e.mrg, e.rd);
  }
  Outputs tzo(m);
  Run(sub, tzo, tab.t, 2, 1000, nullptr, 1);
  const Errors e = Compare(tzo, ref, m);
  std::printf("trapezoid L=1000 vs converged: all %.1e ins %.1e mrg %.1e rd %.1e\n",
              e.all, e.ins, e.mrg, e.rd);
  return 0;
}

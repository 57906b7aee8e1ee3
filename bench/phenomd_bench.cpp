// Benchmarks of the exact and the fast module against the floors of the
// model's arithmetic.  Batch sizes: PHENOMD_BENCH_BINARIES x
// PHENOMD_BENCH_POINTS for the grid cases (default 10000 x 1000, beyond the
// caches), PHENOMD_BENCH_SHORT_BINARIES x 8 for the short rows and x 0 for
// the per-binary cost without a grid (default 100000).  All inputs are built
// outside the timed loops, from fixed seeds.  The modules are loaded with
// dlopen: PHENOMD_EXACT_MODULE and PHENOMD_FAST_MODULE (a path, or none)
// override the ones built alongside.
#include <benchmark/benchmark.h>

#include <dlfcn.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <tuple>

#include "phenomd_population.h"
#include "workload.h"

namespace {

using bench::Band;
using bench::Batch;
using bench::Module;

int EnvInt(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != '\0' ? std::atoi(v) : fallback;
}

const int kBinaries = EnvInt("PHENOMD_BENCH_BINARIES", 10000);
const int kPoints = EnvInt("PHENOMD_BENCH_POINTS", 1000);
const int kShortBinaries = EnvInt("PHENOMD_BENCH_SHORT_BINARIES", 100000);

Module g_exact;
Module g_fast;
bool g_have_fast = false;

const char* BandName(Band b) {
  switch (b) {
    case Band::kInspiral:
      return "inspiral";
    case Band::kFull:
      return "full";
    case Band::kAbovePeak:
      return "above_peak";
  }
  return "?";
}

// Batches are built on first use and shared by the exact and fast runs and
// by every repetition (each run overwrites the same output arrays).
Batch* GetBatch(Band band, int n, int length) {
  static std::map<std::tuple<int, int, int>, std::unique_ptr<Batch>> cache;
  auto key = std::make_tuple(static_cast<int>(band), n, length);
  auto it = cache.find(key);
  if (it != cache.end()) return it->second.get();
  auto b = std::make_unique<Batch>();
  std::string error;
  if (!bench::MakeBatch(g_exact, band, n, length,
                        0x5eed0000u + static_cast<unsigned>(band), b.get(),
                        &error)) {
    std::fprintf(stderr, "batch %s: %s\n", BandName(band), error.c_str());
    std::exit(1);
  }
  return (cache[key] = std::move(b)).get();
}

void SetCounters(benchmark::State& state, double points, double binaries) {
  state.counters["points"] = points;
  state.counters["binaries"] = binaries;
  state.SetItemsProcessed(static_cast<std::int64_t>(
      static_cast<double>(state.iterations()) *
      (points > 0 ? points : (binaries > 0 ? binaries : 1.0))));
}

void BM_Amplitude(benchmark::State& state, const Module* m, Band band, int n,
                  int length) {
  Batch* b = GetBatch(band, n, length);
  for (auto _ : state) {
    b->Run(*m);
    benchmark::DoNotOptimize(b->hc.data());
    benchmark::DoNotOptimize(b->freqs.data());
    benchmark::ClobberMemory();
  }
  SetCounters(state, static_cast<double>(b->points()), b->n);
}

void BM_AmplitudeEmpty(benchmark::State& state, const Module* m) {
  // num_binaries = 0: the call builds and releases the two ringdown splines
  // and returns.
  double out[4] = {0, 0, 0, 0};
  const double in[1] = {1.0};
  for (auto _ : state) {
    m->amplitude(out, out + 1, out + 2, out + 3, in, in, in, in, in, in, in, in,
                 0, 8);
    benchmark::ClobberMemory();
  }
  SetCounters(state, 0.0, 0.0);
}

void BM_AmplitudeFloor(benchmark::State& state, Band band) {
  Batch* b = GetBatch(band, kBinaries, kPoints);
  static std::map<int, std::vector<bench::FloorRow>> cache;
  auto& rows = cache[static_cast<int>(band)];
  if (rows.empty()) rows = bench::FloorRows(g_exact, *b);
  for (auto _ : state) {
    double sink = bench::AmplitudeFloor(rows);
    benchmark::DoNotOptimize(sink);
  }
  SetCounters(state, static_cast<double>(b->points()), b->n);
}

// SNR inputs: the exact module's full-band rows and a smooth noise curve.
struct SnrInputs {
  int n, length;
  std::vector<double> freqs, hc, hn, f_merger_start, f_ringdown_start;
  std::vector<double> snr_all, snr_ins, snr_mrg, snr_rd;
};

SnrInputs* GetSnrInputs() {
  static std::unique_ptr<SnrInputs> s;
  if (s) return s.get();
  Batch* b = GetBatch(Band::kFull, kBinaries, kPoints);
  b->Run(g_exact);
  s = std::make_unique<SnrInputs>();
  s->n = b->n;
  s->length = b->length;
  s->freqs = b->freqs;
  s->hc = b->hc;
  s->f_merger_start = b->f_merger_start;
  s->f_ringdown_start = b->f_ringdown_start;
  s->hn.resize(s->freqs.size());
  for (std::size_t k = 0; k < s->freqs.size(); ++k) {
    const double x = s->freqs[k] / 3e-3;
    s->hn[k] = 1e-20 * std::sqrt(1.0 + 1.0 / (x * x * x * x) + x * x);
  }
  s->snr_all.resize(s->n);
  s->snr_ins.resize(s->n);
  s->snr_mrg.resize(s->n);
  s->snr_rd.resize(s->n);
  return s.get();
}

void BM_Snr(benchmark::State& state, const Module* m) {
  SnrInputs* s = GetSnrInputs();
  for (auto _ : state) {
    m->snr(s->snr_all.data(), s->snr_ins.data(), s->snr_mrg.data(),
           s->snr_rd.data(), s->freqs.data(), s->hc.data(), s->hn.data(),
           s->f_merger_start.data(), s->f_ringdown_start.data(), s->length,
           s->n);
    benchmark::DoNotOptimize(s->snr_all.data());
    benchmark::ClobberMemory();
  }
  SetCounters(state, static_cast<double>(s->freqs.size()), s->n);
}

void BM_SnrFloor(benchmark::State& state) {
  SnrInputs* s = GetSnrInputs();
  for (auto _ : state) {
    double sink = bench::SnrFloor(s->freqs.data(), s->hc.data(), s->hn.data(),
                                  s->n, s->length);
    benchmark::DoNotOptimize(sink);
  }
  SetCounters(state, static_cast<double>(s->freqs.size()), s->n);
}

// The population module on the full-band batch: the same rows as
// amplitude/full, with the noise from a table and the SNR summed in one
// call, so that population/full/X over amplitude/full/X is the cost of the
// whole SNR relative to the row alone.
using PopulationFn = decltype(&phenomd_population_snr);
PopulationFn g_population = nullptr;
std::string g_population_path;

// A smooth noise curve over 1e-7-10 Hz (the batch's frequencies), as
// ln h_n at 1/4096 dex with one node of padding below and two above.
struct PopulationTable {
  std::vector<double> ln_hn;
  phenomd_noise_table table;
  std::vector<double> factor;
  std::vector<double> snr_all, snr_ins, snr_mrg, snr_rd, f_mrg, f_rd;
  std::vector<std::int64_t> n_outside;
};

PopulationTable* GetPopulationTable(int n) {
  static std::unique_ptr<PopulationTable> t;
  if (t) return t.get();
  t = std::make_unique<PopulationTable>();
  const double d = 1.0 / 4096, lo = -7.0, hi = 1.0;
  const int nodes = static_cast<int>((hi - lo) / d) + 4;
  for (int k = 0; k < nodes; ++k) {
    const double x = std::pow(10.0, lo - d + k * d) / 3e-3;
    t->ln_hn.push_back(
        std::log(1e-20 * std::sqrt(1.0 + 1.0 / (x * x * x * x) + x * x)));
  }
  t->table = {lo - d, d, t->ln_hn.data(), nodes, 1e-7, 10.0};
  t->factor.assign(n, std::sqrt(16.0 / 5.0));
  for (auto* v : {&t->snr_all, &t->snr_ins, &t->snr_mrg, &t->snr_rd,
                  &t->f_mrg, &t->f_rd})
    v->resize(n);
  t->n_outside.resize(n);
  return t.get();
}

void BM_Population(benchmark::State& state, int fast) {
  Batch* b = GetBatch(Band::kFull, kBinaries, kPoints);
  PopulationTable* t = GetPopulationTable(b->n);
  for (auto _ : state) {
    const int rc = g_population(
        t->snr_all.data(), t->snr_ins.data(), t->snr_mrg.data(),
        t->snr_rd.data(), t->f_mrg.data(), t->f_rd.data(),
        t->n_outside.data(), nullptr, b->m1.data(), b->m2.data(), b->s1.data(),
        b->s2.data(), b->dist.data(), b->z.data(), b->t_start.data(),
        b->t_end.data(), t->factor.data(), &t->table, b->n, b->length, fast);
    if (rc != PHENOMD_POPULATION_OK) {
      state.SkipWithError("phenomd_population_snr failed");
      break;
    }
    benchmark::DoNotOptimize(t->snr_all.data());
    benchmark::ClobberMemory();
  }
  SetCounters(state, static_cast<double>(b->points()), b->n);
}

void RegisterModule(const char* variant, const Module* m) {
  using benchmark::RegisterBenchmark;
  for (Band band : {Band::kInspiral, Band::kFull, Band::kAbovePeak}) {
    const std::string name =
        std::string("amplitude/") + BandName(band) + "/" + variant;
    RegisterBenchmark(name.c_str(), BM_Amplitude, m, band, kBinaries, kPoints)
        ->Unit(benchmark::kMillisecond);
  }
  RegisterBenchmark((std::string("amplitude/short_rows/") + variant).c_str(),
                    BM_Amplitude, m, Band::kFull, kShortBinaries, 8)
      ->Unit(benchmark::kMillisecond);
  RegisterBenchmark((std::string("amplitude/no_grid/") + variant).c_str(),
                    BM_Amplitude, m, Band::kFull, kShortBinaries, 0)
      ->Unit(benchmark::kMillisecond);
  RegisterBenchmark((std::string("amplitude/empty/") + variant).c_str(),
                    BM_AmplitudeEmpty, m)
      ->Unit(benchmark::kMicrosecond);
  RegisterBenchmark((std::string("snr/full/") + variant).c_str(), BM_Snr, m)
      ->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
#ifndef PHENOMD_EXACT_MODULE
#define PHENOMD_EXACT_MODULE "libphenomd.so"
#endif
  const char* exact = std::getenv("PHENOMD_EXACT_MODULE");
  if (!g_exact.Load(exact ? exact : PHENOMD_EXACT_MODULE, &error)) {
    std::fprintf(stderr, "cannot load the exact module: %s\n", error.c_str());
    return 1;
  }
  // PHENOMD_EXACT_MODULE / PHENOMD_FAST_MODULE override the built modules
  // (e.g. to time an older build); PHENOMD_FAST_MODULE=none leaves the fast
  // module out.
  std::string fast_path;
#ifdef PHENOMD_FAST_MODULE
  fast_path = PHENOMD_FAST_MODULE;
#endif
  if (const char* p = std::getenv("PHENOMD_FAST_MODULE")) fast_path = p;
  if (!fast_path.empty() && fast_path != "none") {
    g_have_fast = g_fast.Load(fast_path, &error);
    if (!g_have_fast) {
      std::fprintf(stderr, "no fast module: %s\n", error.c_str());
    }
  }
  RegisterModule("exact", &g_exact);
  if (g_have_fast) RegisterModule("fast", &g_fast);
  for (Band band : {Band::kInspiral, Band::kFull, Band::kAbovePeak}) {
    benchmark::RegisterBenchmark(
        (std::string("floor/") + BandName(band)).c_str(), BM_AmplitudeFloor,
        band)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("floor/snr", BM_SnrFloor)
      ->Unit(benchmark::kMillisecond);

  // PHENOMD_POPULATION_MODULE=path|none overrides the population module.
#ifdef PHENOMD_POPULATION_MODULE
  g_population_path = PHENOMD_POPULATION_MODULE;
#endif
  if (const char* p = std::getenv("PHENOMD_POPULATION_MODULE"))
    g_population_path = p;
  if (!g_population_path.empty() && g_population_path != "none") {
    void* h = dlopen(g_population_path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (h != nullptr)
      g_population = reinterpret_cast<PopulationFn>(
          dlsym(h, "phenomd_population_snr"));
    if (g_population == nullptr) {
      std::fprintf(stderr, "no population module: %s\n",
                   h == nullptr ? dlerror() : "symbol missing");
      g_population_path = "none";
    }
  }
  if (g_population != nullptr) {
    benchmark::RegisterBenchmark("population/full/exact", BM_Population, 0)
        ->Unit(benchmark::kMillisecond);
    if (g_have_fast)
      benchmark::RegisterBenchmark("population/full/fast", BM_Population, 1)
          ->Unit(benchmark::kMillisecond);
  }

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::AddCustomContext("exact_module", g_exact.path);
  benchmark::AddCustomContext("fast_module",
                              g_have_fast ? g_fast.path : "none");
  benchmark::AddCustomContext("population_module",
                              g_population_path.empty() ? "none"
                                                        : g_population_path);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

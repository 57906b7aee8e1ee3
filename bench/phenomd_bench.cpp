// Benchmarks of the exact and the fast module against the floors of the
// model's arithmetic.  Batch sizes: PHENOMD_BENCH_BINARIES x
// PHENOMD_BENCH_POINTS for the grid cases (default 10000 x 1000, beyond the
// caches), PHENOMD_BENCH_SHORT_BINARIES x 8 for the short rows and x 0 for
// the per-binary cost without a grid (default 100000).  All inputs are built
// outside the timed loops, from fixed seeds.  The modules are loaded with
// dlopen: PHENOMD_EXACT_MODULE and PHENOMD_FAST_MODULE (a path, or none)
// override the ones built alongside.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <tuple>

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

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::AddCustomContext("exact_module", g_exact.path);
  benchmark::AddCustomContext("fast_module",
                              g_have_fast ? g_fast.path : "none");
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

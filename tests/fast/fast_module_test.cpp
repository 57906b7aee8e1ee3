// The two built modules loaded side by side, as a host chooses between them
// at load time: the fast one agrees with the exact one to 1e-14 relative in
// every frequency and in every strain up to the point's conditioning (the
// model's objects, linked here, give each binary's coefficients for that),
// writes the same sentinels, NaN rows and boundaries, and computes the same
// SNRs.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "amp_model.h"
#include "conditioning.h"
#include "hexfloat.h"
#include "phenomd.h"
#include "relative.h"

namespace {

// The entry points' types from the header; their addresses come from dlsym.
using AmplitudeFn = decltype(&Amplitude);
using SnrFn = decltype(&SNR_function);

struct Module {
  void* handle = nullptr;
  AmplitudeFn amplitude = nullptr;
  SnrFn snr = nullptr;

  explicit Module(const char* path) {
    handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return;
    amplitude = reinterpret_cast<AmplitudeFn>(dlsym(handle, "Amplitude"));
    snr = reinterpret_cast<SnrFn>(dlsym(handle, "SNR_function"));
  }
  ~Module() {
    if (handle != nullptr) dlclose(handle);
  }
  bool ok() const { return amplitude != nullptr && snr != nullptr; }
};

struct Inputs {
  std::vector<double> m1, m2, s1, s2, dist, z, t0, t1;
  int n = 0;
};

struct Outputs {
  std::vector<double> freqs, hc, fm, fr;
  Outputs(int n, int len)
      : freqs(static_cast<std::size_t>(n) * len, -7.0),
        hc(static_cast<std::size_t>(n) * len, -7.0),
        fm(n, -7.0),
        fr(n, -7.0) {}
};

Outputs RunModule(const Module& m, const Inputs& in, int len) {
  Outputs o(in.n, len);
  EXPECT_EQ(0, m.amplitude(o.freqs.data(), o.hc.data(), o.fm.data(),
                           o.fr.data(), in.m1.data(), in.m2.data(),
                           in.s1.data(), in.s2.data(), in.dist.data(),
                           in.z.data(), in.t0.data(), in.t1.data(), in.n, len));
  return o;
}

// Total masses 1 to 1e9 M_sun, mass ratios 1-50 (either body first), spins
// over [-1, 1] (ends included, and a few outside, whose remnants are out of
// range), redshifts 0-10, band starts from minutes to centuries before
// merger, ends at 0 (through ringdown) or earlier (some inverted).
Inputs BroadBatch(int n, std::uint64_t seed) {
  fast_test::Stream r(seed);
  Inputs in;
  in.n = n;
  for (int i = 0; i < n; ++i) {
    const double M = r.LogUniform(1.0, 1e9);
    const double q = r.LogUniform(1.0, 50.0);
    const bool swap = r.Uniform(0.0, 1.0) < 0.5;
    in.m1.push_back(swap ? M / (1.0 + q) : M * q / (1.0 + q));
    in.m2.push_back(swap ? M * q / (1.0 + q) : M / (1.0 + q));
    double s1 = r.Uniform(-1.0, 1.0), s2 = r.Uniform(-1.0, 1.0);
    if (i % 97 == 0) s1 = s2 = 1.0;
    if (i % 97 == 1) s1 = s2 = -1.0;
    if (i % 211 == 2) s1 = s2 = 2.0;  // remnant out of range: NaN row
    in.s1.push_back(s1);
    in.s2.push_back(s2);
    const double z = r.Uniform(0.0, 10.0);
    in.z.push_back(z);
    in.dist.push_back(r.LogUniform(10.0, 1e6));
    // Times in years scaled with the mass so that bands cover every regime.
    const double scale = M * (1.0 + z) / 1e6;
    in.t0.push_back(scale * r.LogUniform(1e-6, 1e2));
    in.t1.push_back(
        r.Uniform(0.0, 1.0) < 0.5 ? 0.0 : scale * r.LogUniform(1e-7, 1e1));
  }
  return in;
}

class FastModule : public ::testing::Test {
 protected:
  Module exact_{PHENOMD_EXACT_MODULE_PATH};
  Module fast_{PHENOMD_FAST_MODULE_PATH};
  void SetUp() override {
    ASSERT_TRUE(exact_.ok()) << dlerror();
    ASSERT_TRUE(fast_.ok()) << dlerror();
  }
};

TEST_F(FastModule, AgreesWithTheExactModuleTo1e14OverABroadRandomBatch) {
  const Inputs in = BroadBatch(4000, 77);
  fast_test::Agreement freqs, strains;
  long sentinel_points = 0, nan_points = 0, over_1e14 = 0;
  const phenomd::RingdownTables tables;
  const phenomd::CallConstants constants = phenomd::CallConstants::Make(Pi);
  for (int len : {256, 1, 7}) {
    const Outputs e = RunModule(exact_, in, len);
    const Outputs f = RunModule(fast_, in, len);
    for (int i = 0; i < in.n; ++i) {
      // The binary's model as the driver fills it (heavier body first).
      const bool first = in.m1[i] > in.m2[i];
      const double M = in.m1[i] + in.m2[i];
      const double eta = (in.m1[i] * in.m2[i]) / (M * M);
      phenomd::AmpModel a;
      phenomd::FillAmpModel(eta, first ? in.s1[i] : in.s2[i],
                            first ? in.s2[i] : in.s1[i], constants, tables, a);
      const double Msec = MTSUN * ((in.z[i] + 1.0) * M);
      for (std::size_t k = static_cast<std::size_t>(i) * len;
           k < static_cast<std::size_t>(i + 1) * len; ++k) {
        if (e.freqs[k] == 1e-30) {
          ++sentinel_points;
          ASSERT_EQ(f.freqs[k], 1e-30) << k;
          ASSERT_EQ(f.hc[k], 1e-60) << k;
          continue;
        }
        if (std::isnan(e.hc[k])) ++nan_points;
        freqs.Check(f.freqs[k], e.freqs[k], 1e-14, "freqs",
                    static_cast<long>(k));
        const double cond = fast_test::StrainCondition(a, e.freqs[k] * Msec);
        strains.Check(f.hc[k], e.hc[k], fast_test::StrainTolerance(cond), "hc",
                      static_cast<long>(k));
        if (std::fabs(f.hc[k] - e.hc[k]) > 1e-14 * std::fabs(e.hc[k])) {
          ++over_1e14;
        }
      }
    }
    for (int i = 0; i < in.n; ++i) {
      ASSERT_TRUE(phenomd_test::SameBits(f.fm[i], e.fm[i])) << i;
      ASSERT_TRUE(phenomd_test::SameBits(f.fr[i], e.fr[i])) << i;
    }
  }
  EXPECT_EQ(freqs.failures + strains.failures, 0);
  // The batch reaches the special rows.
  EXPECT_GT(sentinel_points, 1000);
  EXPECT_GT(nan_points, 100);
  std::printf(
      "%ld points compared, max relative difference freqs %.3g, hc %.3g; "
      "%ld strains beyond 1e-14 (ill-conditioned points)\n",
      freqs.compared, freqs.max_rel, strains.max_rel, over_1e14);
}

TEST_F(FastModule, SnrIsTheExactModulesOnTheSameInputs) {
  const Inputs in = BroadBatch(500, 78);
  const int len = 200;
  const Outputs e = RunModule(exact_, in, len);
  std::vector<double> hn(e.freqs.size());
  for (std::size_t k = 0; k < hn.size(); ++k) {
    hn[k] = 1e-21 * (1.0 + 1e-6 / (e.freqs[k] * e.freqs[k]));
  }
  std::vector<double> out[2][4];
  const Module* mods[2] = {&exact_, &fast_};
  for (int v = 0; v < 2; ++v) {
    for (auto& o : out[v]) o.assign(in.n, -7.0);
    mods[v]->snr(out[v][0].data(), out[v][1].data(), out[v][2].data(),
                 out[v][3].data(), e.freqs.data(), e.hc.data(), hn.data(),
                 e.fm.data(), e.fr.data(), len, in.n);
  }
  for (int c = 0; c < 4; ++c) {
    for (int i = 0; i < in.n; ++i) {
      ASSERT_TRUE(phenomd_test::SameBits(out[1][c][i], out[0][c][i]))
          << c << " " << i;
    }
  }
}

// A band of 3e-14 relative near Mf ~ 0.8, where the grid's exponents differ
// by an ulp of x from one point to the next: with an exp10 good to an ulp,
// neighbouring frequencies came out one ulp apart in the wrong order
// (0.30968033304387826 Hz then 0.3096803330438782 Hz with the AVX-512
// kernel).  Both modules' grids ascend; the fast one's stays within 1e-14 of
// the exact one's.
TEST_F(FastModule, NarrowBandNearMfOneAscendsInBothModules) {
  Inputs in;
  in.n = 1;
  in.m1 = {203147.81104742832};
  in.m2 = {135431.8740316189};
  in.s1 = {0.3};
  in.s2 = {0.1};
  in.dist = {100.0};
  in.z = {0.5};
  in.t0 = {6.46081957118185e-9};
  in.t1 = {6.46081957118185e-9 * (1.0 - 3e-14)};
  const int len = 300;
  const Outputs e = RunModule(exact_, in, len);
  const Outputs f = RunModule(fast_, in, len);
  long out_of_order = 0;
  for (int k = 1; k < len; ++k) {
    for (const Outputs* o : {&e, &f}) {
      if (!(o->freqs[k] >= o->freqs[k - 1]) && out_of_order++ < 3) {
        ADD_FAILURE() << (o == &e ? "exact" : "fast") << " grid descends at "
                      << k << ": " << phenomd_test::Hex(o->freqs[k - 1])
                      << " then " << phenomd_test::Hex(o->freqs[k]);
      }
    }
    EXPECT_LE(std::fabs(f.freqs[k] - e.freqs[k]), 1e-14 * e.freqs[k]) << k;
  }
  EXPECT_EQ(out_of_order, 0);
}

}  // namespace

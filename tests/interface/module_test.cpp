// Loads the built shared module at run time, as a host's foreign-function
// interface does, and resolves the interface by its unmangled names.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "phenomd.h"

namespace {

// The entry points' types from the header; their addresses come from dlsym.
using AmplitudeFn = decltype(&Amplitude);
using SnrFn = decltype(&SNR_function);

class LoadedModule : public ::testing::Test {
 protected:
  void SetUp() override {
    handle_ = dlopen(PHENOMD_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
  }
  void TearDown() override {
    if (handle_ != nullptr) dlclose(handle_);
  }
  void* Symbol(const char* name) {
    void* p = dlsym(handle_, name);
    EXPECT_NE(p, nullptr) << "missing symbol " << name;
    return p;
  }
  double& Constant(const char* name) {
    return *static_cast<double*>(Symbol(name));
  }
  void* handle_ = nullptr;
};

// The values are those the interface defines (constants.cpp): a regression
// snapshot of this library's definitions.  MTSUN is MRSUN over the speed of
// light, to the last bit (independent computation).
TEST_F(LoadedModule, ExportsTheSevenConstantsWithTheirValues) {
  EXPECT_EQ(Constant("Pi"), 3.1415926536);
  EXPECT_EQ(Constant("PARSEC_TO_METERS"), 3.08567782e16);
  EXPECT_EQ(Constant("SECONDS_PER_YEAR"), 31557600.0);
  EXPECT_EQ(Constant("SPEED_OF_LIGHT"), 299792458.0);
  EXPECT_EQ(Constant("M_SUN"), 1.98855e30);
  EXPECT_EQ(Constant("MRSUN"), 1476.6250614046494);
  EXPECT_EQ(Constant("MTSUN"), 4.925491025543576e-06);
  EXPECT_EQ(Constant("MTSUN"), Constant("MRSUN") / Constant("SPEED_OF_LIGHT"));
}

TEST_F(LoadedModule, EntryPointsRunABatchAndReturnZero) {
  auto amplitude = reinterpret_cast<AmplitudeFn>(Symbol("Amplitude"));
  auto snr = reinterpret_cast<SnrFn>(Symbol("SNR_function"));
  ASSERT_NE(amplitude, nullptr);
  ASSERT_NE(snr, nullptr);
  const int n = 2, len = 64;
  const double m1[] = {1e6, 3e4}, m2[] = {1e6, 1e5}, s1[] = {0.0, 0.3},
               s2[] = {0.0, -0.2}, d[] = {6791.0, 1e4}, z[] = {1.0, 1.5},
               t0[] = {4.0, 1.0}, t1[] = {0.0, 0.0};
  std::vector<double> f(n * len), hc(n * len), hn(n * len);
  double fm[n], fr[n];
  EXPECT_EQ(amplitude(f.data(), hc.data(), fm, fr, m1, m2, s1, s2, d, z, t0, t1,
                      n, len),
            0);
  for (int k = 0; k < n * len; ++k) {
    ASSERT_TRUE(std::isfinite(hc[k]) && hc[k] > 0.0) << k;
    hn[k] = 1e-20;
  }
  double all[n], ins[n], mrg[n], rd[n];
  EXPECT_EQ(
      snr(all, ins, mrg, rd, f.data(), hc.data(), hn.data(), fm, fr, len, n),
      0);
  for (int i = 0; i < n; ++i) {
    EXPECT_GT(ins[i], 0.0);
    EXPECT_GT(mrg[i], 0.0);
    EXPECT_GT(rd[i], 0.0);
    EXPECT_NEAR(all[i] * all[i],
                ins[i] * ins[i] + mrg[i] * mrg[i] + rd[i] * rd[i],
                1e-12 * all[i] * all[i]);
  }
}

// The constants are read at each call, so a host that changes one sees the
// change; f_merger_start = 1 / (6^(3/2) Pi Msec) scales as 1/Pi.
TEST_F(LoadedModule, ReadsTheWritableConstantsAtEachCall) {
  auto amplitude = reinterpret_cast<AmplitudeFn>(Symbol("Amplitude"));
  ASSERT_NE(amplitude, nullptr);
  double& pi = Constant("Pi");
  const double m = 1e6, s = 0.0, d = 1e3, z = 0.0, t0 = 1.0, t1 = 0.0;
  double f[2], h[2], fm0, fr0, fm1, fr1;
  amplitude(f, h, &fm0, &fr0, &m, &m, &s, &s, &d, &z, &t0, &t1, 1, 2);
  const double saved = pi;
  pi = 2.0 * saved;
  amplitude(f, h, &fm1, &fr1, &m, &m, &s, &s, &d, &z, &t0, &t1, 1, 2);
  pi = saved;
  EXPECT_NEAR(fm1, fm0 / 2.0, 1e-15 * fm0);
}

}  // namespace

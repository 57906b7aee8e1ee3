// With GSL's error handler turned off by the host, a failed allocation inside
// the ringdown interpolants must not be dereferenced: Amplitude returns 0 and
// marks every output NaN.  malloc and calloc are interposed for the whole process (the
// executable's definition wins over libc's for libgsl too) and fails the
// n-th call after arming.
#include <gsl/gsl_errno.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstddef>

#include "phenomd.h"

extern "C" void* __libc_malloc(std::size_t);
extern "C" void* __libc_calloc(std::size_t, std::size_t);

namespace {
std::atomic<long> g_countdown{-1};  // -1: disarmed; 0: fail the next call
std::atomic<long> g_failures{0};
}  // namespace

namespace {
// Counts one allocation down; true when it is the one to fail.
bool FailThisOne() {
  long c = g_countdown.load();
  while (c >= 0 && !g_countdown.compare_exchange_weak(c, c - 1)) {
  }
  if (c != 0) return false;
  ++g_failures;
  return true;
}
}  // namespace

extern "C" void* malloc(std::size_t size) {
  return FailThisOne() ? nullptr : __libc_malloc(size);
}

extern "C" void* calloc(std::size_t count, std::size_t size) {
  return FailThisOne() ? nullptr : __libc_calloc(count, size);
}

namespace {

TEST(AllocationFailure, MarksEveryOutputNaNAndReturnsZero) {
  gsl_error_handler_t* previous = gsl_set_error_handler_off();
  const double m1[] = {1e6, 3e5}, m2[] = {1e6, 1e5}, s[] = {0.1, -0.2},
               d[] = {1e3, 2e3}, z[] = {0.5, 1.0}, t0[] = {4.0, 2.0},
               t1[] = {0.0, 0.0};
  int failed_runs = 0;
  bool reached_success = false;
  for (long n = 0; n < 64 && !reached_success; ++n) {
    double f[2 * 16], hc[2 * 16], fm[2], fr[2];
    const long failures_before = g_failures.load();
    g_countdown.store(n);
    const int rc = Amplitude(f, hc, fm, fr, m1, m2, s, s, d, z, t0, t1, 2, 16);
    g_countdown.store(-1);
    ASSERT_EQ(rc, 0);
    if (g_failures.load() == failures_before) {
      reached_success = true;  // the n-th allocation came after the call
      EXPECT_TRUE(std::isfinite(hc[0]) && hc[0] > 0.0);
      continue;
    }
    ++failed_runs;
    for (int k = 0; k < 32; ++k) {
      EXPECT_TRUE(std::isnan(f[k]) && std::isnan(hc[k])) << "n=" << n;
    }
    EXPECT_TRUE(std::isnan(fm[0]) && std::isnan(fm[1]) && std::isnan(fr[0]) &&
                std::isnan(fr[1]));
  }
  gsl_set_error_handler(previous);
  // The interpolants allocate at least their two accelerators and splines.
  EXPECT_GE(failed_runs, 4);
  EXPECT_TRUE(reached_success);
}

}  // namespace

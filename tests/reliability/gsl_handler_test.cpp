// GSL's error handler, whose default aborts the host process, is never
// reached from any input, and the library installs no handler of its own.
#include <gsl/gsl_errno.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "phenomd.h"

namespace {

int g_gsl_errors = 0;
void RecordGslError(const char*, const char*, int, int) { ++g_gsl_errors; }

TEST(GslErrorHandler, IsNeverReachedFromAdversarialInputs) {
  g_gsl_errors = 0;
  gsl_error_handler_t* previous = gsl_set_error_handler(&RecordGslError);
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double values[] = {0.0,  -0.0, 1e-310, -1.0, 1.0,  1.5,  -1.5, 1e300,
                           -1e300, inf, -inf,  nan,  0.3,  1e6,  4.0,  -7.0};
  const int nv = sizeof values / sizeof values[0];
  const int n = 512, len = 8;
  std::vector<double> in[8];
  for (int k = 0; k < 8; ++k) {
    for (int i = 0; i < n; ++i) in[k].push_back(values[(i * (k + 3) + k * k) % nv]);
  }
  std::vector<double> f(n * len), hc(n * len), fm(n), fr(n);
  EXPECT_EQ(Amplitude(f.data(), hc.data(), fm.data(), fr.data(), in[0].data(),
                      in[1].data(), in[2].data(), in[3].data(), in[4].data(),
                      in[5].data(), in[6].data(), in[7].data(), n, len),
            0);
  std::vector<double> all(n), ins(n), mrg(n), rd(n);
  EXPECT_EQ(SNR_function(all.data(), ins.data(), mrg.data(), rd.data(),
                         f.data(), hc.data(), hc.data(), fm.data(), fr.data(),
                         len, n),
            0);
  // The library left our handler in place and never called it.
  EXPECT_EQ(gsl_set_error_handler(previous), &RecordGslError);
  EXPECT_EQ(g_gsl_errors, 0);
}

}  // namespace

// GSL's error handler (whose default aborts the host) is never reached from
// any input, and the library never replaces the host's handler.
#include <gsl/gsl_errno.h>
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "phenomd.h"

namespace {

int g_handler_calls = 0;
void RecordingHandler(const char*, const char*, int, int) { ++g_handler_calls; }

// Installs the recording handler for the test's lifetime, then restores the
// previous one.
class GslHandler : public ::testing::Test {
 protected:
  void SetUp() override {
    g_handler_calls = 0;
    previous_ = gsl_set_error_handler(&RecordingHandler);
  }
  void TearDown() override { gsl_set_error_handler(previous_); }
  gsl_error_handler_t* previous_ = nullptr;
};

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Values every input is tried with: specials, edges of the spin range (and an
// ulp beyond), and ordinary values.
const std::vector<double>& Specials() {
  static const std::vector<double> v = {
      kNaN, -kNaN, kInf, -kInf, 0.0, -0.0, DBL_TRUE_MIN, -DBL_TRUE_MIN,
      DBL_MIN, DBL_MAX, -DBL_MAX, 1.0, -1.0, std::nextafter(1.0, 2.0),
      std::nextafter(-1.0, -2.0), std::nextafter(1.0, 0.0), 0.5, -0.5, 1e-300,
      1e300, 3.0, 1e5, 4.0, 0.01};
  return v;
}

// A batch mixing, per input, a special value and a physical one.
struct Adversarial {
  std::vector<double> m1, m2, s1, s2, d, z, t0, t1;
  int n = 0;
  explicit Adversarial(int count) {
    std::mt19937_64 gen(7);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const std::vector<double>& sp = Specials();
    auto pick = [&](double physical) {
      return u(gen) < 0.5 ? sp[gen() % sp.size()] : physical;
    };
    for (int i = 0; i < count; ++i) {
      const double mass = std::pow(10.0, 11.0 * u(gen) - 1.0);
      m1.push_back(pick(mass));
      m2.push_back(pick(mass * std::pow(10.0, -3.0 * u(gen))));
      // Spins near and beyond the ends of [-1, 1], where the remnant spin
      // leaves the tables.
      s1.push_back(pick(u(gen) < 0.5 ? 2.2 * u(gen) - 1.1 : 1.0 - 1e-3 * u(gen)));
      s2.push_back(pick(2.2 * u(gen) - 1.1));
      d.push_back(pick(std::pow(10.0, 8.0 * u(gen) - 3.0)));
      z.push_back(pick(10.0 * u(gen)));
      t0.push_back(pick(std::pow(10.0, 10.0 * u(gen) - 8.0)));
      t1.push_back(pick(u(gen) < 0.5 ? 0.0 : std::pow(10.0, 6.0 * u(gen) - 8.0)));
    }
    n = count;
  }
};

TEST_F(GslHandler, IsNeverCalledFromAdversarialBatchesOfAnyLength) {
  const Adversarial b(4000);
  for (int length : {INT_MIN, -1, 0, 1, 2, 17}) {
    const std::size_t cells = length > 0 ? std::size_t(b.n) * length : 0;
    std::vector<double> f(cells), hc(cells), fm(b.n), fr(b.n);
    ASSERT_EQ(Amplitude(f.data(), hc.data(), fm.data(), fr.data(), b.m1.data(),
                        b.m2.data(), b.s1.data(), b.s2.data(), b.d.data(),
                        b.z.data(), b.t0.data(), b.t1.data(), b.n, length),
              0);
    // Noise with specials too, over the grids just computed.
    std::vector<double> hn(cells);
    for (std::size_t k = 0; k < cells; ++k) {
      hn[k] = k % 5 == 0 ? Specials()[k % Specials().size()] : 1e-20;
    }
    std::vector<double> a(b.n), ins(b.n), mrg(b.n), rd(b.n);
    ASSERT_EQ(SNR_function(a.data(), ins.data(), mrg.data(), rd.data(),
                           f.data(), hc.data(), hn.data(), fm.data(), fr.data(),
                           length, b.n),
              0);
  }
  EXPECT_EQ(g_handler_calls, 0);
}

TEST_F(GslHandler, EverySpinPairOfSpecialsWithEveryMassRatioStaysInRange) {
  // One-at-a-time is not enough for the remnant: it depends on both spins
  // and the mass ratio together.
  std::vector<double> m1, m2, s1, s2;
  for (double a : Specials()) {
    for (double b : Specials()) {
      for (double q : {1.0, 1.0 + 1e-15, 3.0, 1e3, 1e8}) {
        m1.push_back(1e6);
        m2.push_back(1e6 / q);
        s1.push_back(a);
        s2.push_back(b);
      }
    }
  }
  const int n = static_cast<int>(m1.size());
  const std::vector<double> d(n, 1e3), z(n, 1.0), t0(n, 1.0), t1(n, 0.0);
  std::vector<double> f(n * 8), hc(n * 8), fm(n), fr(n);
  Amplitude(f.data(), hc.data(), fm.data(), fr.data(), m1.data(), m2.data(),
            s1.data(), s2.data(), d.data(), z.data(), t0.data(), t1.data(), n,
            8);
  EXPECT_EQ(g_handler_calls, 0);
}

TEST_F(GslHandler, TheHostsHandlerIsStillInstalledAfterBothCalls) {
  const Adversarial b(50);
  std::vector<double> f(b.n * 4), hc(b.n * 4), fm(b.n), fr(b.n);
  Amplitude(f.data(), hc.data(), fm.data(), fr.data(), b.m1.data(),
            b.m2.data(), b.s1.data(), b.s2.data(), b.d.data(), b.z.data(),
            b.t0.data(), b.t1.data(), b.n, 4);
  std::vector<double> hn(b.n * 4, 1e-20), snr(b.n);
  SNR_function(snr.data(), snr.data(), snr.data(), snr.data(), f.data(),
               hc.data(), hn.data(), fm.data(), fr.data(), 4, b.n);
  // Swapping the handler back returns whatever was installed: still ours.
  EXPECT_EQ(gsl_set_error_handler(&RecordingHandler), &RecordingHandler);
}

}  // namespace

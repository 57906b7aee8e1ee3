// The Gauss-Legendre SNRs of the population module against an independent
// integration of the same integrand: adaptive Simpson in ln f, written
// here, of (k hc / h_n)^2 with hc the model's strain at each frequency and
// h_n read back from the table by the test utility's own interpolation,
// over the band's part inside the table, split only at the two phase
// boundaries (the definition of the phases).  And the model at any
// frequency against the grid's rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "batch.h"
#include "binary.h"
#include "grid.h"
#include "phenomd_population.h"
#include "population_test_util.h"
#include "strain_at.h"

namespace {

using population_test::Stream;

// The broad population of the quadrature's accuracy: total masses 1e2-1e9
// M_sun, q 1e-3-1, spins +-0.99, z 1e-3-20, bands from an hour to a
// century before merger, one in five ending early and one in ten inverted
// (ending before it starts), so that bands start and end inside, below and
// above the tables' ranges.
population_test::Batch Population(int n, std::uint64_t seed) {
  Stream r(seed);
  population_test::Batch b;
  b.n = n;
  for (int i = 0; i < n; ++i) {
    const double M = r.LogUniform(1e2, 1e9), q = r.LogUniform(1e-3, 1.0);
    b.m1.push_back(M / (1.0 + q));
    b.m2.push_back(M * q / (1.0 + q));
    b.s1.push_back(r.Uniform(-0.99, 0.99));
    b.s2.push_back(r.Uniform(-0.99, 0.99));
    b.z.push_back(r.LogUniform(1e-3, 20.0));
    b.dist.push_back(r.LogUniform(1.0, 1e5));
    const double t0 = r.LogUniform(1e-4, 100.0);
    const double u = r.Uniform(0.0, 1.0);
    b.t0.push_back(t0);
    b.t1.push_back(u < 0.1 ? t0 * 2.0 : (u < 0.3 ? t0 * r.Uniform(0.01, 0.9) : 0.0));
    b.factor.push_back(r.Uniform(1.0, std::sqrt(8.0)));
  }
  return b;
}

// A second curve, with a knee: ln h_n the larger of two power laws meeting
// at 0.3 Hz (declared to the module as a kink), times a ripple
// 1 + 0.01 sin(20 ln f) that needs panels finer than the rule's own.
constexpr double kKnee = 0.3;
double KneeLnHn(double f) {
  const double a = std::log(1e-21) - 0.5 * std::log(f / kKnee);
  const double b = std::log(1e-21) + 1.5 * std::log(f / kKnee);
  return std::max(a, b) + std::log(1.0 + 0.01 * std::sin(20.0 * std::log(f)));
}

population_test::Table KneeTable(double f_min, double f_max, int per_dex) {
  population_test::Table tab;
  const double d = 1.0 / per_dex;
  const double lo = std::log10(f_min) - d;
  const int nodes = static_cast<int>(std::ceil((std::log10(f_max) - lo) / d)) + 3;
  for (int k = 0; k < nodes; ++k)
    tab.ln_hn.push_back(KneeLnHn(std::pow(10.0, lo + k * d)));
  tab.t = {lo, d, nullptr, nodes, f_min, f_max};
  tab.t.ln_hn = tab.ln_hn.data();
  return tab;
}

struct Reference {
  double all, ins, mrg, rd;
};

// (k hc / h_n)^2 at ln f for one binary.
struct Integrand {
  const phenomd::BinarySetup& b;
  const phenomd_noise_table& t;
  double k;
  double operator()(double x) const {
    const double f = std::exp(x);
    double hc;
    phenomd::StrainAtExact(b, &f, 1, &hc);
    const double r = k * hc / population_test::TableHn(t, f);
    return r * r;
  }
};

// Adaptive Simpson on [a, c] to an absolute tolerance, with Richardson's
// correction on each accepted interval.
template <class F>
double Simpson(const F& g, double a, double c, double fa, double fm, double fc,
               double whole, double tol, int depth) {
  const double m = 0.5 * (a + c), l = 0.5 * (a + m), r = 0.5 * (m + c);
  const double fl = g(l), fr = g(r);
  const double left = (m - a) / 6.0 * (fa + 4.0 * fl + fm);
  const double right = (c - m) / 6.0 * (fm + 4.0 * fr + fc);
  const double delta = left + right - whole;
  if (depth <= 0 || std::fabs(delta) <= 15.0 * tol)
    return left + right + delta / 15.0;
  return Simpson(g, a, m, fa, fl, fm, left, 0.5 * tol, depth - 1) +
         Simpson(g, m, c, fm, fr, fc, right, 0.5 * tol, depth - 1);
}

template <class F>
double Integrate(const F& g, double a, double c, double tol) {
  if (!(a < c)) return 0.0;
  // Start from 64 intervals so that no feature hides between the first
  // three points.
  double sum = 0.0;
  const int parts = 64;
  for (int i = 0; i < parts; ++i) {
    const double lo = a + (c - a) * i / parts, hi = a + (c - a) * (i + 1) / parts;
    const double flo = g(lo), fm = g(0.5 * (lo + hi)), fhi = g(hi);
    sum += Simpson(g, lo, hi, flo, fm, fhi, (hi - lo) / 6.0 * (flo + 4 * fm + fhi),
                   tol / parts, 40);
  }
  return sum;
}

Reference ReferenceSnr(const population_test::Batch& p, int i,
                       const phenomd_noise_table& t) {
  const phenomd::CallContext c;
  const phenomd::RingdownTables tables;
  phenomd::BinarySetup b;
  phenomd::SetUpBinary(c, tables, p.m1[i], p.m2[i], p.s1[i], p.s2[i], p.dist[i],
                       p.z[i], p.t0[i], p.t1[i], b);
  const phenomd::BinaryBreaks br = phenomd::BreaksOf(c, b);
  if (br.inverted) return {0, 0, 0, 0};
  const double lo = std::max(std::log(br.f_start), std::log(t.f_min));
  const double hi = std::min(std::log(br.f_end), std::log(t.f_max));
  const Integrand g{b, t, p.factor[i]};
  const double fm = std::log(br.f_merger_start), fr = std::log(br.f_ringdown_start);
  // A first look fixes the absolute tolerance: 1e-13 of the total.
  const double scale = Integrate(g, lo, hi, INFINITY);
  const double tol = 1e-13 * scale;
  const double ins = Integrate(g, lo, std::min(hi, fm), tol);
  const double rd = Integrate(g, std::max(lo, std::max(fm, fr)), hi, tol);
  const double mrg = Integrate(g, std::max(lo, fm), std::min(hi, fr), tol);
  return {std::sqrt(ins + mrg + rd), std::sqrt(ins), std::sqrt(mrg), std::sqrt(rd)};
}

struct Out {
  std::vector<double> all, ins, mrg, rd, fm, fr;
  std::vector<std::int64_t> outside;
  std::vector<unsigned char> inverted;
  explicit Out(int n)
      : all(n), ins(n), mrg(n), rd(n), fm(n), fr(n), outside(n), inverted(n) {}
};

int Gauss(const population_test::Batch& p, const phenomd_noise_table& t,
          const std::vector<double>& kinks, double rtol, int fast, Out& o) {
  return phenomd_population_snr_gauss(
      o.all.data(), o.ins.data(), o.mrg.data(), o.rd.data(), o.fm.data(),
      o.fr.data(), o.outside.data(), o.inverted.data(), p.m1.data(),
      p.m2.data(), p.s1.data(), p.s2.data(), p.dist.data(), p.z.data(),
      p.t0.data(), p.t1.data(), p.factor.data(), &t,
      kinks.empty() ? nullptr : kinks.data(),
      static_cast<std::int64_t>(kinks.size()), p.n, rtol, fast);
}

// Every SNR within rtol of the reference, for each phase carrying at least
// 1e-3 of the total rho^2; inverted bands 0 and flagged; n_outside the band
// ends outside the table's range.  Two curves: the smooth one of the
// module's tests over 1e-4-1 Hz, and the knee with its ripple over
// 1e-2-1e3 Hz with the knee declared.
TEST(GaussQuadrature, AllFourSnrsWithinRtolOfAnIndependentIntegral) {
  const int n = 60;
  const population_test::Batch p = Population(n, 20261209);
  const population_test::Table smooth = population_test::MakeTable(1e-4, 1.0, 256);
  const population_test::Table knee = KneeTable(1e-2, 1e3, 1024);
  // The trapezoid entry's flag of inverted bands (Amplitude's sentinel
  // rows), to compare with.
  std::vector<unsigned char> inverted_rows(n);
  {
    Out o(n);
    ASSERT_EQ(phenomd_population_snr(
                  o.all.data(), o.ins.data(), o.mrg.data(), o.rd.data(),
                  o.fm.data(), o.fr.data(), o.outside.data(),
                  inverted_rows.data(), p.m1.data(), p.m2.data(), p.s1.data(),
                  p.s2.data(), p.dist.data(), p.z.data(), p.t0.data(),
                  p.t1.data(), p.factor.data(), &smooth.t, n, 2, 0),
              PHENOMD_POPULATION_OK);
  }
  // rtol 1e-9 only on the smooth curve: the ripple's interpolant has
  // derivative jumps at the table's nodes of about 1e-9 of the curve.
  struct Curve {
    const phenomd_noise_table* t;
    std::vector<double> kinks;
    std::vector<double> rtols;
  };
  const Curve curves[] = {{&smooth.t, {}, {1e-4, 1e-6, 1e-9}},
                          {&knee.t, {kKnee}, {1e-4, 1e-6}}};
  int inverted = 0, crossing = 0;
  for (const Curve& cv : curves) {
    std::vector<Reference> ref;
    for (int i = 0; i < n; ++i) ref.push_back(ReferenceSnr(p, i, *cv.t));
    for (double rtol : cv.rtols) {
      for (int fast : {0, 1}) {
        if (fast && !phenomd_population_has_fast_row()) continue;
        Out o(n);
        ASSERT_EQ(Gauss(p, *cv.t, cv.kinks, rtol, fast, o), PHENOMD_POPULATION_OK);
        for (int i = 0; i < n; ++i) {
          SCOPED_TRACE(testing::Message() << "binary " << i << " rtol " << rtol
                                          << " fast " << fast);
          const Reference& r = ref[i];
          const double tot2 = r.all * r.all;
          auto check = [&](double got, double want, const char* what) {
            if (want * want < 1e-3 * tot2) return;
            EXPECT_LE(std::fabs(got - want), rtol * want) << what;
          };
          check(o.all[i], r.all, "all");
          check(o.ins[i], r.ins, "ins");
          check(o.mrg[i], r.mrg, "mrg");
          check(o.rd[i], r.rd, "rd");
          // The squares of the phases add up to the total's.
          EXPECT_NEAR(o.ins[i] * o.ins[i] + o.mrg[i] * o.mrg[i] + o.rd[i] * o.rd[i],
                      o.all[i] * o.all[i], 1e-12 * o.all[i] * o.all[i]);
          const bool inv = inverted_rows[i] != 0;
          EXPECT_EQ(o.inverted[i], inv ? 1 : 0);
          if (inv) {
            EXPECT_EQ(o.all[i], 0.0);
            EXPECT_EQ(o.outside[i], 0);
            inverted += fast == 0 && rtol == 1e-6;
          }
          crossing += o.outside[i] == 1 && fast == 0 && rtol == 1e-6;
        }
      }
    }
  }
  // The population did exercise the inverted and the edge-crossing bands.
  EXPECT_GT(inverted, 0);
  EXPECT_GT(crossing, 5);
}

// The model at any frequency: StrainAtExact at the grid's frequencies is
// ExactRow's strain to the rounding of Mf = f Msec; StrainAtFast agrees with
// it to 1e-12 relative.
TEST(GaussQuadrature, StrainAtAnyFrequencyMatchesTheGridRow) {
  const population_test::Batch p = Population(40, 7);
  const phenomd::CallContext c;
  const phenomd::RingdownTables tables;
  const int len = 300;
  std::vector<double> freqs(len), hc(len), at(len), fast(len), ln_f(len),
      work(3 * len);
  double fm, fr;
  for (int i = 0; i < p.n; ++i) {
    const phenomd::BinaryBand band = phenomd::AmplitudeOfBinary(
        phenomd::ExactRow, c, tables, p.m1[i], p.m2[i], p.s1[i], p.s2[i],
        p.dist[i], p.z[i], p.t0[i], 0.0, len, freqs.data(), hc.data(), &fm, &fr);
    phenomd::BinarySetup b;
    phenomd::SetUpBinary(c, tables, p.m1[i], p.m2[i], p.s1[i], p.s2[i],
                         p.dist[i], p.z[i], p.t0[i], 0.0, b);
    EXPECT_EQ(phenomd::BreaksOf(c, b).f_merger_start, fm);
    EXPECT_EQ(phenomd::BreaksOf(c, b).f_ringdown_start, fr);
    if (band.inverted) continue;
    phenomd::StrainAtExact(b, freqs.data(), len, at.data());
    for (int j = 0; j < len; ++j) ln_f[j] = std::log(freqs[j]);
    phenomd::StrainAtFast(b, ln_f.data(), len, fast.data(), work.data());
    for (int j = 0; j < len; ++j) {
      // Mf = f Msec differs from the grid's Mf by an ulp or two: the strain
      // by the model's local slope (|d ln hc / d ln Mf| < 10) times that.
      EXPECT_NEAR(at[j], hc[j], 1e-13 * hc[j]) << i << " " << j;
      EXPECT_NEAR(fast[j], at[j], 1e-12 * at[j]) << i << " " << j;
    }
  }
}

// Arguments the quadrature cannot use are refused before anything is
// written.
TEST(GaussQuadrature, RefusesBadToleranceAndKinks) {
  const population_test::Batch p = Population(3, 1);
  const population_test::Table smooth = population_test::MakeTable(1e-4, 1.0, 256);
  Out o(3);
  o.all.assign(3, -1.0);
  for (double rtol : {0.0, 1e-11, 0.2, double(NAN)})
    EXPECT_EQ(Gauss(p, smooth.t, {}, rtol, 0, o), PHENOMD_POPULATION_BAD_ARGUMENT);
  for (double kink : {0.0, -1.0, double(INFINITY), double(NAN)})
    EXPECT_EQ(Gauss(p, smooth.t, {kink}, 1e-6, 0, o), PHENOMD_POPULATION_BAD_ARGUMENT);
  EXPECT_EQ(o.all, std::vector<double>(3, -1.0));
}

}  // namespace

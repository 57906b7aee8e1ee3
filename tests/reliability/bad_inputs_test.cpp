// What the library writes for each kind of bad input (docs/bad_inputs.md):
// the call returns 0, writes only its own arrays, leaves the other binaries
// of the batch as they would be alone, and marks the bad row in the way
// documented for that kind.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "phenomd.h"
#include "phenomd/batch.h"
#include "phenomd/hexfloat.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kSentinelFreq = 1e-30;
constexpr double kSentinelStrain = 1e-60;
constexpr double kUntouched = -7.25;  // prefill of every output cell

using phenomd_test::Binary;

// A binary well inside the model's range; its band runs through ringdown.
constexpr Binary kGood = {1e5, 5e4, 0.3, 0.1, 1e3, 1.0, 1.0, 0.0};

// Outputs of one Amplitude call, each array with a guard cell on both sides.
struct Result {
  int n, length;
  std::vector<double> freqs, hc, fm, fr;  // guarded: [guard, data..., guard]
  int ret;

  double f(int i, int j) const { return freqs[1 + i * length + j]; }
  double h(int i, int j) const { return hc[1 + i * length + j]; }
  double merger(int i) const { return fm[1 + i]; }
  double ringdown(int i) const { return fr[1 + i]; }
  const double* freq_row(int i) const { return &freqs[1 + i * length]; }
  const double* strain_row(int i) const { return &hc[1 + i * length]; }
  const double* merger_at(int i) const { return &fm[1 + i]; }
  const double* ringdown_at(int i) const { return &fr[1 + i]; }
  bool GuardsIntact() const {
    for (const std::vector<double>* v : {&freqs, &hc, &fm, &fr}) {
      if (v->front() != kUntouched || v->back() != kUntouched) return false;
    }
    return true;
  }
};

Result RunAmplitude(const std::vector<Binary>& bs, int length) {
  Result r;
  r.n = static_cast<int>(bs.size());
  r.length = length;
  const std::size_t cells = length > 0 ? bs.size() * length : 0;
  r.freqs.assign(cells + 2, kUntouched);
  r.hc.assign(cells + 2, kUntouched);
  r.fm.assign(bs.size() + 2, kUntouched);
  r.fr.assign(bs.size() + 2, kUntouched);
  r.ret = phenomd_test::InputColumns(bs).Amplitude(
      r.freqs.data() + 1, r.hc.data() + 1, r.fm.data() + 1, r.fr.data() + 1,
      r.n, length);
  return r;
}

using phenomd_test::SameBits;

// Row i of `got` is bit for bit row j of `want`, boundaries included.
void ExpectSameRow(const Result& got, int i, const Result& want, int j) {
  for (int k = 0; k < got.length; ++k) {
    EXPECT_TRUE(SameBits(got.f(i, k), want.f(j, k))) << "point " << k;
    EXPECT_TRUE(SameBits(got.h(i, k), want.h(j, k))) << "point " << k;
  }
  EXPECT_TRUE(SameBits(got.merger(i), want.merger(j)));
  EXPECT_TRUE(SameBits(got.ringdown(i), want.ringdown(j)));
}

void ExpectSentinelRow(const Result& r, int i) {
  for (int k = 0; k < r.length; ++k) {
    EXPECT_EQ(r.f(i, k), kSentinelFreq) << "point " << k;
    EXPECT_EQ(r.h(i, k), kSentinelStrain) << "point " << k;
  }
}

void ExpectAllNaN(const std::vector<double>& row_values) {
  for (double v : row_values) EXPECT_TRUE(std::isnan(v)) << v;
}

std::vector<double> FreqRow(const Result& r, int i) {
  std::vector<double> v;
  for (int k = 0; k < r.length; ++k) v.push_back(r.f(i, k));
  return v;
}
std::vector<double> StrainRow(const Result& r, int i) {
  std::vector<double> v;
  for (int k = 0; k < r.length; ++k) v.push_back(r.h(i, k));
  return v;
}

// Every kind of bad value the table lists, one binary each.
std::vector<Binary> EveryBadKind() {
  std::vector<Binary> v;
  for (double bad : {0.0, -1e5, kNaN, kInf, -kInf}) {
    Binary b = kGood;
    b.m1 = bad;
    v.push_back(b);
    b = kGood;
    b.m2 = bad;
    v.push_back(b);
  }
  for (double bad : {0.0, -1e3, kNaN, kInf}) {
    Binary b = kGood;
    b.dist = bad;
    v.push_back(b);
  }
  for (double bad : {-1.0, -3.0, kNaN, kInf}) {
    Binary b = kGood;
    b.z = bad;
    v.push_back(b);
  }
  for (double bad : {0.0, -1.0, kNaN, kInf}) {
    Binary b = kGood;
    b.t_start = bad;
    v.push_back(b);
  }
  for (double bad : {kNaN, kInf, -kInf}) {
    Binary b = kGood;
    b.t_end = bad;
    v.push_back(b);
  }
  for (double bad : {1.01, 1.5, -4.0, kNaN, kInf}) {
    Binary b = kGood;
    b.spin1 = bad;
    v.push_back(b);
  }
  return v;
}

TEST(BadInputs, LeaveTheOtherBinariesOfTheBatchAsTheyWouldBeAlone) {
  const Result alone = RunAmplitude({kGood}, 24);
  std::vector<Binary> batch;
  for (const Binary& bad : EveryBadKind()) {
    batch.push_back(kGood);
    batch.push_back(bad);
  }
  batch.push_back(kGood);
  const Result r = RunAmplitude(batch, 24);
  EXPECT_EQ(r.ret, 0);
  EXPECT_TRUE(r.GuardsIntact());
  for (int i = 0; i < r.n; i += 2) ExpectSameRow(r, i, alone, 0);
}

TEST(BadMasses, AZeroMassGivesTheSentinelRowAndFiniteBoundaries) {
  Binary a = kGood, b = kGood;
  a.m1 = 0.0;
  b.m2 = 0.0;
  const Result r = RunAmplitude({a, b}, 8);
  for (int i : {0, 1}) {
    ExpectSentinelRow(r, i);
    EXPECT_TRUE(std::isfinite(r.merger(i)) && r.merger(i) > 0.0);
    EXPECT_TRUE(std::isfinite(r.ringdown(i)) && r.ringdown(i) > 0.0);
  }
}

TEST(BadMasses, NegativeOrNonFiniteMassesGiveANaNStrainRow) {
  std::vector<Binary> bad;
  for (double m : {-1e5, -1.0, kNaN, kInf, -kInf}) {
    Binary b = kGood;
    b.m1 = m;
    bad.push_back(b);
    b = kGood;
    b.m2 = m;
    bad.push_back(b);
  }
  Binary both_zero = kGood;
  both_zero.m1 = both_zero.m2 = 0.0;
  bad.push_back(both_zero);
  const Result r = RunAmplitude(bad, 8);
  EXPECT_EQ(r.ret, 0);
  for (int i = 0; i < r.n; ++i) {
    SCOPED_TRACE(i);
    ExpectAllNaN(StrainRow(r, i));
  }
}

TEST(BadDistance, StrainScalesAsOneOverDistanceThroughZeroNegativeAndInfinity) {
  Binary zero = kGood, negative = kGood, inf = kGood, nan = kGood;
  zero.dist = 0.0;
  negative.dist = -kGood.dist;
  inf.dist = kInf;
  nan.dist = kNaN;
  const Result r = RunAmplitude({kGood, zero, negative, inf, nan}, 16);
  for (int k = 0; k < 16; ++k) {
    EXPECT_EQ(r.h(1, k), kInf);
    EXPECT_EQ(r.h(2, k), -r.h(0, k));
    EXPECT_EQ(r.h(3, k), 0.0);
    EXPECT_TRUE(std::isnan(r.h(4, k)));
  }
  // The grid and the boundaries do not depend on the distance.
  for (int i = 1; i < 5; ++i) {
    for (int k = 0; k < 16; ++k) EXPECT_TRUE(SameBits(r.f(i, k), r.f(0, k)));
    EXPECT_TRUE(SameBits(r.merger(i), r.merger(0)));
    EXPECT_TRUE(SameBits(r.ringdown(i), r.ringdown(0)));
  }
}

TEST(BadRedshift, AtOrBelowMinusOneTheRowIsNaN) {
  Binary minus_one = kGood, below = kGood, nan = kGood;
  minus_one.z = -1.0;
  below.z = -3.0;
  nan.z = kNaN;
  const Result r = RunAmplitude({minus_one, below, nan}, 8);
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    ExpectAllNaN(FreqRow(r, i));
    ExpectAllNaN(StrainRow(r, i));
  }
  // z = -1 leaves no observed mass: both boundaries are infinite.
  EXPECT_EQ(r.merger(0), kInf);
  EXPECT_EQ(r.ringdown(0), kInf);
  EXPECT_TRUE(std::isnan(r.merger(2)));
  EXPECT_TRUE(std::isnan(r.ringdown(2)));
}

TEST(BadRedshift, InfiniteRedshiftGivesTheSentinelRowAndZeroBoundaries) {
  Binary b = kGood;
  b.z = kInf;
  const Result r = RunAmplitude({b}, 8);
  ExpectSentinelRow(r, 0);
  EXPECT_EQ(r.merger(0), 0.0);
  EXPECT_EQ(r.ringdown(0), 0.0);
}

TEST(BadTimes, AZeroStartTimeGivesTheSentinelRow) {
  Binary b = kGood;
  b.t_start = 0.0;
  const Result r = RunAmplitude({b}, 8);
  ExpectSentinelRow(r, 0);
}

TEST(BadTimes, NegativeOrNonFiniteStartTimesGiveANaNRowWithUsualBoundaries) {
  const Result good = RunAmplitude({kGood}, 8);
  std::vector<Binary> bad;
  for (double t : {-1.0, kNaN, kInf}) {
    Binary b = kGood;
    b.t_start = t;
    bad.push_back(b);
  }
  const Result r = RunAmplitude(bad, 8);
  for (int i = 0; i < r.n; ++i) {
    SCOPED_TRACE(i);
    ExpectAllNaN(FreqRow(r, i));
    ExpectAllNaN(StrainRow(r, i));
    EXPECT_TRUE(SameBits(r.merger(i), good.merger(0)));
    EXPECT_TRUE(SameBits(r.ringdown(i), good.ringdown(0)));
  }
}

TEST(BadTimes, NaNOrMinusInfiniteEndTimeRunsTheBandThroughRingdown) {
  const Result through = RunAmplitude({kGood}, 16);  // t_end = 0
  Binary nan = kGood, minus_inf = kGood;
  nan.t_end = kNaN;
  minus_inf.t_end = -kInf;
  const Result r = RunAmplitude({nan, minus_inf}, 16);
  ExpectSameRow(r, 0, through, 0);
  ExpectSameRow(r, 1, through, 0);
}

TEST(BadTimes, InfiniteEndTimeGivesTheSentinelRow) {
  Binary b = kGood;
  b.t_end = kInf;
  const Result r = RunAmplitude({b}, 8);
  ExpectSentinelRow(r, 0);
}

TEST(BadSpins, RemnantOutsideTheTablesGivesNaNStrainButTheUsualGrid) {
  const Result good = RunAmplitude({kGood}, 16);
  std::vector<Binary> bad;
  // Whether a spin outside [-1, 1] pushes the remnant out depends on the
  // mass ratio: 1.5 on the heavier body does here, on the lighter one not.
  for (double s : {1.5, -4.0, kNaN, kInf, -kInf}) {
    Binary b = kGood;
    b.spin1 = s;
    bad.push_back(b);
  }
  for (double s : {30.0, kNaN, kInf, -kInf}) {
    Binary b = kGood;
    b.spin2 = s;
    bad.push_back(b);
  }
  const Result r = RunAmplitude(bad, 16);
  for (int i = 0; i < r.n; ++i) {
    SCOPED_TRACE(i);
    ExpectAllNaN(StrainRow(r, i));
    EXPECT_TRUE(std::isnan(r.ringdown(i)));
    for (int k = 0; k < 16; ++k) EXPECT_TRUE(SameBits(r.f(i, k), good.f(0, k)));
    EXPECT_TRUE(SameBits(r.merger(i), good.merger(0)));
  }
}

TEST(BadSpins, SlightlyOutsideWithTheRemnantInsideAreComputedUnchecked) {
  // The library validates nothing: a spin of 1.01 is used as given.
  Binary b = kGood;
  b.spin1 = 1.01;
  const Result r = RunAmplitude({kGood, b}, 16);
  for (int k = 0; k < 16; ++k) {
    EXPECT_TRUE(std::isfinite(r.h(1, k)) && r.h(1, k) > 0.0);
  }
  EXPECT_NE(r.h(1, 15), r.h(0, 15));
}

TEST(BadLengths, NonPositiveLengthsDownToIntMinWriteOnlyTheBoundariesAndZeroRatios) {
  for (int length : {0, -1, INT_MIN}) {
    SCOPED_TRACE(length);
    const Result r = RunAmplitude({kGood, kGood}, length);
    EXPECT_EQ(r.ret, 0);
    EXPECT_TRUE(r.GuardsIntact());  // the grids have no cells at all
    EXPECT_GT(r.merger(1), 0.0);
    EXPECT_GT(r.ringdown(1), 0.0);
    double snr[4][2];
    std::memset(snr, 0xff, sizeof snr);  // NaN pattern, so 0 must be written
    EXPECT_EQ(SNR_function(snr[0], snr[1], snr[2], snr[3], nullptr, nullptr,
                           nullptr, r.merger_at(0), r.ringdown_at(0), length,
                           2),
              0);
    for (const auto& per_binary : snr) {
      for (double v : per_binary) EXPECT_EQ(v, 0.0);
    }
  }
}

TEST(BadLengths, LengthOneGivesOnePointAndZeroSignalToNoise) {
  const Result two = RunAmplitude({kGood}, 2);
  const Result one = RunAmplitude({kGood}, 1);
  EXPECT_TRUE(one.GuardsIntact());
  EXPECT_TRUE(SameBits(one.f(0, 0), two.f(0, 0)));
  double snr[4] = {-1, -1, -1, -1};
  const double hn = 1e-20;
  EXPECT_EQ(SNR_function(&snr[0], &snr[1], &snr[2], &snr[3], one.freq_row(0),
                         one.strain_row(0), &hn, one.merger_at(0),
                         one.ringdown_at(0), 1, 1),
            0);
  for (double s : snr) EXPECT_EQ(s, 0.0);
}

TEST(BadBatchSizes, NonPositiveCountsTouchNoArrayEvenWhenAllAreNull) {
  for (int n : {0, -1, INT_MIN}) {
    for (int length : {0, 5, INT_MIN}) {
      EXPECT_EQ(Amplitude(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                          n, length),
                0);
      EXPECT_EQ(SNR_function(nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr, length, n),
                0);
    }
  }
}

// Signal-to-noise ratio of the good binary against a noise row.
struct Snr {
  double all, ins, mrg, rd;
};
Snr SnrAgainst(const std::vector<double>& hn) {
  const int len = static_cast<int>(hn.size());
  const Result r = RunAmplitude({kGood}, len);
  Snr s{};
  SNR_function(&s.all, &s.ins, &s.mrg, &s.rd, r.freq_row(0), r.strain_row(0),
               hn.data(), r.merger_at(0), r.ringdown_at(0), len, 1);
  return s;
}

TEST(BadNoise, AZeroNoisePointMakesItsPhaseAndTheTotalInfinite) {
  std::vector<double> hn(32, 1e-20);
  hn[0] = 0.0;  // the band's start lies in the inspiral
  const Snr s = SnrAgainst(hn);
  EXPECT_EQ(s.all, kInf);
  EXPECT_EQ(s.ins, kInf);
  EXPECT_TRUE(std::isfinite(s.mrg));
  EXPECT_TRUE(std::isfinite(s.rd));
}

TEST(BadNoise, NaNNoiseMakesItsPhaseAndTheTotalNaN) {
  std::vector<double> hn(32, 1e-20);
  hn[31] = kNaN;  // the band's end lies in the ringdown
  const Snr s = SnrAgainst(hn);
  EXPECT_TRUE(std::isnan(s.all));
  EXPECT_TRUE(std::isnan(s.rd));
  EXPECT_TRUE(std::isfinite(s.ins));
}

TEST(BadNoise, InfiniteNoiseContributesNothingAndNegativeNoiseCountsAsItsSize) {
  const Snr base = SnrAgainst(std::vector<double>(32, 1e-20));
  const Snr negative = SnrAgainst(std::vector<double>(32, -1e-20));
  EXPECT_EQ(negative.all, base.all);
  EXPECT_EQ(negative.ins, base.ins);
  const Snr inf = SnrAgainst(std::vector<double>(32, kInf));
  EXPECT_EQ(inf.all, 0.0);
  EXPECT_GT(base.all, 0.0);
}

}  // namespace

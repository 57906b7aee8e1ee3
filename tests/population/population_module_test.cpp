// The population module as a host sees it: loaded at run time beside the
// exact and fast modules.  For the same h_n values (the table read back in
// the test from each frequency), its SNRs are those of Amplitude, the
// factor applied to h_c and SNR_function, to rounding; its boundaries are
// Amplitude's; it counts the points outside the table's range; sentinel
// rows, short rows, bad tables and concurrent calls behave as documented.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <thread>
#include <vector>

#include "phenomd.h"
#include "phenomd_population.h"
#include "population_test_util.h"

namespace {

using population_test::Batch;
using population_test::BroadBatch;
using population_test::MakeTable;
using population_test::Table;
using population_test::TableHn;

// The SNRs differ from Amplitude + SNR_function by rounding only: the
// module takes log10 f from the grid's exponent rather than from the
// rounded frequency (an absolute error of ~1e-16 |log10 f| in the
// abscissa, ~1e-15 relative in h_n at the curve's steepest), its exp is
// within 1 ulp, and it sums the intervals in SIMD lanes, not in row order.
// 1e-13 relative is a hundred times the largest difference seen.
constexpr double kSnrTolerance = 1e-13;

using AmplitudeFn = decltype(&Amplitude);
using SnrFn = decltype(&SNR_function);
using PopulationFn = decltype(&phenomd_population_snr);
using HasFastFn = decltype(&phenomd_population_has_fast_row);

void* Open(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }

struct Modules {
  void* exact = Open(PHENOMD_EXACT_MODULE_PATH);
  void* fast = Open(PHENOMD_FAST_MODULE_PATH);
  void* pop = Open(PHENOMD_POPULATION_MODULE_PATH);
  AmplitudeFn amplitude[2] = {nullptr, nullptr};
  SnrFn snr = nullptr;
  PopulationFn population = nullptr;
  HasFastFn has_fast = nullptr;

  Modules() {
    if (exact != nullptr) {
      amplitude[0] = reinterpret_cast<AmplitudeFn>(dlsym(exact, "Amplitude"));
      snr = reinterpret_cast<SnrFn>(dlsym(exact, "SNR_function"));
    }
    if (fast != nullptr)
      amplitude[1] = reinterpret_cast<AmplitudeFn>(dlsym(fast, "Amplitude"));
    if (pop != nullptr) {
      population =
          reinterpret_cast<PopulationFn>(dlsym(pop, "phenomd_population_snr"));
      has_fast = reinterpret_cast<HasFastFn>(
          dlsym(pop, "phenomd_population_has_fast_row"));
    }
  }
};

const Modules& Loaded() {
  static const Modules m;
  return m;
}

struct Result {
  std::vector<double> all, ins, mrg, rd, fm, fr;
  std::vector<std::int64_t> outside;
  std::vector<unsigned char> inverted;
  explicit Result(int n)
      : all(n, -7.0),
        ins(n, -7.0),
        mrg(n, -7.0),
        rd(n, -7.0),
        fm(n, -7.0),
        fr(n, -7.0),
        outside(n, -7),
        inverted(n, 7) {}
};

// The module on binaries [a, b) of the batch, into r.
int RunPopulation(const Batch& in, const phenomd_noise_table* t, int len,
                  int fast, Result& r, int a = 0, int b = -1,
                  bool with_factor = true) {
  if (b < 0) b = in.n;
  return Loaded().population(
      r.all.data() + a, r.ins.data() + a, r.mrg.data() + a, r.rd.data() + a,
      r.fm.data() + a, r.fr.data() + a, r.outside.data() + a,
      r.inverted.data() + a, in.m1.data() + a, in.m2.data() + a,
      in.s1.data() + a, in.s2.data() + a, in.dist.data() + a, in.z.data() + a,
      in.t0.data() + a, in.t1.data() + a,
      with_factor ? in.factor.data() + a : nullptr, t, b - a, len, fast);
}

Result Population(const Batch& in, const phenomd_noise_table& t, int len,
                  int fast) {
  Result r(in.n);
  EXPECT_EQ(PHENOMD_POPULATION_OK, RunPopulation(in, &t, len, fast, r));
  return r;
}

// The reference: Amplitude of the exact or fast module, h_c times the
// factor, h_n read back from the table at each frequency in the test, and
// the exact module's SNR_function; n_outside counted from the frequencies.
Result Reference(const Batch& in, const phenomd_noise_table& t, int len,
                 int fast) {
  const Modules& m = Loaded();
  const std::size_t pts = static_cast<std::size_t>(in.n) * len;
  std::vector<double> freqs(pts), hc(pts), hn(pts);
  Result r(in.n);
  m.amplitude[fast](freqs.data(), hc.data(), r.fm.data(), r.fr.data(),
                    in.m1.data(), in.m2.data(), in.s1.data(), in.s2.data(),
                    in.dist.data(), in.z.data(), in.t0.data(), in.t1.data(),
                    in.n, len);
  for (int i = 0; i < in.n; ++i) {
    r.outside[i] = 0;
    // Amplitude's sentinel row: every frequency 1e-30.
    r.inverted[i] =
        len > 0 && freqs[static_cast<std::size_t>(i) * len] == 1e-30;
    for (int j = 0; j < len; ++j) {
      const std::size_t k = static_cast<std::size_t>(i) * len + j;
      hc[k] *= in.factor[i];
      hn[k] = TableHn(t, freqs[k]);
      if (std::isinf(hn[k])) ++r.outside[i];
    }
  }
  m.snr(r.all.data(), r.ins.data(), r.mrg.data(), r.rd.data(), freqs.data(),
        hc.data(), hn.data(), r.fm.data(), r.fr.data(), len, in.n);
  return r;
}

void ExpectClose(double ref, double got, double tol, const char* what, int i) {
  if (std::isnan(ref)) {
    EXPECT_TRUE(std::isnan(got)) << what << " of binary " << i;
    return;
  }
  EXPECT_LE(std::fabs(got - ref), tol * std::fabs(ref))
      << what << " of binary " << i << ": " << got << " vs " << ref;
}

// Equal, NaN included.
bool Same(double a, double b) {
  return a == b || (std::isnan(a) && std::isnan(b));
}

void ExpectMatches(const Result& ref, const Result& got, int n) {
  for (int i = 0; i < n; ++i) {
    ExpectClose(ref.all[i], got.all[i], kSnrTolerance, "snr_all", i);
    ExpectClose(ref.ins[i], got.ins[i], kSnrTolerance, "snr_ins", i);
    ExpectClose(ref.mrg[i], got.mrg[i], kSnrTolerance, "snr_mrg", i);
    ExpectClose(ref.rd[i], got.rd[i], kSnrTolerance, "snr_rd", i);
    // The boundaries come from the same code: bit for bit.
    EXPECT_TRUE(Same(ref.fm[i], got.fm[i])) << "f_merger_start of binary " << i;
    EXPECT_TRUE(Same(ref.fr[i], got.fr[i]))
        << "f_ringdown_start of binary " << i;
    EXPECT_EQ(ref.outside[i], got.outside[i]) << "n_outside of binary " << i;
    EXPECT_EQ(ref.inverted[i], got.inverted[i]) << "inverted of binary " << i;
  }
}

class PopulationModule : public ::testing::Test {
 protected:
  void SetUp() override {
    const Modules& m = Loaded();
    ASSERT_NE(m.population, nullptr) << dlerror();
    ASSERT_NE(m.amplitude[0], nullptr);
    ASSERT_NE(m.amplitude[1], nullptr);
    ASSERT_NE(m.snr, nullptr);
  }
};

// Over a broad batch, for both rows and several lengths: the table covers
// 1e-6-1 Hz, so that many bands run past one of its ends and n_outside
// and the +inf noise are exercised too.
TEST_F(PopulationModule, AgreesWithAmplitudeAndSnrFunctionOnTheSameNoise) {
  const Table tab = MakeTable(1e-6, 1.0, 1024);
  const Batch in = BroadBatch(400, 0x9090);
  for (int fast : {0, 1}) {
    for (int len : {2, 3, 9, 17, 1000}) {
      SCOPED_TRACE(testing::Message() << "fast " << fast << ", length " << len);
      const Result ref = Reference(in, tab.t, len, fast);
      const Result got = Population(in, tab.t, len, fast);
      ExpectMatches(ref, got, in.n);
      std::int64_t outside = 0, nonzero = 0;
      for (int i = 0; i < in.n; ++i) {
        outside += got.outside[i];
        nonzero += got.all[i] > 0.0;
      }
      // The batch reaches both regimes (a sanity check of the draw).
      EXPECT_GT(outside, 0);
      EXPECT_GT(nonzero, in.n / 4);
    }
  }
}

TEST_F(PopulationModule, PhaseSquaresAddUpToTheTotal) {
  const Table tab = MakeTable(1e-7, 10.0, 512);
  const Batch in = BroadBatch(300, 0x5151);
  const Result r = Population(in, tab.t, 1000, 1);
  for (int i = 0; i < in.n; ++i) {
    const double parts =
        r.ins[i] * r.ins[i] + r.mrg[i] * r.mrg[i] + r.rd[i] * r.rd[i];
    // Three sums of the same positive areas: equal to rounding.
    EXPECT_NEAR(parts, r.all[i] * r.all[i], 1e-13 * r.all[i] * r.all[i])
        << "binary " << i;
  }
}

// The factor multiplies h_c, so every SNR scales with it; NULL means 1.
TEST_F(PopulationModule, FactorScalesTheSnrAndNullMeansOne) {
  const Table tab = MakeTable(1e-7, 10.0, 512);
  Batch in = BroadBatch(50, 0x7070);
  Result with(in.n), without(in.n);
  ASSERT_EQ(0, RunPopulation(in, &tab.t, 500, 0, with));
  ASSERT_EQ(0, RunPopulation(in, &tab.t, 500, 0, without, 0, -1, false));
  for (int i = 0; i < in.n; ++i) {
    ExpectClose(without.all[i] * in.factor[i], with.all[i], 1e-14,
                "snr_all scaled", i);
    EXPECT_EQ(with.outside[i], without.outside[i]);
  }
  std::fill(in.factor.begin(), in.factor.end(), 1.0);
  Result ones(in.n);
  ASSERT_EQ(0, RunPopulation(in, &tab.t, 500, 0, ones));
  for (int i = 0; i < in.n; ++i) EXPECT_EQ(ones.all[i], without.all[i]);
}

// A band that ends below its start is a sentinel row in Amplitude (f =
// 1e-30 at every point): SNR 0, every point outside the table, boundaries
// as Amplitude writes them.
TEST_F(PopulationModule, InvertedBandsGiveZeroAndCountTheSentinels) {
  const Table tab = MakeTable(1e-7, 10.0, 256);
  Batch in = BroadBatch(20, 0x1313);
  for (int i = 0; i < in.n; ++i) in.t1[i] = in.t0[i] * 2.0;  // end > start
  for (int len : {1, 2, 100}) {
    const Result ref = Reference(in, tab.t, len, 0);
    const Result got = Population(in, tab.t, len, 0);
    for (int i = 0; i < in.n; ++i) {
      EXPECT_EQ(0.0, got.all[i]);
      EXPECT_EQ(0.0, got.ins[i]);
      EXPECT_EQ(0.0, got.mrg[i]);
      EXPECT_EQ(0.0, got.rd[i]);
      EXPECT_EQ(ref.all[i], got.all[i]);
      EXPECT_EQ(len, got.outside[i]);
      EXPECT_EQ(1, got.inverted[i]);
      EXPECT_EQ(ref.fm[i], got.fm[i]);
      EXPECT_EQ(ref.fr[i], got.fr[i]);
    }
  }
}

// length < 2 gives zero SNRs like SNR_function; length 1 still counts its
// one point; length <= 0 counts none but writes the boundaries.
TEST_F(PopulationModule, ShortRowsLikeSnrFunction) {
  const Table tab = MakeTable(1e-6, 1.0, 256);
  const Batch in = BroadBatch(60, 0x2424);
  for (int len : {-3, 0, 1}) {
    const Result ref = Reference(in, tab.t, len > 0 ? len : 0, 0);
    const Result got = Population(in, tab.t, len, 0);
    for (int i = 0; i < in.n; ++i) {
      EXPECT_EQ(0.0, got.all[i]);
      EXPECT_EQ(0.0, got.rd[i]);
      EXPECT_EQ(len == 1 ? ref.outside[i] : 0, got.outside[i]);
      EXPECT_EQ(ref.fm[i], got.fm[i]);
      EXPECT_EQ(ref.fr[i], got.fr[i]);
    }
  }
}

// Bands wholly outside the table add nothing and count every point; a
// band wholly inside counts none.
TEST_F(PopulationModule, CountsPointsOutsideTheTableRange) {
  const Table tab = MakeTable(1e-4, 1e-2, 512);
  Batch in = BroadBatch(3, 0x3535);
  // 1e9 M_sun at z = 1 ends its ringdown near 2e-5 Hz, below the table;
  // 100 M_sun starts above 1e-2 Hz a day before merger; 1e6 M_sun over
  // its last month stays inside 1e-4-1e-2 Hz... until merger, so its band
  // is cut at t_end = 1 hour before.
  const double M[3] = {1e9, 100.0, 1e6};
  const double t0[3] = {1.0, 1.0 / 365.25, 30.0 / 365.25};
  const double t1[3] = {0.0, 0.0, 1.0 / (365.25 * 24)};
  for (int i = 0; i < 3; ++i) {
    in.m1[i] = in.m2[i] = M[i] / 2;
    in.z[i] = 1.0;
    in.t0[i] = t0[i];
    in.t1[i] = t1[i];
  }
  const int len = 200;
  const Result ref = Reference(in, tab.t, len, 0);
  const Result got = Population(in, tab.t, len, 0);
  ExpectMatches(ref, got, in.n);
  EXPECT_EQ(len, got.outside[0]);
  EXPECT_EQ(0.0, got.all[0]);
  EXPECT_EQ(len, got.outside[1]);
  EXPECT_EQ(0.0, got.all[1]);
  EXPECT_EQ(0, got.outside[2]);
  EXPECT_GT(got.all[2], 0.0);
}

// fast = 0 and fast = 1 select the rows of libphenomd.so and
// libphenomd_fast.so: each call agrees with its module, the two differ in
// the last bits somewhere over a broad batch (the fast row's frequencies
// and strains are not bit-identical to the exact ones), and each is
// deterministic.
TEST_F(PopulationModule, SelectsTheExactOrTheFastRowPerCall) {
  ASSERT_EQ(1, Loaded().has_fast());
  const Table tab = MakeTable(1e-7, 10.0, 1024);
  const Batch in = BroadBatch(300, 0x4646);
  const Result exact = Population(in, tab.t, 1000, 0);
  const Result fast = Population(in, tab.t, 1000, 1);
  ExpectMatches(Reference(in, tab.t, 1000, 0), exact, in.n);
  ExpectMatches(Reference(in, tab.t, 1000, 1), fast, in.n);
  int differ = 0;
  for (int i = 0; i < in.n; ++i) differ += exact.all[i] != fast.all[i];
  EXPECT_GT(differ, 0);
  const Result again = Population(in, tab.t, 1000, 0);
  for (int i = 0; i < in.n; ++i) EXPECT_EQ(exact.all[i], again.all[i]);
}

// A binary whose remnant is out of range has a NaN strain row in
// Amplitude, so a NaN SNR; the rest of the batch is unaffected.
TEST_F(PopulationModule, NanStrainGivesNanSnr) {
  const Table tab = MakeTable(1e-7, 10.0, 256);
  Batch in = BroadBatch(5, 0x5757);
  in.s1[2] = in.s2[2] = 1.5;
  const Result ref = Reference(in, tab.t, 100, 0);
  const Result got = Population(in, tab.t, 100, 0);
  EXPECT_TRUE(std::isnan(ref.all[2]));
  ExpectMatches(ref, got, in.n);
}

// A table the module cannot read is refused before anything is written.
TEST_F(PopulationModule, RejectsUnusableTables) {
  const Table good = MakeTable(1e-5, 1.0, 64);
  const Batch in = BroadBatch(4, 0x6868);
  std::vector<phenomd_noise_table> bad(7, good.t);
  bad[0].length = 3;                   // fewer than four nodes
  bad[1].dlog10_f = 0.0;               // no spacing
  bad[2].dlog10_f = -good.t.dlog10_f;  // descending
  bad[3].f_max = 10.0;                 // range past the last nodes
  bad[4].f_min = 1e-6;                 // range before the first node
  bad[5].ln_hn = nullptr;              // no values
  bad[6].log10_f0 = std::numeric_limits<double>::quiet_NaN();
  for (std::size_t k = 0; k < bad.size(); ++k) {
    Result r(in.n);
    EXPECT_EQ(PHENOMD_POPULATION_BAD_TABLE,
              RunPopulation(in, &bad[k], 100, 0, r))
        << "table " << k;
    EXPECT_EQ(-7.0, r.all[0]) << "table " << k << " wrote outputs";
    EXPECT_EQ(-7, r.outside[0]);
  }
  Result r(in.n);
  EXPECT_EQ(PHENOMD_POPULATION_BAD_TABLE,
            RunPopulation(in, nullptr, 100, 0, r));
  EXPECT_EQ(PHENOMD_POPULATION_OK, RunPopulation(in, &good.t, 100, 0, r));
}

// Reentrant: two threads on the same batch, and two threads on its two
// halves, give bit for bit the single-thread results.
TEST_F(PopulationModule, ConcurrentCallsGiveTheSameResults) {
  const Table tab = MakeTable(1e-7, 10.0, 1024);
  const Batch in = BroadBatch(400, 0x7979);
  for (int fast : {0, 1}) {
    const Result one = Population(in, tab.t, 300, fast);
    Result a(in.n), b(in.n), halves(in.n);
    int rc[4] = {-1, -1, -1, -1};
    std::thread t1([&] { rc[0] = RunPopulation(in, &tab.t, 300, fast, a); });
    std::thread t2([&] { rc[1] = RunPopulation(in, &tab.t, 300, fast, b); });
    t1.join();
    t2.join();
    std::thread t3([&] {
      rc[2] = RunPopulation(in, &tab.t, 300, fast, halves, 0, in.n / 2);
    });
    std::thread t4([&] {
      rc[3] = RunPopulation(in, &tab.t, 300, fast, halves, in.n / 2, in.n);
    });
    t3.join();
    t4.join();
    for (int k = 0; k < 4; ++k) EXPECT_EQ(0, rc[k]);
    for (int i = 0; i < in.n; ++i) {
      for (const Result* r : {&a, &b, &halves}) {
        EXPECT_EQ(one.all[i], r->all[i]) << "binary " << i;
        EXPECT_EQ(one.ins[i], r->ins[i]);
        EXPECT_EQ(one.mrg[i], r->mrg[i]);
        EXPECT_EQ(one.rd[i], r->rd[i]);
        EXPECT_EQ(one.outside[i], r->outside[i]);
      }
    }
  }
}

}  // namespace

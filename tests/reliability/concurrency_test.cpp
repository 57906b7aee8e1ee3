// Several threads call both entry points at once on distinct output arrays;
// the library has no mutable shared state, so every result must equal the
// serial run bit for bit.  Run alone (as CTest runs each test), the threads
// make the process's first calls, so whatever is set up on first use (the
// fast build's choice of kernel) is set up under contention.  Built twice:
// against the exact and the fast entry points.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "phenomd.h"
#include "phenomd/hexfloat.h"

namespace {

// A mixed batch: physical binaries over mass ratio, spin and redshift,
// inverted bands, and spins outside [-1, 1] (NaN rows).
struct MixedBatch {
  int n = 0;
  std::vector<double> m1, m2, s1, s2, d, z, t0, t1;
  MixedBatch() {
    for (int i = 0; i < 60; ++i) {
      const double q = 1.0 + (i % 7) * 1.5;
      m1.push_back(1e5 * (1 + i % 5));
      m2.push_back(m1.back() / q);
      s1.push_back(-1.0 + (i % 9) * 0.25);
      s2.push_back(1.0 - (i % 11) * 0.2);
      d.push_back(1e3 * (1 + i % 4));
      z.push_back(0.1 * (i % 13));
      t0.push_back(i % 10 == 3 ? 0.01 : 4.0);  // some rows inverted
      t1.push_back(i % 10 == 3 ? 1.0 : (i % 3 == 0 ? 0.0 : 0.001));
      if (i % 17 == 5) s1.back() = s2.back() = 1.5;  // remnant outside tables
    }
    n = static_cast<int>(m1.size());
  }
};

struct Outputs {
  std::vector<double> f, hc, fm, fr, all, ins, mrg, rd;
};

Outputs RunBatch(const MixedBatch& b, int length) {
  Outputs o;
  const std::size_t cells = static_cast<std::size_t>(b.n) * length;
  o.f.resize(cells);
  o.hc.resize(cells);
  o.fm.resize(b.n);
  o.fr.resize(b.n);
  Amplitude(o.f.data(), o.hc.data(), o.fm.data(), o.fr.data(), b.m1.data(),
            b.m2.data(), b.s1.data(), b.s2.data(), b.d.data(), b.z.data(),
            b.t0.data(), b.t1.data(), b.n, length);
  std::vector<double> hn(cells);
  for (std::size_t k = 0; k < cells; ++k) hn[k] = 1e-21 * (1.0 + 1e-3 / o.f[k]);
  o.all.resize(b.n);
  o.ins.resize(b.n);
  o.mrg.resize(b.n);
  o.rd.resize(b.n);
  SNR_function(o.all.data(), o.ins.data(), o.mrg.data(), o.rd.data(),
               o.f.data(), o.hc.data(), hn.data(), o.fm.data(), o.fr.data(),
               length, b.n);
  return o;
}

// Bitwise equality, NaN included.
::testing::AssertionResult SameBits(const std::vector<double>& a,
                                    const std::vector<double>& b) {
  if (a.size() != b.size()) {
    return ::testing::AssertionFailure()
           << "sizes " << a.size() << " and " << b.size();
  }
  return phenomd_test::SameBits(a.data(), b.data(), a.size());
}

TEST(Concurrency, ThreadsCallingAtOnceGetTheSerialResultsBitForBit) {
  const MixedBatch batch;
  const int lengths[] = {1, 2, 37, 256};

  const int kThreads = 8;
  std::vector<std::vector<Outputs>> results(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int rep = 0; rep < 3; ++rep) {
        for (int k = 0; k < 4; ++k) {
          // Each thread walks the lengths in its own order.
          results[t].push_back(RunBatch(batch, lengths[(k + t) % 4]));
        }
      }
    });
  }
  for (std::thread& th : threads) th.join();

  std::vector<Outputs> serial;
  for (int len : lengths) serial.push_back(RunBatch(batch, len));
  for (int t = 0; t < kThreads; ++t) {
    for (std::size_t r = 0; r < results[t].size(); ++r) {
      const Outputs& got = results[t][r];
      const Outputs& want = serial[(r % 4 + t) % 4];
      EXPECT_TRUE(SameBits(got.f, want.f)) << "thread " << t << " run " << r;
      EXPECT_TRUE(SameBits(got.hc, want.hc));
      EXPECT_TRUE(SameBits(got.fm, want.fm));
      EXPECT_TRUE(SameBits(got.fr, want.fr));
      EXPECT_TRUE(SameBits(got.all, want.all));
      EXPECT_TRUE(SameBits(got.ins, want.ins));
      EXPECT_TRUE(SameBits(got.mrg, want.mrg));
      EXPECT_TRUE(SameBits(got.rd, want.rd));
    }
  }
  // The batch really is mixed: sentinel rows and NaN rows are present.
  const Outputs& o = serial[3];
  EXPECT_EQ(o.f[3 * 256], 1e-30);
  EXPECT_TRUE(std::isnan(o.hc[5 * 256]));
}

}  // namespace

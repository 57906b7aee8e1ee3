// The cumulative rho^2 at the quadrature's panel edges
// (phenomd_population_snr_edges) against the Gauss entry on the same
// binaries: edges ascending from the integration's lower end, rho^2 from 0
// rising to the Gauss entry's snr_all^2; a short row keeps its first and
// last edges; bad arguments write nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "phenomd_population.h"
#include "population_test_util.h"

namespace {

struct Edges {
  std::vector<double> f, rho2;
  std::vector<std::int64_t> num;
  Edges(int n, std::int64_t room) : f(n * room, -1.0), rho2(n * room, -1.0), num(n, -1) {}
};

int EdgesOf(const population_test::Batch& p, const phenomd_noise_table& t, std::int64_t room, double rtol,
        Edges& e) {
  return phenomd_population_snr_edges(e.f.data(), e.rho2.data(), e.num.data(), p.m1.data(), p.m2.data(),
                                      p.s1.data(), p.s2.data(), p.dist.data(), p.z.data(), p.t0.data(),
                                      p.t1.data(), p.factor.data(), &t, nullptr, 0, p.n, room, rtol, 0);
}

// The module's smooth curve times a ripple 1 + 0.01 sin(20 ln f), whose
// panels the quadrature splits below the rule's width (so split panels
// must drop out of the edges).
population_test::Table RippleTable() {
  population_test::Table tab = population_test::MakeTable(1e-4, 1.0, 256);
  for (std::size_t k = 0; k < tab.ln_hn.size(); ++k) {
    const double ln_f = std::log(10.0) * (tab.t.log10_f0 + static_cast<double>(k) * tab.t.dlog10_f);
    tab.ln_hn[k] += std::log(1.0 + 0.01 * std::sin(20.0 * ln_f));
  }
  tab.t.ln_hn = tab.ln_hn.data();
  return tab;
}

class CumulativeEdges : public ::testing::TestWithParam<bool> {};

TEST_P(CumulativeEdges, RiseFromZeroToTheBandsRho2) {
  const int n = 200;
  const population_test::Batch p = population_test::BroadBatch(n, 21);
  const population_test::Table tab = GetParam() ? RippleTable() : population_test::MakeTable(1e-4, 1.0, 256);
  const std::int64_t room = 512;
  Edges e(n, room);
  ASSERT_EQ(EdgesOf(p, tab.t, room, 1e-6, e), PHENOMD_POPULATION_OK);
  std::vector<double> all(n), ins(n), mrg(n), rd(n), fm(n), fr(n);
  std::vector<std::int64_t> outside(n);
  std::vector<unsigned char> inverted(n);
  ASSERT_EQ(phenomd_population_snr_gauss(all.data(), ins.data(), mrg.data(), rd.data(), fm.data(), fr.data(),
                                         outside.data(), inverted.data(), p.m1.data(), p.m2.data(),
                                         p.s1.data(), p.s2.data(), p.dist.data(), p.z.data(), p.t0.data(),
                                         p.t1.data(), p.factor.data(), &tab.t, nullptr, 0, n, 1e-6, 0),
            PHENOMD_POPULATION_OK);
  int filled = 0;
  for (int i = 0; i < n; ++i) {
    const std::int64_t m = e.num[i];
    const double* f = e.f.data() + i * room;
    const double* r = e.rho2.data() + i * room;
    if (m == 0) {  // an empty band: no SNR
      EXPECT_EQ(all[i], 0.0) << i;
      continue;
    }
    ++filled;
    ASSERT_GE(m, 2) << i;
    ASSERT_LT(m, room) << i;  // the whole row fits: no subset
    EXPECT_EQ(r[0], 0.0);
    EXPECT_GE(f[0], tab.t.f_min * (1 - 1e-12));
    EXPECT_LE(f[m - 1], tab.t.f_max * (1 + 1e-12));
    for (std::int64_t j = 1; j < m; ++j) {
      EXPECT_GT(f[j], f[j - 1]) << i << " " << j;
      EXPECT_GE(r[j], r[j - 1]) << i << " " << j;
    }
    EXPECT_NEAR(std::sqrt(r[m - 1]), all[i], 1e-12 * all[i]) << i;
  }
  EXPECT_GT(filled, n / 2);

  // Three edges at most: the first, one between, the last of the full row.
  Edges s(n, 3);
  ASSERT_EQ(EdgesOf(p, tab.t, 3, 1e-6, s), PHENOMD_POPULATION_OK);
  for (int i = 0; i < n; ++i) {
    const std::int64_t m = e.num[i];
    if (m == 0) continue;
    EXPECT_EQ(s.num[i], std::min<std::int64_t>(m, 3));
    EXPECT_EQ(s.f[i * 3], e.f[i * room]);
    EXPECT_EQ(s.rho2[i * 3 + s.num[i] - 1], e.rho2[i * room + m - 1]);
  }
}

INSTANTIATE_TEST_SUITE_P(SmoothAndRipple, CumulativeEdges, ::testing::Bool());

TEST(CumulativeEdgesArguments, RefusesBadArgumentsWritingNothing) {
  const population_test::Batch p = population_test::BroadBatch(3, 1);
  const population_test::Table tab = population_test::MakeTable(1e-4, 1.0, 256);
  Edges e(3, 8);
  EXPECT_EQ(EdgesOf(p, tab.t, 1, 1e-6, e), PHENOMD_POPULATION_BAD_ARGUMENT);
  EXPECT_EQ(EdgesOf(p, tab.t, 8, 0.5, e), PHENOMD_POPULATION_BAD_ARGUMENT);
  EXPECT_EQ(e.num, std::vector<std::int64_t>(3, -1));
  EXPECT_EQ(e.f, std::vector<double>(24, -1.0));
}

}  // namespace

// The row-sum kernels behind the population module, reached through its
// objects: each SIMD kernel the CPU supports agrees with the portable one
// (std::exp, intervals summed in row order) on real rows of the model, for
// lengths that leave every possible partial block, with ranges that cut
// rows at either end; and the dispatcher takes the widest kernel.
#include "row_sums.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "batch.h"
#include "grid.h"
#include "population_test_util.h"

namespace {

using phenomd::population::RowSums;
using phenomd::population::RowSumsInputs;
using population_test::Stream;

using Kernel = RowSums (*)(const RowSumsInputs&, const double*, const double*,
                           double*);

struct KernelCase {
  const char* name;
  Kernel kernel;
  bool (*supported)();
};

void PrintTo(const KernelCase& k, std::ostream* os) { *os << k.name; }

bool Always() { return true; }

// A model row and the inputs of its sums against a table.
struct Row {
  std::vector<double> freqs, hc, g;
  RowSumsInputs in;
};

Row MakeRow(const population_test::Table& tab, Stream& r, int len) {
  const phenomd::RingdownTables tables;
  const phenomd::CallContext c;
  Row row;
  row.freqs.resize(len);
  row.hc.resize(len);
  row.g.resize(len);
  const double M = r.LogUniform(1e3, 1e8), q = r.LogUniform(1.0, 10.0);
  double fm = 0, fr = 0;
  const phenomd::BinaryBand band = phenomd::AmplitudeOfBinary(
      phenomd::ExactRow, c, tables, M * q / (1 + q), M / (1 + q),
      r.Uniform(-0.9, 0.9), r.Uniform(-0.9, 0.9), 1e3, r.Uniform(0.1, 5.0),
      r.LogUniform(0.01, 10.0), 0.0, len, row.freqs.data(), row.hc.data(), &fm,
      &fr);
  const phenomd_noise_table& t = tab.t;
  row.in.ln_hn = t.ln_hn;
  row.in.table_length = static_cast<std::int32_t>(t.length);
  row.in.f_min = t.f_min;
  row.in.f_max = t.f_max;
  row.in.x_step = band.step / t.dlog10_f;
  row.in.x0 = (band.L0 - std::log10(band.Msec) - t.log10_f0) / t.dlog10_f;
  row.in.ln_f_step = std::log(10.0) * t.dlog10_f;
  row.in.ln_f0 = std::log(10.0) * t.log10_f0;
  row.in.factor = r.Uniform(1.0, 2.8);
  row.in.f_merger_start = fm;
  row.in.f_ringdown_start = fr;
  row.in.length = len;
  return row;
}

class RowSumsKernel : public ::testing::TestWithParam<KernelCase> {};

TEST_P(RowSumsKernel, AgreesWithThePortableKernel) {
  const KernelCase& k = GetParam();
  if (!k.supported()) GTEST_SKIP() << k.name << " not supported by this CPU";
  // A narrow table cuts most rows at one end or both.
  const population_test::Table tables[2] = {
      population_test::MakeTable(1e-7, 10.0, 2048),
      population_test::MakeTable(1e-4, 1e-2, 300)};
  Stream r(0xabc);
  for (const auto& tab : tables) {
    for (int len = 2; len <= 40; ++len) {
      for (int rep = 0; rep < 6; ++rep) {
        const int n = rep == 0 && len == 40 ? 1000 : len;
        Row row = MakeRow(tab, r, n);
        std::vector<double> g2(n);
        const RowSums want = phenomd::population::SumRowScalar(
            row.in, row.freqs.data(), row.hc.data(), row.g.data());
        const RowSums got =
            k.kernel(row.in, row.freqs.data(), row.hc.data(), g2.data());
        // Per point the same operations but exp (SLEEF, <= 1 ulp); the
        // sums in W lanes instead of row order: rounding only.
        EXPECT_EQ(want.outside, got.outside) << "length " << n;
        const double parts[4][2] = {{want.all, got.all},
                                    {want.ins, got.ins},
                                    {want.mrg, got.mrg},
                                    {want.rd, got.rd}};
        for (const auto& p : parts)
          EXPECT_LE(std::fabs(p[1] - p[0]), 1e-13 * std::fabs(p[0]))
              << k.name << ", length " << n << ": " << p[1] << " vs " << p[0];
      }
    }
  }
}

const KernelCase kKernels[] = {
    {"scalar", phenomd::population::SumRowScalar, Always},
#ifdef PHENOMD_HAVE_FAST_ROW
    {"sse2", phenomd::population::SumRowSse2, Always},
    {"avx2", phenomd::population::SumRowAvx2, phenomd::CpuHasAvx2},
    {"avx512", phenomd::population::SumRowAvx512, phenomd::CpuHasAvx512},
#endif
};

INSTANTIATE_TEST_SUITE_P(Kernels, RowSumsKernel, ::testing::ValuesIn(kKernels),
                         [](const ::testing::TestParamInfo<KernelCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(RowSumsDispatch, UsesTheWidestKernelTheCpuSupports) {
#ifdef PHENOMD_HAVE_FAST_ROW
  const char* widest = phenomd::CpuHasAvx512() ? "avx512"
                       : phenomd::CpuHasAvx2() ? "avx2"
                                               : "sse2";
#else
  const char* widest = "scalar";
#endif
  EXPECT_STREQ(widest, phenomd::population::SumRowKernel());
}

}  // namespace

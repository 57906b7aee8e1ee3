// libFuzzer harness over the fast module.  Each input is, first, a batch in
// harness.h's format, run through the fast build's Amplitude and
// SNR_function with every check of the exact harness (the kernel is the
// widest the CPU has); then up to three rows handed to every kernel the CPU
// can run (AVX-512F, AVX2, SSE2, each in turn) and to the exact row, with
// guard cells around each row.  Per row and kernel the harness aborts when:
//   - a cell outside the row is written, or a cell of it is left unwritten;
//   - two neighbouring frequencies, neither NaN, run against the grid's
//     direction (the exponent j step + L0 is monotone; so must the grid be:
//     ascending for step > 0 and Msec > 0);
//   - a row whose remnant is out of range gets a strain that is not NaN;
//   - on a physical row (below), a frequency differs from the exact row's by
//     more than 1e-14 relative, a strain is NaN, infinite or negative where
//     the exact one is not, or differs from it by more than the point's own
//     conditioning allows (tests/fast/conditioning.h), away from the piece
//     boundaries, where the two rows may pick different pieces, and above
//     1e-280 (below, the ringdown's exponential decay reaches the
//     subnormals).
//
// Row format, after the batch (a missing byte reads as 0):
//   byte        rows: byte % 4 (0 .. 3)
//   per row     eta, chi1, chi2, L0, step, Msec, amp_scale: each a mode byte
//               and 8 payload bytes as in harness.h (mode % 4: 0 raw bits,
//               1 special, 2 and 3 physical from u), then a length byte
//               (length = byte % 200 + 1; a kernel's row is never empty).
//   physical:   eta = 0.25 10^(-1.2 u) (mass ratios up to about 60),
//               chi = -1 + 2 u, L0 = -7 + 7.3 u (Mf from 1e-7 to 2),
//               step = +-10^(-20 + 18 u) (negative for u < 0.25),
//               Msec = 10^(-5 + 10 u), amp_scale = 10^(-30 + 10 u).
// A row is physical when every value came from its physical mode and its
// last exponent L0 + (length - 1) step stays within [-7.5, 0.5].
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "../tests/fast/conditioning.h"
#include "amp_model.h"
#include "grid.h"
#include "harness.h"

namespace {

using phenomd::AmpModel;
using phenomd::RowGrid;
using Kernel = void (*)(const AmpModel&, const RowGrid&, double*, double*);

enum RowField { kEta, kChi1, kChi2, kL0, kStep, kMsec, kAmp, kRowFields };

double PhysicalRowValue(RowField f, double u) {
  switch (f) {
    case kEta:
      return 0.25 * std::pow(10.0, -1.2 * u);
    case kChi1:
    case kChi2:
      return -1.0 + 2.0 * u;
    case kL0:
      return -7.0 + 7.3 * u;
    case kStep:
      return u < 0.25 ? -std::pow(10.0, -20.0 + 18.0 * (u / 0.25))
                      : std::pow(10.0, -20.0 + 18.0 * (u - 0.25) / 0.75);
    case kMsec:
      return std::pow(10.0, -5.0 + 10.0 * u);
    case kAmp:
      return std::pow(10.0, -30.0 + 10.0 * u);
    default:
      return 0.0;
  }
}

const phenomd::CallConstants& Constants() {
  static const phenomd::CallConstants k =
      phenomd::CallConstants::Make(3.1415926536);
  return k;
}
const phenomd::RingdownTables& Tables() {
  static const phenomd::RingdownTables t;
  return t;
}

// Near a piece boundary the fast and the exact row may take different
// pieces, whose values meet only to the collocation's accuracy.
bool NearBoundary(const AmpModel& a, double Mf) {
  for (double b : {phenomd::kInspiralJoin, a.m.f_mr_start}) {
    if (std::fabs(Mf - b) <= 1e-12 * b) return true;
  }
  return false;
}

void CheckRow(fuzz::Reader& r, long row) {
  double v[kRowFields];
  bool physical = true;
  for (int f = 0; f < kRowFields; ++f) {
    const std::uint8_t mode = r.Byte();
    const std::uint64_t p = r.U64();
    switch (mode % 4) {
      case 0:
        v[f] = fuzz::Bits(p);
        physical = false;
        break;
      case 1:
        v[f] = fuzz::kSpecials[p % fuzz::kNumSpecials];
        physical = false;
        break;
      default:
        v[f] = PhysicalRowValue(RowField(f), fuzz::Unit(p));
    }
  }
  const std::ptrdiff_t n = r.Byte() % 200 + 1;
  const double last = v[kL0] + static_cast<double>(n - 1) * v[kStep];
  physical = physical && last >= -7.5 && last <= 0.5;

  AmpModel a;
  phenomd::FillAmpModel(v[kEta], v[kChi1], v[kChi2], Constants(), Tables(), a);
  const RowGrid g{v[kL0], v[kStep], v[kMsec], v[kAmp], n};
  const std::size_t len = static_cast<std::size_t>(n);
  std::vector<double> ef(len), eh(len);
  phenomd::ExactRow(a, g, ef.data(), eh.data());

  struct Named {
    Kernel kernel;
    bool (*supported)();
  };
  const Named kernels[] = {{phenomd::FastRowAvx512, phenomd::CpuHasAvx512},
                           {phenomd::FastRowAvx2, phenomd::CpuHasAvx2},
                           {phenomd::FastRowSse2, nullptr}};
  // +1: ascending, -1: descending, 0: no order to keep (zero or NaN step,
  // or a scale that is not a positive or negative number).
  const double s = v[kStep], m = v[kMsec];
  const int order = (s > 0.0   ? 1
                     : s < 0.0 ? -1
                               : 0) *
                    (m > 0.0   ? 1
                     : m < 0.0 ? -1
                               : 0);
  for (const Named& k : kernels) {
    if (k.supported != nullptr && !k.supported()) continue;
    fuzz::Guarded f(len), h(len);
    k.kernel(a, g, f.data(), h.data());
    CHECK(f.GuardsIntact() && h.GuardsIntact(), "kernel wrote outside the row",
          row, -1);
    for (std::size_t j = 0; j < len; ++j) {
      const long lj = long(j);
      CHECK(!fuzz::IsCanary(f[j]) && !fuzz::IsCanary(h[j]),
            "kernel left a cell unwritten", row, lj);
      if (!a.remnant_ok) {
        CHECK(std::isnan(h[j]), "strain not NaN with the remnant out of range",
              row, lj);
      }
      if (j > 0 && order != 0 && !std::isnan(f[j]) && !std::isnan(f[j - 1])) {
        CHECK(order > 0 ? f[j] >= f[j - 1] : f[j] <= f[j - 1],
              "kernel grid runs against its step", row, lj);
      }
      if (!physical || !a.remnant_ok) continue;
      CHECK(std::fabs(f[j] - ef[j]) <= 1e-14 * std::fabs(ef[j]),
            "kernel frequency differs from the exact row's", row, lj);
      if (std::isfinite(eh[j]) && eh[j] >= 0.0) {
        CHECK(std::isfinite(h[j]) && h[j] >= 0.0, "bad strain from a kernel",
              row, lj);
      }
      const double Mf = ef[j] * v[kMsec];
      // Deep in the ringdown the strain decays exponentially and reaches the
      // subnormals, where relative differences say nothing.
      if (NearBoundary(a, Mf) || !std::isfinite(eh[j]) ||
          std::fabs(eh[j]) < 1e-280) {
        continue;
      }
      const double tol =
          fast_test::StrainTolerance(fast_test::StrainCondition(a, Mf));
      CHECK(std::fabs(h[j] - eh[j]) <= tol * std::fabs(eh[j]),
            "kernel strain differs from the exact row's", row, lj);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  fuzz::Reader r(data, size);
  fuzz::CheckBatch(r);
  const int rows = r.Byte() % 4;
  for (int i = 0; i < rows; ++i) CheckRow(r, i);
  return 0;
}

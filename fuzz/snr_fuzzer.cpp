// libFuzzer harness over SNR_function alone, with any grid, strain, noise and
// boundaries: NaN, infinities, zeros, negative and subnormal values,
// descending and zero-width grids, boundaries outside or inside the grid or
// swapped.  Every array is framed by guard cells.  The harness aborts when:
//   - the call returns non-zero, changes an input, or writes outside an
//     array; writes anything when num_binaries <= 0, or leaves an output
//     unwritten when it is positive;
//   - a row shorter than two points gets a ratio other than 0;
//   - a ratio differs from the harness's own point-by-point evaluation of
//     the documented rule (trapezoid over f of (hc/hn)^2 / f, each interval
//     to inspiral, merger or ringdown by its midpoint, summed in row order,
//     square roots of the sums): bitwise, or NaN where that is NaN; the
//     library's pairwise runs claim exactly these sums;
//   - a well-formed row (finite grid ascending from a positive start,
//     finite non-negative strains, noise in [1e-30, 1e-5], and all of it
//     small enough that no square overflows) gets a ratio that is NaN,
//     infinite or negative, or a total whose square falls short of the
//     largest phase's square.
//
// Input format (a missing byte reads as 0):
//   byte 0      num_binaries: as harness.h (-2 .. 5, 255 -> INT_MIN)
//   byte 1      length: 255 -> INT_MIN, 254 -> -1000000, else
//               (byte % 132) - 3 (-3 .. 128)
//   per binary: the grid, hc and hn rows, then f_merger_start and
//               f_ringdown_start.
//     a row is a mode byte and 8 payload bytes (a, and b from a second 8):
//       mode % 8: 0 raw bits per point (8 more bytes each)
//                 1 the payload's special value on every point
//                 2 ascending geometric: 10^(-6 + 8u) times 10^(k (1e-4 +
//                   u2)), u2 in [0, 1) from b
//                 3 descending: as 2, reversed
//                 4 zero width: 10^(-6 + 8u) on every point
//                 5 as 2 with one point (b % length) set to a special value
//                 6 as 2 with every point repeated once (zero-width steps)
//                 7 power law 10^(-25 + 10u) (k + 1)^(-1 + 2 u2)
//     a boundary is a mode byte and 8 payload bytes: mode % 4: 0 raw bits,
//       1 special, 2 and 3 the grid's value at a fractional position u
//       (below, inside or above the row: u scaled to [-0.5, 1.5] of the
//       row's index range, clamped to the row's ends).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "harness.h"

namespace {

int DecodeSnrLength(std::uint8_t b) {
  if (b == 255) return INT_MIN;
  if (b == 254) return -1000000;
  return b % 132 - 3;
}

void DecodeRow(fuzz::Reader& r, double* out, std::size_t len) {
  const std::uint8_t mode = r.Byte();
  const std::uint64_t a = r.U64(), b = r.U64();
  const double u = fuzz::Unit(a), u2 = fuzz::Unit(b);
  const double base = std::pow(10.0, -6.0 + 8.0 * u);
  const double ratio = 1e-4 + u2;
  const double special = fuzz::kSpecials[a % fuzz::kNumSpecials];
  for (std::size_t k = 0; k < len; ++k) {
    const double kk = static_cast<double>(k);
    switch (mode % 8) {
      case 0:
        out[k] = fuzz::Bits(r.U64());
        break;
      case 1:
        out[k] = special;
        break;
      case 2:
      case 5:
        out[k] = base * std::pow(10.0, kk * ratio);
        break;
      case 3:
        out[k] =
            base * std::pow(10.0, static_cast<double>(len - 1 - k) * ratio);
        break;
      case 4:
        out[k] = base;
        break;
      case 6:
        out[k] = base * std::pow(10.0, static_cast<double>(k / 2) * ratio);
        break;
      default:
        out[k] = std::pow(10.0, -25.0 + 10.0 * u) *
                 std::pow(kk + 1.0, -1.0 + 2.0 * u2);
    }
  }
  if (mode % 8 == 5 && len > 0) {
    out[b % len] = fuzz::kSpecials[(a >> 8) % fuzz::kNumSpecials];
  }
}

double DecodeBoundary(fuzz::Reader& r, const double* row, std::size_t len) {
  const std::uint8_t mode = r.Byte();
  const std::uint64_t p = r.U64();
  switch (mode % 4) {
    case 0:
      return fuzz::Bits(p);
    case 1:
      return fuzz::kSpecials[p % fuzz::kNumSpecials];
    default: {
      if (len == 0) return 1.0;
      const double pos = (-0.5 + 2.0 * fuzz::Unit(p)) * double(len - 1);
      const double c =
          pos < 0.0 ? 0.0 : (pos > double(len - 1) ? double(len - 1) : pos);
      const std::size_t k = static_cast<std::size_t>(c);
      // Outside the row: beyond its ends by the overshoot's share.
      if (pos < 0.0) return row[0] * (1.0 + pos);
      if (pos > double(len - 1)) return row[len - 1] * (1.0 + pos - c);
      const double t = c - double(k);
      return k + 1 < len ? row[k] + t * (row[k + 1] - row[k]) : row[k];
    }
  }
}

// The rule SNR_function documents, one interval at a time in row order.
struct Split {
  double all, ins, mrg, rd;
};
Split Reference(const double* f, const double* hc, const double* hn,
                std::size_t n, double fm, double fr) {
  Split s{0.0, 0.0, 0.0, 0.0};
  auto integrand = [&](std::size_t k) {
    const double r = hc[k] / hn[k];
    return (1.0 / f[k]) * r * r;
  };
  double f_lo = f[0], g_lo = integrand(0);
  for (std::size_t k = 1; k < n; ++k) {
    const double f_hi = f[k], g_hi = integrand(k);
    const double area = (g_lo + g_hi) * (f_hi - f_lo) * 0.5;
    const double mid = (f_hi + f_lo) * 0.5;
    if (mid <= fm) {
      s.ins += area;
    } else if (mid >= fr) {
      s.rd += area;
    } else {
      s.mrg += area;
    }
    s.all += area;
    f_lo = f_hi;
    g_lo = g_hi;
  }
  return Split{std::sqrt(s.all), std::sqrt(s.ins), std::sqrt(s.mrg),
               std::sqrt(s.rd)};
}

bool SameValue(double got, double want) {
  if (std::isnan(want)) return std::isnan(got);
  return std::memcmp(&got, &want, sizeof got) == 0;
}

// Finite, ascending from a positive start, strains finite and non-negative,
// noise in [1e-30, 1e-5], with (hc/hn)^2 / f and the areas far from overflow.
bool WellFormed(const double* f, const double* hc, const double* hn,
                std::size_t n) {
  for (std::size_t k = 0; k < n; ++k) {
    if (!(f[k] >= 1e-10 && f[k] <= 1e10)) return false;
    if (k > 0 && !(f[k] >= f[k - 1])) return false;
    if (!(hc[k] >= 0.0 && hc[k] <= 1e-5)) return false;
    if (!(std::fabs(hn[k]) >= 1e-30 && std::fabs(hn[k]) <= 1e-5)) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using fuzz::Guarded;
  fuzz::Reader r(data, size);
  const int num_binaries = fuzz::DecodeCount(r.Byte());
  const int length = DecodeSnrLength(r.Byte());
  const bool empty = num_binaries <= 0;
  const std::size_t nb = empty ? 3 : std::size_t(num_binaries);
  const std::size_t len = empty ? 8 : (length > 0 ? std::size_t(length) : 0);
  const std::size_t cells = nb * len;

  Guarded freqs(cells), hc(cells), hn(cells), fm(nb), fr(nb);
  std::vector<double> row(len);
  for (std::size_t i = 0; i < nb; ++i) {
    for (Guarded* g : {&freqs, &hc, &hn}) {
      DecodeRow(r, row.data(), len);
      for (std::size_t k = 0; k < len; ++k) g->Set(i * len + k, row[k]);
    }
    fm.Set(i, DecodeBoundary(r, freqs.data() + i * len, len));
    fr.Set(i, DecodeBoundary(r, freqs.data() + i * len, len));
  }
  const std::vector<double> f_snap = freqs.Snapshot(), h_snap = hc.Snapshot(),
                            n_snap = hn.Snapshot(), fm_snap = fm.Snapshot(),
                            fr_snap = fr.Snapshot();
  Guarded all(nb), ins(nb), mrg(nb), rd(nb);
  const int rc = SNR_function(all.data(), ins.data(), mrg.data(), rd.data(),
                              freqs.data(), hc.data(), hn.data(), fm.data(),
                              fr.data(), length, num_binaries);
  CHECK(rc == 0, "SNR_function returned non-zero", -1, -1);
  CHECK(freqs.SameAs(f_snap) && hc.SameAs(h_snap) && hn.SameAs(n_snap) &&
            fm.SameAs(fm_snap) && fr.SameAs(fr_snap),
        "SNR_function changed an input", -1, -1);
  for (const Guarded* g : {&all, &ins, &mrg, &rd}) {
    CHECK(g->GuardsIntact(), "SNR_function wrote outside an array", -1, -1);
    if (empty) {
      CHECK(g->Untouched(), "SNR_function wrote with num_binaries <= 0", -1,
            -1);
    }
  }
  if (empty) return 0;
  for (std::size_t i = 0; i < nb; ++i) {
    const long li = long(i);
    const double got[4] = {all[i], ins[i], mrg[i], rd[i]};
    for (double v : got) CHECK(!fuzz::IsCanary(v), "ratio not written", li, -1);
    if (len < 2) {
      for (double v : got)
        CHECK(v == 0.0, "short row with non-zero ratio", li, -1);
      continue;
    }
    const double* f = freqs.data() + i * len;
    const double* h = hc.data() + i * len;
    const double* n = hn.data() + i * len;
    const Split want = Reference(f, h, n, len, fm[i], fr[i]);
    const double w[4] = {want.all, want.ins, want.mrg, want.rd};
    for (int c = 0; c < 4; ++c) {
      CHECK(SameValue(got[c], w[c]),
            "ratio differs from the point-by-point rule", li, c);
    }
    if (WellFormed(f, h, n, len)) {
      for (double v : got) {
        CHECK(std::isfinite(v) && v >= 0.0, "bad ratio for a well-formed row",
              li, -1);
      }
      const double top = std::fmax(got[1], std::fmax(got[2], got[3]));
      CHECK(got[0] * got[0] >= top * top * (1.0 - 1e-12),
            "total below a phase for a well-formed row", li, -1);
    }
  }
  return 0;
}

// What the libFuzzer harnesses share: guard-framed arrays, the input reader,
// the decoding of a batch of binaries, and the checks of one Amplitude call
// followed by SNR_function on its outputs (CheckBatch).  Each harness links
// one build of the model (the exact or the fast one) and so checks that
// build's entry points.
//
// Batch format (read front to back; a missing byte reads as 0):
//   byte 0      num_binaries: 255 -> INT_MIN, else (byte % 8) - 2  (-2 .. 5)
//   byte 1      length: 255 -> INT_MIN, 254 -> -1000000,
//               else (byte % 68) - 3                            (-3 .. 64)
//   then, per binary, 8 values (m1 m2 spin1 spin2 dist z t_start t_end) and
//   one noise row, each a mode byte and 8 payload bytes (little-endian u64):
//     value mode % 4: 0 raw IEEE bits, 1 a special value (payload % count),
//                     2 and 3 a physical value of that input from the payload
//     noise mode % 4: 0 constant 10^(-25 + 10 u), 1 a special value on every
//                     point, 2 raw bits per point (8 more bytes each),
//                     3 constant 1e-20 with one point (payload % length)
//                     set to a special value
//   where u in [0, 1) is the payload's top 53 bits.
//
// A binary is "physical" when its masses are finite in [1e-2, 1e12] M_sun
// with ratio at most 1000, both spins are in [-1, 1], the distance is finite
// in [1e-6, 1e12] Mpc, 1 + z is in [0.01, 1e4], t_start is in [1e-12, 1e12]
// years and t_end is finite and either <= 0 or in [1e-12, 1e12].
#pragma once

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "phenomd.h"

namespace fuzz {

[[noreturn]] inline void Fail(const char* what, long i, long j) {
  std::fprintf(stderr, "fuzz check failed: %s (binary/row %ld, point %ld)\n",
               what, i, j);
  std::abort();
}
#define CHECK(cond, what, i, j)            \
  do {                                     \
    if (!(cond)) ::fuzz::Fail(what, i, j); \
  } while (0)

// A finite value no computation of the library produces by chance.
inline double Canary() {
  const std::uint64_t bits = 0xC3D2A1B09F8E7D6Cull;
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}
inline bool IsCanary(double v) {
  const double c = Canary();
  return std::memcmp(&v, &c, sizeof v) == 0;
}

constexpr std::size_t kGuard = 8;

// An array of n doubles with kGuard canary cells on each side.
class Guarded {
 public:
  explicit Guarded(std::size_t n) : n_(n), buf_(n + 2 * kGuard, Canary()) {}
  double* data() { return buf_.data() + kGuard; }
  const double* data() const { return buf_.data() + kGuard; }
  std::size_t size() const { return n_; }
  double operator[](std::size_t k) const { return data()[k]; }
  bool GuardsIntact() const {
    for (std::size_t k = 0; k < kGuard; ++k) {
      if (!IsCanary(buf_[k]) || !IsCanary(buf_[kGuard + n_ + k])) return false;
    }
    return true;
  }
  bool Untouched() const {
    for (double v : buf_) {
      if (!IsCanary(v)) return false;
    }
    return true;
  }
  // Fills the data cells with values (inputs).
  void Set(std::size_t k, double v) { data()[k] = v; }
  // Bitwise copy of the whole buffer, guards included.
  std::vector<double> Snapshot() const { return buf_; }
  bool SameAs(const std::vector<double>& s) const {
    return std::memcmp(s.data(), buf_.data(), s.size() * sizeof(double)) == 0;
  }

 private:
  std::size_t n_;
  std::vector<double> buf_;
};

class Reader {
 public:
  Reader(const std::uint8_t* d, std::size_t n) : d_(d), n_(n) {}
  std::uint8_t Byte() { return pos_ < n_ ? d_[pos_++] : 0; }
  std::uint64_t U64() {
    std::uint64_t v = 0;
    for (int k = 0; k < 8; ++k) v |= std::uint64_t(Byte()) << (8 * k);
    return v;
  }

 private:
  const std::uint8_t* d_;
  std::size_t n_, pos_ = 0;
};

inline double Bits(std::uint64_t b) {
  double d;
  std::memcpy(&d, &b, sizeof d);
  return d;
}
inline double Unit(std::uint64_t b) { return double(b >> 11) * 0x1p-53; }

// clang-format off
inline const double kSpecials[] = {
    NAN, -NAN, INFINITY, -INFINITY, 0.0, -0.0, DBL_TRUE_MIN, -DBL_TRUE_MIN,
    DBL_MIN, DBL_MAX, -DBL_MAX, 1.0, -1.0, 1.0000000000000002,
    -1.0000000000000002, 0.9999999999999999, 1e-300, 1e300, -1e5, 0.25, 2.0};
// clang-format on
constexpr std::size_t kNumSpecials = sizeof kSpecials / sizeof kSpecials[0];

enum Field { kM1, kM2, kSpin1, kSpin2, kDist, kZ, kTStart, kTEnd, kFields };

inline double Physical(Field f, double u) {
  switch (f) {
    case kM1:
    case kM2:
      return std::pow(10.0, -2.0 + 14.0 * u);
    case kSpin1:
    case kSpin2:
      return -1.0 + 2.0 * u;
    case kDist:
      return std::pow(10.0, -6.0 + 18.0 * u);
    case kZ:
      return std::pow(10.0, -2.0 + 6.0 * u) - 1.0;
    case kTStart:
      return std::pow(10.0, -12.0 + 24.0 * u);
    case kTEnd:
      return u < 0.3 ? -u : std::pow(10.0, -12.0 + 24.0 * (u - 0.3) / 0.7);
    default:
      return 0.0;
  }
}

inline double DecodeValue(Reader& r, Field f) {
  const std::uint8_t mode = r.Byte();
  const std::uint64_t p = r.U64();
  switch (mode % 4) {
    case 0:
      return Bits(p);
    case 1:
      return kSpecials[p % kNumSpecials];
    default:
      return Physical(f, Unit(p));
  }
}

inline bool In(double v, double lo, double hi) { return v >= lo && v <= hi; }

struct Binary {
  double v[kFields];
  bool physical() const {
    const double m1 = v[kM1], m2 = v[kM2];
    if (!In(m1, 1e-2, 1e12) || !In(m2, 1e-2, 1e12)) return false;
    if (m1 > 1000.0 * m2 || m2 > 1000.0 * m1) return false;
    if (!In(v[kSpin1], -1.0, 1.0) || !In(v[kSpin2], -1.0, 1.0)) return false;
    if (!In(v[kDist], 1e-6, 1e12)) return false;
    if (!In(1.0 + v[kZ], 1e-2, 1e4)) return false;
    if (!In(v[kTStart], 1e-12, 1e12)) return false;
    const double t1 = v[kTEnd];
    return std::isfinite(t1) && (t1 <= 0.0 || In(t1, 1e-12, 1e12));
  }
  // The band ends clearly before it starts: a later end time is a lower
  // frequency.
  bool inverted() const {
    return v[kTEnd] > 0.0 && v[kTEnd] > v[kTStart] * (1.0 + 1e-6);
  }
  // The band clearly runs upwards.
  bool upward() const {
    return v[kTEnd] > 0.0 && v[kTEnd] * (1.0 + 1e-6) < v[kTStart];
  }
};

// Noise that keeps hc/hn and its square finite for physical strain.
inline bool SaneNoise(const Guarded& hn, std::size_t row, std::size_t len) {
  for (std::size_t k = 0; k < len; ++k) {
    const double a = std::fabs(hn[row + k]);
    if (!In(a, 1e-30, 1e-5)) return false;
  }
  return true;
}

inline int DecodeCount(std::uint8_t b) {
  return b == 255 ? INT_MIN : b % 8 - 2;
}
inline int DecodeLength(std::uint8_t b) {
  if (b == 255) return INT_MIN;
  if (b == 254) return -1000000;
  return b % 68 - 3;
}

// Decodes a batch from r, calls Amplitude and then SNR_function on its
// outputs, and aborts on any broken guarantee (see fuzz/README.md).
inline void CheckBatch(Reader& r) {
  const int num_binaries = DecodeCount(r.Byte());
  const int length = DecodeLength(r.Byte());

  // With num_binaries <= 0 the arrays still exist (three binaries of eight
  // points) and must come back untouched.
  const bool empty = num_binaries <= 0;
  const std::size_t nb = empty ? 3 : std::size_t(num_binaries);
  const std::size_t len = empty ? 8 : (length > 0 ? std::size_t(length) : 0);
  const std::size_t cells = nb * len;

  std::vector<Binary> bins(nb);
  Guarded in[kFields] = {Guarded(nb), Guarded(nb), Guarded(nb), Guarded(nb),
                         Guarded(nb), Guarded(nb), Guarded(nb), Guarded(nb)};
  Guarded hn(cells);
  for (std::size_t i = 0; i < nb; ++i) {
    for (int f = 0; f < kFields; ++f) {
      bins[i].v[f] = DecodeValue(r, Field(f));
      in[f].Set(i, bins[i].v[f]);
    }
    const std::uint8_t mode = r.Byte();
    const std::uint64_t p = r.U64();
    for (std::size_t k = 0; k < len; ++k) {
      double v;
      switch (mode % 4) {
        case 0:
          v = std::pow(10.0, -25.0 + 10.0 * Unit(p));
          break;
        case 1:
          v = kSpecials[p % kNumSpecials];
          break;
        case 2:
          v = Bits(r.U64());
          break;
        default:
          v = k == p % len ? kSpecials[(p >> 8) % kNumSpecials] : 1e-20;
      }
      hn.Set(i * len + k, v);
    }
  }
  std::vector<double> in_snap[kFields];
  for (int f = 0; f < kFields; ++f) in_snap[f] = in[f].Snapshot();

  Guarded freqs(cells), hc(cells), fm(nb), fr(nb);
  const int rc =
      Amplitude(freqs.data(), hc.data(), fm.data(), fr.data(), in[kM1].data(),
                in[kM2].data(), in[kSpin1].data(), in[kSpin2].data(),
                in[kDist].data(), in[kZ].data(), in[kTStart].data(),
                in[kTEnd].data(), num_binaries, length);
  CHECK(rc == 0, "Amplitude returned non-zero", -1, -1);
  for (int f = 0; f < kFields; ++f) {
    CHECK(in[f].SameAs(in_snap[f]), "Amplitude changed an input", f, -1);
  }
  for (const Guarded* g : {&freqs, &hc, &fm, &fr}) {
    CHECK(g->GuardsIntact(), "Amplitude wrote outside an array", -1, -1);
    if (empty)
      CHECK(g->Untouched(), "Amplitude wrote with num_binaries <= 0", -1, -1);
  }

  if (!empty) {
    for (std::size_t i = 0; i < nb; ++i) {
      const long li = long(i);
      CHECK(!IsCanary(fm[i]) && !IsCanary(fr[i]), "boundary not written", li,
            -1);
      for (std::size_t k = 0; k < len; ++k) {
        CHECK(!IsCanary(freqs[i * len + k]) && !IsCanary(hc[i * len + k]),
              "grid point not written", li, long(k));
      }
      const Binary& b = bins[i];
      if (!b.physical() || len == 0) continue;
      const double* f = freqs.data() + i * len;
      const double* h = hc.data() + i * len;
      const bool sentinel = f[0] == 1e-30 && h[0] == 1e-60;
      if (b.inverted())
        CHECK(sentinel, "inverted band without sentinels", li, 0);
      if (b.upward()) CHECK(!sentinel, "upward band marked inverted", li, 0);
      CHECK(std::isfinite(fm[i]) && fm[i] > 0.0, "bad merger boundary", li, -1);
      CHECK(std::isfinite(fr[i]) && fr[i] > 0.0, "bad ringdown boundary", li,
            -1);
      for (std::size_t k = 0; k < len; ++k) {
        const long lk = long(k);
        if (sentinel) {
          CHECK(f[k] == 1e-30 && h[k] == 1e-60, "partial sentinel row", li, lk);
          continue;
        }
        CHECK(std::isfinite(f[k]) && f[k] > 0.0, "bad frequency", li, lk);
        CHECK(k == 0 || f[k] >= f[k - 1], "grid not ascending", li, lk);
        // Past the ringdown the strain decays exponentially and may
        // underflow to 0; below it, it is positive.
        CHECK(std::isfinite(h[k]) && h[k] >= 0.0, "bad strain", li, lk);
        CHECK(h[k] > 0.0 || f[k] > fr[i], "zero strain before ringdown", li,
              lk);
      }
    }
  }

  // SNR over Amplitude's outputs, which must not be changed.
  const std::vector<double> f_snap = freqs.Snapshot(), h_snap = hc.Snapshot(),
                            n_snap = hn.Snapshot(), fm_snap = fm.Snapshot(),
                            fr_snap = fr.Snapshot();
  Guarded all(nb), ins(nb), mrg(nb), rd(nb);
  const int rc2 = SNR_function(all.data(), ins.data(), mrg.data(), rd.data(),
                               freqs.data(), hc.data(), hn.data(), fm.data(),
                               fr.data(), length, num_binaries);
  CHECK(rc2 == 0, "SNR_function returned non-zero", -1, -1);
  CHECK(freqs.SameAs(f_snap) && hc.SameAs(h_snap) && hn.SameAs(n_snap) &&
            fm.SameAs(fm_snap) && fr.SameAs(fr_snap),
        "SNR_function changed an input", -1, -1);
  for (const Guarded* g : {&all, &ins, &mrg, &rd}) {
    CHECK(g->GuardsIntact(), "SNR_function wrote outside an array", -1, -1);
    if (empty)
      CHECK(g->Untouched(), "SNR_function wrote with num_binaries <= 0", -1,
            -1);
  }
  if (empty) return;
  for (std::size_t i = 0; i < nb; ++i) {
    const long li = long(i);
    const double s[4] = {all[i], ins[i], mrg[i], rd[i]};
    for (double v : s) CHECK(!IsCanary(v), "ratio not written", li, -1);
    if (len < 2) {
      for (double v : s)
        CHECK(v == 0.0, "short row with non-zero ratio", li, -1);
      continue;
    }
    if (!bins[i].physical() || !SaneNoise(hn, i * len, len)) continue;
    const bool sentinel = freqs[i * len] == 1e-30 && hc[i * len] == 1e-60;
    for (double v : s) {
      CHECK(v >= 0.0 && !std::isnan(v), "bad ratio for a physical binary", li,
            -1);
      if (sentinel) CHECK(v == 0.0, "sentinel row with non-zero ratio", li, -1);
    }
  }
}

}  // namespace fuzz

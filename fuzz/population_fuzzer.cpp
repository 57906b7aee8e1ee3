// libFuzzer harness over the population module's entry points,
// phenomd_population_snr (trapezoid on the model's grid),
// phenomd_population_snr_gauss (Gauss-Legendre in ln f), its nodes
// (phenomd_population_nodes) and phenomd_population_snr_edges (its rho^2 at
// the panel edges), with arbitrary
// binaries, factors, noise tables, tolerances and declared kinks; every
// array framed by guard cells.  The harness aborts when:
//   - either call changes an input, writes outside an array, writes
//     anything when it returns an error code or num_binaries <= 0, or
//     leaves an output unwritten when it returns OK with num_binaries > 0;
//   - the two calls disagree on whether the table is usable, or the Gauss
//     entry refuses (or accepts) a tolerance in (outside) [1e-9, 0.1] or
//     a kink list that is (is not) finite, positive and well-formed;
//   - either call's boundaries and inverted flags differ bitwise from
//     Amplitude's (the batch loop behind it, with the same row), or the
//     trapezoid's n_outside from the count of Amplitude's frequencies
//     outside [f_min, f_max];
//   - for a physical binary (harness.h), a sane table (a power law between
//     1e-30 and 1e-5, at any level and noise of the shaping bits) and a factor in [1e-3, 1e3]: the trapezoid's SNRs
//     differ by more than 1e-9 relative from SNR_function's on Amplitude's
//     row times the factor against h_n read back from the table at each
//     frequency (the module takes log10 f from the grid's exponent, so they
//     agree to rounding, not bitwise; SNRs below 1e-150, whose squares
//     underflow, compare as 0, and rows whose strain falls below 1e-150,
//     whose square the module's (k hc)^2 makes subnormal, are not
//     compared); the Gauss SNRs are NaN, negative,
//     non-zero on an inverted band, their phases' squares do not add up to
//     the total's, n_outside is not 0-2; and, where the band lies inside
//     the table, the table is not noisy and rtol <= 1e-4, the total
//     differs by more than 2 % from the trapezoid at 4096 points;
//   - the edges entry returns another code than the Gauss entry (or, with
//     max_edges < 2 and a usable table, anything but BAD_ARGUMENT), writes
//     on an error, outside its rows or past num_edges, or returns a row
//     whose count is outside {0} and [2, max_edges] (0 only where the
//     Gauss SNR is 0 or NaN), whose frequencies descend, whose rho^2 does
//     not start at 0 and rise, or whose last rho^2 is not the Gauss
//     entry's snr_all^2 (to 1e-12).
//
// Input format (a missing byte reads as 0):
//   byte 0   num_binaries (harness.h: -2 .. 5, 255 -> INT_MIN)
//   byte 1   trapezoid length: (byte % 68) - 3
//   byte 2   flags: bit 0 fast, bit 1 factor NULL, bit 2 inverted NULL,
//            bits 3-7: the edges entry's max_edges, (flags >> 3) % 32
//   rtol     mode byte + 8 bytes: mode % 4: 0 raw bits, 1 special value,
//            2 and 3 10^(-11 + 10.5 u) (mostly inside the accepted range)
//   table    mode byte + 3 x 8 bytes (a, b, c): length 4 + (mode / 4) % 61,
//            spacing 10^(-3 + 2.5 u_a) dex, first node 10^(-6 + 9 u_b) Hz,
//            [f_min, f_max] from node 1 to node length - 2, ln h_n a power
//            law of slope -2 + 4 u_c through 1e-20 at the first node; the
//            low 11 bits of c (which u_c does not read) shape it like the
//            tables the package's file reader makes: v = c & 31 >= 16
//            moves the level by -230 + 460 (v - 16) / 15 in ln h_n (a
//            file far from usual levels, after the package's power-of-two
//            shift, lies within 1e+-100 of 1e-20), and w = (c >> 5) & 7 >= 4
//            adds to every node an offset up to +-(w - 3) 0.05 (noisy
//            data interpolated by PCHIP);
//            mode % 4: 0 as is, 1 one node (c % length) a special value,
//            2 every field raw bits (a, b, c and 3 more 8-byte words),
//            3 NULL
//   kinks    count byte: 0x80 -> count -1, 0x40 -> NULL with the count,
//            else (byte % 4) kinks, each a mode byte + 8 bytes: 0 raw bits,
//            1 special, 2 and 3 10^(-6 + 9 u) Hz
//   per binary: the eight values of harness.h, then the factor (mode byte
//            + 8 bytes: 0 raw, 1 special, 2 and 3 1 + 2 u)
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "batch.h"
#include "grid.h"
#include "harness.h"
#include "phenomd_population.h"

namespace {

using fuzz::Guarded;

double DecodeMode(fuzz::Reader& r, double lo_exp, double span_exp,
                  bool linear = false) {
  const std::uint8_t mode = r.Byte();
  const std::uint64_t p = r.U64();
  switch (mode % 4) {
    case 0:
      return fuzz::Bits(p);
    case 1:
      return fuzz::kSpecials[p % fuzz::kNumSpecials];
    default:
      return linear ? lo_exp + span_exp * fuzz::Unit(p)
                    : std::pow(10.0, lo_exp + span_exp * fuzz::Unit(p));
  }
}

struct Table {
  std::vector<double> ln_hn;
  phenomd_noise_table t{};
  bool null = false, sane = false, rough = false;
};

Table DecodeTable(fuzz::Reader& r) {
  Table tab;
  const std::uint8_t mode = r.Byte();
  const std::uint64_t a = r.U64(), b = r.U64(), c = r.U64();
  const int len = 4 + (mode / 4) % 61;
  const double d = std::pow(10.0, -3.0 + 2.5 * fuzz::Unit(a));
  const double x0 = -6.0 + 9.0 * fuzz::Unit(b);
  const double slope = -2.0 + 4.0 * fuzz::Unit(c);
  const unsigned level = c & 31u, noise = (c >> 5) & 7u;
  const double offset = level >= 16 ? -230.0 + 460.0 * (level - 16) / 15.0 : 0.0;
  tab.rough = noise >= 4;
  std::uint64_t h = a | 1u;  // xorshift64 for the offsets of noisy nodes
  for (int k = 0; k < len; ++k) {
    double y = std::log(1e-20) + offset + slope * k * d * 2.302585092994046;
    if (tab.rough) {
      h ^= h << 13;
      h ^= h >> 7;
      h ^= h << 17;
      y += (noise - 3) * 0.05 * (2.0 * fuzz::Unit(h) - 1.0);
    }
    tab.ln_hn.push_back(y);
  }
  tab.t = {x0, d, nullptr, len, std::pow(10.0, x0 + d),
           std::pow(10.0, x0 + d * (len - 2))};
  switch (mode % 4) {
    case 0:
      // Sane when every node's h_n is in [1e-30, 1e-5], times the level's
      // e^offset.
      tab.sane = std::fabs(slope * (len - 1) * d) < 10.0;
      break;
    case 1:
      tab.ln_hn[c % len] = fuzz::kSpecials[a % fuzz::kNumSpecials];
      break;
    case 2:
      tab.t.log10_f0 = fuzz::Bits(a);
      tab.t.dlog10_f = fuzz::Bits(b);
      tab.t.f_min = fuzz::Bits(c);
      tab.t.f_max = fuzz::Bits(r.U64());
      tab.ln_hn[0] = fuzz::Bits(r.U64());
      tab.t.length = static_cast<std::int64_t>(r.U64() % 80);
      if (tab.t.length > len) tab.t.length = len;
      break;
    default:
      tab.null = true;
  }
  tab.t.ln_hn = tab.ln_hn.data();
  return tab;
}

// h_n at f from the table, as phenomd_population.h documents it.
double TableHn(const phenomd_noise_table& t, double f) {
  if (!(f >= t.f_min && f <= t.f_max)) return INFINITY;
  const double x = (std::log10(f) - t.log10_f0) / t.dlog10_f;
  double i = std::floor(x);
  if (i < 1) i = 1;
  if (i > static_cast<double>(t.length - 3)) i = static_cast<double>(t.length - 3);
  const double u = x - i;
  const std::int64_t k = static_cast<std::int64_t>(i);
  const double* y = t.ln_hn;
  return std::exp(-u * (u - 1) * (u - 2) / 6 * y[k - 1] +
                  (u + 1) * (u - 1) * (u - 2) / 2 * y[k] -
                  (u + 1) * u * (u - 2) / 2 * y[k + 1] +
                  (u + 1) * u * (u - 1) / 6 * y[k + 2]);
}

// The eight outputs of one call, guarded.
struct Outputs {
  Guarded all, ins, mrg, rd, fm, fr;
  std::vector<std::int64_t> outside;
  std::vector<unsigned char> inverted;
  std::size_t n;
  static constexpr std::int64_t kCanaryCount = 0x5a5a5a5a5a5a5a5all;
  explicit Outputs(std::size_t n_)
      : all(n_), ins(n_), mrg(n_), rd(n_), fm(n_), fr(n_),
        outside(n_ + 2 * fuzz::kGuard, kCanaryCount),
        inverted(n_ + 2 * fuzz::kGuard, 0xa5), n(n_) {}
  std::int64_t* out_ptr() { return outside.data() + fuzz::kGuard; }
  unsigned char* inv_ptr() { return inverted.data() + fuzz::kGuard; }
  bool Untouched() const {
    for (const Guarded* g : {&all, &ins, &mrg, &rd, &fm, &fr})
      if (!g->Untouched()) return false;
    for (auto v : outside) if (v != kCanaryCount) return false;
    for (auto v : inverted) if (v != 0xa5) return false;
    return true;
  }
  bool GuardsIntact() const {
    for (const Guarded* g : {&all, &ins, &mrg, &rd, &fm, &fr})
      if (!g->GuardsIntact()) return false;
    for (std::size_t k = 0; k < fuzz::kGuard; ++k) {
      if (outside[k] != kCanaryCount || outside[fuzz::kGuard + n + k] != kCanaryCount)
        return false;
      if (inverted[k] != 0xa5 || inverted[fuzz::kGuard + n + k] != 0xa5) return false;
    }
    return true;
  }
  bool AllWritten(bool with_inverted) const {
    for (std::size_t i = 0; i < n; ++i) {
      for (const Guarded* g : {&all, &ins, &mrg, &rd, &fm, &fr})
        if (fuzz::IsCanary((*g)[i])) return false;
      if (outside[fuzz::kGuard + i] == kCanaryCount) return false;
      if (with_inverted && inverted[fuzz::kGuard + i] == 0xa5) return false;
    }
    return true;
  }
};

// Within rel of b, or both below 1e-150: an SNR whose square is subnormal
// is where the module's (k hc)^2 exp(-2 ln h_n) and SNR_function's
// (hc / h_n)^2 underflow differently.
bool Close(double a, double b, double rel) {
  return std::fabs(a - b) <= rel * std::fabs(b) + 1e-150;
}

// Whether a row's strain (times the factor) falls below 1e-150 somewhere
// (a ringdown's exponential tail, a far light binary): there the module's
// (k hc)^2 is subnormal and keeps fewer digits, while SNR_function's
// (hc / h_n)^2 does not, so with a low noise level the two SNRs may differ
// beyond rounding; such rows are compared only for sanity.
bool TinyStrain(const double* h, std::size_t len) {
  for (std::size_t j = 0; j < len; ++j)
    if (std::fabs(h[j]) < 1e-150) return true;
  return false;
}

// phenomd_population_nodes over the table's range and the same kinks, with
// a small node capacity (so that the batch takes several calls, and a
// binary that does not fit is reported as such): nothing written beyond
// the buffers, offsets ascending, every node inside the range with a phase
// 0-2 and a weight >= 0 (or NaN for a NaN binary), and the boundaries,
// n_outside and flags of the Gauss entry, bitwise.
void CheckNodes(fuzz::Reader& r, const Table& tab, const Guarded* in,
                const double* factor, const double* kinks,
                std::int64_t num_kinks, int num_binaries, std::size_t nb,
                double rtol, int fast, const Outputs& gauss) {
  if (tab.null || num_binaries <= 0) return;
  const int refine = r.Byte() % 3;
  std::int64_t capacity = 16 * (1 + r.Byte() % 64);
  const double f_min = tab.t.f_min, f_max = tab.t.f_max;
  std::vector<std::int64_t> offsets(nb + 1);
  Outputs o(nb);
  std::size_t start = 0;
  for (int calls = 0; start < nb && calls < 64; ++calls) {
    Guarded ln_f{static_cast<std::size_t>(capacity)},
        w{static_cast<std::size_t>(capacity)};
    std::vector<unsigned char> phase(std::size_t(capacity) + 8, 0xAB);
    std::int64_t done = -1;
    const double* ins[fuzz::kFields + 1];
    for (int f = 0; f <= fuzz::kFields; ++f) ins[f] = in[f].data() + start;
    const int rc = phenomd_population_nodes(
        ln_f.data(), w.data(), phase.data(), capacity, offsets.data(),
        o.fm.data() + start, o.fr.data() + start, o.out_ptr() + start,
        o.inv_ptr() + start, ins[0], ins[1], ins[2], ins[3], ins[4], ins[5],
        ins[6], ins[7], factor ? factor + start : nullptr, f_min, f_max, kinks,
        num_kinks, std::int64_t(nb - start), rtol, refine, fast, &done);
    CHECK(ln_f.GuardsIntact() && w.GuardsIntact(), "nodes: write outside",
          long(start), -1);
    for (int k = 0; k < 8; ++k)
      CHECK(phase[std::size_t(capacity) + k] == 0xAB, "nodes: phase overrun",
            long(start), -1);
    if (!(f_min > 0.0 && f_min < f_max && std::isfinite(f_max))) {
      CHECK(rc == PHENOMD_POPULATION_BAD_TABLE, "nodes: bad range accepted",
            rc, -1);
      return;
    }
    CHECK(rc == PHENOMD_POPULATION_OK, "nodes: refused what gauss took", rc,
          -1);
    CHECK(done >= 0 && done <= std::int64_t(nb - start), "nodes: num_done",
          long(done), -1);
    if (done == 0) {
      capacity *= 2;
      continue;
    }
    CHECK(offsets[0] == 0 && offsets[std::size_t(done)] <= capacity,
          "nodes: offsets", long(start), -1);
    const double lo = std::log(f_min), hi = std::log(f_max);
    for (std::int64_t i = 0; i < done; ++i) {
      CHECK(offsets[std::size_t(i)] <= offsets[std::size_t(i) + 1],
            "nodes: offsets descend", long(start + i), -1);
      for (std::int64_t j = offsets[std::size_t(i)];
           j < offsets[std::size_t(i) + 1]; ++j) {
        const double x = ln_f.data()[j], wj = w.data()[j];
        CHECK(phase[std::size_t(j)] < 3, "nodes: phase", long(start + i), -1);
        if (std::isnan(wj)) continue;
        CHECK(wj >= 0.0, "nodes: negative weight", long(start + i), -1);
        CHECK(x >= lo - 1e-9 * (1 + std::fabs(lo)) &&
                  x <= hi + 1e-9 * (1 + std::fabs(hi)),
              "nodes: node outside the range", long(start + i), -1);
      }
    }
    start += std::size_t(done);
  }
  for (std::size_t i = 0; i < start; ++i) {
    const double a = o.fm[i], b = gauss.fm[i], c = o.fr[i], d = gauss.fr[i];
    CHECK(std::memcmp(&a, &b, 8) == 0 && std::memcmp(&c, &d, 8) == 0,
          "nodes: boundaries differ from gauss's", long(i), -1);
    const unsigned char gi = gauss.inverted[fuzz::kGuard + i];  // 0xa5: NULL given
    CHECK(o.outside[fuzz::kGuard + i] == gauss.outside[fuzz::kGuard + i] &&
              (gi == 0xa5 || o.inverted[fuzz::kGuard + i] == gi),
          "nodes: n_outside or inverted differ from gauss's", long(i), -1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  fuzz::Reader r(data, size);
  const int num_binaries = fuzz::DecodeCount(r.Byte());
  const int length = r.Byte() % 68 - 3;
  const std::uint8_t flags = r.Byte();
  int fast = flags & 1;
  if (fast && !phenomd_population_has_fast_row()) fast = 0;
  const bool no_factor = flags & 2, no_inverted = flags & 4;
  const double rtol = DecodeMode(r, -11.0, 10.5);
  Table tab = DecodeTable(r);

  const std::uint8_t kb = r.Byte();
  std::int64_t num_kinks = kb & 0x80 ? -1 : kb % 4;
  std::vector<double> kinks;
  for (std::int64_t k = 0; k < (num_kinks > 0 ? num_kinks : 0); ++k)
    kinks.push_back(DecodeMode(r, -6.0, 9.0));
  const bool kinks_null = (kb & 0x40) != 0;
  bool kinks_ok = num_kinks >= 0 && !(kinks_null && num_kinks > 0);
  for (double k : kinks) kinks_ok = kinks_ok && k > 0.0 && std::isfinite(k);
  const bool rtol_ok = rtol >= 1e-9 && rtol <= 0.1;  // the documented range

  const bool empty = num_binaries <= 0;
  const std::size_t nb = empty ? 3 : std::size_t(num_binaries);
  std::vector<fuzz::Binary> bins(nb);
  Guarded in[fuzz::kFields + 1] = {Guarded(nb), Guarded(nb), Guarded(nb),
                                   Guarded(nb), Guarded(nb), Guarded(nb),
                                   Guarded(nb), Guarded(nb), Guarded(nb)};
  for (std::size_t i = 0; i < nb; ++i) {
    for (int f = 0; f < fuzz::kFields; ++f) {
      bins[i].v[f] = fuzz::DecodeValue(r, fuzz::Field(f));
      in[f].Set(i, bins[i].v[f]);
    }
    in[fuzz::kFields].Set(i, DecodeMode(r, 1.0, 2.0, true));
  }
  std::vector<std::vector<double>> snaps;
  for (const Guarded& g : in) snaps.push_back(g.Snapshot());
  const std::vector<double> table_snap = tab.ln_hn;
  const double* factor = no_factor ? nullptr : in[fuzz::kFields].data();
  const phenomd_noise_table* table = tab.null ? nullptr : &tab.t;

  const std::int64_t max_edges = (flags >> 3) % 32;
  const std::size_t room = nb * std::size_t(max_edges > 0 ? max_edges : 1);
  Guarded edge_f(room), edge_rho2(room);
  std::vector<std::int64_t> num_edges(nb + 2 * fuzz::kGuard, Outputs::kCanaryCount);

  Outputs trap(nb), gauss(nb);
  const int rc_t = phenomd_population_snr(
      trap.all.data(), trap.ins.data(), trap.mrg.data(), trap.rd.data(),
      trap.fm.data(), trap.fr.data(), trap.out_ptr(),
      no_inverted ? nullptr : trap.inv_ptr(), in[0].data(), in[1].data(),
      in[2].data(), in[3].data(), in[4].data(), in[5].data(), in[6].data(),
      in[7].data(), factor, table, num_binaries, length, fast);
  const int rc_g = phenomd_population_snr_gauss(
      gauss.all.data(), gauss.ins.data(), gauss.mrg.data(), gauss.rd.data(),
      gauss.fm.data(), gauss.fr.data(), gauss.out_ptr(),
      no_inverted ? nullptr : gauss.inv_ptr(), in[0].data(), in[1].data(),
      in[2].data(), in[3].data(), in[4].data(), in[5].data(), in[6].data(),
      in[7].data(), factor, table, kinks_null ? nullptr : kinks.data(),
      num_kinks, num_binaries, rtol, fast);
  const int rc_e = phenomd_population_snr_edges(
      edge_f.data(), edge_rho2.data(), num_edges.data() + fuzz::kGuard,
      in[0].data(), in[1].data(), in[2].data(), in[3].data(), in[4].data(),
      in[5].data(), in[6].data(), in[7].data(), factor, table,
      kinks_null ? nullptr : kinks.data(), num_kinks, num_binaries, max_edges,
      rtol, fast);

  for (std::size_t f = 0; f < snaps.size(); ++f)
    CHECK(in[f].SameAs(snaps[f]), "an input changed", long(f), -1);
  CHECK(std::memcmp(tab.ln_hn.data(), table_snap.data(),
                    table_snap.size() * sizeof(double)) == 0,
        "the table changed", -1, -1);
  CHECK(trap.GuardsIntact() && gauss.GuardsIntact(), "write outside an array",
        -1, -1);
  CHECK(edge_f.GuardsIntact() && edge_rho2.GuardsIntact(), "edges: write outside an array", -1, -1);
  for (std::size_t k = 0; k < fuzz::kGuard; ++k)
    CHECK(num_edges[k] == Outputs::kCanaryCount && num_edges[fuzz::kGuard + nb + k] == Outputs::kCanaryCount,
          "edges: write outside num_edges", -1, -1);
  if (max_edges >= 2 || rc_g == PHENOMD_POPULATION_BAD_TABLE)
    CHECK(rc_e == rc_g, "edges and gauss return different codes", rc_e, rc_g);
  else
    CHECK(rc_e == PHENOMD_POPULATION_BAD_ARGUMENT, "edges accepted max_edges < 2", rc_e, -1);
  if (rc_e != PHENOMD_POPULATION_OK || empty) {
    CHECK(edge_f.Untouched() && edge_rho2.Untouched(), "edges wrote on error or empty batch", rc_e, -1);
    for (std::int64_t v : num_edges)
      CHECK(v == Outputs::kCanaryCount, "edges wrote num_edges on error or empty batch", rc_e, -1);
  } else {
    for (std::size_t i = 0; i < nb; ++i) {
      const std::int64_t m = num_edges[fuzz::kGuard + i];
      const double all = gauss.all[i];
      CHECK(m == 0 || (m >= 2 && m <= max_edges), "edges: count out of range", long(i), long(m));
      if (m == 0)
        CHECK(all == 0.0 || std::isnan(all), "edges: no row for a band with an SNR", long(i), -1);
      const std::size_t at = i * std::size_t(max_edges);
      for (std::int64_t j = m; j < max_edges; ++j)
        CHECK(fuzz::IsCanary(edge_f[at + j]) && fuzz::IsCanary(edge_rho2[at + j]),
              "edges: wrote past num_edges", long(i), long(j));
      if (m == 0) continue;
      CHECK(edge_rho2[at] == 0.0, "edges: rho^2 does not start at 0", long(i), -1);
      for (std::int64_t j = 1; j < m; ++j)
        CHECK(edge_f[at + j] >= edge_f[at + j - 1] && !(edge_rho2[at + j] < edge_rho2[at + j - 1]),
              "edges: frequencies or rho^2 descend", long(i), long(j));
      const double last = std::sqrt(edge_rho2[at + m - 1]);
      const bool same = last == all || (std::isnan(last) && std::isnan(all)) || Close(last, all, 1e-12);
      if (!same)
        std::fprintf(stderr, "edges %.17g (%lld edges) gauss %.17g\n", last, static_cast<long long>(m), all);
      CHECK(same,
            "edges: last rho^2 is not the gauss SNR's square", long(i), -1);
    }
  }

  const bool bad_table_t = rc_t == PHENOMD_POPULATION_BAD_TABLE;
  const bool bad_table_g = rc_g == PHENOMD_POPULATION_BAD_TABLE;
  CHECK(bad_table_t == bad_table_g, "the entries disagree on the table", rc_t,
        rc_g);
  CHECK(rc_t == PHENOMD_POPULATION_OK || rc_t == PHENOMD_POPULATION_BAD_TABLE,
        "trapezoid return code", rc_t, -1);
  if (!bad_table_g) {
    if (!rtol_ok || !kinks_ok) {
      CHECK(rc_g == PHENOMD_POPULATION_BAD_ARGUMENT, "a bad argument accepted",
            rc_g, -1);
    } else {
      CHECK(rc_g == PHENOMD_POPULATION_OK, "a good argument refused", rc_g, -1);
    }
  }
  if (rc_t != PHENOMD_POPULATION_OK || empty)
    CHECK(trap.Untouched(), "trapezoid wrote on error or empty batch", rc_t, -1);
  if (rc_g != PHENOMD_POPULATION_OK || empty)
    CHECK(gauss.Untouched(), "gauss wrote on error or empty batch", rc_g, -1);
  if (empty || (rc_t != PHENOMD_POPULATION_OK && rc_g != PHENOMD_POPULATION_OK))
    return 0;
  if (rc_t == PHENOMD_POPULATION_OK)
    CHECK(trap.AllWritten(!no_inverted), "trapezoid left a cell", -1, -1);
  if (rc_g == PHENOMD_POPULATION_OK)
    CHECK(gauss.AllWritten(!no_inverted), "gauss left a cell", -1, -1);

  // The reference: Amplitude's batch loop with the same row, the factor,
  // h_n read back from the table, SNR_function's batch loop.
  const std::size_t len = length > 0 ? std::size_t(length) : 0;
  std::vector<double> freqs(nb * (len > 0 ? len : 1)), hc(freqs.size()),
      hn(freqs.size()), fm(nb), fr(nb), s_all(nb), s_ins(nb), s_mrg(nb),
      s_rd(nb);
  const phenomd::RowFunction row =
#ifdef PHENOMD_HAVE_FAST_ROW
      fast ? phenomd::FastRow :
#endif
           phenomd::ExactRow;
  phenomd::AmplitudeBatch(row, freqs.data(), hc.data(), fm.data(), fr.data(),
                          in[0].data(), in[1].data(), in[2].data(),
                          in[3].data(), in[4].data(), in[5].data(),
                          in[6].data(), in[7].data(), int(nb), length);
  for (std::size_t i = 0; i < nb; ++i) {
    const Outputs* outs[] = {&trap, &gauss};
    const int rcs[] = {rc_t, rc_g};
    for (int o = 0; o < 2; ++o) {
      if (rcs[o] != PHENOMD_POPULATION_OK) continue;
      const double a = outs[o]->fm[i], b = outs[o]->fr[i];
      CHECK(std::memcmp(&a, &fm[i], 8) == 0 && std::memcmp(&b, &fr[i], 8) == 0,
            "boundaries differ from Amplitude's", long(i), o);
    }
  }
  if (rc_t == PHENOMD_POPULATION_OK && len > 0) {
    const double k_default = 1.0;
    for (std::size_t i = 0; i < nb; ++i) {
      const double k = factor ? factor[i] : k_default;
      std::int64_t outside = 0;
      for (std::size_t j = 0; j < len; ++j) {
        const double f = freqs[i * len + j];
        hc[i * len + j] *= k;
        hn[i * len + j] = TableHn(tab.t, f);
        outside += !(f >= tab.t.f_min && f <= tab.t.f_max);
      }
      CHECK(trap.outside[fuzz::kGuard + i] == outside, "n_outside", long(i), -1);
      if (!no_inverted)
        CHECK(trap.inverted[fuzz::kGuard + i] ==
                  (freqs[i * len] == phenomd::kSentinelFreq),
              "inverted flag", long(i), -1);
    }
    phenomd::SnrBatch(s_all.data(), s_ins.data(), s_mrg.data(), s_rd.data(),
                      freqs.data(), hc.data(), hn.data(), fm.data(), fr.data(),
                      length, int(nb));
    for (std::size_t i = 0; i < nb; ++i) {
      const double k = factor ? factor[i] : 1.0;
      if (!bins[i].physical() || !tab.sane || !(std::fabs(k) >= 1e-3 && std::fabs(k) <= 1e3) ||
          TinyStrain(hc.data() + i * len, len))
        continue;
      const bool same = Close(trap.all[i], s_all[i], 1e-9) &&
                        Close(trap.ins[i], s_ins[i], 1e-9) &&
                        Close(trap.mrg[i], s_mrg[i], 1e-9) &&
                        Close(trap.rd[i], s_rd[i], 1e-9);
      if (!same)
        std::fprintf(stderr, "trapezoid %.17g %.17g %.17g %.17g\nreference %.17g %.17g %.17g %.17g\n",
                     trap.all[i], trap.ins[i], trap.mrg[i], trap.rd[i], s_all[i], s_ins[i], s_mrg[i], s_rd[i]);
      CHECK(same, "trapezoid differs from Amplitude + SNR_function", long(i), -1);
    }
  }
  if (rc_g != PHENOMD_POPULATION_OK) return 0;
  CheckNodes(r, tab, in, factor, kinks_null ? nullptr : kinks.data(),
             num_kinks, num_binaries, nb, rtol, fast, gauss);

  // The Gauss entry on physical binaries and sane tables.
  std::vector<double> f2(nb * 4096), h2(nb * 4096), n2(nb * 4096), a2(nb),
      i2(nb), m2(nb), r2(nb), fm2(nb), fr2(nb);
  bool compared = false;
  for (std::size_t i = 0; i < nb; ++i) {
    const double k = factor ? factor[i] : 1.0;
    if (!bins[i].physical() || !tab.sane || !(std::fabs(k) >= 1e-3 && std::fabs(k) <= 1e3))
      continue;
    const double all = gauss.all[i], ins = gauss.ins[i], mrg = gauss.mrg[i],
                 rd = gauss.rd[i];
    const std::int64_t outside = gauss.outside[fuzz::kGuard + i];
    CHECK(outside >= 0 && outside <= 2, "gauss n_outside", long(i), -1);
    CHECK(all >= 0 && ins >= 0 && mrg >= 0 && rd >= 0 && std::isfinite(all),
          "gauss SNR NaN, infinite or negative", long(i), -1);
    CHECK(Close(ins * ins + mrg * mrg + rd * rd, all * all, 1e-12),
          "gauss phases do not add up", long(i), -1);
    if (bins[i].inverted())
      CHECK(all == 0.0 && outside == 0, "gauss inverted band non-zero", long(i), -1);
    if (!no_inverted && bins[i].inverted())
      CHECK(gauss.inverted[fuzz::kGuard + i] == 1, "gauss inverted flag", long(i), -1);
    if (!no_inverted && bins[i].upward())
      CHECK(gauss.inverted[fuzz::kGuard + i] == 0, "gauss upward band flagged", long(i), -1);
    compared = compared || (outside == 0 && rtol <= 1e-4 && !tab.rough);
  }
  if (!compared) return 0;
  // The trapezoid at 4096 points where the band lies inside the table.
  phenomd::AmplitudeBatch(row, f2.data(), h2.data(), fm2.data(), fr2.data(),
                          in[0].data(), in[1].data(), in[2].data(),
                          in[3].data(), in[4].data(), in[5].data(),
                          in[6].data(), in[7].data(), int(nb), 4096);
  for (std::size_t j = 0; j < f2.size(); ++j) n2[j] = TableHn(tab.t, f2[j]);
  for (std::size_t i = 0; i < nb; ++i) {
    const double k = factor ? factor[i] : 1.0;
    for (std::size_t j = 0; j < 4096; ++j) h2[i * 4096 + j] *= k;
  }
  phenomd::SnrBatch(a2.data(), i2.data(), m2.data(), r2.data(), f2.data(),
                    h2.data(), n2.data(), fm2.data(), fr2.data(), 4096, int(nb));
  for (std::size_t i = 0; i < nb; ++i) {
    const double k = factor ? factor[i] : 1.0;
    if (!bins[i].physical() || !tab.sane || !(std::fabs(k) >= 1e-3 && std::fabs(k) <= 1e3) ||
        gauss.outside[fuzz::kGuard + i] != 0 || !(rtol <= 1e-4) || tab.rough ||
        (!bins[i].upward() && bins[i].v[fuzz::kTEnd] > 0) || TinyStrain(h2.data() + i * 4096, 4096))
      continue;
    CHECK(Close(gauss.all[i], a2[i], 2e-2), "gauss differs from the trapezoid at 4096 points",
          long(i), -1);
  }
  return 0;
}

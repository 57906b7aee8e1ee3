// The row-sum kernel over a vector type V of W doubles, included by each
// instruction-set file (internal linkage: each file keeps its own copy).
// Passes over the row, which stays in cache between them:
//  1. per block of W points: the table index from the grid's exponent, four
//     consecutive nodes per lane and the Lagrange weights give -ln h_n, and
//     the same exponent ln f, so -2 ln h_n - ln f goes into the scratch row;
//     then, in a loop of its own, exp of it (the exp of the instruction
//     set: a call for SSE2 and AVX2), 0 where f is outside the range, and
//     the integrand g = (k hc)^2 exp(-2 ln h_n - ln f) = (1/f) (k hc/h_n)^2
//     in place (no division);
//  2. per block of W intervals: the trapezoid area (g_lo + g_hi)(f_hi -
//     f_lo)/2 and its midpoint (f_hi + f_lo)/2, added to the total and, by
//     the midpoint's comparisons, to one phase, in W running sums per phase.
// Every lane's index is clamped before the table is read, so lanes outside
// the range (or NaN) read it in bounds and are then zeroed.  The per-point
// operations are those of the portable kernel except exp and the order of
// the sums.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "row_sums.h"

namespace phenomd {
namespace population {
namespace {

template <class V>
RowSums RowSumsKernel(const RowSumsInputs& in, const double* freqs,
                      const double* hc, double* g) {
  using R = typename V::R;
  using I = typename V::I;
  constexpr int W = V::kLanes;
  const std::ptrdiff_t n = in.length;
  const R lane = V::Iota();
  const R x_step = V::Set1(in.x_step), x0 = V::Set1(in.x0);
  const R f_min = V::Set1(in.f_min), f_max = V::Set1(in.f_max);
  const R k = V::Set1(in.factor);
  const R one = V::Set1(1.0), two = V::Set1(2.0);
  const R half = V::Set1(0.5), sixth = V::Set1(1.0 / 6.0);
  const R zero = V::Set1(0.0);
  const R ln_f_step = V::Set1(in.ln_f_step), ln_f0 = V::Set1(in.ln_f0);
  const int hi = in.table_length - 3;
  const double* y = in.ln_hn;

  // Pass 1a: -2 ln h_n - ln f of every point into the scratch row (no
  // calls, so the constants stay in registers).
  auto lnh_block = [&](std::ptrdiff_t j) {
    const R x = V::Add(
        V::Mul(V::Add(V::Set1(static_cast<double>(j)), lane), x_step), x0);
    const I i = V::TruncClamp(x, 1, hi);  // trunc = floor for x >= 0
    const R t = V::Sub(x, V::ToDouble(i));
    // y[i-1 .. i+2] of each lane: four consecutive doubles.
    R y0, y1, y2, y3;
    V::Load4(y - 1, i, y0, y1, y2, y3);
    const R tp1 = V::Add(t, one), tm1 = V::Sub(t, one), tm2 = V::Sub(t, two);
    // The Lagrange weights of nodes -1, 0, 1, 2; ln h_n negated.
    const R w0 = V::Mul(V::Mul(V::Mul(t, tm1), tm2), sixth);
    const R w1 = V::Mul(V::Mul(V::Mul(tp1, tm1), tm2), half);
    const R w2 = V::Mul(V::Mul(V::Mul(tp1, t), tm2), half);
    const R w3 = V::Mul(V::Mul(V::Mul(tp1, t), tm1), sixth);
    R m_lnh = V::Sub(V::Mul(w0, y0), V::Mul(w1, y1));
    m_lnh = V::Add(m_lnh, V::Mul(w2, y2));
    m_lnh = V::Sub(m_lnh, V::Mul(w3, y3));
    // ln f from the same exponent: ln 10 (log10_f0 + x dlog10_f).
    const R ln_f = V::Add(V::Mul(x, ln_f_step), ln_f0);
    return V::Sub(V::Add(m_lnh, m_lnh), ln_f);
  };
  // Pass 1b: 1/(f h_n^2) = exp(-2 ln h_n - ln f), 0 outside the range, and
  // the integrand (k hc)^2 / (f h_n^2) in place; returns the mask bits of
  // the lanes inside the range.
  auto g_block = [&](const double* f_in, const double* h_in, double* g_io) {
    const R f = V::Load(f_in);
    const auto inside = V::And(V::Ge(f, f_min), V::Le(f, f_max));
    const R e = V::Select(inside, V::Exp(V::Load(g_io)), zero);
    const R r = V::Mul(V::Load(h_in), k);
    V::Store(g_io, V::Mul(V::Mul(r, r), e));
    return V::Bits(inside);
  };

  std::ptrdiff_t j = 0;
  for (; j + W <= n; j += W) V::Store(g + j, lnh_block(j));
  std::int64_t inside = 0;
  for (std::ptrdiff_t b = 0; b < j; b += W)
    inside += __builtin_popcount(
        static_cast<unsigned>(g_block(freqs + b, hc + b, g + b)));
  if (j < n) {
    // The last partial block on copies; the lanes past the row are NaN
    // (outside) and not counted.
    const std::ptrdiff_t rem = n - j;
    double f_tail[W], h_tail[W], g_tail[W];
    V::Store(g_tail, lnh_block(j));
    for (int l = 0; l < W; ++l) {
      f_tail[l] =
          l < rem ? freqs[j + l] : std::numeric_limits<double>::quiet_NaN();
      h_tail[l] = l < rem ? hc[j + l] : 0.0;
    }
    inside += __builtin_popcount(
        static_cast<unsigned>(g_block(f_tail, h_tail, g_tail)));
    for (std::ptrdiff_t l = 0; l < rem; ++l) g[j + l] = g_tail[l];
  }

  // Pass 2: intervals (j - 1, j) for j = 1 .. n - 1.
  const R f_mrg = V::Set1(in.f_merger_start);
  const R f_rd = V::Set1(in.f_ringdown_start);
  R s_all = zero, s_ins = zero, s_mrg = zero, s_rd = zero;
  j = 1;
  for (; j + W <= n; j += W) {
    const R f_hi = V::Load(freqs + j), f_lo = V::Load(freqs + j - 1);
    const R area = V::Mul(
        V::Mul(V::Add(V::Load(g + j - 1), V::Load(g + j)), V::Sub(f_hi, f_lo)),
        half);
    const R mid = V::Mul(V::Add(f_hi, f_lo), half);
    const auto ins = V::Le(mid, f_mrg);
    const auto rd = V::AndNot(ins, V::Ge(mid, f_rd));
    const auto mrg = V::AndNot(V::Or(ins, rd), V::AllTrue());
    s_all = V::Add(s_all, area);
    s_ins = V::Add(s_ins, V::Select(ins, area, zero));
    s_rd = V::Add(s_rd, V::Select(rd, area, zero));
    s_mrg = V::Add(s_mrg, V::Select(mrg, area, zero));
  }
  RowSums s{V::Sum(s_all), V::Sum(s_ins), V::Sum(s_mrg), V::Sum(s_rd),
            n - inside};
  AddIntervals(in, freqs, g, j, s);
  return s;
}

}  // namespace
}  // namespace population
}  // namespace phenomd

// The fast row kernel, written once over a vector type V (W lanes of
// doubles) and included by each instruction-set file.  Everything here has
// internal linkage, so each file keeps its own copy.
//
// Per block of W grid points, with x the grid's exponent:
//   Mf = 10^x                       (SLEEF exp10, <= 1 ulp)
//   c  = 10^(x/3) = Mf^(1/3)        (SLEEF exp10)
//   Mf^(2/3) = c c, Mf^(4/3) = Mf c, Mf^(5/3) = Mf c^2, Mf^2 = Mf Mf,
//   Mf^(7/3) = Mf^2 c, Mf^(8/3) = Mf^2 c^2, Mf^3 = Mf Mf^2,
//   Mf^(7/6) = Mf sqrt(c),
// the inspiral sum in the exact library's order, corrected to the exact
// library's rounded exponents (its pow(Mf, 8/3) is Mf^(8/3 + e) with e the
// exponent's rounding error, a relative shift e ln(Mf) of up to a few ulp
// that a sum which cancels would otherwise magnify), the merger-ringdown piece
// with one SLEEF exp, the quartic by products.  A block whose points lie in
// one piece evaluates only that piece; a block across a boundary evaluates
// the pieces it touches and selects per lane with the exact library's tests
// (Mf <= 0.014 first, then Mf >= f_mr_start; NaN fails both).  Products and
// sums are separate instructions: nothing is contracted into FMAs.
//
// The grid is kept monotone in the direction of its step.  The exponents
// x_j = j step + L0 are monotone, but exp10 good to an ulp is not: where
// consecutive x differ by an ulp of x only (bands narrower than about 1e-14
// relative, near Mf ~ 1 where x's ulp is far below Mf's), the errors of two
// neighbours can cross and put Mf_j one ulp below Mf_(j-1).  In such a row
// each Mf is the running maximum of the row's Mf so far (minimum for a
// negative step): a prefix maximum within the block by lane shifts, then the
// maximum with the previous block's last value.  Only points that would fall
// behind their predecessor change, to their predecessor's value, and
// everything after the grid (f, the strain) is computed from that Mf, so
// each point's strain is the strain at the frequency written.  The x86
// max/min return their second operand when either is NaN, so a NaN point
// stays NaN and does not spread to the points after it.
//
// Any other row is left as it was: there neighbours cannot cross.  Each x_j
// is within 2^-53 (|j step| + |x_j|) of j step + L0, so consecutive x differ
// by at least |step| - 2^-52 3 (|L0| + |x_last|); exp10 errs by at most an
// ulp, 2^-52 relative, so two neighbours keep their order once their exact
// ratio 10^(x_(j+1) - x_j) exceeds (1 + 2^-52) / (1 - 2^-52), i.e. once
// x_(j+1) - x_j > 2^-51 / ln 10 (about 0.87 2^-52).  A step above
// 2^-46 (1 + |L0| + |x_last|), sixteen times what that needs, is safe.
#pragma once

#include <cmath>
#include <cstddef>
#include <limits>

#include "grid_fast_kernel.h"

namespace phenomd {
namespace fast {
namespace {

template <class V>
void RowKernel(const RowInputs& in, double* freqs, double* hc) {
  using R = typename V::R;
  using M = typename V::M;
  constexpr int W = V::kLanes;
  const std::ptrdiff_t n = in.length;

  const R lane = V::Iota();
  const R step = V::Set1(in.step), L0 = V::Set1(in.L0);
  const R Msec = V::Set1(in.Msec), amp_scale = V::Set1(in.amp_scale);
  const R one = V::Set1(1.0), two = V::Set1(2.0), three = V::Set1(3.0);
  const R nan = V::Set1(std::numeric_limits<double>::quiet_NaN());
  const R join = V::Set1(0.014), f_mr_start = V::Set1(in.f_mr_start);
  const R c_2_3 = V::Set1(in.c_2_3), c_1 = V::Set1(in.c_1),
          c_4_3 = V::Set1(in.c_4_3), c_5_3 = V::Set1(in.c_5_3),
          c_2 = V::Set1(in.c_2), c_7_3 = V::Set1(in.c_7_3),
          c_8_3 = V::Set1(in.c_8_3), c_3 = V::Set1(in.c_3);
  const R f_rd = V::Set1(in.f_rd), gamma2 = V::Set1(in.gamma2),
          w = V::Set1(in.w), gamma1_w = V::Set1(in.gamma1_w),
          w_w = V::Set1(in.w_w);
  const R d0 = V::Set1(in.delta0), d1 = V::Set1(in.delta1),
          d2 = V::Set1(in.delta2), d3 = V::Set1(in.delta3),
          d4 = V::Set1(in.delta4);

  // ln(Mf) times a = 0x1.5555555555555p-55: every rounded exponent the
  // exact row passes to pow is its fraction plus k a with a small integer k
  // (2/3: -1, 4/3: -2, 5/3: +2, 7/3: +4, 8/3: -4, 7/6: +2), so its power
  // is the true one times 1 + k a ln(Mf).
  const R a_ln10 = V::Set1(0x1.5555555555555p-55 * 2.302585092994046);
  const R m2 = V::Set1(-2.0), four = V::Set1(4.0), m4 = V::Set1(-4.0);
  auto inspiral = [&](R Mf, R c, R aL) {
    const R p2_3 = V::Mul(c, c);
    const R p4_3 = V::Mul(Mf, c);
    const R p5_3 = V::Mul(Mf, p2_3);
    const R p2 = V::Mul(Mf, Mf);
    const R p7_3 = V::Mul(p2, c);
    const R p8_3 = V::Mul(p2, p2_3);
    const R p3 = V::Mul(Mf, p2);
    const R t2_3 = V::Mul(c_2_3, p2_3), t4_3 = V::Mul(c_4_3, p4_3),
            t5_3 = V::Mul(c_5_3, p5_3), t7_3 = V::Mul(c_7_3, p7_3),
            t8_3 = V::Mul(c_8_3, p8_3);
    R s = V::Add(one, t2_3);
    s = V::Add(s, V::Mul(c_1, Mf));
    s = V::Add(s, t4_3);
    s = V::Add(s, t5_3);
    s = V::Add(s, V::Mul(c_2, p2));
    s = V::Add(s, t7_3);
    s = V::Add(s, t8_3);
    s = V::Add(s, V::Mul(c_3, p3));
    R k = V::Sub(V::Mul(two, t5_3), t2_3);
    k = V::Add(k, V::Mul(m2, t4_3));
    k = V::Add(k, V::Mul(four, t7_3));
    k = V::Add(k, V::Mul(m4, t8_3));
    return V::Add(s, V::Mul(aL, k));
  };
  auto merger = [&](R Mf) {
    const R x = V::Sub(Mf, f_rd);
    const R e = V::Exp(V::Neg(V::Div(V::Mul(gamma2, x), w)));
    return V::Div(V::Mul(e, gamma1_w), V::Add(V::Mul(x, x), w_w));
  };
  auto quartic = [&](R Mf) {
    const R Mf2 = V::Mul(Mf, Mf);
    const R Mf3 = V::Mul(Mf, Mf2);
    const R Mf4 = V::Mul(Mf, Mf3);
    R s = V::Add(V::Mul(d1, Mf), d0);
    s = V::Add(s, V::Mul(d2, Mf2));
    s = V::Add(s, V::Mul(d3, Mf3));
    return V::Add(s, V::Mul(d4, Mf4));
  };

  // +1: Mf must not fall (running maximum), -1: must not rise (running
  // minimum), 0: nothing to keep (a step wide enough that neighbours cannot
  // cross, a zero step, where every x is the same, or a NaN one).
  const double x_last = in.L0 + static_cast<double>(n - 1) * in.step;
  const bool narrow = std::fabs(in.step) <=
                      0x1p-46 * (1.0 + std::fabs(in.L0) + std::fabs(x_last));
  const int direction =
      !narrow ? 0 : (in.step > 0.0 ? 1 : (in.step < 0.0 ? -1 : 0));
  R carry = V::Set1(direction > 0 ? -std::numeric_limits<double>::infinity()
                                  : std::numeric_limits<double>::infinity());

  auto block = [&](std::ptrdiff_t j, double* f_out, double* h_out) {
    const R jj = V::Add(V::Set1(static_cast<double>(j)), lane);
    const R x = V::Add(V::Mul(jj, step), L0);
    R Mf = V::Exp10(x);
    if (direction > 0) {
      Mf = V::Max(carry, V::PrefixMax(Mf));
      carry = V::BroadcastLast(Mf);
    } else if (direction < 0) {
      Mf = V::Min(carry, V::PrefixMin(Mf));
      carry = V::BroadcastLast(Mf);
    }
    const R f = V::Div(Mf, Msec);
    V::Store(f_out, f);
    if (!in.remnant_ok) {
      V::Store(h_out, nan);
      return;
    }
    const R c = V::Exp10(V::Div(x, three));
    const R aL = V::Mul(a_ln10, x);
    const M ins = V::Le(Mf, join);
    const M mr = V::AndNot(ins, V::Ge(Mf, f_mr_start));
    const int bi = V::Bits(ins), bm = V::Bits(mr);
    R ratio;
    if (bi == V::kAll) {
      ratio = inspiral(Mf, c, aL);
    } else if (bm == V::kAll) {
      ratio = merger(Mf);
    } else if (bi == 0 && bm == 0) {
      ratio = quartic(Mf);
    } else {
      ratio = quartic(Mf);
      if (bm != 0) ratio = V::Select(mr, merger(Mf), ratio);
      if (bi != 0) ratio = V::Select(ins, inspiral(Mf, c, aL), ratio);
    }
    R p7_6 = V::Mul(Mf, V::Sqrt(c));
    p7_6 = V::Add(p7_6, V::Mul(V::Mul(two, aL), p7_6));
    V::Store(h_out,
             V::Mul(V::Mul(V::Mul(two, V::Div(amp_scale, p7_6)), ratio), f));
  };

  std::ptrdiff_t j = 0;
  for (; j + W <= n; j += W) block(j, freqs + j, hc + j);
  if (j < n) {
    double f_tail[W], h_tail[W];
    block(j, f_tail, h_tail);
    for (std::ptrdiff_t k = 0; j + k < n; ++k) {
      freqs[j + k] = f_tail[k];
      hc[j + k] = h_tail[k];
    }
  }
}

}  // namespace
}  // namespace fast
}  // namespace phenomd

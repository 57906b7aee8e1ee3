// The model at any frequency: one binary's characteristic strain at
// frequencies the caller chooses (quadrature nodes, say), rather than on
// Amplitude's logarithmic grid, and the frequencies where the quadrature
// must break its panels.
//
// The strain is the one of the grid (grid.h),
//   hc(f) = 2 (amp_scale / Mf^(7/6)) A(Mf) f,   Mf = f Msec,
// with A the piecewise amplitude ratio (Khan et al. 2016, Eqs. 19, 21, 29):
// the inspiral up to and including Mf = 0.014, the merger-ringdown piece
// from f_mr_start up, the intermediate quartic between.  A is C^1 at the
// two joins (the quartic matches value and slope there), not C^2, so an
// integral over hc^2 converges fast only when its panels break there.
#pragma once

#include <cstddef>

#include "binary.h"

namespace phenomd {

// The frequencies of one binary that a quadrature needs, Hz.
struct BinaryBreaks {
  double f_start, f_end;                     // band ends (Mf_start, Mf_end)
  double f_merger_start, f_ringdown_start;   // as Amplitude writes them
  double f_ins_join, f_mr_join;              // 0.014 / Msec, f_mr_start / Msec
  // The merger-ringdown piece's Lorentzian: centre f_rd / Msec and half
  // width w / Msec (w = f_damp gamma3).  The piece has poles at
  // f_ring +- i f_width, so a quadrature panel near f_ring must be no wider
  // than about f_width to converge fast.
  double f_ring, f_width;
  bool inverted;                             // band ends below its start
};

BinaryBreaks BreaksOf(const CallContext& c, const BinarySetup& b);

// Exact: hc at f[0 .. n) with the model's own operations (Mf = f Msec,
// std::pow for the powers, AmplitudeRatio's tests for the piece): each
// value is the one ExactRow gives at a grid point of that Mf and f.  NaN
// when the remnant is out of range.
void StrainAtExact(const BinarySetup& b, const double* f, std::ptrdiff_t n,
                   double* hc);

// Fast: hc at f = exp(ln_f[j]), the powers of Mf as exp(alpha ln Mf) from
// ln Mf = ln f + ln Msec (Mf = exp(ln Mf), Mf^(1/3) = exp(ln Mf / 3), the
// other powers by products and a square root, the merger-ringdown's
// exponential by one exp), each exp vectorised (ExpArray).  The piece of
// each point by AmplitudeRatio's tests on that Mf.  Agrees with
// StrainAtExact to a few 1e-15 relative except where the model's own sums
// cancel.  `work` holds 3 n doubles.
void StrainAtFast(const BinarySetup& b, const double* ln_f, std::ptrdiff_t n,
                  double* hc, double* work);

// The piece of the amplitude at Mf, by AmplitudeRatio's tests (Mf <= 0.014
// first, then Mf >= f_mr_start; NaN: intermediate).
enum class ModelPiece { kInspiral, kIntermediate, kMergerRingdown };
ModelPiece PieceAt(const BinarySetup& b, double Mf);

// The integrand of an SNR with the noise folded into the strain's own
// exponentials: out[j] = hc(f_j)^2 exp(e[j]) at f_j = exp(ln_f[j]), for
// points that all lie in `piece`, as StrainAtFast evaluates hc.  With
// hc^2 = (2 amp_scale / Msec)^2 A(Mf)^2 Mf^(-1/3), the exponentials per
// point are Mf^(1/3) = exp(ln Mf / 3) and exp(e - ln Mf / 3) in the
// inspiral (Mf = (Mf^(1/3))^3), Mf = exp(ln Mf) and exp(e - ln Mf / 3) in
// the intermediate piece, Mf and exp(e - ln Mf / 3 - 2 gamma2 (Mf - f_rd) /
// w) in the merger-ringdown.  `work` holds 2 n doubles; out may not alias
// ln_f or e.  NaN where the remnant is out of range.
void SquaredStrainTimesExp(const BinarySetup& b, ModelPiece piece,
                           const double* ln_f, const double* e,
                           std::ptrdiff_t n, double* out, double* work);

// y[j] = exp(x[j]) for j < n: SLEEF's vector exp (<= 1 ulp) with the widest
// instruction set the CPU runs where the fast row is built, std::exp
// elsewhere.  y may be x.
void ExpArray(const double* x, double* y, std::ptrdiff_t n);

// The kernels behind ExpArray, for tests (each needs its instruction set).
void ExpArrayScalar(const double* x, double* y, std::ptrdiff_t n);
void ExpArrayAvx2(const double* x, double* y, std::ptrdiff_t n);
void ExpArrayAvx512(const double* x, double* y, std::ptrdiff_t n);

}  // namespace phenomd

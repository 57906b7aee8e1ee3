// Evaluation of one binary's row: the logarithmic grid of Mf and the
// characteristic strain on it,
//   Mf_j = 10^(j step + L0),  f_j = Mf_j / Msec,
//   hc_j = 2 (amp_scale / Mf_j^(7/6)) A(Mf_j) f_j,
// with A the piecewise amplitude ratio of the binary.
#pragma once

#include <cstddef>

#include "amp_model.h"

namespace phenomd {

// What a row needs besides the binary's model: the grid's exponent (L0 is
// log10 of the band's start, step the exponent's increment), the observed
// mass in seconds and the amplitude scale.  length >= 1.
struct RowGrid {
  double L0, step;
  double Msec;
  double amp_scale;
  std::ptrdiff_t length;
};

// The exact row: every value bit-identical to evaluating the formula above
// point by point with std::pow and AmplitudeRatio.  When the remnant is out
// of range (a.remnant_ok false) the grid is still written and hc is NaN.
void ExactRow(const AmpModel& a, const RowGrid& g, double* freqs, double* hc);

// The fast row (the fast module only): Mf = 10^x and Mf^(1/3) = 10^(x/3)
// from the grid's exponent x by SIMD exp10, every other power of Mf from them
// by products and a square root.  freqs agree with ExactRow to a few ulps;
// hc to 1e-14 relative except where the model's own sums cancel (there the
// exact row is no more accurate than that either).  Chooses its kernel once
// per process.
void FastRow(const AmpModel& a, const RowGrid& g, double* freqs, double* hc);

// The kernels behind FastRow, reachable for tests; FastRow takes the widest
// the CPU supports.  FastRowAvx512 needs AVX-512F; FastRowAvx2 needs AVX2
// and FMA (SLEEF's AVX2 functions use FMA); FastRowSse2 runs on any x86-64.
void FastRowAvx512(const AmpModel& a, const RowGrid& g, double* freqs,
                   double* hc);
void FastRowAvx2(const AmpModel& a, const RowGrid& g, double* freqs,
                 double* hc);
void FastRowSse2(const AmpModel& a, const RowGrid& g, double* freqs,
                 double* hc);
bool CpuHasAvx2();
bool CpuHasAvx512();
// The kernel FastRow uses: "avx512", "avx2" or "sse2".
const char* FastRowKernel();

}  // namespace phenomd

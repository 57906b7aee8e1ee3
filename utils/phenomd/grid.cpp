// The exact row.  Per point the model prescribes pow(10, x) for the grid,
// pow(Mf, 7/6) for the strain and the piece (five pows in the inspiral, one
// exp in the merger-ringdown, products in the intermediate quartic); this
// file keeps exactly those operations and moves everything else out of the
// point loop:
//  - the binary's coefficients are copied into locals once per row (the
//    libm calls clobber every vector register, so they live in the row's
//    stack frame rather than being re-read through the model);
//  - the row is walked as runs of consecutive points of one piece: each run
//    has its own loop body, and the piece test that ends a run is the very
//    test AmplitudeRatio makes (Mf <= 0.014 first, then Mf >= f_mr_start),
//    so every point gets the piece AmplitudeRatio would give it, whatever
//    the order of the Mf values and also when Mf is NaN (intermediate);
//  - a row whose remnant is out of range writes its grid and NaN strains
//    in a loop of its own;
//  - each point first calls the next point's power of ten, then its own
//    pieces: the next grid value does not wait behind this point's libm
//    calls and divisions, and the out-of-order core overlaps them (the
//    operations, and so the values, are those of the plain loop).
#include "grid.h"

#include <cmath>
#include <limits>

namespace phenomd {
namespace {

// One point's strain from its Mf, f and amplitude ratio, in the order of
// operations of 2 (amp_scale / Mf^(7/6)) A f.
inline double Strain(double amp_scale, double Mf, double ratio, double f) {
  return 2.0 * (amp_scale / std::pow(Mf, 1.1666666666666667)) * ratio * f;
}

}  // namespace

void ExactRow(const AmpModel& a, const RowGrid& g, double* freqs, double* hc) {
  const std::ptrdiff_t n = g.length;
  const double L0 = g.L0;
  const double step = g.step;
  const double Msec = g.Msec;
  const double amp_scale = g.amp_scale;
  auto grid_mf = [&](std::ptrdiff_t j) {
    return std::pow(10.0, static_cast<double>(j) * step + L0);
  };

  if (!a.remnant_ok) {
    for (std::ptrdiff_t j = 0; j < n; ++j) {
      freqs[j] = grid_mf(j) / Msec;
      hc[j] = std::numeric_limits<double>::quiet_NaN();
    }
    return;
  }

  const InspiralAmpTerms t = a.t;
  const MergerShape s = a.shape;
  const BinaryAmpModel& m = a.m;
  const double f_mr_start = m.f_mr_start;
  BinaryAmpModel quartic;  // only delta0-delta4 are read
  quartic.delta0 = m.delta0;
  quartic.delta1 = m.delta1;
  quartic.delta2 = m.delta2;
  quartic.delta3 = m.delta3;
  quartic.delta4 = m.delta4;

  std::ptrdiff_t j = 0;
  double Mf = grid_mf(0);
  for (;;) {
    if (Mf <= kInspiralJoin) {
      do {
        const double Mf_next = j + 1 < n ? grid_mf(j + 1) : 0.0;
        const double f = Mf / Msec;
        freqs[j] = f;
        hc[j] = Strain(amp_scale, Mf, InspiralAnsatz(t, Mf), f);
        if (++j == n) return;
        Mf = Mf_next;
      } while (Mf <= kInspiralJoin);
    } else if (Mf >= f_mr_start) {
      do {
        const double Mf_next = j + 1 < n ? grid_mf(j + 1) : 0.0;
        const double f = Mf / Msec;
        freqs[j] = f;
        hc[j] = Strain(amp_scale, Mf, MergerAnsatz(s, Mf), f);
        if (++j == n) return;
        Mf = Mf_next;
      } while (!(Mf <= kInspiralJoin) && Mf >= f_mr_start);
    } else {
      do {
        const double Mf_next = j + 1 < n ? grid_mf(j + 1) : 0.0;
        const double f = Mf / Msec;
        freqs[j] = f;
        hc[j] = Strain(amp_scale, Mf, IntermediateAnsatz(quartic, Mf), f);
        if (++j == n) return;
        Mf = Mf_next;
      } while (!(Mf <= kInspiralJoin) && !(Mf >= f_mr_start));
    }
  }
}

}  // namespace phenomd

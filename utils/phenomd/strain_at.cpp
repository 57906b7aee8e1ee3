#include "strain_at.h"

#include <cmath>
#include <limits>

namespace phenomd {

BinaryBreaks BreaksOf(const CallContext& c, const BinarySetup& b) {
  BinaryBreaks r;
  r.f_start = b.Mf_start / b.Msec;
  r.f_end = b.Mf_end / b.Msec;
  r.f_merger_start = c.inspiral_boundary / b.Msec;
  r.f_ringdown_start = b.a.m.f_peak / b.Msec;
  r.f_ins_join = kInspiralJoin / b.Msec;
  r.f_mr_join = b.a.m.f_mr_start / b.Msec;
  r.f_ring = b.a.shape.f_rd / b.Msec;
  r.f_width = b.a.shape.w / b.Msec;
  // Amplitude's test, log10(Mf_end) < log10(Mf_start), on the Mf values.
  r.inverted = b.Mf_end < b.Mf_start;
  return r;
}

void StrainAtExact(const BinarySetup& b, const double* f, std::ptrdiff_t n,
                   double* hc) {
  if (!b.a.remnant_ok) {
    for (std::ptrdiff_t j = 0; j < n; ++j)
      hc[j] = std::numeric_limits<double>::quiet_NaN();
    return;
  }
  for (std::ptrdiff_t j = 0; j < n; ++j) {
    const double Mf = f[j] * b.Msec;
    // grid.cpp's Strain: 2 (amp_scale / Mf^(7/6)) A f.
    hc[j] = 2.0 * (b.amp_scale / std::pow(Mf, 1.1666666666666667)) *
            AmplitudeRatio(b.a, Mf) * f[j];
  }
}

void StrainAtFast(const BinarySetup& b, const double* ln_f, std::ptrdiff_t n,
                  double* hc, double* work) {
  if (!b.a.remnant_ok) {
    for (std::ptrdiff_t j = 0; j < n; ++j)
      hc[j] = std::numeric_limits<double>::quiet_NaN();
    return;
  }
  double* const Mf = work;
  double* const c = work + n;
  double* const e = work + 2 * n;
  const double ln_Msec = std::log(b.Msec);
  for (std::ptrdiff_t j = 0; j < n; ++j) Mf[j] = ln_f[j] + ln_Msec;
  for (std::ptrdiff_t j = 0; j < n; ++j) c[j] = Mf[j] * (1.0 / 3.0);
  ExpArray(c, c, n);   // Mf^(1/3)
  ExpArray(Mf, Mf, n);  // Mf
  const MergerShape& s = b.a.shape;
  const double f_mr_start = b.a.m.f_mr_start;
  bool any_merger = false;
  for (std::ptrdiff_t j = 0; j < n; ++j) {
    const bool mr = !(Mf[j] <= kInspiralJoin) && Mf[j] >= f_mr_start;
    e[j] = mr ? MergerExponent(s, Mf[j] - s.f_rd) : 0.0;
    any_merger = any_merger || mr;
  }
  if (any_merger) ExpArray(e, e, n);
  const InspiralAmpTerms& t = b.a.t;
  const BinaryAmpModel& m = b.a.m;
  for (std::ptrdiff_t j = 0; j < n; ++j) {
    const double x = Mf[j], cj = c[j];
    double ratio;
    if (x <= kInspiralJoin) {
      InspiralPowers p;
      p.p2_3 = cj * cj;
      p.p1 = x;
      p.p4_3 = x * cj;
      p.p5_3 = x * p.p2_3;
      p.p2 = x * x;
      p.p7_3 = p.p2 * cj;
      p.p8_3 = p.p2 * p.p2_3;
      p.p3 = x * p.p2;
      ratio = InspiralSum(t, p);
    } else if (x >= f_mr_start) {
      ratio = MergerFromExp(s, x - s.f_rd, e[j]);
    } else {
      ratio = IntermediateAnsatz(m, x);
    }
    const double p7_6 = x * std::sqrt(cj);
    hc[j] = 2.0 * (b.amp_scale / p7_6) * ratio * (x / b.Msec);
  }
}

ModelPiece PieceAt(const BinarySetup& b, double Mf) {
  if (Mf <= kInspiralJoin) return ModelPiece::kInspiral;
  if (Mf >= b.a.m.f_mr_start) return ModelPiece::kMergerRingdown;
  return ModelPiece::kIntermediate;
}

void SquaredStrainTimesExp(const BinarySetup& b, ModelPiece piece,
                           const double* ln_f, const double* e,
                           std::ptrdiff_t n, double* out, double* work) {
  if (!b.a.remnant_ok) {
    for (std::ptrdiff_t j = 0; j < n; ++j)
      out[j] = std::numeric_limits<double>::quiet_NaN();
    return;
  }
  double* const u = work;      // ln Mf, then Mf^(1/3) or Mf
  double* const v = work + n;  // the exponent, then its exponential
  const double ln_Msec = std::log(b.Msec);
  const double scale = 2.0 * b.amp_scale / b.Msec;
  const double scale2 = scale * scale;
  for (std::ptrdiff_t j = 0; j < n; ++j) u[j] = ln_f[j] + ln_Msec;
  switch (piece) {
    case ModelPiece::kInspiral: {
      for (std::ptrdiff_t j = 0; j < n; ++j) {
        v[j] = e[j] - u[j] * (1.0 / 3.0);
        u[j] = u[j] * (1.0 / 3.0);
      }
      ExpArray(u, u, n);  // Mf^(1/3)
      ExpArray(v, v, n);
      const InspiralAmpTerms& t = b.a.t;
      for (std::ptrdiff_t j = 0; j < n; ++j) {
        const double c = u[j];
        InspiralPowers p;
        p.p2_3 = c * c;
        p.p1 = p.p2_3 * c;
        p.p4_3 = p.p1 * c;
        p.p5_3 = p.p1 * p.p2_3;
        p.p2 = p.p1 * p.p1;
        p.p7_3 = p.p2 * c;
        p.p8_3 = p.p2 * p.p2_3;
        p.p3 = p.p1 * p.p2;
        const double ratio = InspiralSum(t, p);
        out[j] = scale2 * (ratio * ratio) * v[j];
      }
      break;
    }
    case ModelPiece::kIntermediate: {
      for (std::ptrdiff_t j = 0; j < n; ++j) v[j] = e[j] - u[j] * (1.0 / 3.0);
      ExpArray(u, u, n);  // Mf
      ExpArray(v, v, n);
      const BinaryAmpModel& m = b.a.m;
      for (std::ptrdiff_t j = 0; j < n; ++j) {
        const double ratio = IntermediateAnsatz(m, u[j]);
        out[j] = scale2 * (ratio * ratio) * v[j];
      }
      break;
    }
    case ModelPiece::kMergerRingdown: {
      const MergerShape& s = b.a.shape;
      ExpArray(u, out, n);  // Mf, kept in out for now
      for (std::ptrdiff_t j = 0; j < n; ++j) {
        const double x = out[j] - s.f_rd;
        v[j] = e[j] - u[j] * (1.0 / 3.0) + 2.0 * MergerExponent(s, x);
      }
      ExpArray(v, v, n);
      for (std::ptrdiff_t j = 0; j < n; ++j) {
        const double x = out[j] - s.f_rd;
        const double ratio = MergerFromExp(s, x, 1.0);
        out[j] = scale2 * (ratio * ratio) * v[j];
      }
      break;
    }
  }
}

void ExpArrayScalar(const double* x, double* y, std::ptrdiff_t n) {
  for (std::ptrdiff_t j = 0; j < n; ++j) y[j] = std::exp(x[j]);
}

#ifndef PHENOMD_HAVE_FAST_ROW
void ExpArray(const double* x, double* y, std::ptrdiff_t n) {
  ExpArrayScalar(x, y, n);
}
#else
namespace {
using ExpKernel = void (*)(const double*, double*, std::ptrdiff_t);
ExpKernel ChooseExp() {
  if (CpuHasAvx512()) return ExpArrayAvx512;
  if (CpuHasAvx2()) return ExpArrayAvx2;
  return ExpArrayScalar;
}
}  // namespace

void ExpArray(const double* x, double* y, std::ptrdiff_t n) {
  static const ExpKernel kernel = ChooseExp();
  kernel(x, y, n);
}
#endif

}  // namespace phenomd

// The amplitude model of one binary: its two records filled in dependency
// order, and the piecewise amplitude ratio evaluated from them.
#pragma once

#include "inspiral.h"
#include "merger_ringdown.h"
#include "model.h"
#include "ringdown.h"

namespace phenomd {

// A binary's records and the per-binary values derived from them.
struct AmpModel {
  BinaryAmpModel m;
  InspiralAmpTerms t;
  MergerShape shape;  // valid once m.f_rd, m.f_damp and m.gamma* are set
  bool remnant_ok;    // false when the remnant spin is outside the tables

  AmpModel() : m(), t(), shape(m), remnant_ok(false) {}
};

// Fills every field from eta and the spins of the heavier (chi1) and lighter
// (chi2) body, in the order chi_pn; f_rd, f_damp; gamma1-3; f_peak; rho1-3,
// v2; the inspiral terms, v1, d1; the collocation.
void FillAmpModel(double eta, double chi1, double chi2, const CallConstants& k,
                  const RingdownTables& tables, AmpModel& a);

// Piecewise amplitude ratio: inspiral up to and including 0.014, the
// merger-ringdown piece from f_mr_start up, the intermediate quartic between.
// The inspiral test comes first, so for f_peak <= 0.014 the quartic is never
// used.
inline double AmplitudeRatio(const AmpModel& a, double Mf) {
  if (Mf <= kInspiralJoin) return InspiralAnsatz(a.t, Mf);
  if (Mf >= a.m.f_mr_start) return MergerAnsatz(a.shape, Mf);
  return IntermediateAnsatz(a.m, Mf);
}

}  // namespace phenomd

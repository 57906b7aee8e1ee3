#include "amp_model.h"

#include "fits.h"

namespace phenomd {

void FillAmpModel(double eta, double chi1, double chi2, const CallConstants& k,
                  const RingdownTables& tables, AmpModel& a) {
  BinaryAmpModel& m = a.m;
  m.eta = eta;
  m.chi1 = chi1;
  m.chi2 = chi2;
  const double delta = SymmetricMassDifference(eta);
  m.q = ((1.0 + delta) - 2.0 * eta) / (2.0 * eta);

  ApplyReducedSpin(m);
  const FitVariables v(m.eta, m.chi_pn);
  a.remnant_ok = RingdownFrequencies(tables, m);
  ApplyMergerRingdownFits(v, m);
  m.f_peak = PeakFrequency(m.f_rd, m.f_damp, m.gamma2, m.gamma3);
  ApplyInspiralFits(v, m);
  BuildInspiralTerms(m, k, a.t);
  InspiralCollocation(a.t, k, m);
  a.shape = MergerShape(m);
  SolveIntermediate(a.shape, m);
}

}  // namespace phenomd

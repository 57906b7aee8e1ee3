// Phenomenological fits of the amplitude model: the reduced spin chi_pn and
// seven coefficients (rho1-3, v2, gamma1-3) polynomial in eta and
// xi = chi_pn - 1 (Khan et al. 2016).
#pragma once

#include "model.h"

namespace phenomd {

// k1 ... k11 of one fit, multiplying
// 1, eta, xi, eta xi, eta^2 xi, xi^2, eta xi^2, eta^2 xi^2, xi^3, eta xi^3,
// eta^2 xi^3.
struct PhenomFitCoefficients {
  double k[11];
};

extern const PhenomFitCoefficients kFitRho1, kFitRho2, kFitRho3, kFitV2,
    kFitGamma1, kFitGamma2, kFitGamma3;

// chi_pn = chi_s (1 - 76 eta / 113) + delta chi_a.
double ReducedSpin(double eta, double chi1, double chi2);

// Powers of eta and xi shared by the seven fits of one binary.
struct FitVariables {
  double eta, eta2, xi, xi2, xi3;
  FitVariables(double eta, double chi_pn);
};

double PhenomFit(const PhenomFitCoefficients& c, const FitVariables& v);
double PhenomFit(const PhenomFitCoefficients& c, double eta, double chi_pn);

// The model's fits of one binary, in the record's filling order: chi_pn
// first; then gamma1-3 (which f_peak needs); then rho1-3 and v2.
void ApplyReducedSpin(BinaryAmpModel& m);
void ApplyMergerRingdownFits(const FitVariables& v, BinaryAmpModel& m);
void ApplyInspiralFits(const FitVariables& v, BinaryAmpModel& m);

}  // namespace phenomd

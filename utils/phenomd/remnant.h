// Remnant of the merger: fitted final spin and radiated energy as functions
// of eta and the component spins (Husa et al. 2016).
#pragma once

namespace phenomd {

// Spin sum S = chi1 mu1^2 + chi2 mu2^2 with mu1,2 = (1 +- delta)/2 the mass
// fractions of the heavier and lighter body.
double TotalSpin(double eta, double chi1, double chi2);

// Dimensionless spin of the remnant: quartic in S, coefficients in eta.
double RemnantSpin(double eta, double chi1, double chi2);

// Fraction of the initial total mass radiated, rational in the normalised
// spin S / (mu1^2 + mu2^2).
double RadiatedEnergy(double eta, double chi1, double chi2);

}  // namespace phenomd

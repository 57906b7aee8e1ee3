#include "remnant.h"

#include "model.h"

namespace phenomd {

namespace {

struct MassFractions {
  double mu1, mu2;  // heavier, lighter
  explicit MassFractions(double eta) {
    const double delta = SymmetricMassDifference(eta);
    mu1 = (1.0 + delta) * 0.5;
    mu2 = (1.0 - delta) * 0.5;
  }
};

}  // namespace

double TotalSpin(double eta, double chi1, double chi2) {
  const MassFractions f(eta);
  return chi1 * (f.mu1 * f.mu1) + chi2 * (f.mu2 * f.mu2);
}

double RemnantSpin(double eta, double chi1, double chi2) {
  const double S = TotalSpin(eta, chi1, chi2);
  const double eta2 = eta * eta;
  const double eta3 = eta * eta2;
  const double eta4 = eta * eta3;
  const double S2 = S * S;
  const double S3 = S * S2;
  const double S4 = S * S3;
  // 3.4641016151377544 = 2 sqrt(3), the test-particle limit's slope.
  const double P0 = 3.4641016151377544 * eta - 4.399247300629289 * eta2 +
                    9.397292189321194 * eta3 - 13.180949901606242 * eta4;
  const double P1 = 1.0 - 0.0850917821418767 * eta - 5.837029316602263 * eta2;
  const double P2 = 0.1014665242971878 * eta - 2.0967746996832157 * eta2;
  const double P3 = -1.3546806617824356 * eta + 4.108962025369336 * eta2;
  const double P4 = -0.8676969352555539 * eta + 2.064046835273906 * eta2;
  return P0 + P1 * S + P2 * S2 + P3 * S3 + P4 * S4;
}

double RadiatedEnergy(double eta, double chi1, double chi2) {
  const MassFractions f(eta);
  const double S = TotalSpin(eta, chi1, chi2);
  const double S_hat = S / (f.mu1 * f.mu1 + f.mu2 * f.mu2);
  const double eta2 = eta * eta;
  const double eta3 = eta * eta2;
  const double eta4 = eta * eta3;
  const double B = 0.055974469826360077 * eta + 0.5809510763115132 * eta2 -
                   0.9606726679372312 * eta3 + 3.352411249771192 * eta4;
  const double N =
      1.0 + S_hat * (-0.0030302335878845507 - 2.0066110851351073 * eta +
                     7.7050567802399215 * eta2);
  const double D =
      1.0 + S_hat * (-0.6714403054720589 - 1.4756929437702908 * eta +
                     7.304676214885011 * eta2);
  return (B * N) / D;
}

}  // namespace phenomd

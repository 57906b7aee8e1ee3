#include "inspiral.h"

namespace phenomd {

CallConstants CallConstants::Make(double pi) {
  CallConstants k;
  k.pi = pi;
  k.pi_1_6 = std::pow(pi, 0.16666666666666666);
  k.pi_2_3 = std::pow(pi, 0.6666666666666666);
  k.pi_4_3 = std::pow(pi, 1.3333333333333333);
  k.pi_5_3 = std::pow(pi, 1.6666666666666667);
  k.join = InspiralPowersAt(kInspiralJoin);
  return k;
}

InspiralPowers InspiralPowersAt(double Mf) {
  InspiralPowers p;
  p.m1_3 = std::pow(Mf, -0.3333333333333333);
  p.p1_3 = std::pow(Mf, 0.3333333333333333);
  p.p2_3 = std::pow(Mf, 0.6666666666666666);
  p.p4_3 = std::pow(Mf, 1.3333333333333333);
  p.p5_3 = std::pow(Mf, 1.6666666666666667);
  p.p7_3 = std::pow(Mf, 2.3333333333333335);
  p.p8_3 = std::pow(Mf, 2.6666666666666665);
  p.p1 = Mf;
  p.p2 = Mf * Mf;
  p.p3 = Mf * p.p2;
  return p;
}

void BuildInspiralTerms(const BinaryAmpModel& m, const CallConstants& k,
                        InspiralAmpTerms& t) {
  const double eta = m.eta;
  const double chi1 = m.chi1;
  const double chi2 = m.chi2;
  const double delta = SymmetricMassDifference(eta);
  const double Pi = k.pi;
  const double Pi2 = Pi * Pi;
  const double eta2 = eta * eta;
  const double eta3 = eta * eta2;
  const double chi12 = chi1 * chi1;
  const double chi22 = chi2 * chi2;
  // Mass-weighted squared spins, (1 + delta) with the heavier body.
  const double chi_sq_weighted = (1.0 + delta) * chi12 + (1.0 - delta) * chi22;

  t.c_2_3 = k.pi_2_3 * (-969.0 + 1804.0 * eta) / 672.0;

  t.c_1 = Pi *
          (chi1 * (81.0 * (1.0 + delta) - 44.0 * eta) +
           chi2 * (81.0 * (1.0 - delta) - 44.0 * eta)) /
          48.0;

  const double N43 =
      -27312085.0 - 10287648.0 * chi_sq_weighted +
      24.0 * eta *
          (-1975055.0 + 857304.0 * (chi12 + chi22) - 994896.0 * chi1 * chi2) +
      35371056.0 * eta2;
  t.c_4_3 = k.pi_4_3 * N43 / 8128512.0;

  const double N53 =
      chi1 * (285197.0 * (1.0 + delta) -
              4.0 * eta * (91902.0 + 1579.0 * delta) - 35632.0 * eta2) +
      chi2 * (285197.0 * (1.0 - delta) -
              4.0 * eta * (91902.0 - 1579.0 * delta) - 35632.0 * eta2) +
      42840.0 * Pi * (4.0 * eta - 1.0);
  t.c_5_3 = k.pi_5_3 * N53 / 32256.0;

  const double N2 =
      -336.0 * eta2 *
          (-3248849057.0 + 2943675504.0 * (chi12 + chi22) -
           3339284256.0 * chi1 * chi2) -
      324322727232.0 * eta3 -
      7.0 *
          (-177520268561.0 + 107414046432.0 * chi_sq_weighted +
           11087290368.0 * Pi * ((1.0 + delta) * chi1 + (1.0 - delta) * chi2)) +
      12.0 * eta *
          (-545384828789.0 - 176491177632.0 * chi1 * chi2 +
           202603761360.0 * (chi12 + chi22) +
           77287373856.0 * delta * (chi12 - chi22) +
           5841690624.0 * Pi * (chi1 + chi2) + 21384760320.0 * Pi2);
  t.c_2 = Pi2 * N2 / (-60085960704.0);

  t.c_7_3 = m.rho1;
  t.c_8_3 = m.rho2;
  t.c_3 = m.rho3;
  // sqrt(2/3) = 0.816496580927726
  t.amp_norm = std::sqrt(eta) * 0.816496580927726 / k.pi_1_6;
}

void InspiralCollocation(const InspiralAmpTerms& t, const CallConstants& k,
                         BinaryAmpModel& m) {
  m.v1 = InspiralSum(t, k.join);
  m.d1 = InspiralSlopeSum(t, k.join);
}

}  // namespace phenomd

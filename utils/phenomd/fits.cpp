#include "fits.h"

namespace phenomd {

// Columns of the fit table; each row of a column is k_j.
const PhenomFitCoefficients kFitRho1 = {
    {3931.8979897196696, -17395.758706812805, 3132.375545898835,
     343965.86092361377, -1216256.5819981997, -70698.00600428853,
     1383907.177859705, -3966276.1890979446, -60017.52423652596,
     803515.1181825735, -2091710.365941658}};
const PhenomFitCoefficients kFitRho2 = {
    {-40105.47653771657, 112253.0169706701, 23561.696065836168,
     -3476180.699403351, 11375936.70849482, 754313.1127166454,
     -13084760.44625268, 36444584.853928134, 596226.612472288,
     -7427790.1143564405, 18928977.514040343}};
const PhenomFitCoefficients kFitRho3 = {
    {83208.35471266537, -191237.7264145924, -210916.2454782992,
     8717975.08352568, -26914942.420669552, -1988980.6527362722,
     30888029.960154563, -83908702.79256162, -1453503.1953446497,
     17063528.990822166, -42748659.731120914}};
const PhenomFitCoefficients kFitV2 = {
    {0.8149838730507785, 2.5747553517454658, 1.1610198035496786,
     -2.3627771785551537, 6.771038707057573, 0.7570782938606834,
     -2.7256896890432474, 7.1140380397149965, 0.1766934149293479,
     -0.7978690983168183, 2.1162391502005153}};
const PhenomFitCoefficients kFitGamma1 = {
    {0.006927402739328343, 0.03020474290328911, 0.006308024337706171,
     -0.12074130661131138, 0.26271598905781324, 0.0034151773647198794,
     -0.10779338611188374, 0.27098966966891747, 0.0007374185938559283,
     -0.02749621038376281, 0.0733150789135702}};
const PhenomFitCoefficients kFitGamma2 = {
    {1.010344404799477, 0.0008993122007234548, 0.283949116804459,
     -4.049752962958005, 13.207828172665366, 0.10396278486805426,
     -7.025059158961947, 24.784892370130475, 0.03093202475605892,
     -2.6924023896851663, 9.609374464684983}};
const PhenomFitCoefficients kFitGamma3 = {
    {1.3081615607036106, -0.005537729694807678, -0.06782917938621007,
     -0.6689834970767117, 3.403147966134083, -0.05296577374411866,
     -0.9923793203111362, 4.820681208409587, -0.006134139870393713,
     -0.38429253308696365, 1.7561754421985984}};

double ReducedSpin(double eta, double chi1, double chi2) {
  const double delta = SymmetricMassDifference(eta);
  const double chi_s = (chi1 + chi2) * 0.5;
  const double chi_a = (chi1 - chi2) * 0.5;
  return chi_s * (1.0 + (eta * (-76.0)) / 113.0) + delta * chi_a;
}

FitVariables::FitVariables(double eta_, double chi_pn)
    : eta(eta_),
      eta2(eta_ * eta_),
      xi(chi_pn + (-1.0)),
      xi2(xi * xi),
      xi3(xi * xi2) {}

double PhenomFit(const PhenomFitCoefficients& c, const FitVariables& v) {
  const double* k = c.k;
  // Each bracket left to right, then the four terms left to right: the rho
  // coefficients reach 1e8 and cancel strongly, so the order matters.
  return (k[0] + k[1] * v.eta) + v.xi * (k[2] + k[3] * v.eta + k[4] * v.eta2) +
         v.xi2 * (k[5] + k[6] * v.eta + k[7] * v.eta2) +
         v.xi3 * (k[8] + k[9] * v.eta + k[10] * v.eta2);
}

double PhenomFit(const PhenomFitCoefficients& c, double eta, double chi_pn) {
  return PhenomFit(c, FitVariables(eta, chi_pn));
}

void ApplyReducedSpin(BinaryAmpModel& m) {
  m.chi_pn = ReducedSpin(m.eta, m.chi1, m.chi2);
}

void ApplyMergerRingdownFits(const FitVariables& v, BinaryAmpModel& m) {
  m.gamma1 = PhenomFit(kFitGamma1, v);
  m.gamma2 = PhenomFit(kFitGamma2, v);
  m.gamma3 = PhenomFit(kFitGamma3, v);
}

void ApplyInspiralFits(const FitVariables& v, BinaryAmpModel& m) {
  m.rho1 = PhenomFit(kFitRho1, v);
  m.rho2 = PhenomFit(kFitRho2, v);
  m.rho3 = PhenomFit(kFitRho3, v);
  m.v2 = PhenomFit(kFitV2, v);
}

}  // namespace phenomd

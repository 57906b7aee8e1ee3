#include "binary.h"

#include <cmath>

#include "phenomd.h"

namespace phenomd {
namespace {

// Band end when t_end <= 0: the band then runs through merger and ringdown.
constexpr double kBandEndMf = 0.2;

// Leading-order-plus-1PN frequency Mf reached t years before merger
// (Newtonian chirp with the 1PN correction in theta^(-1/4)).
double FrequencyAtTime(double t, double eta, double Msec) {
  const double theta = t * SECONDS_PER_YEAR * eta / (Msec * 5.0);
  return (1.0 / (std::pow(theta, 0.375) * 8.0 * Pi)) *
         ((0.34375 * eta + 0.27641369047619047) / std::pow(theta, 0.25) + 1.0);
}

}  // namespace

void SetUpBinary(const CallContext& c, const RingdownTables& tables, double m1,
                 double m2, double spin1, double spin2, double dist, double z,
                 double t_start, double t_end, BinarySetup& b) {
  // The heavier body first; for equal masses the second body counts as the
  // heavier one.
  const bool first_heavier = m1 > m2;
  const double mh = first_heavier ? m1 : m2;
  const double ml = first_heavier ? m2 : m1;
  const double chi1 = first_heavier ? spin1 : spin2;
  const double chi2 = first_heavier ? spin2 : spin1;

  const double M = mh + ml;
  const double eta = (ml * mh) / (M * M);
  const double Mz = (z + 1.0) * M;  // observed-frame total mass, M_sun
  b.Msec = c.mtsun * Mz;

  b.Mf_start = FrequencyAtTime(t_start, eta, b.Msec);
  b.Mf_end = t_end > 0.0 ? FrequencyAtTime(t_end, eta, b.Msec) : kBandEndMf;

  FillAmpModel(eta, chi1, chi2, c.k, tables, b.a);

  b.amp_scale = c.amp_prefactor * Mz * c.mrsun * Mz * c.mtsun /
                (dist * c.mpc) * b.a.t.amp_norm;
}

}  // namespace phenomd

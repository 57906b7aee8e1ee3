// Parameters of one Kerr quasi-normal-mode problem, shared by the radial and
// angular continued fractions.
//
// Units: the public interface uses hole mass M = 1 (spin a = J/M^2 in
// [-1, 1], frequency M*omega).  Leaver (1985) writes his recurrences in units
// 2M = 1; the conversion a_L = a/2, omega_L = 2*omega happens inside the
// radial continued fraction.  The spheroidal parameter c = a*omega is the same
// in both unit systems.
#pragma once

#include <complex>

namespace qnm {

using cplx = std::complex<double>;

struct ModeIndices {
  int s = -2;  // spin weight of the perturbation (Teukolsky)
  int l = 2;   // polar index
  int m = 2;   // azimuthal index
};

}  // namespace qnm

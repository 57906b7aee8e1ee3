// A binary's filled model, built the way the driver builds it.
#pragma once

#include <vector>

#include "amp_model.h"

namespace phenomd_test {

inline const phenomd::CallConstants& ModelConstants() {
  static const phenomd::CallConstants k =
      phenomd::CallConstants::Make(3.1415926536);
  return k;
}

inline phenomd::AmpModel FilledModel(double eta, double chi1, double chi2) {
  const phenomd::RingdownTables tables;
  phenomd::AmpModel a;
  phenomd::FillAmpModel(eta, chi1, chi2, ModelConstants(), tables, a);
  return a;
}

struct Params {
  double eta, chi1, chi2;
};

// A spread over eta in (0, 0.25] and spins in [-1, 1], with both branches
// of the peak frequency (gamma2 > 1 needs chi_pn above ~0.79).
inline std::vector<Params> ParameterSpread() {
  std::vector<Params> p;
  for (double eta : {0.25, 0.2222, 0.16, 0.09, 0.03, 0.005}) {
    for (double chi1 : {-1.0, -0.6, 0.0, 0.5, 0.9, 1.0}) {
      for (double chi2 : {-1.0, 0.0, 0.7, 1.0}) p.push_back({eta, chi1, chi2});
    }
  }
  return p;
}

}  // namespace phenomd_test

// Ringdown and damping frequencies of the remnant: natural cubic splines over
// the tabulated Kerr l = m = 2, n = 0 quasi-normal mode, evaluated at the
// fitted remnant spin and rescaled from the remnant's to the initial mass.
#pragma once

#include <gsl/gsl_interp.h>
#include <gsl/gsl_spline.h>

#include "model.h"

namespace phenomd {

// The two interpolants of one Amplitude call.
class RingdownTables {
 public:
  RingdownTables();  // builds both splines; see ok()
  ~RingdownTables();
  RingdownTables(const RingdownTables&) = delete;
  RingdownTables& operator=(const RingdownTables&) = delete;

  // False when an allocation failed (possible only with GSL's error handler
  // turned off by the host); nothing may then be evaluated.
  bool ok() const { return ok_; }

  // Spin range of the tables, [-1, 1].
  static double MinSpin();
  static double MaxSpin();

  // Tabulated frequencies at remnant spin a inside [MinSpin, MaxSpin], in
  // units of the remnant's mass.
  double RingFrequency(double a) const;
  double DampingFrequency(double a) const;

 private:
  gsl_interp_accel* ring_acc_ = nullptr;
  gsl_spline* ring_ = nullptr;
  gsl_interp_accel* damp_acc_ = nullptr;
  gsl_spline* damp_ = nullptr;
  bool ok_ = false;
};

// Fills f_rd and f_damp of `m` from its eta, chi1 and chi2.  Returns false,
// with both set to NaN, when the remnant spin lies outside the tables (input
// spins outside [-1, 1] or not finite): GSL would reject that argument through
// its error handler, whose default aborts the host.
bool RingdownFrequencies(const RingdownTables& tables, BinaryAmpModel& m);

}  // namespace phenomd

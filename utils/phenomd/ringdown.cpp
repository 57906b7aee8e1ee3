#include "ringdown.h"

#include <limits>

#include "remnant.h"
#include "ringdown_tables.h"

namespace phenomd {

RingdownTables::RingdownTables() {
  // Creation and initialisation in this order: ring accelerator and spline,
  // then damping accelerator and spline.  Each step is checked, since with
  // GSL's error handler off a failed allocation returns a null pointer.
  ring_acc_ = gsl_interp_accel_alloc();
  ring_ = gsl_spline_alloc(gsl_interp_cspline, kQNMRows);
  if (ring_acc_ == nullptr || ring_ == nullptr ||
      gsl_spline_init(ring_, QNMData_a, QNMData_fring, kQNMRows) != 0) {
    return;
  }
  damp_acc_ = gsl_interp_accel_alloc();
  damp_ = gsl_spline_alloc(gsl_interp_cspline, kQNMRows);
  if (damp_acc_ == nullptr || damp_ == nullptr ||
      gsl_spline_init(damp_, QNMData_a, QNMData_fdamp, kQNMRows) != 0) {
    return;
  }
  ok_ = true;
}

RingdownTables::~RingdownTables() {
  // Release order: ring spline, ring accelerator, damping spline, damping
  // accelerator.  The GSL free functions accept null.
  gsl_spline_free(ring_);
  gsl_interp_accel_free(ring_acc_);
  gsl_spline_free(damp_);
  gsl_interp_accel_free(damp_acc_);
}

double RingdownTables::MinSpin() { return QNMData_a[0]; }
double RingdownTables::MaxSpin() { return QNMData_a[kQNMRows - 1]; }

double RingdownTables::RingFrequency(double a) const {
  return gsl_spline_eval(ring_, a, ring_acc_);
}

double RingdownTables::DampingFrequency(double a) const {
  return gsl_spline_eval(damp_, a, damp_acc_);
}

bool RingdownFrequencies(const RingdownTables& tables, BinaryAmpModel& m) {
  const double a_f = RemnantSpin(m.eta, m.chi1, m.chi2);
  // Written so that NaN fails the test too.
  if (!(a_f >= RingdownTables::MinSpin() && a_f <= RingdownTables::MaxSpin())) {
    m.f_rd = std::numeric_limits<double>::quiet_NaN();
    m.f_damp = std::numeric_limits<double>::quiet_NaN();
    return false;
  }
  const double fr = tables.RingFrequency(a_f);
  const double one_minus_E_rad = 1.0 - RadiatedEnergy(m.eta, m.chi1, m.chi2);
  m.f_rd = fr / one_minus_E_rad;
  const double fd = tables.DampingFrequency(a_f);
  m.f_damp = fd / one_minus_E_rad;
  return true;
}

}  // namespace phenomd

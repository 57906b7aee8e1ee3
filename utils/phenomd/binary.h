// One binary of a batch as the model sees it: its amplitude records, its
// observed mass in seconds, its amplitude scale and its band's two ends as
// Mf.  Amplitude lays its grid over this band; the population module's
// quadrature integrates over it.
#pragma once

#include "amp_model.h"
#include "batch.h"
#include "ringdown.h"

namespace phenomd {

struct BinarySetup {
  AmpModel a;
  double Msec;       // G M_obs / c^3, s (f = Mf / Msec)
  double amp_scale;  // strain scale: hc = 2 (amp_scale / Mf^(7/6)) A(Mf) f
  double Mf_start;   // band start, t_start years before merger
  double Mf_end;     // band end, t_end years before merger (0.2 if t_end <= 0)
};

// Orders the bodies (heavier first; for equal masses the second), fills the
// records and the band from the inputs of Amplitude, with the operations
// Amplitude makes (it calls this).
void SetUpBinary(const CallContext& c, const RingdownTables& tables, double m1,
                 double m2, double spin1, double spin2, double dist, double z,
                 double t_start, double t_end, BinarySetup& b);

}  // namespace phenomd

// The interface between the fast row (built with the module's flags) and its
// instruction-set kernels (built with their own target flags).  The kernels
// see only this plain struct: no inline code from the model's headers is
// compiled with the wider instruction sets, so the linker can never merge
// such a copy into code that runs on a CPU without them.
#pragma once

#include <cstddef>

namespace phenomd {
namespace fast {

struct RowInputs {
  // Grid and scale: Mf_j = 10^(j step + L0), f_j = Mf_j / Msec.
  double L0, step, Msec, amp_scale;
  std::ptrdiff_t length;  // >= 1
  bool remnant_ok;        // false: hc is NaN
  // Inspiral: coefficients of Mf^(2/3), Mf, Mf^(4/3), Mf^(5/3), Mf^2,
  // Mf^(7/3), Mf^(8/3), Mf^3.
  double c_2_3, c_1, c_4_3, c_5_3, c_2, c_7_3, c_8_3, c_3;
  // Merger-ringdown: f_rd, gamma2, the width w = f_damp gamma3, gamma1 w,
  // w^2; the piece starts at f_mr_start.
  double f_rd, gamma2, w, gamma1_w, w_w, f_mr_start;
  // Intermediate quartic.
  double delta0, delta1, delta2, delta3, delta4;
};

void RowAvx512(const RowInputs& in, double* freqs, double* hc);
void RowAvx2(const RowInputs& in, double* freqs, double* hc);
void RowSse2(const RowInputs& in, double* freqs, double* hc);

}  // namespace fast
}  // namespace phenomd

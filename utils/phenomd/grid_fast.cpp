// The fast row: the binary's coefficients packed for the kernels, and the
// kernel chosen once per process from the CPU's features.
#include "grid.h"
#include "grid_fast_kernel.h"

namespace phenomd {
namespace {

fast::RowInputs Pack(const AmpModel& a, const RowGrid& g) {
  fast::RowInputs in;
  in.L0 = g.L0;
  in.step = g.step;
  in.Msec = g.Msec;
  in.amp_scale = g.amp_scale;
  in.length = g.length;
  in.remnant_ok = a.remnant_ok;
  in.c_2_3 = a.t.c_2_3;
  in.c_1 = a.t.c_1;
  in.c_4_3 = a.t.c_4_3;
  in.c_5_3 = a.t.c_5_3;
  in.c_2 = a.t.c_2;
  in.c_7_3 = a.t.c_7_3;
  in.c_8_3 = a.t.c_8_3;
  in.c_3 = a.t.c_3;
  in.f_rd = a.shape.f_rd;
  in.gamma2 = a.shape.gamma2;
  in.w = a.shape.w;
  in.gamma1_w = a.shape.gamma1_w;
  in.w_w = a.shape.w_w;
  in.f_mr_start = a.m.f_mr_start;
  in.delta0 = a.m.delta0;
  in.delta1 = a.m.delta1;
  in.delta2 = a.m.delta2;
  in.delta3 = a.m.delta3;
  in.delta4 = a.m.delta4;
  return in;
}

using Kernel = void (*)(const fast::RowInputs&, double*, double*);

struct Choice {
  Kernel kernel;
  const char* name;
};

Choice ChooseKernel() {
  if (CpuHasAvx512()) return {fast::RowAvx512, "avx512"};
  if (CpuHasAvx2()) return {fast::RowAvx2, "avx2"};
  return {fast::RowSse2, "sse2"};
}

// Chosen on first use; the initialisation of a local static is thread-safe.
const Choice& Chosen() {
  static const Choice choice = ChooseKernel();
  return choice;
}

}  // namespace

bool CpuHasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

bool CpuHasAvx512() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f");
}

void FastRow(const AmpModel& a, const RowGrid& g, double* freqs, double* hc) {
  Chosen().kernel(Pack(a, g), freqs, hc);
}

const char* FastRowKernel() { return Chosen().name; }

void FastRowAvx512(const AmpModel& a, const RowGrid& g, double* freqs,
                   double* hc) {
  fast::RowAvx512(Pack(a, g), freqs, hc);
}

void FastRowAvx2(const AmpModel& a, const RowGrid& g, double* freqs,
                 double* hc) {
  fast::RowAvx2(Pack(a, g), freqs, hc);
}

void FastRowSse2(const AmpModel& a, const RowGrid& g, double* freqs,
                 double* hc) {
  fast::RowSse2(Pack(a, g), freqs, hc);
}

}  // namespace phenomd

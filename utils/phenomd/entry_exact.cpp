// The exact module's C entry points: the batch loops with the exact row,
// every value that of the model's formulas evaluated point by point.
#include "batch.h"
#include "phenomd.h"

extern "C" PHENOMD_API int Amplitude(
    double* freqs, double* hc, double* f_merger_start, double* f_ringdown_start,
    const double* m1, const double* m2, const double* spin1,
    const double* spin2, const double* dist, const double* z,
    const double* t_start, const double* t_end, int num_binaries, int length) {
  return phenomd::AmplitudeBatch(phenomd::ExactRow, freqs, hc, f_merger_start,
                                 f_ringdown_start, m1, m2, spin1, spin2, dist,
                                 z, t_start, t_end, num_binaries, length);
}

extern "C" PHENOMD_API int SNR_function(double* snr_all, double* snr_ins,
                                        double* snr_mrg, double* snr_rd,
                                        const double* freqs, const double* hc,
                                        const double* hn,
                                        const double* f_merger_start,
                                        const double* f_ringdown_start,
                                        int length, int num_binaries) {
  return phenomd::SnrBatch(snr_all, snr_ins, snr_mrg, snr_rd, freqs, hc, hn,
                           f_merger_start, f_ringdown_start, length,
                           num_binaries);
}

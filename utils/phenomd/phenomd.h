/*
 * phenomd: characteristic strain of aligned-spin binary black holes from the
 * phenomenological inspiral-merger-ringdown amplitude model, and the
 * signal-to-noise ratio of such signals against a detector's noise.
 *
 * The interface is plain C: two functions over caller-owned arrays of doubles
 * and seven exported physical constants.  Nothing is validated, nothing is
 * logged, no state is kept between calls, and both functions return 0.
 *
 * Batch layout: a per-binary array holds num_binaries doubles; a
 * per-frequency array holds num_binaries rows of length doubles, row-major,
 * the row of binary i starting at index i * length.
 */
#ifndef PHENOMD_H
#define PHENOMD_H

#if defined(_WIN32)
#define PHENOMD_API __declspec(dllexport)
#elif defined(__GNUC__)
#define PHENOMD_API __attribute__((visibility("default")))
#else
#define PHENOMD_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Physical constants, writable globals; the library reads Pi,
 * PARSEC_TO_METERS, SECONDS_PER_YEAR, MRSUN and MTSUN at each use. */
PHENOMD_API extern double Pi;               /* 3.1415926536, pi as the model uses it */
PHENOMD_API extern double PARSEC_TO_METERS; /* metres per parsec */
PHENOMD_API extern double SECONDS_PER_YEAR; /* seconds per Julian year */
PHENOMD_API extern double SPEED_OF_LIGHT;   /* metres per second (not used) */
PHENOMD_API extern double M_SUN;            /* solar mass, kg (not used) */
PHENOMD_API extern double MRSUN;            /* G M_sun / c^2, metres */
PHENOMD_API extern double MTSUN;            /* G M_sun / c^3, seconds */

/*
 * Amplitude: for each binary i, a logarithmic grid of `length` observed-frame
 * frequencies over the band from t_start[i] to t_end[i] years before merger,
 * and the characteristic strain on it.
 *
 *   freqs            out  [num_binaries * length]  grid frequencies, Hz
 *   hc               out  [num_binaries * length]  characteristic strain
 *   f_merger_start   out  [num_binaries]  inspiral/merger boundary, Hz
 *   f_ringdown_start out  [num_binaries]  merger/ringdown boundary, Hz
 *   m1, m2           in   [num_binaries]  source-frame component masses, M_sun
 *   spin1, spin2     in   [num_binaries]  aligned dimensionless spins of m1, m2
 *   dist             in   [num_binaries]  luminosity distance, Mpc
 *   z                in   [num_binaries]  redshift
 *   t_start          in   [num_binaries]  band start, years before merger
 *                                         (observer frame)
 *   t_end            in   [num_binaries]  band end, years before merger; <= 0
 *                                         runs the band through ringdown
 *   num_binaries     in   number of binaries (<= 0: nothing is written)
 *   length           in   grid points per binary
 *
 * A band whose end lies below its start fills its row with freqs = 1e-30 and
 * hc = 1e-60.  Returns 0.
 */
PHENOMD_API int Amplitude(double *freqs, double *hc, double *f_merger_start,
                          double *f_ringdown_start, const double *m1,
                          const double *m2, const double *spin1,
                          const double *spin2, const double *dist,
                          const double *z, const double *t_start,
                          const double *t_end, int num_binaries, int length);

/*
 * SNR_function: signal-to-noise ratio of each binary, in total and split
 * into inspiral, merger and ringdown by the two boundary frequencies.
 *
 *   snr_all, snr_ins, snr_mrg, snr_rd  out  [num_binaries]
 *   freqs            in  [num_binaries * length]  ascending grid, Hz
 *   hc               in  [num_binaries * length]  signal characteristic strain
 *   hn               in  [num_binaries * length]  noise characteristic strain
 *   f_merger_start   in  [num_binaries]  inspiral/merger boundary, Hz
 *   f_ringdown_start in  [num_binaries]  merger/ringdown boundary, Hz
 *   length           in  grid points per binary (< 2: all ratios 0)
 *   num_binaries     in  number of binaries (<= 0: nothing is written)
 *
 * Note the order: length comes before num_binaries here.  Returns 0.
 */
PHENOMD_API int SNR_function(double *snr_all, double *snr_ins, double *snr_mrg,
                             double *snr_rd, const double *freqs,
                             const double *hc, const double *hn,
                             const double *f_merger_start,
                             const double *f_ringdown_start, int length,
                             int num_binaries);

#ifdef __cplusplus
}
#endif

#endif /* PHENOMD_H */

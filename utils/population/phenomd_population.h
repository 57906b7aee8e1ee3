/*
 * phenomd_population: signal-to-noise ratios of a batch of binaries in one
 * pass, without the host ever holding the per-frequency arrays.
 *
 * For each binary the module evaluates the row of the amplitude model (the
 * grid and characteristic strain that Amplitude of libphenomd.so or
 * libphenomd_fast.so writes), multiplies the strain by the binary's
 * inclination factor, takes the noise from a table uniform in log10 f, and
 * sums the trapezoid rule of (hc/hn)^2 over ln f with each interval given to
 * inspiral, merger or ringdown by its midpoint, exactly as SNR_function.
 * Per-frequency values live only in a per-call buffer of a few rows.
 *
 * Reentrant: no state is kept between calls and nothing is written outside
 * the caller's arrays, so calls may run concurrently from several threads.
 * The model's constants (pi, parsec, year, solar mass) are the defaults of
 * libphenomd.so; this module has its own private copies.
 */
#ifndef PHENOMD_POPULATION_H
#define PHENOMD_POPULATION_H

#include <stdint.h>

#if defined(_WIN32)
#define PHENOMD_POPULATION_API __declspec(dllexport)
#elif defined(__GNUC__)
#define PHENOMD_POPULATION_API __attribute__((visibility("default")))
#else
#define PHENOMD_POPULATION_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Noise characteristic strain h_n tabulated at log10 f = log10_f0 + k
 * dlog10_f (k = 0 .. length - 1), as ln h_n.  Between the nodes, with
 * x = (log10 f - log10_f0) / dlog10_f, i = floor(x) clamped to
 * [1, length - 3] and t = x - i, ln h_n is the cubic Lagrange polynomial
 * through nodes i - 1, i, i + 1, i + 2:
 *   ln h = -t(t-1)(t-2)/6 y[i-1] + (t+1)(t-1)(t-2)/2 y[i]
 *          - (t+1)t(t-2)/2 y[i+1] + (t+1)t(t-1)/6 y[i+2].
 * Outside [f_min, f_max] (or f not a number) h_n = +inf: the point adds
 * nothing to the SNR and is counted in n_outside.  The table must hold the
 * four nodes of every f in [f_min, f_max] (checked; see the return codes).
 */
typedef struct phenomd_noise_table {
  double log10_f0;     /* log10 of the first node's frequency in Hz */
  double dlog10_f;     /* node spacing in log10 f, > 0 */
  const double *ln_hn; /* [length] ln h_n at the nodes */
  int64_t length;      /* number of nodes, 4 .. 2^31 - 1 */
  double f_min, f_max; /* range of validity, Hz */
} phenomd_noise_table;

/* Return codes of phenomd_population_snr. */
#define PHENOMD_POPULATION_OK 0
#define PHENOMD_POPULATION_NO_FAST_ROW 1 /* fast != 0, built without it */
#define PHENOMD_POPULATION_BAD_TABLE                                     \
  2                                    /* table NULL, too short, spacing \
                                          not > 0, range not covered */
#define PHENOMD_POPULATION_NO_MEMORY 3 /* the row buffers failed */
#define PHENOMD_POPULATION_BAD_ARGUMENT                                    \
  4 /* phenomd_population_snr_gauss: rtol outside [1e-9, 0.1] or NaN,   \
       num_noise_kinks < 0, kinks NULL with a count, or a kink not a     \
       finite positive frequency */

/*
 * phenomd_population_snr: for each binary i,
 *
 *   snr_all, snr_ins, snr_mrg, snr_rd  out [n]  SNR in total and per phase,
 *                                    of factor[i] * hc against the table;
 *                                    the squares of the three phases add up
 *                                    to the total's
 *   f_merger_start, f_ringdown_start out [n]  phase boundaries, Hz (as
 *                                    Amplitude writes them)
 *   n_outside         out [n]  grid points outside [f_min, f_max]
 *   inverted          out [n]  1 where the band ends below its start
 *                              (Amplitude's sentinel row; length >= 1),
 *                              else 0; may be NULL
 *   m1 ... t_end      in  [n]  as for Amplitude (source-frame masses in
 *                              M_sun, aligned spins, luminosity distance in
 *                              Mpc, redshift, band start and end in years
 *                              before merger, t_end <= 0: through ringdown)
 *   factor            in  [n]  factor applied to hc (the inclination factor
 *                              of the host's convention); NULL means 1
 *   table             in       the noise, see phenomd_noise_table
 *   num_binaries      in       n (<= 0: nothing is written)
 *   length            in       grid points per binary, as for Amplitude
 *                              (< 2: the four ratios are 0)
 *   fast              in       0: the exact row of libphenomd.so;
 *                              otherwise the fast row of libphenomd_fast.so
 *
 * A band that ends below its start (a sentinel row of Amplitude) has SNR 0.
 * With the same h_n values, the results are those of Amplitude,
 * multiplication by factor and SNR_function, to rounding.
 * Returns PHENOMD_POPULATION_OK, or one of the codes above before anything
 * is written.
 */
PHENOMD_POPULATION_API int phenomd_population_snr(
    double *snr_all, double *snr_ins, double *snr_mrg, double *snr_rd,
    double *f_merger_start, double *f_ringdown_start, int64_t *n_outside,
    unsigned char *inverted, const double *m1, const double *m2,
    const double *spin1, const double *spin2, const double *dist,
    const double *z, const double *t_start, const double *t_end,
    const double *factor, const phenomd_noise_table *table,
    int64_t num_binaries, int length, int fast);

/*
 * phenomd_population_snr_gauss: the same SNRs as converged integrals.  For
 * each binary i,
 *
 *   rho^2 = integral over ln f of (factor[i] hc(f) / h_n(f))^2
 *
 * over the part of the band [f(t_start), f(t_end)] (the band of Amplitude;
 * t_end <= 0: up to Mf = 0.2) that lies inside the table's [f_min, f_max]
 * (outside, h_n = +inf), split exactly at f_merger_start and
 * f_ringdown_start: inspiral below f_merger_start, merger between, ringdown
 * from f_ringdown_start (if f_ringdown_start < f_merger_start, ringdown
 * from f_merger_start).  hc is the model's strain at each frequency (the
 * formula of Amplitude's grid, at quadrature nodes), h_n the table's
 * interpolant.
 *
 * The integral is composite Gauss-Legendre in ln f with panel breaks at the
 * band's ends, both phase boundaries, the model's two piece joins (Mf = 0.014
 * and the start of its merger-ringdown piece, where the amplitude is only
 * C^1), f_min, f_max and noise_kinks; the number of panels per decade is
 * chosen from rtol so that every SNR (total, and each phase carrying at
 * least 1e-3 of the total rho^2) is within rtol of the exact integral of the
 * same strain and interpolated noise (calibrated by measurement on random
 * populations; bench/README.md).
 *
 *   snr_*, f_merger_start, f_ringdown_start, inverted, m1 ... factor, table:
 *                    as phenomd_population_snr
 *   n_outside   out [n]  how many of the band's two ends lie outside
 *                        [f_min, f_max] (0, 1 or 2; 0 for an inverted
 *                        band): the part of the band beyond the table adds
 *                        nothing, and a non-zero count says the SNR covers
 *                        only part of the band
 *   noise_kinks in  [num_noise_kinks]  frequencies (Hz, finite, > 0, any
 *                        order) where h_n is not smooth (a knee of a
 *                        piecewise curve, a line's edge); panels break at
 *                        each one inside the band and at the table nodes
 *                        whose interpolation reaches across it.  May be
 *                        NULL when
 *                        num_noise_kinks is 0
 *   num_binaries in      n (<= 0: nothing is written)
 *   rtol         in      relative tolerance, in [1e-9, 0.1] (the
 *                        calibration's own reference is good to ~4e-11)
 *   fast         in      0: the model's exact operations (pow) at each node;
 *                        otherwise the powers as exp(alpha ln f) (SIMD exp),
 *                        agreeing to ~1e-15 relative
 *
 * A band that ends below its start has SNR 0 and inverted = 1; a band whose
 * end is not finite, and a binary whose remnant is outside the model's
 * tables (spins outside [-1, 1]), have NaN SNRs.  The SNR over a sub-band is
 * had by passing that sub-band's t_start and t_end.  Reentrant, as
 * phenomd_population_snr.  Returns PHENOMD_POPULATION_OK, or a code above
 * before anything is written (NO_MEMORY can come after some binaries are
 * written).
 */
PHENOMD_POPULATION_API int phenomd_population_snr_gauss(
    double *snr_all, double *snr_ins, double *snr_mrg, double *snr_rd,
    double *f_merger_start, double *f_ringdown_start, int64_t *n_outside,
    unsigned char *inverted, const double *m1, const double *m2,
    const double *spin1, const double *spin2, const double *dist,
    const double *z, const double *t_start, const double *t_end,
    const double *factor, const phenomd_noise_table *table,
    const double *noise_kinks, int64_t num_noise_kinks,
    int64_t num_binaries, double rtol, int fast);

/*
 * phenomd_population_nodes: the nodes and weights of
 * phenomd_population_snr_gauss's quadrature, for a noise the host
 * evaluates itself.  The panels are those of the Gauss entry for a noise
 * h_n = 1 on [f_min, f_max] (h_n = +inf outside) that is smooth but for
 * noise_kinks; node j of binary i comes back as ln_f[j] (ln of Hz),
 * weight[j] = w_j (factor[i] hc(f_j))^2 (w_j the Gauss weight in ln f) and
 * phase[j] (0 inspiral, 1 merger, 2 ringdown), so that for the host's h_n
 *
 *   rho^2 of a phase = sum over its nodes of weight[j] / h_n(f_j)^2
 *
 * With refine = 0 the panels per decade are those the Gauss entry chooses
 * for rtol (before it narrows them where its table oscillates); each step
 * of refine (0 .. 16) doubles them, so that the host can compare
 * successive levels of its own sums until they agree.
 * Binary i's nodes are [offsets[i], offsets[i + 1]) (none for an inverted
 * band or one outside the range; three NaN weights, one per phase, where
 * the Gauss entry gives NaN).  Binaries are done in order while their
 * nodes fit in `capacity`; *num_done says how many (0: the first binary
 * alone needs more room).  f_merger_start ... inverted: as
 * phenomd_population_snr_gauss, for the binaries done.
 *
 *   ln_f, weight, phase  out [capacity]
 *   offsets              out [num_binaries + 1]
 *   f_min, f_max         in  the noise's range, Hz (0 < f_min < f_max < inf)
 *
 * Returns PHENOMD_POPULATION_OK; NO_FAST_ROW; BAD_TABLE for a range not so;
 * BAD_ARGUMENT for rtol, refine, the kinks, a NULL offsets or num_done, or
 * a negative capacity; NO_MEMORY.
 */
PHENOMD_POPULATION_API int phenomd_population_nodes(
    double *ln_f, double *weight, unsigned char *phase, int64_t capacity,
    int64_t *offsets, double *f_merger_start, double *f_ringdown_start,
    int64_t *n_outside, unsigned char *inverted, const double *m1,
    const double *m2, const double *spin1, const double *spin2,
    const double *dist, const double *z, const double *t_start,
    const double *t_end, const double *factor, double f_min, double f_max,
    const double *noise_kinks, int64_t num_noise_kinks, int64_t num_binaries,
    double rtol, int refine, int fast, int64_t *num_done);

/*
 * phenomd_population_snr_edges: the accumulation of rho^2 along each
 * binary's band, from the quadrature of phenomd_population_snr_gauss: the
 * integral from the lower end of the integration (the band's start, or
 * f_min where the band starts below the table) up to the upper edge of
 * each of its Gauss-Legendre panels, the panels in ascending frequency.
 * It brackets the frequency where the accumulated SNR crosses a value in
 * one pass (a detection threshold: the crossing lies in the panel whose
 * edges straddle it).
 *
 *   edge_f      out [n * max_edges]  edge j of binary i at
 *                                    [i * max_edges + j]: frequency, Hz,
 *                                    ascending; the first is the lower end
 *   edge_rho2   out [n * max_edges]  rho^2 accumulated from the lower end
 *                                    to that edge (0 at the first; the last
 *                                    is the band's rho^2, the square of
 *                                    snr_all to rounding)
 *   num_edges   out [n]  edges written for binary i, 2 .. max_edges; 0
 *                        for a band that is empty (inverted, or outside
 *                        the table's range) or whose ends are not finite.
 *                        A binary with more panels than max_edges - 1 gets
 *                        a subset of the edges, the first and last always
 *                        among them (still a bracketing of every value)
 *   m1 ... factor, table, noise_kinks, num_noise_kinks, rtol, fast:
 *                        as phenomd_population_snr_gauss
 *   num_binaries in      n (<= 0: nothing is written)
 *   max_edges    in      >= 2
 *
 * A binary whose remnant is outside the model's tables has NaN rho^2.
 * Reentrant.  Returns PHENOMD_POPULATION_OK, BAD_TABLE, BAD_ARGUMENT (as
 * phenomd_population_snr_gauss, or max_edges < 2), NO_FAST_ROW or
 * NO_MEMORY.
 */
PHENOMD_POPULATION_API int phenomd_population_snr_edges(
    double *edge_f, double *edge_rho2, int64_t *num_edges, const double *m1,
    const double *m2, const double *spin1, const double *spin2,
    const double *dist, const double *z, const double *t_start,
    const double *t_end, const double *factor,
    const phenomd_noise_table *table, const double *noise_kinks,
    int64_t num_noise_kinks, int64_t num_binaries, int64_t max_edges,
    double rtol, int fast);

/* 1 when the module has the fast row (x86-64 built with SLEEF), else 0. */
PHENOMD_POPULATION_API int phenomd_population_has_fast_row(void);

#ifdef __cplusplus
}
#endif

#endif /* PHENOMD_POPULATION_H */

// Signal-to-noise ratio of one binary's row: the integral of (hc/hn)^2 over
// ln f by the trapezoid rule, each interval assigned to inspiral, merger or
// ringdown by its midpoint.
#pragma once

#include <cstddef>

namespace phenomd {

struct SnrSplit {
  double all, ins, mrg, rd;
};

// Squared ratios summed over the n - 1 intervals of one row (n >= 2).
// Midpoints <= f_merger_start are inspiral, otherwise midpoints >=
// f_ringdown_start are ringdown, the rest merger.
SnrSplit SnrSquaredOfRow(const double* freqs, const double* hc,
                         const double* hn, std::ptrdiff_t n,
                         double f_merger_start, double f_ringdown_start);

}  // namespace phenomd

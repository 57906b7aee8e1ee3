// Quasi-normal frequencies as roots of Leaver's radial continued fraction,
// with the angular separation constant solved alongside, the truncation depth
// fixed by depth doubling, and continuation in spin from Schwarzschild.
#pragma once

#include <vector>

#include "kerr_mode.h"

namespace qnm {

// Schwarzschild fundamental l = 2 gravitational mode, M omega (Leaver 1985,
// Table 1, converted from units 2M = 1): the start of every continuation.
inline const cplx kSchwarzschildGuess(0.3736717, -0.0889623);

struct SolverOptions {
  int initial_depth = 256;     // first continued-fraction depth tried
  int max_depth = 1 << 16;     // give up doubling beyond this (the table
                               // needs at most 4096)
  double depth_rtol = 1e-12;   // accept when doubling the depth changes Re and
                               // Im of omega by less than this, relatively
  double root_rtol = 1e-14;    // secant stops when |step| < root_rtol |omega|
  int max_iterations = 60;     // secant iterations per depth
  int angular_depth = 100;     // depth of the angular continued fraction
  double max_spin_step = 0.01; // largest continuation step in a
};

// Root at one fixed continued-fraction depth.
struct FixedDepthRoot {
  cplx omega;
  cplx A;
  int iterations = 0;
  bool converged = false;
};

FixedDepthRoot find_root_fixed_depth(double a, const ModeIndices& mode,
                                     cplx omega_guess, cplx A_guess, int depth,
                                     const SolverOptions& opts);

// Root converged in depth: the depth is doubled until the root moves by less
// than opts.depth_rtol (relative, in both real and imaginary part).  Doubling
// stops early, unconverged, when the secant fails at some depth.
struct QnmRoot {
  double a = 0.0;
  cplx omega;             // M omega at the accepted depth
  cplx A;                 // Leaver's angular separation constant
  int depth = 0;          // accepted depth (the deeper of the last pair)
  double rel_err_re = 0;  // |Re omega(depth) - Re omega(depth/2)| / |Re omega|
  double rel_err_im = 0;  // same for the imaginary part
  int iterations = 0;     // secant iterations summed over all depths tried
  bool converged = false;
};

QnmRoot solve_qnm(double a, const ModeIndices& mode, cplx omega_guess,
                  cplx A_guess, const SolverOptions& opts = SolverOptions());

// Follows the mode from a = 0 (started at kSchwarzschildGuess and the
// spherical separation constant) through the spins `targets`, which must all
// have the same sign and non-decreasing magnitude, |a| < 1.  Intermediate
// spins are inserted where a step would exceed opts.max_spin_step or half the
// distance to extremality; each new root is guessed by linear extrapolation
// of the last two.  Returns one root per target; throws std::runtime_error
// when a root fails to converge, since continuing from it would be guesswork.
std::vector<QnmRoot> follow_mode(const std::vector<double>& targets,
                                 const ModeIndices& mode,
                                 const SolverOptions& opts = SolverOptions());

}  // namespace qnm

#include "qnm_root.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "angular_eigenvalue.h"
#include "radial_cf.h"

namespace qnm {

FixedDepthRoot find_root_fixed_depth(double a, const ModeIndices& mode,
                                     cplx omega_guess, cplx A_guess, int depth,
                                     const SolverOptions& opts) {
  // F(omega) with A(omega) solved on the fly; the last A warm-starts the
  // next angular solve, so each evaluation costs a few angular sweeps.
  cplx A_current = A_guess;
  auto F = [&](cplx w) {
    A_current =
        solve_angular_eigenvalue(a * w, mode, A_current, opts.angular_depth).A;
    return radial_continued_fraction(a, w, mode, A_current, depth);
  };

  FixedDepthRoot res;
  cplx x0 = omega_guess;
  cplx x1 = omega_guess * cplx(1.0 + 1e-7, 1e-7);
  cplx f0 = F(x0);
  cplx f1 = F(x1);
  for (int it = 1; it <= opts.max_iterations; ++it) {
    res.iterations = it;
    if (f1 == f0) {
      res.converged = std::abs(x1 - x0) <= 1e3 * opts.root_rtol * std::abs(x1);
      break;
    }
    const cplx x2 = x1 - f1 * (x1 - x0) / (f1 - f0);
    x0 = x1;
    f0 = f1;
    x1 = x2;
    f1 = F(x1);  // also leaves A_current consistent with x1
    if (std::abs(x1 - x0) <= opts.root_rtol * std::abs(x1)) {
      res.converged = true;
      break;
    }
  }
  res.omega = x1;
  res.A = A_current;
  return res;
}

QnmRoot solve_qnm(double a, const ModeIndices& mode, cplx omega_guess,
                  cplx A_guess, const SolverOptions& opts) {
  QnmRoot res;
  res.a = a;
  int depth = opts.initial_depth;
  FixedDepthRoot prev =
      find_root_fixed_depth(a, mode, omega_guess, A_guess, depth, opts);
  res.iterations = prev.iterations;
  res.omega = prev.omega;
  res.A = prev.A;
  res.depth = depth;
  while (prev.converged && 2 * depth <= opts.max_depth) {
    depth *= 2;
    const FixedDepthRoot next =
        find_root_fixed_depth(a, mode, prev.omega, prev.A, depth, opts);
    res.iterations += next.iterations;
    res.rel_err_re = std::abs(next.omega.real() - prev.omega.real()) /
                     std::abs(next.omega.real());
    res.rel_err_im = std::abs(next.omega.imag() - prev.omega.imag()) /
                     std::abs(next.omega.imag());
    res.omega = next.omega;
    res.A = next.A;
    res.depth = depth;
    res.converged = prev.converged && next.converged &&
                    res.rel_err_re < opts.depth_rtol &&
                    res.rel_err_im < opts.depth_rtol;
    if (res.converged) break;
    prev = next;
  }
  return res;
}

std::vector<QnmRoot> follow_mode(const std::vector<double>& targets,
                                 const ModeIndices& mode,
                                 const SolverOptions& opts) {
  std::vector<QnmRoot> out;
  out.reserve(targets.size());

  const double A0 = spherical_separation_constant(mode);
  QnmRoot cur = solve_qnm(0.0, mode, kSchwarzschildGuess, cplx(A0, 0.0), opts);
  if (!cur.converged) throw std::runtime_error("follow_mode: no root at a = 0");
  QnmRoot prev = cur;  // equal to cur until a second point exists

  double last_mag = 0.0;
  double sign = 0.0;
  for (double target : targets) {
    const double mag = std::abs(target);
    if (!(mag < 1.0) || mag < last_mag ||
        (sign != 0.0 && target != 0.0 && (target > 0.0) != (sign > 0.0))) {
      throw std::invalid_argument(
          "follow_mode: targets must share a sign, grow in magnitude and "
          "stay inside |a| < 1");
    }
    if (target != 0.0) sign = target > 0.0 ? 1.0 : -1.0;
    last_mag = mag;

    while (cur.a != target) {
      const double room = 0.5 * (1.0 - std::abs(cur.a));
      double step = std::min({std::abs(target - cur.a), opts.max_spin_step, room});
      const double dir = target > cur.a ? 1.0 : -1.0;
      double a_next = cur.a + dir * step;
      if (std::abs(target - a_next) < 1e-12) a_next = target;

      // Linear extrapolation in a from the last two roots.
      cplx w_guess = cur.omega, A_guess = cur.A;
      if (prev.a != cur.a) {
        const double t = (a_next - cur.a) / (cur.a - prev.a);
        w_guess = cur.omega + t * (cur.omega - prev.omega);
        A_guess = cur.A + t * (cur.A - prev.A);
      }
      prev = cur;
      cur = solve_qnm(a_next, mode, w_guess, A_guess, opts);
      if (!cur.converged) {
        throw std::runtime_error("follow_mode: no converged root at a = " +
                                 std::to_string(a_next));
      }
    }
    out.push_back(cur);
  }
  return out;
}

}  // namespace qnm

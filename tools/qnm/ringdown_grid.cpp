#include "ringdown_grid.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace qnm {

namespace {

constexpr double kTwoPi = 6.283185307179586476925286766559;

// Spin of a row in thousandths, exactly.
int spin_thousandths(int row) {
  if (row < 0 || row >= kTableRows) throw std::out_of_range("spin row");
  if (row == 0) return -1000;
  if (row == 1) return -999;
  if (row == kTableRows - 2) return 999;
  if (row == kTableRows - 1) return 1000;
  return -998 + 2 * (row - 2);
}

bool seven_decimals(int row) { return row >= 1000; }

}  // namespace

std::string spin_literal(int row) {
  const int k = spin_thousandths(row);
  if (k == 0) return "0.0";
  if (k == 1000) return "1.0";
  if (k == -1000) return "-1.0";
  char buf[16];
  std::snprintf(buf, sizeof buf, "%s0.%03d", k < 0 ? "-" : "", std::abs(k));
  return buf;
}

double spin_value(int row) { return std::strtod(spin_literal(row).c_str(), nullptr); }

std::string round_cell(int row, double value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, seven_decimals(row) ? "%.7f" : "%.6g", value);
  return buf;
}

double rounding_margin(int row, double value) {
  const double v = std::abs(value);
  // Unit of the last kept digit.
  double unit;
  if (seven_decimals(row)) {
    unit = 1e-7;
  } else {
    const int e = static_cast<int>(std::floor(std::log10(v)));
    unit = std::pow(10.0, e - 5);
  }
  const double scaled = v / unit;
  const double frac = scaled - std::floor(scaled);
  return std::abs(frac - 0.5) * unit / v;
}

const std::vector<FixedCell>& fixed_cells() {
  static const std::vector<FixedCell> cells = {
      {0, Column::kRing, "0.0464014", "Leaver's method does not apply at |a| = 1"},
      {0, Column::kDamp, "0.0140098", "Leaver's method does not apply at |a| = 1"},
      {1000, Column::kDamp, "0.0023131", "it belongs to a spin a few 1e-7 off the grid"},
      {1001, Column::kRing, "0.1521282", "it belongs to a spin a few 1e-7 off the grid"},
      {1001, Column::kDamp, "0.0016762", "it belongs to a spin a few 1e-7 off the grid"},
      {1002, Column::kRing, "0.1579619", "Leaver's method does not apply at |a| = 1"},
      {1002, Column::kDamp, "0.0002908", "Leaver's method does not apply at |a| = 1"},
  };
  return cells;
}

const FixedCell* find_fixed_cell(int row, Column column) {
  for (const FixedCell& c : fixed_cells()) {
    if (c.row == row && c.column == column) return &c;
  }
  return nullptr;
}

std::vector<int> all_rows() {
  std::vector<int> rows(kTableRows);
  for (int i = 0; i < kTableRows; ++i) rows[i] = i;
  return rows;
}

std::vector<TableRow> compute_rows(const std::vector<int>& requested,
                                   bool parallel, const SolverOptions& opts) {
  std::vector<int> rows = requested;
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());

  std::vector<TableRow> out(rows.size());
  std::vector<size_t> neg, pos;  // indices into `out`, ordered away from a = 0
  for (size_t k = 0; k < rows.size(); ++k) {
    TableRow& r = out[k];
    r.row = rows[k];
    r.a = spin_value(rows[k]);
    if (std::abs(r.a) >= 1.0) continue;  // not reachable by the method
    r.computed = true;
    (r.a < 0.0 ? neg : pos).push_back(k);
  }
  std::reverse(neg.begin(), neg.end());

  // The l = m = 2 mode is followed through negative spins directly: Leaver's
  // equations hold for a < 0, and the root reached there is the m = -2 mode at
  // |a| with positive real part, omega(-a, m) = omega(a, -m).
  const ModeIndices mode{-2, 2, 2};
  auto run_branch = [&](const std::vector<size_t>& idx) {
    std::vector<double> spins;
    for (size_t k : idx) spins.push_back(out[k].a);
    const std::vector<QnmRoot> roots = follow_mode(spins, mode, opts);
    for (size_t j = 0; j < idx.size(); ++j) out[idx[j]].root = roots[j];
  };
  if (parallel && !neg.empty() && !pos.empty()) {
    std::thread t([&] { run_branch(neg); });
    run_branch(pos);
    t.join();
  } else {
    run_branch(neg);
    run_branch(pos);
  }

  for (TableRow& r : out) {
    if (r.computed) {
      if (!r.root.converged) {
        throw std::runtime_error("QNM root did not converge at a = " +
                                 spin_literal(r.row));
      }
      r.fring_full = r.root.omega.real() / kTwoPi;
      r.fdamp_full = std::abs(r.root.omega.imag()) / kTwoPi;
    }
    const FixedCell* fr = find_fixed_cell(r.row, Column::kRing);
    const FixedCell* fd = find_fixed_cell(r.row, Column::kDamp);
    if ((!fr || !fd) && !r.computed) {
      throw std::logic_error("row without a solver value needs given values");
    }
    r.fring_literal = fr ? fr->literal : round_cell(r.row, r.fring_full);
    r.fdamp_literal = fd ? fd->literal : round_cell(r.row, r.fdamp_full);
  }
  return out;
}

}  // namespace qnm

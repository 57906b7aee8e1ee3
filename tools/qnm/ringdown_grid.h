// The ringdown table's spin grid, its rounding rule, the cells that keep
// given values, and the computation of table rows from the QNM solver.
//
// Grid: row 0 = -1, row 1 = -0.999, rows 2..1000 = -0.998 + 0.002 (i - 2),
// row 1001 = 0.999, row 1002 = 1.  Each spin is the double nearest to its
// three-decimal value (row 501 is exactly 0).
//
// Cells: fring = Re(M omega)/(2 pi), fdamp = |Im(M omega)|/(2 pi) of the
// s = -2, l = m = 2, n = 0 Kerr mode, followed continuously from a = 0 to
// both ends of the grid.  Rounded to six significant digits in rows 0-999
// and seven decimals in rows 1000-1002.
#pragma once

#include <string>
#include <vector>

#include "qnm_root.h"

namespace qnm {

constexpr int kTableRows = 1003;

// Spin of a row as the decimal literal the table stores ("-0.998", "0.0").
std::string spin_literal(int row);
// The double nearest that literal.
double spin_value(int row);

// The table's rounding of a full-precision value in a row, as a decimal
// literal: "%.6g" for rows 0-999, "%.7f" for rows 1000-1002.
std::string round_cell(int row, double value);

// Distance of `value` from the nearest rounding boundary of its row's rule,
// relative to |value|.  A root whose relative error is below this margin is
// rounded to the same literal as the exact frequency.
double rounding_margin(int row, double value);

enum class Column { kRing, kDamp };

// A cell that keeps a given value instead of the solver's: the two ends of
// the grid, where the continued fraction does not apply, and the cells near
// a = 1 whose given values belong to spins slightly off the grid.
struct FixedCell {
  int row;
  Column column;
  const char* literal;
  const char* reason;
};
const std::vector<FixedCell>& fixed_cells();
const FixedCell* find_fixed_cell(int row, Column column);

struct TableRow {
  int row = 0;
  double a = 0.0;
  bool computed = false;     // false only at |a| = 1
  QnmRoot root;              // valid when computed
  double fring_full = 0.0;   // solver values (when computed)
  double fdamp_full = 0.0;
  std::string fring_literal; // what the table stores
  std::string fdamp_literal;
};

// Computes the requested rows (any subset of 0..1002, any order; returned in
// ascending row order).  The mode is followed separately up to a = +1 and
// down to a = -1, in two threads when `parallel` is set.  Throws
// std::runtime_error if a root fails to converge.
std::vector<TableRow> compute_rows(const std::vector<int>& rows, bool parallel,
                                   const SolverOptions& opts = SolverOptions());

std::vector<int> all_rows();

}  // namespace qnm

// qnm_tables: computes the Kerr ringdown tables and writes them as a header.
//
//   qnm_tables --output FILE [--diagnostics] [--serial]
//
// --diagnostics prints, per row, the full-precision root, the accepted
// continued-fraction depth, the secant iterations, the relative change of the
// root on the last depth doubling, and the distance to the rounding boundary.
// A summary (largest rounding change, smallest rounding margin against the
// error estimate, given cells against the solver) goes to stderr.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "ringdown_grid.h"
#include "table_writer.h"

namespace {

void usage() {
  std::fprintf(stderr, "usage: qnm_tables --output FILE [--diagnostics] [--serial]\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::string output;
  bool diagnostics = false, parallel = true;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--output") && i + 1 < argc) {
      output = argv[++i];
    } else if (!std::strcmp(argv[i], "--diagnostics")) {
      diagnostics = true;
    } else if (!std::strcmp(argv[i], "--serial")) {
      parallel = false;
    } else {
      usage();
      return 2;
    }
  }
  if (output.empty()) {
    usage();
    return 2;
  }

  std::vector<qnm::TableRow> rows;
  try {
    rows = qnm::compute_rows(qnm::all_rows(), parallel);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qnm_tables: %s\n", e.what());
    return 1;
  }

  if (diagnostics) {
    std::cout << qnm::diagnostic_title() << "\n";
    for (const auto& r : rows) std::cout << qnm::diagnostic_line(r) << "\n";
  }

  // Summary over the cells that come from the solver.
  double max_change = 0.0, worst_ratio = 1e300, max_err = 0.0;
  int max_change_row = -1, worst_row = -1, max_depth = 0;
  for (const auto& r : rows) {
    if (!r.computed) continue;
    max_depth = std::max(max_depth, r.root.depth);
    max_err = std::max({max_err, r.root.rel_err_re, r.root.rel_err_im});
    const double full[2] = {r.fring_full, r.fdamp_full};
    const std::string lit[2] = {r.fring_literal, r.fdamp_literal};
    const double err[2] = {r.root.rel_err_re, r.root.rel_err_im};
    for (int c = 0; c < 2; ++c) {
      if (qnm::find_fixed_cell(r.row, c ? qnm::Column::kDamp : qnm::Column::kRing)) {
        std::fprintf(stderr, "row %4d %s: given %s, solver %s (%.12g)\n", r.row,
                     c ? "fdamp" : "fring", lit[c].c_str(),
                     qnm::round_cell(r.row, full[c]).c_str(), full[c]);
        continue;
      }
      const double change = std::abs(std::strtod(lit[c].c_str(), nullptr) - full[c]) / full[c];
      if (change > max_change) { max_change = change; max_change_row = r.row; }
      const double ratio = qnm::rounding_margin(r.row, full[c]) / std::max(err[c], 1e-16);
      if (ratio < worst_ratio) { worst_ratio = ratio; worst_row = r.row; }
    }
  }
  std::fprintf(stderr,
               "largest relative change from rounding: %.3e (row %d)\n"
               "largest relative depth-doubling change: %.3e; deepest fraction: %d\n"
               "smallest rounding margin / error estimate: %.3e (row %d)\n",
               max_change, max_change_row, max_err, max_depth, worst_ratio, worst_row);

  std::ostringstream text;
  qnm::write_ringdown_header(text, rows);
  std::ofstream f(output, std::ios::binary);
  f << text.str();
  if (!f) {
    std::fprintf(stderr, "qnm_tables: cannot write %s\n", output.c_str());
    return 1;
  }
  return 0;
}

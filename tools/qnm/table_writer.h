// Emits the ringdown tables as a C++ header with internal linkage.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "ringdown_grid.h"

namespace qnm {

// The command that regenerates the committed header, quoted in its first lines.
extern const char* const kRegenerateCommand;

// Writes the header for a complete table (rows 0..1002 in order).  The output
// depends only on `rows`, so regeneration is reproducible bit for bit.
void write_ringdown_header(std::ostream& os, const std::vector<TableRow>& rows);

// One line of the convergence diagnostic of a row (the generator's
// --diagnostics output), and its column titles.
std::string diagnostic_title();
std::string diagnostic_line(const TableRow& row);

}  // namespace qnm

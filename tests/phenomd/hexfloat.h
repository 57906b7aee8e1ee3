// Doubles printed so that two different values never print alike: the
// decimal form with 17 significant digits and the exact binary form (%a).
// Bitwise and ordering checks print their values through this.
#pragma once

#include <cstdio>
#include <string>

namespace phenomd_test {

inline std::string Hex(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g (%a)", v, v);
  return buf;
}

}  // namespace phenomd_test

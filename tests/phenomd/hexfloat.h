// Doubles printed so that two different values never print alike (17
// significant digits and the exact binary form, %a), and bitwise
// comparisons that print both values that way when they fail.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

namespace phenomd_test {

inline std::string Hex(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g (%a)", v, v);
  return buf;
}

// The same double bit for bit: NaN payloads and the sign of zero count.
inline ::testing::AssertionResult SameBits(double got, double want) {
  if (std::memcmp(&got, &want, sizeof got) == 0) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "got " << Hex(got) << ", want " << Hex(want);
}

// n doubles bit for bit; on failure, the number of differing cells and the
// first of them with both values.
inline ::testing::AssertionResult SameBits(const double* got,
                                           const double* want, std::size_t n) {
  std::size_t differing = 0, first = 0;
  for (std::size_t k = 0; k < n; ++k) {
    if (std::memcmp(got + k, want + k, sizeof(double)) != 0 &&
        differing++ == 0) {
      first = k;
    }
  }
  if (differing == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << differing << " of " << n << " cells differ; first at " << first
         << ": got " << Hex(got[first]) << ", want " << Hex(want[first]);
}

}  // namespace phenomd_test

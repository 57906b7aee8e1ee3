// Helpers for comparing with reference values quoted to a stated number of
// significant digits.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace phenomd_test {

// Half a unit in the last quoted digit of `ref` ("-1.653460160" has ten
// significant digits, so the tolerance is 5e-10): a value agrees with the
// quote when it rounds to it.
inline double HalfUnitInLastDigit(const std::string& ref) {
  std::string mantissa = ref;
  int exponent = 0;
  const auto e = ref.find_first_of("eE");
  if (e != std::string::npos) {
    mantissa = ref.substr(0, e);
    exponent = std::atoi(ref.c_str() + e + 1);
  }
  const auto dot = mantissa.find('.');
  const int decimals = dot == std::string::npos
                           ? 0
                           : static_cast<int>(mantissa.size() - dot - 1);
  return 0.5 * std::pow(10.0, exponent - decimals);
}

// Passes when `actual` rounds to the quoted `ref`; allows one ulp of the
// reference's own conversion on top of the half unit.
inline ::testing::AssertionResult MatchesQuoted(double actual,
                                                const std::string& ref) {
  const double r = std::strtod(ref.c_str(), nullptr);
  const double tol = HalfUnitInLastDigit(ref) * (1.0 + 1e-12);
  if (std::fabs(actual - r) <= tol) return ::testing::AssertionSuccess();
  char buf[160];
  std::snprintf(buf, sizeof buf, "%.17g (%a) does not round to %s (tol %.3g)",
                actual, actual, ref.c_str(), tol);
  return ::testing::AssertionFailure() << buf;
}

// Relative difference, for values that should agree to rounding.
inline double RelDiff(double a, double b) {
  const double scale = std::fmax(std::fabs(a), std::fabs(b));
  return scale == 0.0 ? 0.0 : std::fabs(a - b) / scale;
}

}  // namespace phenomd_test

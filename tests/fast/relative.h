// Agreement within a relative tolerance, NaN only where the reference is
// NaN, and a running maximum of the relative differences seen.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

namespace fast_test {

// SplitMix64: deterministic draws, the same on every platform.
class Stream {
 public:
  explicit Stream(std::uint64_t seed) : s_(seed) {}
  double Uniform(double lo, double hi) {
    std::uint64_t z = (s_ += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    z ^= z >> 31;
    return lo + (hi - lo) * (static_cast<double>(z >> 11) * 0x1p-53);
  }
  double LogUniform(double lo, double hi) {
    return std::pow(10.0, Uniform(std::log10(lo), std::log10(hi)));
  }

 private:
  std::uint64_t s_;
};

struct Agreement {
  double max_rel = 0.0;
  long compared = 0, failures = 0;

  // Records got against want; reports the first few failures.
  void Check(double got, double want, double tol, const char* what, long at) {
    ++compared;
    bool ok;
    if (std::isnan(want) || std::isnan(got)) {
      ok = std::isnan(want) && std::isnan(got);
    } else if (got == want) {
      ok = true;
    } else {
      const double rel = std::fabs(got - want) / std::fabs(want);
      if (rel > max_rel) max_rel = rel;
      ok = rel <= tol;
    }
    if (!ok && failures++ < 5) {
      ADD_FAILURE() << what << " at " << at << ": got " << got << " want "
                    << want;
    }
  }
};

}  // namespace fast_test

// libFuzzer harness over the exact module: decodes its input into a small
// batch, calls Amplitude and then SNR_function on Amplitude's outputs, every
// array framed by guard cells, and aborts on any broken guarantee.  The
// input format and the checks are in harness.h.
#include <cstddef>
#include <cstdint>

#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  fuzz::Reader r(data, size);
  fuzz::CheckBatch(r);
  return 0;
}

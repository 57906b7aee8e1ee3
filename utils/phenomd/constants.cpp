// The physical constants of the C interface.  They are writable globals with
// C linkage and default visibility, so that a host can resolve them by name;
// the model reads Pi, PARSEC_TO_METERS, SECONDS_PER_YEAR, MRSUN and MTSUN from
// them at each call rather than folding them in at compile time.
#include "phenomd.h"

extern "C" {
PHENOMD_API double Pi = 3.1415926536;  // ten decimals, as the fits were made
PHENOMD_API double PARSEC_TO_METERS = 3.08567782e16;
PHENOMD_API double SECONDS_PER_YEAR = 31557600.0;  // 365.25 days
PHENOMD_API double SPEED_OF_LIGHT = 299792458.0;
PHENOMD_API double M_SUN = 1.98855e30;
PHENOMD_API double MRSUN = 1476.6250614046494;
PHENOMD_API double MTSUN = 4.925491025543576e-06;
}

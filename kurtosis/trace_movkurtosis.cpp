#include "onset.h"
extern "C" ONSET_API void trace_movkurtosis(double *, const double *, uint32_t, uint32_t) {}

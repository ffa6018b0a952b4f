#include "onset.h"
extern "C" ONSET_API int32_t captures(const CaptureSet *, const Pick *const *, const int32_t *, const double *, uint8_t *const *) { return 0; }
extern "C" ONSET_API void wipe_auxiliaries(const Pick **, int32_t *, int32_t) {}
extern "C" ONSET_API void wipe_idx_buffers(int32_t *, int32_t) {}

// Entry of the capture grouping: reserve the working storage, then group.
#include "onset.h"
#include "picker/capture_grouping.h"
#include "picker/capture_storage.h"

extern "C" ONSET_API int32_t captures(const CaptureSet *set, const Pick *const *picks,
                                      const int32_t *counts, const double *tolerances,
                                      uint8_t *const *taken)
{
    const CaptureSet fields = *set;
    if (fields.count <= 0)
        return 0;
    onset::picker::CaptureStorage storage(fields.count);
    // Failing here, before anything is written, leaves the host's flags as
    // they were.
    if (!storage.ready())
        return -1;
    return onset::picker::group_captures(fields, picks, counts, tolerances, taken, storage);
}

// The zero fills of the capture working storage, exported so that the host
// may call them on its own arrays too.
#include "onset.h"
#include "picker/zero_fill.h"

extern "C" ONSET_API void wipe_auxiliaries(const Pick **slots, int32_t *slot_traces,
                                           int32_t count)
{
    onset::picker::clear_slots(slots, slot_traces, count);
}

extern "C" ONSET_API void wipe_idx_buffers(int32_t *cursors, int32_t count)
{
    onset::picker::clear_cursors(cursors, count);
}

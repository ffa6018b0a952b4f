// The zero fills of the capture working storage; the host may call them on
// its own arrays too.
#include "onset.h"

#include <cstddef>
#include <cstring>

extern "C" ONSET_API void wipe_auxiliaries(const Pick **slots, int32_t *slot_traces,
                                           int32_t count)
{
    if (count <= 0)
        return;
    const auto entries = static_cast<std::size_t>(count);
    std::memset(slots, 0, entries * sizeof(*slots));
    std::memset(slot_traces, 0, entries * sizeof(*slot_traces));
}

extern "C" ONSET_API void wipe_idx_buffers(int32_t *cursors, int32_t count)
{
    if (count <= 0)
        return;
    std::memset(cursors, 0, static_cast<std::size_t>(count) * sizeof(*cursors));
}

// The zero fills of the capture working storage, shared by the grouping and
// the exported wipe_auxiliaries and wipe_idx_buffers.
#pragma once

#include "onset.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace onset::picker {

// Zeroes the first `count` slots and slot traces; nothing when count <= 0.
inline void clear_slots(const Pick **slots, int32_t *slot_traces, int32_t count)
{
    if (count <= 0)
        return;
    const auto entries = static_cast<std::size_t>(count);
    std::memset(slots, 0, entries * sizeof(*slots));
    std::memset(slot_traces, 0, entries * sizeof(*slot_traces));
}

// Zeroes the first `count` cursors; nothing when count <= 0.
inline void clear_cursors(int32_t *cursors, int32_t count)
{
    if (count <= 0)
        return;
    std::memset(cursors, 0, static_cast<std::size_t>(count) * sizeof(*cursors));
}

} // namespace onset::picker

// Working storage of one call of captures: the block of the capture being
// built (slot pointers and slot traces) and one search cursor per trace.
#pragma once

#include "onset.h"

#include <cstddef>
#include <cstdint>

namespace onset::picker {

// Up to this many traces the storage lives on the calling thread's stack
// (16 bytes a trace, 64 KiB at most); a larger array of traces would
// overflow small thread stacks, so it is taken from the heap instead.
constexpr int32_t stack_traces = 4096;

struct CaptureStorage {
    const Pick **slots;
    int32_t *slot_traces;
    int32_t *cursors;
};

// Bytes of storage for traces > 0 traces, formed in size_t: 16 * INT32_MAX
// does not fit in 32 bits.
std::size_t storage_bytes(int32_t traces);

// The three arrays laid out in block, which holds storage_bytes(traces)
// bytes aligned for a pointer: the pointers first, so that every array keeps
// its natural alignment.
CaptureStorage lay_out_storage(void *block, int32_t traces);

} // namespace onset::picker

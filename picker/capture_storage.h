// Working storage of one call of captures: the block of the capture being
// built (slot pointers and slot traces) and one search cursor per trace.
#pragma once

#include "onset.h"

#include <cstdint>

namespace onset::picker {

// Up to this many traces the storage lives in the caller's frame (16 bytes a
// trace, 64 KiB in all); a larger array of traces would overflow small
// thread stacks, so it is taken from the heap instead.
constexpr int32_t stack_traces = 4096;

class CaptureStorage {
public:
    // traces > 0. On the heap path the allocation may fail: see ready().
    explicit CaptureStorage(int32_t traces);
    ~CaptureStorage();
    CaptureStorage(const CaptureStorage &) = delete;
    CaptureStorage &operator=(const CaptureStorage &) = delete;

    // False when the heap allocation failed; nothing else may be used then.
    bool ready() const { return slots != nullptr; }

    const Pick **slots = nullptr;
    int32_t *slot_traces = nullptr;
    int32_t *cursors = nullptr;

private:
    void *heap_block_ = nullptr;
    const Pick *stack_slots_[stack_traces];
    int32_t stack_slot_traces_[stack_traces];
    int32_t stack_cursors_[stack_traces];
};

} // namespace onset::picker

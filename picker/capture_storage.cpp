#include "picker/capture_storage.h"

#include <cstddef>
#include <cstdlib>

namespace onset::picker {

CaptureStorage::CaptureStorage(int32_t traces)
{
    if (traces <= stack_traces) {
        slots = stack_slots_;
        slot_traces = stack_slot_traces_;
        cursors = stack_cursors_;
        return;
    }
    // One block per call: the pointers first, so that every part keeps its
    // natural alignment. The size is formed in size_t: 16 * INT32_MAX does
    // not fit in 32 bits.
    const auto count = static_cast<std::size_t>(traces);
    heap_block_ = std::malloc(count * (sizeof(const Pick *) + 2 * sizeof(int32_t)));
    if (heap_block_ == nullptr)
        return;
    slots = static_cast<const Pick **>(heap_block_);
    slot_traces = reinterpret_cast<int32_t *>(slots + count);
    cursors = slot_traces + count;
}

CaptureStorage::~CaptureStorage() { std::free(heap_block_); }

} // namespace onset::picker

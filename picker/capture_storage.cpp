// The layout of the working storage of captures in one block.
#include "picker/capture_storage.h"

namespace onset::picker {

std::size_t storage_bytes(int32_t traces)
{
    return static_cast<std::size_t>(traces) * (sizeof(const Pick *) + 2 * sizeof(int32_t));
}

CaptureStorage lay_out_storage(void *block, int32_t traces)
{
    const auto count = static_cast<std::size_t>(traces);
    const auto slots = static_cast<const Pick **>(block);
    const auto slot_traces = reinterpret_cast<int32_t *>(slots + count);
    return {slots, slot_traces, slot_traces + count};
}

} // namespace onset::picker

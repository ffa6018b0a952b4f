// Entry of the capture grouping: reserve the working storage, then group.
#include "onset.h"
#include "picker/capture_grouping.h"
#include "picker/capture_storage.h"

#include <alloca.h>

#include <cstdlib>

extern "C" ONSET_API int32_t captures(const CaptureSet *set, const Pick *const *picks,
                                      const int32_t *counts, const double *tolerances,
                                      uint8_t *const *taken)
{
    const CaptureSet fields = *set;
    if (fields.count <= 0)
        return 0;
    using namespace onset::picker;
    const std::size_t bytes = storage_bytes(fields.count);
    // The stack block, sized by the number of traces, lives until this
    // frame returns; the heap block is freed below.
    void *heap_block = nullptr;
    void *block = nullptr;
    if (fields.count <= stack_traces) {
        block = alloca(bytes);
    } else {
        heap_block = std::malloc(bytes);
        // Failing here, before anything is written, leaves the host's flags
        // as they were.
        if (heap_block == nullptr)
            return -1;
        block = heap_block;
    }
    const int32_t written = group_captures(fields, picks, counts, tolerances, taken,
                                           lay_out_storage(block, fields.count));
    std::free(heap_block);
    return written;
}

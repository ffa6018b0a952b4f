// Batch driver of the moving max-jump: the traces one after another on the
// calling thread; each trace parallelises its own interior.
#include "jumps/one_trace.h"
#include "onset.h"

extern "C" ONSET_API void movjumps(const TraceBatch *batch)
{
    const uint32_t count = batch->count;
    for (uint32_t i = 0; i < count; ++i)
        onset::jumps::one_trace(batch->outputs[i], batch->inputs[i], batch->lengths[i],
                                batch->windows[i]);
}

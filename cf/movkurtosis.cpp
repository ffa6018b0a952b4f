// Batch driver of the moving kurtosis: each trace is computed wholly by one
// thread, the traces split in contiguous blocks by a static schedule; within
// a block, several traces run at once in vector lanes where the CPU has them.
#include "kurtosis/lane_paths.h"
#include "onset.h"

#include <omp.h>

extern "C" ONSET_API void movkurtosis(const TraceBatch *batch)
{
    const uint32_t count = batch->count;
    const onset::simd::Isa path = onset::kurtosis::fastest_block_isa();
#pragma omp parallel
    {
        const auto threads = static_cast<uint32_t>(omp_get_num_threads());
        const auto thread = static_cast<uint32_t>(omp_get_thread_num());
        const uint32_t base_share = count / threads;
        const uint32_t remainder = count % threads;
        // The first `remainder` threads take one trace more.
        const uint32_t share = thread < remainder ? base_share + 1 : base_share;
        const uint32_t first = thread < remainder ? thread * (base_share + 1)
                                                  : thread * base_share + remainder;
        onset::kurtosis::movkurtosis_block(*batch, first, first + share, path);
    }
}

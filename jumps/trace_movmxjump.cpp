// Moving max-jump of one trace: the head on the calling thread, the full
// windows in one parallel region, the tail on the calling thread after it.
#include "jumps/extremes.h"
#include "jumps/one_trace.h"
#include "onset.h"

#include <omp.h>

using onset::jumps::Extremes;

void onset::jumps::one_trace(double *output, const double *input, uint32_t length,
                             uint32_t window)
{
    // Indices run in size_t: k + forward and similar sums pass 2^32 for long
    // traces.
    const std::size_t n = length;
    const std::size_t w = window;
    if (w == 0) {
        // An empty window has no extremes.
        for (std::size_t k = 0; k < n; ++k)
            output[k] = std::numeric_limits<double>::quiet_NaN();
        return;
    }
    if (n == 0)
        return;
    const std::size_t forward = (w + 1) / 2; // k itself and the samples after it
    const std::size_t back = w - forward;    // samples before k
    onset::jumps::write_head(output, input, n, forward, back < n ? back : n);
    if (w > n) {
        // No window fits: every output after the head is clipped at the end.
        onset::jumps::write_tail(output, input, n, back, back, nullptr);
        return;
    }

    const std::size_t full_windows = n - w + 1;
    Extremes handed_back{};
    const onset::jumps::InteriorPath path = onset::jumps::fastest_interior_path();
#pragma omp parallel default(none) shared(output, input, w, back, full_windows, handed_back, path)
    {
        const std::size_t threads = static_cast<std::size_t>(omp_get_num_threads());
        const std::size_t thread = static_cast<std::size_t>(omp_get_thread_num());
        const std::size_t block = (full_windows + threads - 1) / threads;
        const std::size_t first = thread * block;
        const std::size_t end = first + block < full_windows ? first + block : full_windows;
        if (first < end) {
            const Extremes last =
                onset::jumps::write_interior_block(output, input, w, back, first, end, path);
            // The last full window starts the tail's shrinking windows.
            if (end == full_windows)
                handed_back = last;
        }
    }
    onset::jumps::write_tail(output, input, n, back, n - forward + 1, &handed_back);
}

extern "C" ONSET_API void trace_movmxjump(double *output, const double *input, uint32_t length,
                                          uint32_t window)
{
    onset::jumps::one_trace(output, input, length, window);
}

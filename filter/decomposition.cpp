// Multi-scale decomposition: every scale of the family correlated with the
// trace, the scales shared out among the threads.
#include "filter/decomposition.h"

#include "filter/record_layout.h"

namespace onset::filter {

namespace {

bool has_zero_step(const WaveletFamily &family)
{
    for (std::uint32_t i = 0; i < family.count; ++i)
        if (family.steps[i] == 0)
            return true;
    return false;
}

} // namespace

std::int32_t decompose(WaveletDecomposition *decomposition, const double *signal,
                       std::uint32_t signal_length, const WaveletFamily *family,
                       CorrelationPath path)
{
    if (signal == nullptr)
        return ONSET_DEC_NO_SIGNAL;
    // Checked before anything is written: a step of 0 has no coefficient
    // count and no end.
    if (decomposition == nullptr || family == nullptr || has_zero_step(*family))
        return ONSET_DEC_BAD_ARGUMENT;

    const std::uint32_t count = family->count;
    const std::uint64_t n = signal_length;
    decomposition->count = count;
    std::int32_t result = ONSET_DEC_OK;

    // Scales differ widely in cost: hand them out one at a time. Each one's
    // coefficients come from one fixed-order correlation, so the bits do not
    // depend on the threads or on which scale a thread takes.
#pragma omp parallel
    {
#pragma omp for schedule(nonmonotonic : dynamic, 1) nowait
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint32_t length = family->lengths[i];
            if (n < length) {
                // Every thread that skips a scale stores the same value.
#pragma omp atomic write
                result = ONSET_DEC_WAVELET_TOO_LONG;
                continue;
            }
            const std::uint32_t step = family->steps[i];
            correlate(decomposition->coefficients[i], signal, signal_length,
                      family->wavelets[i], length, family->centers[i], step, path);
            // ceil(n / step) in 64 bits: n - 1 + step would wrap in 32.
            decomposition->lengths[i] =
                n == 0 ? 0u : static_cast<std::uint32_t>((n - 1) / step + 1);
        }
    }
    return result;
}

} // namespace onset::filter

extern "C" ONSET_API int32_t real_1D_wavelet_dec(WaveletDecomposition *decomposition,
                                                 const double *signal,
                                                 uint32_t signal_length,
                                                 const WaveletFamily *family)
{
    using namespace onset::filter;
    return decompose(decomposition, signal, signal_length, family, fastest_path());
}

// Filling a wavelet family: the wavelets chained into the host's buffer,
// each one sampled.
#include "filter/record_layout.h"
#include "filter/wavelets.h"

namespace onset::filter {

void fill_family(WaveletFamily &family)
{
    const std::uint32_t count = family.count;
    // The wavelets lie back to back, in scale order, in the host's buffer.
    for (std::uint32_t i = 0; i + 1 < count; ++i)
        family.wavelets[i + 1] = family.wavelets[i] + family.lengths[i];
    // The Mexican hat takes no parameter: wavelet_parameter is not read.
    for (std::uint32_t i = 0; i < count; ++i)
        family.centers[i] =
            sample_mexican_hat(family.wavelets[i], family.lengths[i], family.scales[i]);
    family.wavelet_constant = mexican_hat_constant;
}

} // namespace onset::filter

extern "C" ONSET_API void FillWaveletFamily(WaveletFamily *family)
{
    onset::filter::fill_family(*family);
}

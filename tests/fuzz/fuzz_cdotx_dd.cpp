// Fuzz target for cdotx_dd: every output must equal, bit for bit, the plain
// circular dot product summed in the fixed order (pairs within each of the
// two runs, the pairing restarting at the wrap), with the centre reduced
// modulo the longer length; exactly ceil(N / step) outputs are written, none
// for step 0 or N = 0.
#include "fuzz_support.h"
#include "plain_correlation.h"
#include "onset.h"

#include <algorithm>
#include <vector>

namespace {

using namespace onset_fuzz;

std::int32_t centre(FuzzedDataProvider &in, std::uint32_t n)
{
    switch (in.ConsumeIntegralInRange<int>(0, 5)) {
    case 0:
        return in.ConsumeIntegral<std::int32_t>();
    case 1:
        return in.PickValueInArray({std::numeric_limits<std::int32_t>::min(),
                                    std::numeric_limits<std::int32_t>::max(), -1,
                                    static_cast<std::int32_t>(n) + 1});
    case 2:
        return -in.ConsumeIntegralInRange<std::int32_t>(0, static_cast<std::int32_t>(3 * n + 3));
    default:
        return in.ConsumeIntegralInRange<std::int32_t>(0, static_cast<std::int32_t>(n));
    }
}

std::uint32_t output_step(FuzzedDataProvider &in, std::uint32_t n)
{
    switch (in.ConsumeIntegralInRange<int>(0, 7)) {
    case 0:
        return 0;
    case 1:
        return in.ConsumeIntegral<std::uint32_t>();
    case 2:
        return std::numeric_limits<std::uint32_t>::max();
    case 3:
        return n + in.ConsumeIntegralInRange<std::uint32_t>(0, 2);
    default:
        return in.ConsumeIntegralInRange<std::uint32_t>(1, std::max<std::uint32_t>(n, 1));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    const auto signal_length = in.ConsumeIntegralInRange<std::uint32_t>(0, 600);
    const auto filter_length = in.ConsumeIntegralInRange<std::uint32_t>(0, 300);
    const bool exchanged = signal_length < filter_length;
    const std::uint32_t big = exchanged ? filter_length : signal_length;
    const std::uint32_t small = exchanged ? signal_length : filter_length;
    const std::int32_t center = centre(in, big);
    const std::uint32_t step = output_step(in, big);
    const auto palette = static_cast<Palette>(in.ConsumeIntegralInRange<int>(0, 2));
    const int range = in.ConsumeIntegralInRange<int>(1, 1000);

    Exact<double> signal(signal_length), filter(filter_length);
    for (std::uint32_t i = 0; i < signal_length; ++i)
        signal[i] = sample(in, palette, range);
    for (std::uint32_t i = 0; i < filter_length; ++i)
        filter[i] = sample(in, palette, range);

    const std::uint64_t count =
        step == 0 || big == 0 ? 0 : (static_cast<std::uint64_t>(big) - 1) / step + 1;
    Exact<double> output(count, unwritten());
    cdotx_dd(output.get(), signal.get(), signal_length, filter.get(), filter_length, center,
             step);

    const double *a = exchanged ? filter.get() : signal.get();
    const double *b = exchanged ? signal.get() : filter.get();
    for (std::uint64_t j = 0; j < count; ++j) {
        const double want = plain_output(a, big, b, small, center, j * step);
        if (!same_sample(want, output[j]))
            fail("signal %u, filter %u, center %d, step %u: output %llu is %.17g (%016llx), "
                 "plain sum %.17g", signal_length, filter_length, center, step,
                 static_cast<unsigned long long>(j), output[j],
                 static_cast<unsigned long long>(bits_of(output[j])),
                 want);
    }
    return 0;
}

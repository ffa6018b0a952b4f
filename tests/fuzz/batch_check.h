// The batch drivers against per-trace calls, bit for bit, on pieces of a
// fuzzed trace: shared by the kurtosis and the max-jump targets.
#pragma once

#include "fuzz_support.h"
#include "onset.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace onset_fuzz {

struct BatchEntries {
    void (*trace)(double *output, const double *input, std::uint32_t length,
                  std::uint32_t window);
    void (*batch)(const TraceBatch *batch);
    const char *trace_name;
    const char *batch_name;
};

// Up to most_traces pieces of the trace, each with its own window, through
// the batch driver on 1 to 4 threads; every output must equal the per-trace
// entry's.
inline void check_batch(FuzzedDataProvider &in, const Exact<double> &trace,
                        std::uint32_t most_traces, const BatchEntries &entries)
{
    use_threads(in, 4);
    const std::uint32_t count = in.ConsumeIntegralInRange<std::uint32_t>(0, most_traces);
    std::vector<const double *> inputs(count);
    std::vector<double *> output_pointers(count);
    std::vector<std::uint32_t> lengths(count), windows(count);
    std::vector<std::unique_ptr<Exact<double>>> pieces, outputs, expected;
    for (std::uint32_t t = 0; t < count; ++t) {
        const std::size_t start = in.ConsumeIntegralInRange<std::size_t>(0, trace.size());
        const std::size_t length =
            in.ConsumeIntegralInRange<std::size_t>(0, trace.size() - start);
        pieces.push_back(std::make_unique<Exact<double>>(length));
        std::copy(trace.get() + start, trace.get() + start + length, pieces.back()->get());
        inputs[t] = pieces.back()->get();
        lengths[t] = static_cast<std::uint32_t>(length);
        windows[t] = window_width(in, lengths[t]);
        outputs.push_back(std::make_unique<Exact<double>>(length, unwritten()));
        output_pointers[t] = outputs.back()->get();
        expected.push_back(std::make_unique<Exact<double>>(length, unwritten()));
        entries.trace(expected.back()->get(), inputs[t], lengths[t], windows[t]);
    }
    const TraceBatch batch{inputs.data(), output_pointers.data(), lengths.data(),
                           windows.data(), count};
    entries.batch(&batch);
    for (std::uint32_t t = 0; t < count; ++t) {
        const std::size_t i =
            first_difference(expected[t]->get(), outputs[t]->get(), lengths[t]);
        if (i < lengths[t])
            fail("%s trace %u (n=%u w=%u) output %zu: %.17g, %s gives %.17g",
                 entries.batch_name, t, lengths[t], windows[t], i, (*outputs[t])[i],
                 entries.trace_name, (*expected[t])[i]);
    }
}

} // namespace onset_fuzz

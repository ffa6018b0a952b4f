// Traces with their outputs and windows, and the TraceBatch record over
// them, for the suites of the batch drivers; and the reference vectors of
// the characteristic functions run through both entries.
#pragma once

#include "onset.h"

#include <cstdint>
#include <string>
#include <vector>

namespace onset_test {

struct TraceSet {
    std::vector<std::vector<double>> inputs;
    std::vector<std::vector<double>> outputs;
    std::vector<std::uint32_t> lengths;
    std::vector<std::uint32_t> windows;

    // A trace and its window; its output starts filled with `unwritten`.
    void add(std::vector<double> input, std::uint32_t window, double unwritten = -1.0)
    {
        lengths.push_back(static_cast<std::uint32_t>(input.size()));
        windows.push_back(window);
        outputs.emplace_back(input.size(), unwritten);
        inputs.push_back(std::move(input));
    }

    // Calls the batch driver (movkurtosis, movjumps) on every trace at once.
    void run(void (*driver)(const TraceBatch *))
    {
        std::vector<const double *> in;
        std::vector<double *> out;
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            in.push_back(inputs[i].data());
            out.push_back(outputs[i].data());
        }
        const TraceBatch batch{in.data(), out.data(), lengths.data(), windows.data(),
                               static_cast<std::uint32_t>(inputs.size())};
        driver(&batch);
    }
};

using TraceFunction = void (*)(double *output, const double *input, std::uint32_t length,
                               std::uint32_t window);
using BatchDriver = void (*)(const TraceBatch *batch);

// Every case of `function` in characteristic.txt through `trace` on its
// own, then all of them as one batch through `driver`: each output must
// match the reference bit for bit. Call after ONSET_REQUIRE_GOLDEN().
void expect_reference_traces(const std::string &function, TraceFunction trace,
                             BatchDriver driver);

} // namespace onset_test

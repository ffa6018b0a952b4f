// The reference vectors of the characteristic functions, alone and batched.
#include "trace_batch.h"

#include "golden.h"

#include <gtest/gtest.h>

namespace onset_test {

void expect_reference_traces(const std::string &function, TraceFunction trace,
                             BatchDriver driver)
{
    TraceSet batch;
    std::vector<std::vector<double>> expected;
    std::vector<int> lines;
    for_each_golden_case("characteristic.txt", function, [&](const GoldenCase &c) {
        const auto n = static_cast<std::uint32_t>(std::stoul(c.head.at(1)));
        const auto w = static_cast<std::uint32_t>(std::stoul(c.head.at(2)));
        std::vector<double> in = samples_from_hex(c.row("in")->words);
        std::vector<double> out = samples_from_hex(c.row("out")->words);
        ASSERT_EQ(in.size(), n);
        ASSERT_EQ(out.size(), n);
        std::vector<double> alone(n);
        trace(alone.data(), in.data(), n, w);
        ASSERT_TRUE(same_samples(out, alone.data())) << c.head.at(3) << ", n=" << n << ", w=" << w;
        expected.push_back(std::move(out));
        lines.push_back(c.line);
        batch.add(std::move(in), w);
    });
    // The same cases as one batch, on however many threads the run has.
    batch.run(driver);
    for (std::size_t t = 0; t < expected.size(); ++t)
        ASSERT_TRUE(same_samples(expected[t], batch.outputs[t].data()))
            << function << " in a batch, case at line " << lines[t];
}

} // namespace onset_test

// The batch driver against one call per trace, and both entries against the
// reference vectors, bit for bit.
#include "golden.h"
#include "kurtosis_reference.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace {

using onset_test::same_sample;

struct Batch {
    std::vector<std::vector<double>> inputs;
    std::vector<std::vector<double>> outputs;
    std::vector<std::uint32_t> lengths;
    std::vector<std::uint32_t> windows;

    void add(std::vector<double> input, std::uint32_t window)
    {
        lengths.push_back(static_cast<std::uint32_t>(input.size()));
        windows.push_back(window);
        outputs.emplace_back(input.size(), -1.0);
        inputs.push_back(std::move(input));
    }

    void run()
    {
        std::vector<const double *> in;
        std::vector<double *> out;
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            in.push_back(inputs[i].data());
            out.push_back(outputs[i].data());
        }
        const TraceBatch batch{in.data(), out.data(), lengths.data(), windows.data(),
                               static_cast<std::uint32_t>(inputs.size())};
        movkurtosis(&batch);
    }
};

bool same_bits(const std::vector<double> &a, const std::vector<double> &b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

TEST(Movkurtosis, EachTraceAsIfCalledAlone)
{
    std::mt19937_64 rng(5);
    std::uniform_int_distribution<std::uint32_t> length(1, 600);
    const int saved = omp_get_max_threads();
    for (std::uint32_t count : {1u, 2u, 3u, 7u, 19u}) {
        for (int threads : {1, 2, 3, 8}) {
            omp_set_num_threads(threads);
            Batch batch;
            for (std::uint32_t t = 0; t < count; ++t) {
                const std::uint32_t n = length(rng);
                const std::uint32_t w = std::uniform_int_distribution<std::uint32_t>(0, n)(rng);
                batch.add(kurtosis_test::normal_trace(n, rng(), 0.0, 1.0), w);
            }
            batch.run();
            for (std::uint32_t t = 0; t < count; ++t)
                EXPECT_TRUE(same_bits(batch.outputs[t],
                                      kurtosis_test::movkurtosis_of(batch.inputs[t], batch.windows[t])))
                    << "count=" << count << " threads=" << threads << " trace " << t;
        }
    }
    omp_set_num_threads(saved);
}

TEST(Movkurtosis, EmptyBatchWritesNothing)
{
    Batch batch;
    batch.add({1.0, 2.0, 4.0}, 3);
    std::vector<double *> out{batch.outputs[0].data()};
    std::vector<const double *> in{batch.inputs[0].data()};
    const TraceBatch empty{in.data(), out.data(), batch.lengths.data(), batch.windows.data(), 0};
    movkurtosis(&empty);
    EXPECT_EQ(batch.outputs[0], std::vector<double>(3, -1.0));
}

TEST(MovkurtosisGolden, ReferenceVectorsBitForBit)
{
    ONSET_REQUIRE_GOLDEN();
    const auto cases = onset_test::load_golden("characteristic.txt", "trace_movkurtosis");
    ASSERT_FALSE(cases.empty());
    Batch batch;
    std::vector<std::vector<double>> expected;
    for (const auto &c : cases) {
        const auto n = static_cast<std::uint32_t>(std::stoul(c.head.at(1)));
        const auto w = static_cast<std::uint32_t>(std::stoul(c.head.at(2)));
        std::vector<double> in = onset_test::samples_from_hex(c.row("in")->words);
        expected.push_back(onset_test::samples_from_hex(c.row("out")->words));
        ASSERT_EQ(in.size(), n);
        ASSERT_EQ(expected.back().size(), n);
        const std::vector<double> out = kurtosis_test::movkurtosis_of(in, w);
        for (std::uint32_t i = 0; i < n; ++i)
            ASSERT_TRUE(same_sample(expected.back()[i], out[i]))
                << "case at line " << c.line << " (" << c.head.at(3) << ", n=" << n
                << ", w=" << w << "): out[" << i << "] = " << out[i] << ", want "
                << expected.back()[i];
        batch.add(std::move(in), w);
    }
    // The same cases as one batch, on however many threads the run has.
    batch.run();
    for (std::size_t t = 0; t < expected.size(); ++t)
        for (std::size_t i = 0; i < expected[t].size(); ++i)
            ASSERT_TRUE(same_sample(expected[t][i], batch.outputs[t][i]))
                << "batch, case at line " << cases[t].line << ": out[" << i << "]";
}

} // namespace

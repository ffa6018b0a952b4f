// The batch driver against one call per trace, and the reference vectors.
#include "golden.h"
#include "onset.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

TEST(Movjumps, EachTraceAsIfCalledAlone)
{
    std::mt19937_64 rng(21);
    std::normal_distribution<double> normal;
    const std::vector<uint32_t> lengths{1, 50, 17, 400, 9, 2};
    const std::vector<uint32_t> windows{1, 7, 17, 64, 2, 2};
    std::vector<std::vector<double>> inputs, outputs;
    for (uint32_t n : lengths) {
        inputs.emplace_back(n);
        for (double &v : inputs.back())
            v = normal(rng);
        outputs.emplace_back(n, -7.0);
    }
    std::vector<const double *> input_ptrs;
    std::vector<double *> output_ptrs;
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        input_ptrs.push_back(inputs[i].data());
        output_ptrs.push_back(outputs[i].data());
    }
    const TraceBatch batch{input_ptrs.data(), output_ptrs.data(), lengths.data(), windows.data(),
                           static_cast<uint32_t>(lengths.size())};
    movjumps(&batch);
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        std::vector<double> alone(lengths[i]);
        trace_movmxjump(alone.data(), inputs[i].data(), lengths[i], windows[i]);
        EXPECT_EQ(outputs[i], alone) << "trace " << i;
    }
}

TEST(Movjumps, EmptyBatchWritesNothing)
{
    const double input[3] = {1, 2, 3};
    double output[3] = {9, 9, 9};
    const double *inputs[1] = {input};
    double *outputs[1] = {output};
    const uint32_t length = 3, window = 2;
    const TraceBatch batch{inputs, outputs, &length, &window, 0};
    movjumps(&batch);
    EXPECT_EQ(output[0], 9);
    EXPECT_EQ(output[1], 9);
    EXPECT_EQ(output[2], 9);
}

// Every reference case once alone and once more as one trace of a single
// batch holding all of them.
TEST(MovmxjumpGolden, ReferenceVectorsBitForBit)
{
    ONSET_REQUIRE_GOLDEN();
    const auto cases = onset_test::load_golden("characteristic.txt", "trace_movmxjump");
    ASSERT_FALSE(cases.empty());
    std::vector<std::vector<double>> inputs, expected, alone, batched;
    std::vector<uint32_t> lengths, windows;
    for (const onset_test::GoldenCase &c : cases) {
        lengths.push_back(static_cast<uint32_t>(std::stoul(c.head.at(1))));
        windows.push_back(static_cast<uint32_t>(std::stoul(c.head.at(2))));
        inputs.push_back(onset_test::samples_from_hex(c.row("in")->words));
        expected.push_back(onset_test::samples_from_hex(c.row("out")->words));
        ASSERT_EQ(inputs.back().size(), lengths.back()) << "line " << c.line;
        ASSERT_EQ(expected.back().size(), lengths.back()) << "line " << c.line;
        alone.emplace_back(lengths.back());
        trace_movmxjump(alone.back().data(), inputs.back().data(), lengths.back(),
                        windows.back());
        batched.emplace_back(lengths.back());
    }
    std::vector<const double *> input_ptrs;
    std::vector<double *> output_ptrs;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        input_ptrs.push_back(inputs[i].data());
        output_ptrs.push_back(batched[i].data());
    }
    const TraceBatch batch{input_ptrs.data(), output_ptrs.data(), lengths.data(), windows.data(),
                           static_cast<uint32_t>(cases.size())};
    movjumps(&batch);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const onset_test::GoldenCase &c = cases[i];
        for (uint32_t k = 0; k < lengths[i]; ++k) {
            ASSERT_TRUE(onset_test::same_sample(expected[i][k], alone[i][k]))
                << "line " << c.line << " (" << c.head.at(3) << ", w " << windows[i]
                << ") output " << k;
            ASSERT_TRUE(onset_test::same_sample(expected[i][k], batched[i][k]))
                << "line " << c.line << " in a batch, output " << k;
        }
    }
}

} // namespace

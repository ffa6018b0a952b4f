// The batch driver against one call per trace, and the reference vectors.
#include "golden.h"
#include "noise.h"
#include "onset.h"
#include "trace_batch.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

using onset_test::TraceSet;

TEST(Movjumps, EachTraceAsIfCalledAlone)
{
    std::mt19937_64 rng(21);
    const std::vector<uint32_t> lengths{1, 50, 17, 400, 9, 2};
    const std::vector<uint32_t> windows{1, 7, 17, 64, 2, 2};
    TraceSet batch;
    for (std::size_t i = 0; i < lengths.size(); ++i)
        batch.add(onset_test::normal_noise(rng, lengths[i]), windows[i], -7.0);
    batch.run(movjumps);
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        std::vector<double> alone(lengths[i]);
        trace_movmxjump(alone.data(), batch.inputs[i].data(), lengths[i], windows[i]);
        EXPECT_TRUE(onset_test::same_bits(batch.outputs[i], alone)) << "trace " << i;
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
    onset_test::expect_reference_traces("trace_movmxjump", trace_movmxjump, movjumps);
}

} // namespace

// The batch driver against one call per trace, and both entries against the
// reference vectors, bit for bit.
#include "golden.h"
#include "kurtosis_reference.h"
#include "trace_batch.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

using onset_test::same_bits;
using onset_test::TraceSet;

TEST(Movkurtosis, EachTraceAsIfCalledAlone)
{
    std::mt19937_64 rng(5);
    std::uniform_int_distribution<std::uint32_t> length(1, 600);
    const int saved = omp_get_max_threads();
    for (std::uint32_t count : {1u, 2u, 3u, 7u, 19u}) {
        for (int threads : {1, 2, 3, 8}) {
            omp_set_num_threads(threads);
            TraceSet batch;
            for (std::uint32_t t = 0; t < count; ++t) {
                const std::uint32_t n = length(rng);
                const std::uint32_t w = std::uniform_int_distribution<std::uint32_t>(0, n)(rng);
                batch.add(onset_test::normal_noise(n, rng()), w);
            }
            batch.run(movkurtosis);
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
    TraceSet batch;
    batch.add({1.0, 2.0, 4.0}, 3);
    std::vector<double *> out{batch.outputs[0].data()};
    std::vector<const double *> in{batch.inputs[0].data()};
    const TraceBatch empty{in.data(), out.data(), batch.lengths.data(), batch.windows.data(), 0};
    movkurtosis(&empty);
    EXPECT_EQ(batch.outputs[0], std::vector<double>(3, -1.0));
}

// Every reference case once alone and once more as one trace of a single
// batch holding all of them.
TEST(MovkurtosisGolden, ReferenceVectorsBitForBit)
{
    ONSET_REQUIRE_GOLDEN();
    onset_test::expect_reference_traces("trace_movkurtosis", trace_movkurtosis, movkurtosis);
}

} // namespace

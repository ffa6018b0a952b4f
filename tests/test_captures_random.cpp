// Random event sets: the properties every result has, and block-for-block
// agreement with the plain reference.
#include "test_captures_harness.h"

#include <cmath>
#include <limits>
#include <random>

namespace {

using capture_test::CaptureInput;
using capture_test::CaptureRun;

struct Shape {
    bool sorted;       // each trace's times ascending, as hosts provide them
    bool with_nan;     // some NaN, infinite and negative-zero times, NaN tolerances
    int32_t max_traces;
    int32_t max_events;
    int32_t min_traces = 1;
    bool wide = false; // every tolerance spans the whole time range
};

// Times on a coarse grid, so that ties and events on the window's edges
// are common.
CaptureInput random_input(std::mt19937_64 &rng, const Shape &shape)
{
    std::uniform_int_distribution<int32_t> trace_count(shape.min_traces, shape.max_traces);
    std::uniform_int_distribution<int32_t> event_count(0, shape.max_events);
    std::uniform_int_distribution<int32_t> grid(0, 80);
    std::uniform_int_distribution<int32_t> percent(0, 99);
    const double tolerances[] = {-0.25, 0.0, 0.125, 0.25, 0.5, 1.0, 3.0};
    std::uniform_int_distribution<std::size_t> tolerance(0, std::size(tolerances) - 1);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double odd_times[] = {nan, nan, inf, -inf, -0.0};
    std::uniform_int_distribution<std::size_t> odd_time(0, std::size(odd_times) - 1);

    CaptureInput input;
    const int32_t n = trace_count(rng);
    for (int32_t i = 0; i < n; ++i) {
        std::vector<double> times(static_cast<std::size_t>(event_count(rng)));
        for (double &t : times)
            t = grid(rng) * 0.125;
        if (shape.sorted)
            std::sort(times.begin(), times.end());
        if (shape.with_nan)
            for (double &t : times)
                if (percent(rng) < 6)
                    t = odd_times[odd_time(rng)];
        std::vector<uint8_t> taken(times.size());
        for (uint8_t &flag : taken)
            flag = percent(rng) < 10 ? static_cast<uint8_t>(1 + percent(rng)) : 0;
        double tol = shape.wide ? 10.0 : tolerances[tolerance(rng)];
        if (shape.with_nan && percent(rng) < 10)
            tol = nan;
        // Now and then a trace declared empty although it has an array.
        const int32_t count = percent(rng) < 8 ? -static_cast<int32_t>(percent(rng) % 3)
                                               : static_cast<int32_t>(times.size());
        input.add_trace(times, tol, taken, count);
    }
    return input;
}

// Properties of every result; members lie within the seed trace's window
// only when no time or tolerance is NaN.
void expect_properties(const CaptureInput &before, const CaptureInput &after, const CaptureRun &run,
                       bool members_in_window)
{
    const int32_t n = before.traces();
    std::size_t placed = 0;
    std::vector<std::vector<int>> placements(n);
    for (int32_t i = 0; i < n; ++i)
        placements[i].assign(before.taken[i].size(), 0);
    for (std::size_t g = 0; g < run.captures.size(); ++g) {
        const capture_test::Capture &capture = run.captures[g];
        placed += capture.size();
        const auto [seed_trace, seed_event] = capture.front();
        if (g > 0) {
            EXPECT_LT(run.captures[g - 1].front(), capture.front()) << "captures ordered by seed";
        }
        const double seed_time = before.picks[seed_trace][seed_event].time;
        const double tolerance = before.tolerances[seed_trace];
        for (std::size_t s = 0; s < capture.size(); ++s) {
            const auto [trace, event] = capture[s];
            EXPECT_EQ(before.taken[trace][event], 0) << "event taken on entry was placed";
            ++placements[trace][event];
            if (s > 0 && members_in_window) {
                EXPECT_LE(std::fabs(seed_time - before.picks[trace][event].time), tolerance)
                    << "member outside the seed trace's window";
            }
        }
    }
    EXPECT_EQ(placed, before.free_events()) << "sizes add up to the free events";
    for (int32_t i = 0; i < n; ++i)
        for (std::size_t e = 0; e < before.taken[i].size(); ++e) {
            const bool counted = static_cast<int32_t>(e) < before.counts[i];
            const bool was_free = before.taken[i][e] == 0;
            EXPECT_EQ(placements[i][e], counted && was_free ? 1 : 0) << i << ":" << e;
            const uint8_t expected = counted && was_free ? 1 : before.taken[i][e];
            EXPECT_EQ(after.taken[i][e], expected) << "taken byte " << i << ":" << e;
        }
}

void compare_with_reference(const Shape &shape, uint64_t seed, int rounds)
{
    std::mt19937_64 rng(seed);
    for (int round = 0; round < rounds; ++round) {
        CaptureInput input = random_input(rng, shape);
        const CaptureInput before = input;
        const capture_test::ReferenceResult expected = capture_test::reference_captures(before);
        // Outputs for every free event would take n blocks each; a wide
        // margin over the reference's count is enough to catch a miscount.
        const std::size_t capacity = shape.wide ? 2 * expected.captures.size() : 0;
        const CaptureRun run = capture_test::run_checked(input, capacity);
        ASSERT_EQ(run.returned, static_cast<int32_t>(expected.captures.size())) << "round " << round;
        ASSERT_EQ(run.captures, expected.captures) << "round " << round;
        ASSERT_EQ(input.taken, expected.taken) << "round " << round;
        expect_properties(before, input, run, !shape.with_nan);
        if (testing::Test::HasFailure())
            return;
        EXPECT_EQ(capture_test::run_checked(input, 1).returned, 0) << "round " << round;
    }
}

TEST(CapturesRandom, SortedTracesMatchReference) { compare_with_reference({true, false, 8, 12}, 1, 1500); }

TEST(CapturesRandom, UnsortedTracesMatchReference) { compare_with_reference({false, false, 8, 12}, 2, 1500); }

TEST(CapturesRandom, NotANumberMatchesReference) { compare_with_reference({true, true, 8, 12}, 3, 1500); }

TEST(CapturesRandom, ManyTracesMatchReference) { compare_with_reference({true, false, 300, 6}, 4, 20); }

// Few traces with many events: long runs of seeds that rise and fall.
TEST(CapturesRandom, LongTracesMatchReference)
{
    compare_with_reference({true, false, 4, 60}, 6, 150);
    compare_with_reference({false, false, 4, 60}, 7, 150);
    compare_with_reference({false, true, 4, 60}, 8, 150);
}

// More traces than fit in the caller's frame: the working storage comes from
// the heap, with the same results. Wide windows keep the captures few.
TEST(CapturesRandom, HeapStorageMatchesReference)
{
    compare_with_reference({true, false, 4096, 4, 4096, true}, 5, 1);
    compare_with_reference({true, false, 6000, 4, 4097, true}, 5, 3);
}

} // namespace

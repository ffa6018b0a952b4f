// The grouping rules on small hand-made event sets, checked as exact block
// contents.
#include "test_captures_harness.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <limits>

namespace {

using capture_test::Capture;
using capture_test::CaptureInput;
using capture_test::CaptureRun;
using capture_test::run_checked;

const double nan = std::numeric_limits<double>::quiet_NaN();

// Events and flags placed flush against an inaccessible page, so that
// reading one entry past the end faults.
class GuardedTrace {
public:
    explicit GuardedTrace(const std::vector<double> &times)
    {
        page_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        map_ = static_cast<unsigned char *>(mmap(nullptr, 4 * page_, PROT_READ | PROT_WRITE,
                                                 MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        EXPECT_NE(map_, MAP_FAILED);
        mprotect(map_ + page_, page_, PROT_NONE);
        mprotect(map_ + 3 * page_, page_, PROT_NONE);
        picks_ = reinterpret_cast<Pick *>(map_ + page_) - times.size();
        taken_ = map_ + 3 * page_ - times.size();
        for (std::size_t e = 0; e < times.size(); ++e) {
            std::memset(&picks_[e], 0, sizeof(Pick));
            picks_[e].time = times[e];
            taken_[e] = 0;
        }
    }
    ~GuardedTrace() { munmap(map_, 4 * page_); }
    const Pick *picks() const { return picks_; }
    uint8_t *taken() { return taken_; }
    // A page nothing may touch.
    const void *fence() const { return map_ + page_; }

private:
    std::size_t page_ = 0;
    unsigned char *map_ = nullptr;
    Pick *picks_ = nullptr;
    uint8_t *taken_ = nullptr;
};

std::vector<Capture> captures_of(CaptureInput &input, int32_t expected_count)
{
    const CaptureRun run = run_checked(input);
    EXPECT_EQ(run.returned, expected_count);
    return run.captures;
}

void expect_all_taken(const CaptureInput &input)
{
    for (std::size_t i = 0; i < input.taken.size(); ++i)
        for (int32_t e = 0; e < input.counts[i]; ++e)
            EXPECT_NE(input.taken[i][e], 0) << "trace " << i << " event " << e;
}

TEST(Captures, NoTracesReadsAndWritesNothing)
{
    const Pick *members[2] = {capture_test::untouched_slot, capture_test::untouched_slot};
    int32_t traces[2] = {-77, -77};
    int32_t sizes[2] = {-77, -77};
    for (int32_t n : {0, -1, std::numeric_limits<int32_t>::min()}) {
        const CaptureSet set{members, traces, sizes, n};
        // Null inputs: any read would fault.
        EXPECT_EQ(captures(&set, nullptr, nullptr, nullptr, nullptr), 0);
    }
    EXPECT_EQ(members[0], capture_test::untouched_slot);
    EXPECT_EQ(members[1], capture_test::untouched_slot);
    EXPECT_EQ(traces[0], -77);
    EXPECT_EQ(sizes[0], -77);
}

TEST(Captures, SingleTraceGivesOneCapturePerEvent)
{
    CaptureInput input;
    input.add_trace({3.0, 1.0, 2.0}, 0.5);
    EXPECT_EQ(captures_of(input, 3), (std::vector<Capture>{{{0, 0}}, {{0, 1}}, {{0, 2}}}));
    EXPECT_EQ(input.taken[0], (std::vector<uint8_t>{1, 1, 1}));
}

TEST(Captures, WindowIsClosedAndBelongsToTheSeedTrace)
{
    CaptureInput both_ends;
    both_ends.add_trace({10.0}, 0.5);
    both_ends.add_trace({10.5}, 0.0);
    both_ends.add_trace({9.5}, 0.0);
    EXPECT_EQ(captures_of(both_ends, 1), (std::vector<Capture>{{{0, 0}, {1, 0}, {2, 0}}}));

    CaptureInput wide_seed;
    wide_seed.add_trace({10.0}, 0.5);
    wide_seed.add_trace({10.25}, 0.125);
    EXPECT_EQ(captures_of(wide_seed, 1), (std::vector<Capture>{{{0, 0}, {1, 0}}}));

    CaptureInput narrow_seed;
    narrow_seed.add_trace({10.25}, 0.125);
    narrow_seed.add_trace({10.0}, 0.5);
    EXPECT_EQ(captures_of(narrow_seed, 2), (std::vector<Capture>{{{0, 0}}, {{1, 0}}}));

    CaptureInput negative;
    negative.add_trace({10.0}, -1.0);
    negative.add_trace({10.0}, 0.5);
    EXPECT_EQ(captures_of(negative, 2), (std::vector<Capture>{{{0, 0}}, {{1, 0}}}));
    expect_all_taken(negative);
}

TEST(Captures, BlocksHoldSeedMembersThenNullSlots)
{
    CaptureInput input;
    input.add_trace({1.0}, 0.5);
    input.add_trace({5.0}, 0.5);
    input.add_trace({1.25}, 0.5);
    const CaptureRun run = run_checked(input);
    ASSERT_EQ(run.returned, 2);
    const Pick *first = &input.picks[0][0];
    const Pick *second = &input.picks[1][0];
    const Pick *third = &input.picks[2][0];
    EXPECT_EQ(std::vector<const Pick *>(run.members.begin(), run.members.begin() + 6),
              (std::vector<const Pick *>{first, third, nullptr, second, nullptr, nullptr}));
    EXPECT_EQ(std::vector<int32_t>(run.traces.begin(), run.traces.begin() + 6),
              (std::vector<int32_t>{0, 2, 0, 1, 0, 0}));
    EXPECT_EQ(run.sizes[0], 2);
    EXPECT_EQ(run.sizes[1], 1);
    expect_all_taken(input);
}

TEST(Captures, TraceWithoutEventsIsNeverRead)
{
    GuardedTrace fence({});
    for (int32_t empty_count : {0, -5}) {
        Pick events[2] = {};
        events[0].time = 1.0;
        events[1].time = 1.25;
        uint8_t flags[2] = {0, 0};
        const Pick *picks[3] = {&events[0], static_cast<const Pick *>(fence.fence()), &events[1]};
        uint8_t *taken[3] = {&flags[0], static_cast<uint8_t *>(const_cast<void *>(fence.fence())),
                             &flags[1]};
        const int32_t counts[3] = {1, empty_count, 1};
        const double tolerances[3] = {0.5, 0.5, 0.5};
        const Pick *members[6];
        int32_t traces[6];
        int32_t sizes[2] = {-77, -77};
        std::fill(std::begin(members), std::end(members), capture_test::untouched_slot);
        std::fill(std::begin(traces), std::end(traces), -77);
        const CaptureSet set{members, traces, sizes, 3};
        ASSERT_EQ(captures(&set, picks, counts, tolerances, taken), 1);
        EXPECT_EQ(members[0], &events[0]);
        EXPECT_EQ(members[1], &events[1]);
        EXPECT_EQ(members[2], nullptr);
        EXPECT_EQ(traces[0], 0);
        EXPECT_EQ(traces[1], 2);
        EXPECT_EQ(traces[2], 0);
        EXPECT_EQ(sizes[0], 2);
        EXPECT_EQ(sizes[1], -77);
        EXPECT_EQ(members[3], capture_test::untouched_slot);
        EXPECT_EQ(traces[3], -77);
        EXPECT_EQ(flags[0], 1);
        EXPECT_EQ(flags[1], 1);
    }
}

TEST(Captures, LookAheadKeepsTheFirstMatchDistance)
{
    CaptureInput tie;
    tie.add_trace({10.0}, 0.5);
    tie.add_trace({9.75, 10.25}, 0.5);
    EXPECT_EQ(captures_of(tie, 2), (std::vector<Capture>{{{0, 0}, {1, 1}}, {{1, 0}}}));

    // 9.5 opens the run at distance 0.5; 9.875 and 10.375 stay within it,
    // 10.625 does not: the member is 10.375, not the nearer 9.875.
    CaptureInput run_on;
    run_on.add_trace({10.0}, 0.75);
    run_on.add_trace({9.5, 9.875, 10.375, 10.625}, 0.5);
    EXPECT_EQ(captures_of(run_on, 4),
              (std::vector<Capture>{{{0, 0}, {1, 2}}, {{1, 0}}, {{1, 1}}, {{1, 3}}}));
}

TEST(Captures, CursorsCarryOverWithinOneSeedTrace)
{
    // 9.875 lies within reach of the second seed, but behind trace 1's cursor
    // after the first seed's search.
    CaptureInput passed_over;
    passed_over.add_trace({10.0, 10.25}, 0.375);
    passed_over.add_trace({9.75, 9.875, 10.125, 10.3125}, 0.5);
    EXPECT_EQ(captures_of(passed_over, 4),
              (std::vector<Capture>{{{0, 0}, {1, 2}}, {{0, 1}, {1, 3}}, {{1, 0}}, {{1, 1}}}));

    // The first seed stops at 11.0 and leaves the cursor there; the second
    // passes over it as lying before its window.
    CaptureInput stopped;
    stopped.add_trace({10.0, 12.0}, 0.5);
    stopped.add_trace({11.0, 12.0}, 0.5);
    EXPECT_EQ(captures_of(stopped, 3),
              (std::vector<Capture>{{{0, 0}}, {{0, 1}, {1, 1}}, {{1, 0}}}));

    // Cursors start afresh for every seed trace: trace 1's seed finds 1.0 of
    // trace 2 although trace 0's search moved past it.
    CaptureInput fresh;
    fresh.add_trace({5.0}, 0.5);
    fresh.add_trace({1.0}, 0.5);
    fresh.add_trace({1.0, 5.0}, 0.5);
    EXPECT_EQ(captures_of(fresh, 2), (std::vector<Capture>{{{0, 0}, {2, 1}}, {{1, 0}, {2, 0}}}));

    // A search that ends without a decision leaves the cursor where it was:
    // an earlier seed, or a NaN one, still reaches the event it passed over.
    for (double second_seed : {1.0, nan, 6.0}) {
        CaptureInput exhausted;
        exhausted.add_trace({5.0, second_seed}, 0.5);
        exhausted.add_trace({1.0}, 0.5);
        const std::vector<Capture> expected =
            second_seed == 6.0 ? std::vector<Capture>{{{0, 0}}, {{0, 1}}, {{1, 0}}}
                               : std::vector<Capture>{{{0, 0}}, {{0, 1}, {1, 0}}};
        EXPECT_EQ(captures_of(exhausted, static_cast<int32_t>(expected.size())), expected)
            << "second seed " << second_seed;
    }
}

TEST(Captures, EventsTakenOnEntryStayOutUnwritten)
{
    CaptureInput input;
    input.add_trace({10.0, 11.0}, 0.5, {7, 0});
    input.add_trace({10.0, 11.0}, 0.5);
    EXPECT_EQ(captures_of(input, 2), (std::vector<Capture>{{{0, 1}, {1, 1}}, {{1, 0}}}));
    EXPECT_EQ(input.taken[0], (std::vector<uint8_t>{7, 1}));
    EXPECT_EQ(input.taken[1], (std::vector<uint8_t>{1, 1}));

    // A taken event ends the look-ahead.
    CaptureInput blocked;
    blocked.add_trace({10.0}, 0.5);
    blocked.add_trace({9.75, 9.9, 10.0}, 0.5, {0, 3, 0});
    EXPECT_EQ(captures_of(blocked, 2), (std::vector<Capture>{{{0, 0}, {1, 0}}, {{1, 2}}}));
    EXPECT_EQ(blocked.taken[1], (std::vector<uint8_t>{1, 3, 1}));
}

TEST(Captures, LookAheadStopsAtTheLastEvent)
{
    GuardedTrace later({9.5, 9.75});
    Pick seed{};
    seed.time = 10.0;
    uint8_t seed_taken = 0;
    const Pick *picks[2] = {&seed, later.picks()};
    uint8_t *taken[2] = {&seed_taken, later.taken()};
    const int32_t counts[2] = {1, 2};
    const double tolerances[2] = {0.5, 0.5};
    const Pick *members[6];
    int32_t traces[6];
    int32_t sizes[3];
    const CaptureSet set{members, traces, sizes, 2};
    ASSERT_EQ(captures(&set, picks, counts, tolerances, taken), 2);
    EXPECT_EQ(members[0], &seed);
    EXPECT_EQ(members[1], later.picks() + 1);
    EXPECT_EQ(sizes[0], 2);
    EXPECT_EQ(members[2], later.picks());
    EXPECT_EQ(members[3], nullptr);
    EXPECT_EQ(traces[2], 1);
    EXPECT_EQ(sizes[1], 1);
}

TEST(Captures, NotANumberMakesTheFirstMatch)
{
    // A NaN distance never stops the look-ahead, so it runs to the end.
    CaptureInput nan_time;
    nan_time.add_trace({10.0}, 0.5);
    nan_time.add_trace({nan, 10.0, 10.375}, 0.5);
    EXPECT_EQ(captures_of(nan_time, 3), (std::vector<Capture>{{{0, 0}, {1, 2}}, {{1, 0}}, {{1, 1}}}));

    CaptureInput nan_seed;
    nan_seed.add_trace({nan}, 0.5);
    nan_seed.add_trace({1.0, 2.0}, 0.5);
    nan_seed.add_trace({1.0, 2.0}, 0.5, {0, 9});
    EXPECT_EQ(captures_of(nan_seed, 2),
              (std::vector<Capture>{{{0, 0}, {1, 1}, {2, 0}}, {{1, 0}}}));

    // A NaN tolerance fails both window tests: the first free candidate
    // matches, and the look-ahead runs while within its distance of 9.
    CaptureInput nan_tolerance;
    nan_tolerance.add_trace({10.0}, nan);
    nan_tolerance.add_trace({1.0, 12.0, 50.0}, 0.5);
    EXPECT_EQ(captures_of(nan_tolerance, 3),
              (std::vector<Capture>{{{0, 0}, {1, 1}}, {{1, 0}}, {{1, 2}}}));
}

TEST(Captures, SecondCallFindsNothingFree)
{
    CaptureInput input;
    input.add_trace({1.0, 2.0, 3.0}, 0.25);
    input.add_trace({1.125, 3.5}, 0.25);
    input.add_trace({2.0}, 0.25);
    EXPECT_EQ(run_checked(input).returned, 4);
    const auto taken_after_first = input.taken;
    const CaptureRun again = run_checked(input);
    EXPECT_EQ(again.returned, 0);
    EXPECT_EQ(again.members[0], capture_test::untouched_slot);
    EXPECT_EQ(input.taken, taken_after_first);
}

TEST(Captures, WipesZeroExactlyTheirCount)
{
    const Pick *slots[4];
    int32_t slot_traces[4];
    int32_t cursors[4];
    auto fill = [&] {
        std::fill(std::begin(slots), std::end(slots), capture_test::untouched_slot);
        std::fill(std::begin(slot_traces), std::end(slot_traces), -77);
        std::fill(std::begin(cursors), std::end(cursors), -77);
    };
    fill();
    wipe_auxiliaries(slots, slot_traces, 3);
    wipe_idx_buffers(cursors, 2);
    EXPECT_EQ(std::vector<const Pick *>(slots, slots + 4),
              (std::vector<const Pick *>{nullptr, nullptr, nullptr, capture_test::untouched_slot}));
    EXPECT_EQ(std::vector<int32_t>(slot_traces, slot_traces + 4),
              (std::vector<int32_t>{0, 0, 0, -77}));
    EXPECT_EQ(std::vector<int32_t>(cursors, cursors + 4), (std::vector<int32_t>{0, 0, -77, -77}));
    fill();
    for (int32_t count : {0, -1}) {
        wipe_auxiliaries(slots, slot_traces, count);
        wipe_idx_buffers(cursors, count);
    }
    EXPECT_EQ(slots[0], capture_test::untouched_slot);
    EXPECT_EQ(slot_traces[0], -77);
    EXPECT_EQ(cursors[0], -77);
}

} // namespace

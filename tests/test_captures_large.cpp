// Dense arrays of traces: working storage beyond the caller's frame, and the
// failure to obtain it.
#include "test_captures_harness.h"

#include <pthread.h>
#include <sys/resource.h>

#include <cstdlib>
#include <limits>
#include <random>

namespace {

using capture_test::CaptureInput;

// Runs call on a new thread whose stack holds stack_bytes: working storage
// that overflowed it would crash the suite.
template <typename Call> void on_thread_with_stack(std::size_t stack_bytes, Call &call)
{
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, stack_bytes), 0);
    pthread_t thread;
    auto body = [](void *argument) -> void * {
        (*static_cast<Call *>(argument))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, body, &call), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

// 200,000 traces with three events each near 10, 20 and 30, and every
// thousandth trace one more near 100: trace 0 seeds three captures that take
// an event from every trace, trace 999 one more. The call runs on a 1 MiB
// stack, less than the 3.2 MB of working storage.
TEST(CapturesLarge, DenseArrayRunsOnHeapStorage)
{
    constexpr int32_t n = 200000;
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> jitter(-0.25, 0.25);
    CaptureInput input;
    for (int32_t i = 0; i < n; ++i) {
        std::vector<double> times = {10.0 + jitter(rng), 20.0 + jitter(rng), 30.0 + jitter(rng)};
        if (i % 1000 == 999)
            times.push_back(100.0 + jitter(rng));
        input.add_trace(times, 0.5);
    }
    const CaptureInput before = input;
    capture_test::CaptureRun run;
    auto call = [&] { run = capture_test::run_checked(input, 4); };
    on_thread_with_stack(std::size_t{1} << 20, call);
    ASSERT_EQ(run.returned, 4);
    const capture_test::ReferenceResult expected = capture_test::reference_captures(before);
    EXPECT_EQ(run.captures, expected.captures);
    EXPECT_EQ(input.taken, expected.taken);
    for (int g = 0; g < 3; ++g)
        EXPECT_EQ(run.sizes[g], n);
    EXPECT_EQ(run.sizes[3], n / 1000);
}

// A few traces take only their own few hundred bytes of stack: the call
// runs on a 48 KiB stack.
TEST(CapturesLarge, SmallArrayFitsASmallStack)
{
    constexpr int32_t n = 16;
    std::vector<Pick> events(n);
    std::vector<uint8_t> flags(n, 0);
    std::vector<const Pick *> picks;
    std::vector<uint8_t *> taken;
    for (int32_t i = 0; i < n; ++i) {
        events[i].time = 1.0 + 0.01 * i;
        picks.push_back(&events[i]);
        taken.push_back(&flags[i]);
    }
    const std::vector<int32_t> counts(n, 1);
    const std::vector<double> tolerances(n, 0.5);
    std::vector<const Pick *> members(n);
    std::vector<int32_t> traces(n);
    int32_t size = 0;
    const CaptureSet set{members.data(), traces.data(), &size, n};
    int32_t written = 0;
    auto call = [&] {
        written = captures(&set, picks.data(), counts.data(), tolerances.data(), taken.data());
    };
    on_thread_with_stack(48 * 1024, call);
    EXPECT_EQ(written, 1);
    EXPECT_EQ(size, n);
    EXPECT_EQ(members[n - 1], &events[n - 1]);
}

// The working storage of INT32_MAX traces is 32 GiB. An address-space limit
// below that makes its allocation fail on any machine; the call must then
// report -1 before touching anything.
TEST(CapturesLarge, StorageThatCannotBeAllocatedIsReported)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "sanitizer allocators abort instead of failing";
#else
    constexpr int32_t n = std::numeric_limits<int32_t>::max();
    const std::size_t storage = static_cast<std::size_t>(n) * 16;
    rlimit original{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &original), 0);
    rlimit reduced = original;
    const rlim_t cap = rlim_t{16} << 30;
    if (reduced.rlim_cur == RLIM_INFINITY || reduced.rlim_cur > cap)
        reduced.rlim_cur = cap;
    ASSERT_EQ(setrlimit(RLIMIT_AS, &reduced), 0);
    void *probe = std::malloc(storage);
    if (probe != nullptr) {
        std::free(probe);
        setrlimit(RLIMIT_AS, &original);
        GTEST_SKIP() << "this system grants " << storage << " bytes";
    }

    Pick event{};
    const Pick *picks[1] = {&event};
    const int32_t counts[1] = {1};
    const double tolerances[1] = {0.5};
    uint8_t flag = 0;
    uint8_t *taken[1] = {&flag};
    const Pick *members[1] = {capture_test::untouched_slot};
    int32_t traces[1] = {capture_test::untouched_index};
    int32_t sizes[1] = {capture_test::untouched_index};
    const CaptureSet set{members, traces, sizes, n};
    const int32_t result = captures(&set, picks, counts, tolerances, taken);
    setrlimit(RLIMIT_AS, &original);

    EXPECT_EQ(result, -1);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(members[0], capture_test::untouched_slot);
    EXPECT_EQ(traces[0], capture_test::untouched_index);
    EXPECT_EQ(sizes[0], capture_test::untouched_index);
#endif
}

} // namespace

// Capture grouping of 1,000 traces with 2,000 events each: events that all
// traces share (jittered times), unrelated random times, and random times
// where every tenth trace has an outage over most of the record.
#include "onset.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <sys/mman.h>
#include <random>
#include <vector>

namespace {

constexpr int32_t trace_count = 1000;
constexpr int32_t events_per_trace = 2000;

// Output room by the capacity rule (a block of 1,000 slots for each of the
// 2,000,000 events, 24 GB) is reserved, not committed: only the pages that
// the captures are written to cost memory.
template <typename T> class Reserved {
public:
    explicit Reserved(std::size_t entries) : bytes_(entries * sizeof(T))
    {
        void *map = mmap(nullptr, bytes_, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        data_ = map == MAP_FAILED ? nullptr : static_cast<T *>(map);
    }
    ~Reserved()
    {
        if (data_ != nullptr)
            munmap(data_, bytes_);
    }
    Reserved(const Reserved &) = delete;
    Reserved &operator=(const Reserved &) = delete;
    T *data() const { return data_; }

private:
    std::size_t bytes_;
    T *data_;
};

constexpr std::size_t event_total = std::size_t{trace_count} * events_per_trace;

struct EventSet {
    std::vector<std::vector<Pick>> picks;
    std::vector<std::vector<uint8_t>> taken;
    std::vector<const Pick *> pick_pointers;
    std::vector<uint8_t *> taken_pointers;
    std::vector<int32_t> counts;
    std::vector<double> tolerances;
    Reserved<const Pick *> members{event_total * trace_count};
    Reserved<int32_t> traces{event_total * trace_count};
    Reserved<int32_t> sizes{event_total};
};

enum class Layout { shared, random, outage };

// Each trace's times, ascending, 10 apart on average; tolerance 0.5
// everywhere. An outage leaves only the first and last tenth of the record.
void fill_events(EventSet &set, Layout layout)
{
    constexpr double record = 10.0 * events_per_trace;
    std::mt19937_64 rng(2024);
    std::uniform_real_distribution<double> jitter(-0.2, 0.2);
    std::uniform_real_distribution<double> anywhere(0.0, record);
    std::uniform_real_distribution<double> around_outage(-0.1 * record, 0.1 * record);
    for (int32_t i = 0; i < trace_count; ++i) {
        const bool down = layout == Layout::outage && i % 10 == 0;
        std::vector<double> times(events_per_trace);
        for (int32_t e = 0; e < events_per_trace; ++e) {
            if (layout == Layout::shared) {
                times[e] = 10.0 * e + jitter(rng);
            } else if (down) {
                const double offset = around_outage(rng);
                times[e] = offset < 0.0 ? record + offset : offset;
            } else {
                times[e] = anywhere(rng);
            }
        }
        std::sort(times.begin(), times.end());
        std::vector<Pick> events(events_per_trace);
        for (int32_t e = 0; e < events_per_trace; ++e) {
            std::memset(&events[e], 0, sizeof(Pick));
            events[e].time = times[e];
        }
        set.picks.push_back(std::move(events));
        set.taken.emplace_back(events_per_trace, uint8_t{0});
        set.counts.push_back(events_per_trace);
        set.tolerances.push_back(0.5);
    }
    for (int32_t i = 0; i < trace_count; ++i) {
        set.pick_pointers.push_back(set.picks[i].data());
        set.taken_pointers.push_back(set.taken[i].data());
    }
}

void run(benchmark::State &state, Layout layout)
{
    EventSet set;
    fill_events(set, layout);
    if (set.members.data() == nullptr || set.traces.data() == nullptr || set.sizes.data() == nullptr) {
        state.SkipWithError("cannot reserve the output");
        return;
    }
    const CaptureSet out{set.members.data(), set.traces.data(), set.sizes.data(), trace_count};
    int32_t found = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (std::vector<uint8_t> &flags : set.taken)
            std::fill(flags.begin(), flags.end(), uint8_t{0});
        state.ResumeTiming();
        found = captures(&out, set.pick_pointers.data(), set.counts.data(), set.tolerances.data(),
                         set.taken_pointers.data());
        benchmark::ClobberMemory();
    }
    state.counters["events/s"] = benchmark::Counter(static_cast<double>(event_total),
                                                    benchmark::Counter::kIsIterationInvariantRate);
    state.counters["captures"] = found;
}

void BM_captures_shared_events(benchmark::State &state) { run(state, Layout::shared); }
void BM_captures_random_times(benchmark::State &state) { run(state, Layout::random); }
void BM_captures_outages(benchmark::State &state) { run(state, Layout::outage); }

BENCHMARK(BM_captures_shared_events)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_captures_random_times)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_captures_outages)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

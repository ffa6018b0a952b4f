// Inputs, a checked run and a plain reference for the capture grouping
// suites.
#pragma once

#include "onset.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

namespace capture_test {

// (trace, event index) of one used slot.
using Slot = std::pair<int32_t, int32_t>;
using Capture = std::vector<Slot>;

// The host bytes of a Pick: a pattern that tells the events apart, so that a
// write to them is caught.
inline unsigned char host_byte(std::size_t trace, std::size_t event, std::size_t byte)
{
    return static_cast<unsigned char>(0x5a ^ (trace * 31 + event * 7 + byte));
}

struct CaptureInput {
    std::vector<std::vector<Pick>> picks;
    std::vector<std::vector<uint8_t>> taken;
    std::vector<int32_t> counts;
    std::vector<double> tolerances;

    // A trace of the given times; taken bytes 0 unless given. `count` other
    // than the number of times (0 or negative) declares the trace empty.
    void add_trace(const std::vector<double> &times, double tolerance,
                   std::vector<uint8_t> taken_bytes = {}, int32_t count = -1000)
    {
        const std::size_t trace = picks.size();
        std::vector<Pick> events(times.size());
        for (std::size_t e = 0; e < times.size(); ++e) {
            for (std::size_t b = 0; b < sizeof events[e].host_head; ++b)
                events[e].host_head[b] = host_byte(trace, e, b);
            for (std::size_t b = 0; b < sizeof events[e].host_tail; ++b)
                events[e].host_tail[b] = host_byte(trace, e, b + 32);
            events[e].time = times[e];
        }
        picks.push_back(std::move(events));
        if (taken_bytes.empty())
            taken_bytes.assign(times.size(), 0);
        taken.push_back(std::move(taken_bytes));
        counts.push_back(count == -1000 ? static_cast<int32_t>(times.size()) : count);
        tolerances.push_back(tolerance);
    }

    int32_t traces() const { return static_cast<int32_t>(picks.size()); }

    std::size_t free_events() const
    {
        std::size_t free = 0;
        for (std::size_t i = 0; i < picks.size(); ++i)
            for (int32_t e = 0; e < counts[i]; ++e)
                free += taken[i][e] == 0;
        return free;
    }
};

// Fill values of the output arrays: whatever keeps them must not have been
// written.
inline const Pick *const untouched_slot = reinterpret_cast<const Pick *>(std::uintptr_t{0x10});
constexpr int32_t untouched_index = -77;

struct CaptureRun {
    int32_t returned = 0;
    std::vector<Capture> captures; // used slots of every capture returned
    std::vector<const Pick *> members;
    std::vector<int32_t> traces;
    std::vector<int32_t> sizes;
};

// Runs captures with outputs sized for every free event plus one spare
// block, and checks the form of every block: seed in slot 0, used slots
// pointing at events of their trace in ascending trace order, unused slots
// null and 0, and nothing written beyond the returned blocks nor to the
// host bytes of any Pick.
// capacity_blocks 0: room for every free event.
inline CaptureRun run_checked(CaptureInput &input, std::size_t capacity_blocks = 0)
{
    const int32_t n = input.traces();
    const std::size_t block = n > 0 ? static_cast<std::size_t>(n) : 0;
    const std::size_t capacity = (capacity_blocks != 0 ? capacity_blocks : input.free_events()) + 1;
    CaptureRun run;
    run.members.assign(capacity * block, untouched_slot);
    run.traces.assign(capacity * block, untouched_index);
    run.sizes.assign(capacity, untouched_index);
    const CaptureSet set{run.members.data(), run.traces.data(), run.sizes.data(), n};
    std::vector<const Pick *> picks;
    std::vector<uint8_t *> taken;
    for (int32_t i = 0; i < n; ++i) {
        picks.push_back(input.picks[i].data());
        taken.push_back(input.taken[i].data());
    }
    run.returned = captures(&set, picks.data(), input.counts.data(),
                            input.tolerances.data(), taken.data());
    EXPECT_GE(run.returned, 0);
    const std::size_t written = run.returned > 0 ? static_cast<std::size_t>(run.returned) : 0;
    EXPECT_LT(written, capacity) << "more captures than expected";
    if (written >= capacity)
        return run;

    for (std::size_t g = 0; g < written; ++g) {
        const int32_t size = run.sizes[g];
        EXPECT_TRUE(size >= 1 && size <= n) << "capture " << g << " size " << size;
        if (size < 1 || size > n)
            continue;
        Capture capture;
        for (int32_t s = 0; s < n; ++s) {
            const Pick *slot = run.members[g * block + s];
            const int32_t trace = run.traces[g * block + s];
            if (s >= size) {
                EXPECT_EQ(slot, nullptr) << "capture " << g << " slot " << s;
                EXPECT_EQ(trace, 0) << "capture " << g << " slot " << s;
                continue;
            }
            EXPECT_TRUE(trace >= 0 && trace < n) << "capture " << g << " slot " << s;
            if (trace < 0 || trace >= n)
                continue;
            if (s > 0) {
                EXPECT_GT(trace, capture.back().first) << "capture " << g << " slot " << s;
            }
            const Pick *first = input.picks[trace].data();
            const std::ptrdiff_t event = slot - first;
            EXPECT_TRUE(event >= 0 && event < input.counts[trace])
                << "capture " << g << " slot " << s << " points outside trace " << trace;
            capture.emplace_back(trace, static_cast<int32_t>(event));
        }
        run.captures.push_back(std::move(capture));
    }
    for (std::size_t e = written * block; e < run.members.size(); ++e) {
        EXPECT_EQ(run.members[e], untouched_slot) << "slot entry " << e << " beyond the captures";
        EXPECT_EQ(run.traces[e], untouched_index) << "trace entry " << e << " beyond the captures";
    }
    for (std::size_t g = written; g < capacity; ++g)
        EXPECT_EQ(run.sizes[g], untouched_index) << "size " << g << " beyond the captures";

    for (std::size_t i = 0; i < input.picks.size(); ++i)
        for (std::size_t e = 0; e < input.picks[i].size(); ++e) {
            const Pick &pick = input.picks[i][e];
            bool intact = true;
            for (std::size_t b = 0; b < sizeof pick.host_head; ++b)
                intact = intact && pick.host_head[b] == host_byte(i, e, b);
            for (std::size_t b = 0; b < sizeof pick.host_tail; ++b)
                intact = intact && pick.host_tail[b] == host_byte(i, e, b + 32);
            EXPECT_TRUE(intact) << "host bytes of trace " << i << " event " << e;
        }
    return run;
}

// The grouping rules written out plainly, on times alone: the reference the
// library is compared with. Cursors are reset for every seed trace.
struct ReferenceResult {
    std::vector<Capture> captures;
    std::vector<std::vector<uint8_t>> taken;
};

inline ReferenceResult reference_captures(const CaptureInput &input)
{
    ReferenceResult result;
    result.taken = input.taken;
    const int32_t n = input.traces();
    auto time = [&](int32_t trace, int32_t event) { return input.picks[trace][event].time; };
    for (int32_t t = 0; t < n; ++t) {
        std::map<int32_t, int32_t> cursor; // 0 until a search moves it
        for (int32_t k = 0; k < input.counts[t]; ++k) {
            if (result.taken[t][k] != 0)
                continue;
            result.taken[t][k] = 1;
            const double seed = time(t, k);
            const double tol = input.tolerances[t];
            Capture capture{{t, k}};
            for (int32_t i = t + 1; i < n; ++i) {
                std::vector<uint8_t> &flags = result.taken[i];
                int32_t member = -1;
                for (int32_t j = cursor[i]; j < input.counts[i]; ++j) {
                    if (flags[j] != 0)
                        continue;
                    const double d = seed - time(i, j);
                    if (d > tol)
                        continue;
                    if (d < -tol) {
                        cursor[i] = j;
                        break;
                    }
                    member = j;
                    for (int32_t next = j + 1; next < input.counts[i]; ++next) {
                        if (flags[next] != 0)
                            break;
                        const double distance = std::fabs(seed - time(i, next));
                        if (distance > std::fabs(d))
                            break;
                        member = next;
                    }
                    cursor[i] = member;
                    break;
                }
                if (member >= 0) {
                    flags[member] = 1;
                    capture.emplace_back(i, member);
                }
            }
            result.captures.push_back(std::move(capture));
        }
    }
    return result;
}

} // namespace capture_test

// Fuzz target for captures: the result, every block (slot pointers and trace
// indices), the sizes and the taken flags must equal a plain transcription
// of the grouping rules (seed order, member search with cursors and the
// look-ahead against the first match's distance), nothing may be written past
// the returned captures, and the results must have the properties every
// grouping has. Sets as large as dense nodal arrays take the heap path.
#include "fuzz_support.h"
#include "onset.h"
#include "picker/capture_storage.h"

#include <vector>

namespace {

using namespace onset_fuzz;

struct Trace {
    std::unique_ptr<Exact<Pick>> picks;    // null for a count of 0 or below
    std::unique_ptr<Exact<std::uint8_t>> taken;
};

struct Grouping {
    std::int32_t count = 0;
    std::vector<std::int32_t> sizes;
    std::vector<const Pick *> members;
    std::vector<std::int32_t> traces;
    std::vector<std::vector<std::uint8_t>> taken;
};

// The grouping rules, written out one step at a time.
ONSET_TEST_UNTRACED Grouping reference(std::int32_t n, const Pick *const *picks, const std::int32_t *counts,
                   const double *tolerances, const std::vector<Trace> &traces)
{
    Grouping out;
    if (n <= 0)
        return out;
    for (std::int32_t i = 0; i < n; ++i)
        out.taken.emplace_back(traces[i].taken ? traces[i].taken->get() : nullptr,
                               traces[i].taken ? traces[i].taken->get() + traces[i].taken->size()
                                               : nullptr);
    std::vector<const Pick *> slots(n, nullptr);
    std::vector<std::int32_t> slot_traces(n, 0), cursors(n, 0);
    for (std::int32_t t = 0; t < n; ++t) {
        const double tolerance = tolerances[t];
        for (std::int32_t k = 0; k < counts[t]; ++k) {
            if (out.taken[t][k] != 0)
                continue;
            slots[0] = &picks[t][k];
            slot_traces[0] = t;
            const double seed = picks[t][k].time;
            out.taken[t][k] = 1;
            std::int32_t used = 1;
            for (std::int32_t i = t + 1; i < n; ++i) {
                std::int32_t member = -1;
                for (std::int32_t j = cursors[i]; j < counts[i]; ++j) {
                    if (out.taken[i][j] != 0)
                        continue;
                    const double d = seed - picks[i][j].time;
                    if (d > tolerance)
                        continue;
                    if (d < -tolerance) {
                        cursors[i] = j;
                        break;
                    }
                    std::int32_t next = j + 1;
                    while (next < counts[i] && out.taken[i][next] == 0 &&
                           !(std::fabs(seed - picks[i][next].time) > std::fabs(d)))
                        ++next;
                    member = next - 1;
                    cursors[i] = member;
                    break;
                }
                if (member >= 0) {
                    slots[used] = &picks[i][member];
                    slot_traces[used] = i;
                    ++used;
                    out.taken[i][member] = 1;
                }
            }
            out.sizes.push_back(used);
            out.members.insert(out.members.end(), slots.begin(), slots.end());
            out.traces.insert(out.traces.end(), slot_traces.begin(), slot_traces.end());
            std::fill(slots.begin(), slots.end(), nullptr);
            std::fill(slot_traces.begin(), slot_traces.end(), 0);
            ++out.count;
        }
        std::fill(cursors.begin(), cursors.end(), 0);
    }
    return out;
}

ONSET_TEST_UNTRACED bool has_nan_time(const Trace &trace)
{
    for (std::size_t k = 0; trace.picks && k < trace.picks->size(); ++k)
        if (std::isnan((*trace.picks)[k].time))
            return true;
    return false;
}

double event_time(FuzzedDataProvider &in, double &clock, bool sorted)
{
    if (in.ConsumeIntegralInRange<int>(0, 31) == 0)
        return std::numeric_limits<double>::quiet_NaN();
    // Multiples of 1/8: equal distances on both sides of a seed happen.
    const double step = in.ConsumeIntegralInRange<int>(0, 16) / 8.0;
    if (sorted) {
        clock += step;
        return clock;
    }
    return in.ConsumeIntegralInRange<int>(0, 160) / 8.0;
}

double tolerance(FuzzedDataProvider &in)
{
    switch (in.ConsumeIntegralInRange<int>(0, 9)) {
    case 0:
        return -in.ConsumeIntegralInRange<int>(0, 8) / 8.0;
    case 1:
        return std::numeric_limits<double>::quiet_NaN();
    case 2:
        return std::numeric_limits<double>::infinity();
    default:
        return in.ConsumeIntegralInRange<int>(0, 16) / 8.0;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    std::int32_t n;
    switch (in.ConsumeIntegralInRange<int>(0, 15)) {
    case 0:
        n = -in.ConsumeIntegralInRange<std::int32_t>(0, 3);
        break;
    case 1: // either side of the most traces whose working storage the stack holds
        n = in.ConsumeIntegralInRange<std::int32_t>(onset::picker::stack_traces - 64,
                                                    onset::picker::stack_traces + 256);
        break;
    default:
        n = in.ConsumeIntegralInRange<std::int32_t>(0, 12);
    }
    const bool sparse = n > 64;
    const bool sorted = in.ConsumeIntegralInRange<int>(0, 7) != 0;
    const std::size_t traces_count = n > 0 ? static_cast<std::size_t>(n) : 0;

    std::vector<Trace> traces(traces_count);
    Exact<const Pick *> picks(traces_count);
    Exact<std::int32_t> counts(traces_count);
    Exact<double> tolerances(traces_count);
    Exact<std::uint8_t *> taken(traces_count);
    std::size_t free_on_entry = 0;
    for (std::size_t i = 0; i < traces_count; ++i) {
        std::int32_t events = 0;
        if (!sparse || in.ConsumeIntegralInRange<int>(0, 255) == 0)
            events = in.ConsumeIntegralInRange<std::int32_t>(-2, 8);
        counts[i] = events;
        tolerances[i] = tolerance(in);
        picks[i] = nullptr;
        taken[i] = nullptr;
        if (events <= 0)
            continue; // never read
        traces[i].picks = std::make_unique<Exact<Pick>>(events);
        traces[i].taken = std::make_unique<Exact<std::uint8_t>>(events);
        double clock = in.ConsumeIntegralInRange<int>(0, 40) / 8.0;
        for (std::int32_t k = 0; k < events; ++k) {
            Pick &pick = (*traces[i].picks)[k];
            std::memset(&pick, 0xa5, sizeof pick);
            pick.time = event_time(in, clock, sorted);
            std::uint8_t flag = 0;
            if (in.ConsumeIntegralInRange<int>(0, 7) == 0)
                flag = in.PickValueInArray<std::uint8_t>({1, 7, 255});
            (*traces[i].taken)[k] = flag;
            free_on_entry += flag == 0;
        }
        picks[i] = traces[i].picks->get();
        taken[i] = traces[i].taken->get();
    }

    const Grouping want = reference(n, picks.get(), counts.get(), tolerances.get(), traces);

    // Exactly the capacity the host must provide: one block per free event.
    const Pick *const mark = reinterpret_cast<const Pick *>(&picks);
    Exact<const Pick *> members(free_on_entry * traces_count, mark);
    Exact<std::int32_t> slot_traces(free_on_entry * traces_count, -7);
    Exact<std::int32_t> sizes(free_on_entry, -7);
    const CaptureSet set{members.get(), slot_traces.get(), sizes.get(), n};
    const std::int32_t got = n > 0 ? captures(&set, picks.get(), counts.get(), tolerances.get(),
                                              taken.get())
                                   : captures(&set, nullptr, nullptr, nullptr, nullptr);

    if (got != want.count)
        fail("n=%d: %d captures, expected %d", n, got, want.count);
    std::size_t placed = 0;
    for (std::size_t g = 0; g < free_on_entry; ++g) {
        const bool written = g < static_cast<std::size_t>(got);
        if (!written) {
            if (sizes[g] != -7)
                fail("n=%d: size %zu written past %d captures", n, g, got);
        } else if (sizes[g] != want.sizes[g]) {
            fail("n=%d: capture %zu has size %d, expected %d", n, g, sizes[g], want.sizes[g]);
        }
        for (std::size_t s = 0; s < traces_count; ++s) {
            const std::size_t e = g * traces_count + s;
            const Pick *want_member = written ? want.members[e] : mark;
            const std::int32_t want_trace = written ? want.traces[e] : -7;
            if (members[e] != want_member || slot_traces[e] != want_trace)
                fail("n=%d: capture %zu slot %zu holds (%p, %d), expected (%p, %d)", n, g, s,
                     static_cast<const void *>(members[e]), slot_traces[e],
                     static_cast<const void *>(want_member), want_trace);
        }
        if (!written)
            continue;
        // Properties of any grouping: a seed on the lowest trace, members on
        // ascending distinct traces within the seed trace's tolerance.
        const std::size_t block = g * traces_count;
        placed += static_cast<std::size_t>(sizes[g]);
        const double seed = members[block]->time;
        const double seed_tolerance = tolerances[static_cast<std::size_t>(slot_traces[block])];
        for (std::int32_t s = 1; s < sizes[g]; ++s) {
            if (slot_traces[block + s] <= slot_traces[block + s - 1])
                fail("n=%d: capture %zu slot %d: trace %d after trace %d", n, g, s,
                     slot_traces[block + s], slot_traces[block + s - 1]);
            // A first match at an unknown distance lets the look-ahead run
            // to the trace's end, so the window bound holds only on traces
            // whose times are all numbers.
            const double d = seed - members[block + s]->time;
            const bool bounded = !std::isnan(seed_tolerance) && !std::isnan(seed) &&
                                 !has_nan_time(traces[static_cast<std::size_t>(
                                     slot_traces[block + s])]);
            if (bounded && (d > seed_tolerance || d < -seed_tolerance))
                fail("n=%d: capture %zu slot %d lies %.17g from its seed, tolerance %.17g", n,
                     g, s, d, seed_tolerance);
        }
        if (g > 0 && slot_traces[block] < slot_traces[block - traces_count])
            fail("n=%d: capture %zu seeded on trace %d after one on trace %d", n, g,
                 slot_traces[block], slot_traces[block - traces_count]);
    }
    if (placed != free_on_entry)
        fail("n=%d: %zu events placed, %zu free on entry", n, placed, free_on_entry);
    for (std::size_t i = 0; i < traces_count; ++i)
        for (std::int32_t k = 0; k < counts[i]; ++k) {
            const std::uint8_t flag = (*traces[i].taken)[k];
            if (flag == 0 || flag != want.taken[i][k])
                fail("n=%d: trace %zu event %d has taken flag %u, expected %u", n, i, k, flag,
                     want.taken[i][k]);
        }
    return 0;
}

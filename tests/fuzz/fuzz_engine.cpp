// Fuzz target for the detection engine through its C interface: up to three
// channels' samples, fed in chunks the input chooses, with advance calls
// between them at times every channel has reached, must give the same
// events, bit for bit, as the same samples fed whole; calls out of place
// (unknown channels, NULL samples, after the flush) must be refused.
#include "fuzz_support.h"
#include "onset_detect.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

using namespace onset_fuzz;

constexpr std::int64_t t0 = 1700000000000000LL;
constexpr double rates[] = {50.0, 80.0, 100.0, 200.0};  // above twice the default fmax

struct Channel {
    double rate;
    std::int64_t start;  // microseconds
    std::vector<double> samples;
};

std::int64_t time_of(const Channel &c, std::size_t k)
{
    return c.start + static_cast<std::int64_t>(static_cast<double>(k) * 1e6 / c.rate + 0.5);
}

// The events as plain numbers, to compare runs.
void take(onset_detector *d, std::vector<double> &out)
{
    onset_event e;
    int status;
    while ((status = onset_detector_next_event(d, &e)) == 1) {
        out.push_back(static_cast<double>(e.earliest));
        out.push_back(e.stations);
        for (std::int32_t p = 0; p < e.pick_count; ++p) {
            const onset_pick &pick = e.picks[p];
            out.insert(out.end(), {static_cast<double>(pick.channel), static_cast<double>(pick.phase),
                                   static_cast<double>(pick.time), pick.strength, pick.uncertainty});
        }
    }
    if (status != 0)
        fail("next_event returned %d", status);
}

onset_detector *make(const onset_detect_options &options, const std::vector<Channel> &channels)
{
    onset_detector *d = onset_detector_create(&options, nullptr, 0);
    if (!d)
        fail("the default options were refused");
    for (std::size_t c = 0; c < channels.size(); ++c) {
        char id[32];
        std::snprintf(id, sizeof id, "XX.S%zu..HHZ", c);
        if (onset_detector_add_channel(d, id, channels[c].rate) != static_cast<int>(c))
            fail("channel %zu at %g Hz was refused", c, channels[c].rate);
    }
    return d;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    onset_detect_options options;
    onset_detect_defaults(&options);
    options.min_stations = in.ConsumeIntegralInRange<std::int32_t>(1, 3);
    options.kurtosis_window = in.ConsumeIntegralInRange<int>(1, 8) * 0.25;
    const Palette palette = in.PickValueInArray({Palette::small_integers, Palette::general, Palette::extreme});
    std::vector<Channel> channels(in.ConsumeIntegralInRange<std::size_t>(1, 3));
    for (Channel &c : channels) {
        c.rate = in.PickValueInArray(rates);
        c.start = t0 + in.ConsumeIntegralInRange<std::int64_t>(-2000000, 2000000);
        c.samples.resize(in.ConsumeIntegralInRange<std::size_t>(0, 3000));
        for (double &x : c.samples)
            x = in.remaining_bytes() > 0 ? sample(in, palette, 1000) : 0.0;
        // An arrival, so that there are events to compare.
        const std::size_t at = c.samples.size() / 2;
        for (std::size_t k = 0; k < 100 && at + k < c.samples.size(); ++k)
            c.samples[at + k] += 4e4 * std::sin(1.3 * static_cast<double>(k)) * std::exp(-static_cast<double>(k) / 30);
    }

    // Whole.
    std::vector<double> whole;
    onset_detector *d = make(options, channels);
    for (std::size_t c = 0; c < channels.size(); ++c)
        if (onset_detector_feed(d, static_cast<std::int32_t>(c), channels[c].start, channels[c].samples.data(),
                                channels[c].samples.size()) != 0)
            fail("a whole feed was refused: %s", onset_detector_message(d));
    if (onset_detector_flush(d) != 0)
        fail("flush failed");
    take(d, whole);
    onset_detector_destroy(d);

    // In chunks, with advances and calls that must be refused.
    std::vector<double> chunked;
    d = make(options, channels);
    std::vector<std::size_t> fed(channels.size(), 0);
    while (true) {
        std::vector<std::size_t> open;
        for (std::size_t c = 0; c < channels.size(); ++c)
            if (fed[c] < channels[c].samples.size())
                open.push_back(c);
        if (open.empty())
            break;
        const std::size_t c = open[in.ConsumeIntegralInRange<std::size_t>(0, open.size() - 1)];
        const std::size_t left = channels[c].samples.size() - fed[c];
        const std::size_t n = in.remaining_bytes() > 0 ? in.ConsumeIntegralInRange<std::size_t>(1, left) : left;
        if (onset_detector_feed(d, static_cast<std::int32_t>(c), time_of(channels[c], fed[c]),
                                channels[c].samples.data() + fed[c], n) != 0)
            fail("a chunk was refused: %s", onset_detector_message(d));
        fed[c] += n;
        switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: {
            // Up to the time every channel has reached.
            std::int64_t reached = INT64_MAX;
            for (std::size_t k = 0; k < channels.size(); ++k)
                reached = std::min(reached, fed[k] < channels[k].samples.size() ? time_of(channels[k], fed[k])
                                                                                  : INT64_MAX);
            if (reached != INT64_MAX && onset_detector_advance(d, reached) != 0)
                fail("advance failed: %s", onset_detector_message(d));
            take(d, chunked);
            break;
        }
        case 1:
            if (onset_detector_feed(d, static_cast<std::int32_t>(channels.size()), t0, channels[c].samples.data(), 1) ==
                    0 ||
                onset_detector_feed(d, static_cast<std::int32_t>(c), t0, nullptr, 5) == 0)
                fail("a feed of an unknown channel or of NULL samples was taken");
            break;
        default:
            break;
        }
    }
    if (onset_detector_flush(d) != 0)
        fail("flush failed");
    take(d, chunked);
    const double x = 1.0;
    if (onset_detector_feed(d, 0, INT64_MAX / 2, &x, 1) != ONSET_DETECT_FINISHED)
        fail("a feed after the flush was taken");
    onset_detector_destroy(d);

    if (whole.size() != chunked.size())
        fail("%zu event numbers whole, %zu in chunks", whole.size(), chunked.size());
    for (std::size_t k = 0; k < whole.size(); ++k)
        if (!same_sample(whole[k], chunked[k]))
            fail("event number %zu: %.17g whole, %.17g in chunks", k, whole[k], chunked[k]);
    return 0;
}

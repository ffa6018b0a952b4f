// A station's components merged into one P and one S per wave train, the
// same however its channels' onsets and horizons come.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

#include "station_picks.h"

namespace {

using detect::Component;
using detect::TimedOnset;

constexpr int64_t second = 1'000'000;

TimedOnset onset(int32_t channel, double seconds, char phase, bool searched = false, double train = 0.0)
{
    const auto time = static_cast<int64_t>(seconds * second);
    return {time, channel, 1.0, phase, 0.01, searched ? static_cast<int64_t>(train * second) : time, channel, true,
            searched};
}

std::vector<std::tuple<int32_t, char, int64_t, int64_t, int32_t>> summary(const std::vector<TimedOnset> &picks)
{
    std::vector<std::tuple<int32_t, char, int64_t, int64_t, int32_t>> out;
    for (const TimedOnset &p : picks)
        out.emplace_back(p.channel, static_cast<char>(p.phase), p.time, p.train, p.train_channel);
    return out;
}

// Picks of a station of `components` (channel c has components[c]) from
// the onsets given in one go.
std::vector<TimedOnset> picks_at_once(const std::vector<Component> &components, const std::vector<TimedOnset> &onsets)
{
    detect::StationPicks station(std::llround(0.3 * second), 15 * second);
    for (size_t c = 0; c < components.size(); ++c) station.add_channel(static_cast<int32_t>(c), components[c]);
    station.add(onsets);
    std::vector<TimedOnset> picks;
    station.release(std::numeric_limits<int64_t>::max(), picks);
    return picks;
}

TEST(DetectStations, ChannelCodesMakeStationsOfComponents)
{
    using Key = std::pair<std::string, Component>;
    EXPECT_EQ(detect::station_component("XX.S01..HHZ"), (Key{"XX.S01..HH", Component::vertical}));
    EXPECT_EQ(detect::station_component("XX.S01.00.BH1"), (Key{"XX.S01.00.BH", Component::horizontal}));
    EXPECT_EQ(detect::station_component("XX.S01.00.EHE"), (Key{"XX.S01.00.EH", Component::horizontal}));
    EXPECT_EQ(detect::station_component("XX.S01..LDI"), (Key{"XX.S01..LDI", Component::single}));
    EXPECT_EQ(detect::station_component("XX.S01..Z"), (Key{"XX.S01..Z", Component::single}));
}

TEST(DetectStations, OnePAndOneSPerTrain)
{
    const std::vector<Component> zne{Component::vertical, Component::horizontal, Component::horizontal};
    // The vertical's P at 10 s, seen on both horizontals within 0.3 s (one
    // of them before it); the S as the north's own onset at 12 s, searched
    // on the east at 12.1 s, and the vertical's own S label at 11.5 s. A
    // second train at 40 s whose S is only searched.
    const std::vector<TimedOnset> onsets{
        onset(0, 10.0, 'P'),        onset(1, 10.05, 'P'), onset(2, 9.95, 'P'),
        onset(1, 12.0, 'P'),        onset(2, 12.1, 'S', true, 9.95),
        onset(0, 11.5, 'S'),        onset(0, 40.0, 'P'),  onset(2, 43.0, 'S', true, 40.1),
        onset(1, 44.0, 'S', true, 20.0)};  // searched after another P: not this train's
    const auto expected = std::vector<std::tuple<int32_t, char, int64_t, int64_t, int32_t>>{
        {0, 'P', 10 * second, 10 * second, 0},
        {1, 'S', 12 * second, 10 * second, 0},
        {0, 'P', 40 * second, 40 * second, 0},
        {2, 'S', 43 * second, 40 * second, 0}};
    EXPECT_EQ(summary(picks_at_once(zne, onsets)), expected);

    // The same from onsets that come in pieces, in any order within a
    // piece, released at horizons that only grow; none lies before a
    // horizon an earlier release gave.
    std::mt19937_64 random(3);
    for (int trial = 0; trial < 200; ++trial) {
        std::vector<TimedOnset> sorted = onsets;
        std::sort(sorted.begin(), sorted.end(), [](const auto &a, const auto &b) { return a.time < b.time; });
        detect::StationPicks station(std::llround(0.3 * second), 15 * second);
        for (int32_t c = 0; c < 3; ++c) station.add_channel(c, zne[static_cast<size_t>(c)]);
        std::vector<TimedOnset> picks;
        int64_t promised = std::numeric_limits<int64_t>::min();
        for (size_t i = 0; i < sorted.size();) {
            const size_t n = std::min(sorted.size() - i, static_cast<size_t>(random() % 3 + 1));
            std::vector<TimedOnset> piece(sorted.begin() + static_cast<long>(i), sorted.begin() + static_cast<long>(i + n));
            std::shuffle(piece.begin(), piece.end(), random);
            station.add(piece);
            i += n;
            const int64_t horizon = i < sorted.size() ? sorted[i].time : std::numeric_limits<int64_t>::max();
            const size_t before = picks.size();
            const int64_t next = station.release(horizon, picks);
            for (size_t k = before; k < picks.size(); ++k) EXPECT_GE(picks[k].time, promised);
            promised = std::max(promised, next);
        }
        station.release(std::numeric_limits<int64_t>::max(), picks);
        ASSERT_EQ(summary(picks), expected) << "trial " << trial;
    }
}

TEST(DetectStations, StationsWithoutVerticalOrHorizontals)
{
    // Horizontals alone: their P, once; the S after it.
    const auto horizontal = picks_at_once({Component::horizontal, Component::horizontal},
                                          {onset(0, 5.0, 'P'), onset(1, 5.1, 'P'), onset(1, 7.0, 'S')});
    EXPECT_EQ(summary(horizontal), (std::vector<std::tuple<int32_t, char, int64_t, int64_t, int32_t>>{
                                       {0, 'P', 5 * second, 5 * second, 0}, {1, 'S', 7 * second, 5 * second, 0}}));
    // A vertical alone: the S searched after its P before its own S label;
    // an S with no P before it begins nothing.
    const auto vertical = picks_at_once({Component::vertical}, {onset(0, 1.0, 'S'), onset(0, 5.0, 'P'),
                                                               onset(0, 6.5, 'S'), onset(0, 7.0, 'S', true, 5.0)});
    EXPECT_EQ(summary(vertical), (std::vector<std::tuple<int32_t, char, int64_t, int64_t, int32_t>>{
                                     {0, 'P', 5 * second, 5 * second, 0}, {0, 'S', 7 * second, 5 * second, 0}}));
}

}  // namespace

// A station's components merged into one P and one S per wave train, the
// same however its channels' onsets and horizons come.
#include <gtest/gtest.h>

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "network_fixture.h"
#include "station_picks.h"

namespace {

using detect::Component;
using detect::TimedOnset;

constexpr int64_t second = 1'000'000;

TimedOnset onset(int32_t channel, double seconds, char phase, bool searched = false, double train = 0.0)
{
    const auto time = static_cast<int64_t>(seconds * second);
    return {time, channel, 1.0, phase, 0.01, searched ? static_cast<int64_t>(train * second) : time, channel, true,
            0, searched};
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

TEST(DetectStations, EachPIsAnnouncedOnceBeforeItsRelease)
{
    // Random onsets of a vertical and two horizontals, or of three channels
    // of a station without a vertical, coming as a clock passes their times;
    // an S searched after a P comes only once its search is over, 15 s
    // after the P, holding the channels' horizon until then.
    std::mt19937_64 random(5);
    for (int trial = 0; trial < 100; ++trial) {
        const bool vertical = trial % 2 == 0;
        detect::StationPicks station(std::llround(0.3 * second), 15 * second);
        for (int32_t c = 0; c < 3; ++c)
            station.add_channel(c, c == 0 && vertical ? Component::vertical : Component::horizontal);
        std::vector<std::pair<int64_t, TimedOnset>> coming;  // when each comes
        for (int k = 0; k < 60; ++k) {
            const double at = std::uniform_real_distribution<double>(0.0, 120.0)(random);
            const auto channel = static_cast<int32_t>(random() % 3);
            TimedOnset o = onset(channel, at, random() % 3 == 0 ? 'S' : 'P');
            coming.emplace_back(o.time, o);
            if (random() % 2 == 0) {
                const TimedOnset s = onset(channel, at + 0.5 + static_cast<double>(random() % 100) / 10.0, 'S', true, at);
                coming.emplace_back(s.train + 15 * second, s);
            }
        }
        std::vector<TimedOnset> picks, announced;
        int64_t from = std::numeric_limits<int64_t>::min();
        for (int64_t clock = 0; from < 140 * second; from = clock, clock += 1 + static_cast<int64_t>(random() % 4000000)) {
            std::vector<TimedOnset> now;
            int64_t horizon = clock;
            for (const auto &[when, o] : coming) {
                if (when >= from && when < clock) now.push_back(o);
                if (when >= clock) horizon = std::min(horizon, o.time);
            }
            station.add(now);
            station.announce_p(clock, announced);
            station.release(horizon, picks);
            // Both in one order (below): each P released was announced first.
            EXPECT_LE(std::count_if(picks.begin(), picks.end(), [](const TimedOnset &p) { return p.phase == 'P'; }),
                      static_cast<std::ptrdiff_t>(announced.size()));
        }
        station.release(std::numeric_limits<int64_t>::max(), picks);
        picks.erase(std::remove_if(picks.begin(), picks.end(), [](const TimedOnset &p) { return p.phase != 'P'; }),
                    picks.end());
        ASSERT_EQ(summary(announced), summary(picks)) << "trial " << trial;
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

namespace {

// Three stations of three components, 10 minutes at 100 Hz: an event every
// 50 s, its P strong on the verticals and its S, 1.5 to 3 s later, on the
// horizontals; the truth of each arrival. With a `precursor`, the first
// station's P comes 2.5 s after a burst of that amplitude, a weak onset as
// noise can make.
struct ThreeComponentNetwork {
    static constexpr size_t length = 60000;
    static constexpr int64_t precursor_lead = 250;
    std::vector<std::string> ids;
    std::vector<std::vector<double>> samples;
    std::vector<std::vector<int64_t>> p_index, s_index;  // per station

    // With `s_only`, a fourth station whose waves raise no onset: a weak P
    // on its vertical, where the origin time that the others' S - P give
    // and its S put it for a velocity ratio of 1.732, and an S on its
    // horizontals, at the mean of the others' S.
    // A `lasting` precursor keeps the vertical's own train going up to the
    // P, which the vertical then labels an S.
    explicit ThreeComponentNetwork(double precursor = 0.0, bool s_only = false, bool lasting = false)
    {
        std::mt19937_64 random(11);
        std::normal_distribution<double> normal;
        for (int s = 0; s < 3; ++s) {
            std::vector<int64_t> ps, ss;
            for (size_t event = 3000 + 40 * static_cast<size_t>(s); event + 4000 < length; event += 5000) {
                ps.push_back(static_cast<int64_t>(event));
                ss.push_back(static_cast<int64_t>(event) + 150 + static_cast<int64_t>(random() % 150));
            }
            for (const char component : {'Z', 'N', 'E'}) {
                ids.push_back("XX.T0" + std::to_string(s + 1) + "..HH" + component);
                std::vector<double> x(length);
                for (double &v : x) v = normal(random);
                const double p_amplitude = component == 'Z' ? 30.0 : 8.0, s_amplitude = component == 'Z' ? 10.0 : 40.0;
                for (size_t e = 0; e < ps.size(); ++e)
                    for (int64_t i = 0; i < 2500; ++i) {
                        const double t = static_cast<double>(i) / 100.0;
                        x[static_cast<size_t>(ps[e] + i)] += p_amplitude * std::sin(2 * M_PI * 7.0 * t) * std::exp(-2 * t);
                        if (s == 0 && i < (lasting ? precursor_lead : 30)) {
                            const double burst = component == 'Z' ? precursor : 0.4 * precursor;
                            x[static_cast<size_t>(ps[e] - precursor_lead + i)] +=
                                burst * std::sin(2 * M_PI * 9.0 * t) * std::exp((lasting ? -0.5 : -10) * t);
                        }
                        if (ps[e] + i >= ss[e]) {
                            const double u = static_cast<double>(ps[e] + i - ss[e]) / 100.0;
                            x[static_cast<size_t>(ps[e] + i)] += s_amplitude * std::sin(2 * M_PI * 5.0 * u) * std::exp(-u);
                        }
                    }
                samples.push_back(std::move(x));
            }
            p_index.push_back(ps);
            s_index.push_back(ss);
        }
        if (!s_only) return;
        std::vector<int64_t> ps, ss;
        for (size_t e = 0; e < p_index[0].size(); ++e) {
            ss.push_back((s_index[0][e] + s_index[1][e] + s_index[2][e]) / 3);
            std::vector<double> origins;
            for (size_t s = 0; s < 3; ++s)
                origins.push_back(static_cast<double>(p_index[s][e]) -
                                  static_cast<double>(s_index[s][e] - p_index[s][e]) / 0.732);
            std::sort(origins.begin(), origins.end());
            ps.push_back(std::llround(origins[1] + (static_cast<double>(ss.back()) - origins[1]) / 1.732));
        }
        for (const char component : {'Z', 'N', 'E'}) {
            ids.push_back(std::string("XX.T04..HH") + component);
            std::vector<double> x(length);
            for (double &v : x) v = normal(random);
            for (size_t e = 0; e < ss.size(); ++e)
                for (int64_t i = 0; i < 2500; ++i) {
                    const double u = static_cast<double>(i) / 100.0;
                    if (component != 'Z')
                        x[static_cast<size_t>(ss[e] + i)] += 40.0 * std::sin(2 * M_PI * 5.0 * u) * std::exp(-u);
                    else if (i < 100)
                        x[static_cast<size_t>(ps[e] + i)] += 2.0 * std::sin(2 * M_PI * 7.0 * u) * std::exp(-u);
                }
            samples.push_back(std::move(x));
        }
        p_index.push_back(ps);
        s_index.push_back(ss);
    }
};

constexpr int64_t network_start = 1704067200LL * 1000000;

onset_detector *station_detector(const ThreeComponentNetwork &network)
{
    onset_detect_options options;
    onset_detect_defaults(&options);
    options.min_stations = 2;
    onset_detector *detector = onset_detector_create(&options, nullptr, 0);
    for (const std::string &id : network.ids) EXPECT_GE(onset_detector_add_channel(detector, id.c_str(), 100.0), 0);
    EXPECT_EQ(onset_detector_keep_picks(detector), 0);
    return detector;
}

// Samples [at, at + n) of every channel, then an advance to their end.
void feed_round(onset_detector *detector, const ThreeComponentNetwork &network, size_t at, size_t n)
{
    for (size_t c = 0; c < network.ids.size(); ++c)
        EXPECT_EQ(onset_detector_feed(detector, static_cast<int32_t>(c), network_start + static_cast<int64_t>(at) * 10000,
                                      network.samples[c].data() + at, n), 0);
    EXPECT_EQ(onset_detector_advance(detector, network_start + static_cast<int64_t>(at + n) * 10000), 0);
}

void take_picks(onset_detector *detector, std::vector<onset_pick> &picks)
{
    onset_pick pick;
    while (onset_detector_next_pick(detector, &pick) == 1) picks.push_back(pick);
}

// The events of the network fed in pieces of `piece` samples, channel by
// channel within each round, on `threads` threads; the picks handed out on
// the way into `picks`.
std::vector<detect_test::FoundEvent> station_events(const ThreeComponentNetwork &network, size_t piece, int threads,
                                                    std::vector<onset_pick> &picks)
{
    omp_set_num_threads(threads);
    onset_detector *detector = station_detector(network);
    std::vector<detect_test::FoundEvent> events;
    for (size_t at = 0; at < ThreeComponentNetwork::length; at += piece) {
        feed_round(detector, network, at, std::min(piece, ThreeComponentNetwork::length - at));
        detect_test::take_events(detector, events);
        take_picks(detector, picks);
    }
    EXPECT_EQ(onset_detector_flush(detector), 0);
    detect_test::take_events(detector, events);
    take_picks(detector, picks);
    onset_detector_destroy(detector);
    return events;
}

// Picks in one order, to compare them as multisets.
std::vector<onset_pick> sorted(std::vector<onset_pick> picks)
{
    std::sort(picks.begin(), picks.end(), [](const onset_pick &a, const onset_pick &b) {
        return std::tie(a.time, a.channel, a.phase) < std::tie(b.time, b.channel, b.phase);
    });
    return picks;
}

TEST(DetectStations, ThreeComponentStationsPickPOnTheVerticalAndSOnAHorizontal)
{
    const ThreeComponentNetwork network;
    std::vector<onset_pick> picks;
    const auto events = station_events(network, ThreeComponentNetwork::length, 1, picks);
    ASSERT_EQ(events.size(), network.p_index[0].size());
    size_t close_s = 0, s_picks = 0;
    for (size_t e = 0; e < events.size(); ++e) {
        std::map<std::pair<int32_t, int32_t>, int> per_station_phase;
        for (const onset_pick &pick : events[e].picks) {
            const size_t station = static_cast<size_t>(pick.channel) / 3;
            ++per_station_phase[{static_cast<int32_t>(station), pick.phase}];
            const int64_t index = (pick.time - network_start) / 10000;
            if (pick.phase == 'P') {
                EXPECT_EQ(pick.channel % 3, 0);  // the vertical
                EXPECT_LE(std::llabs(index - network.p_index[station][e]), 10);
            } else {
                EXPECT_NE(pick.channel % 3, 0);  // a horizontal
                ++s_picks;
                close_s += std::llabs(index - network.s_index[station][e]) <= 10;
            }
        }
        for (const auto &[key, count] : per_station_phase) EXPECT_EQ(count, 1);
    }
    EXPECT_GE(close_s, s_picks * 9 / 10);
    EXPECT_GE(s_picks, events.size() * 3 * 9 / 10);
    // The same bits however the samples come and whatever the threads, and
    // the picks handed out are those of the events.
    std::vector<onset_pick> event_picks;
    for (const auto &event : events) event_picks.insert(event_picks.end(), event.picks.begin(), event.picks.end());
    EXPECT_EQ(sorted(picks), sorted(event_picks));
    for (const auto &[piece, threads] : {std::pair<size_t, int>{700, 1}, {4999, 2}, {123, 2}}) {
        std::vector<onset_pick> handed_out;
        EXPECT_EQ(station_events(network, piece, threads, handed_out), events) << piece << " " << threads;
        EXPECT_EQ(sorted(handed_out), sorted(event_picks)) << piece << " " << threads;
    }
}

class StationPrecursors : public ::testing::TestWithParam<bool> {};

TEST_P(StationPrecursors, AWeakOnsetJustBeforeAFarStrongerPGoes)
{
    // The burst is picked and handed out as a P, but the station's P in its
    // event is the arrival (which the vertical labels an S where the burst
    // lasts up to it), the same for any pieces and threads.
    const ThreeComponentNetwork network(GetParam() ? 6.0 : 8.0, false, GetParam());
    std::vector<onset_pick> picks;
    const auto events = station_events(network, ThreeComponentNetwork::length, 1, picks);
    ASSERT_EQ(events.size(), network.p_index[0].size());
    size_t bursts_picked = 0;
    for (const onset_pick &pick : picks)
        for (const int64_t p : network.p_index[0])
            bursts_picked += pick.channel == 0 && pick.phase == 'P' &&
                             std::llabs((pick.time - network_start) / 10000 - (p - network.precursor_lead)) <= 10;
    EXPECT_GE(bursts_picked, events.size() / 2);
    for (size_t e = 0; e < events.size(); ++e) {
        int station_p = 0;
        for (const onset_pick &pick : events[e].picks)
            if (pick.channel == 0 && pick.phase == 'P') {
                ++station_p;
                EXPECT_LE(std::llabs((pick.time - network_start) / 10000 - network.p_index[0][e]), 10) << e;
            }
        EXPECT_EQ(station_p, 1) << e;
    }
    for (const auto &[piece, threads] : {std::pair<size_t, int>{700, 1}, {123, 2}}) {
        std::vector<onset_pick> handed_out;
        EXPECT_EQ(station_events(network, piece, threads, handed_out), events) << piece << " " << threads;
    }
}

INSTANTIATE_TEST_SUITE_P(DetectStations, StationPrecursors, ::testing::Bool());

TEST(DetectStations, AStationWithoutOnsetsFindsItsSWhereTheOthersSAre)
{
    // The fourth station's S, in the span of the other stations' S picks,
    // is picked there (strength 0, on a horizontal), and then its P where
    // the origin and that S put it (on the vertical), for any pieces and
    // threads.
    const ThreeComponentNetwork network(0.0, true);
    std::vector<onset_pick> picks;
    const auto events = station_events(network, ThreeComponentNetwork::length, 1, picks);
    ASSERT_EQ(events.size(), network.p_index[0].size());
    for (size_t e = 0; e < events.size(); ++e) {
        std::map<int32_t, int> found;
        for (const onset_pick &pick : events[e].picks) {
            if (pick.channel / 3 != 3) continue;
            ++found[pick.phase];
            EXPECT_EQ(pick.channel % 3 == 0, pick.phase == 'P');
            EXPECT_EQ(pick.strength, 0.0);
            // The S within 0.2 s (out of pure noise, the band-pass rings
            // ahead of so sudden a synthetic onset), the P, as weak as the
            // noise, within 0.3 s.
            const bool p = pick.phase == 'P';
            EXPECT_LE(std::llabs((pick.time - network_start) / 10000 - (p ? network.p_index : network.s_index)[3][e]),
                      p ? 30 : 20)
                << e;
        }
        EXPECT_EQ(found, (std::map<int32_t, int>{{'P', 1}, {'S', 1}})) << e;
    }
    for (const auto &[piece, threads] : {std::pair<size_t, int>{700, 1}, {123, 2}}) {
        std::vector<onset_pick> handed_out;
        EXPECT_EQ(station_events(network, piece, threads, handed_out), events) << piece << " " << threads;
    }
}

TEST(DetectStations, APGoesOutBeforeTheSearchForItsSIsOver)
{
    // Samples up to 3 s after the last station's first P: each station's P
    // is out, though its S is searched up to 15 s after it.
    const ThreeComponentNetwork network;
    onset_detector *detector = station_detector(network);
    const auto end = static_cast<size_t>(network.p_index[2][0]) + 300;
    for (size_t at = 0; at < end; at += 250) feed_round(detector, network, at, std::min<size_t>(250, end - at));
    std::vector<onset_pick> picks;
    take_picks(detector, picks);
    picks = sorted(picks);
    ASSERT_EQ(picks.size(), 3u);
    for (size_t s = 0; s < 3; ++s) {
        EXPECT_EQ(picks[s].channel, static_cast<int32_t>(3 * s));
        EXPECT_EQ(picks[s].phase, 'P');
        EXPECT_LE(std::llabs((picks[s].time - network_start) / 10000 - network.p_index[s][0]), 10);
    }
    onset_detector_destroy(detector);
}

}  // namespace

// One station whose vertical is four times as noisy as its horizontals, 10
// minutes at 100 Hz, alone making events: an arrival every 50 s, weak on
// the vertical for its noise and clear on the horizontals, followed there,
// `with_s`, by an S 2 s later. Returns the events, optionally of the
// vertical alone.
std::vector<detect_test::FoundEvent> noisy_vertical_events(bool with_s, bool vertical_only)
{
    std::mt19937_64 random(5);
    std::normal_distribution<double> normal;
    onset_detect_options options;
    onset_detect_defaults(&options);
    options.min_stations = 1;
    onset_detector *detector = onset_detector_create(&options, nullptr, 0);
    const size_t length = ThreeComponentNetwork::length;
    for (const char component : {'Z', 'N', 'E'}) {
        if (vertical_only && component != 'Z') break;
        const std::string id = std::string("XX.NV1..HH") + component;
        const int32_t channel = onset_detector_add_channel(detector, id.c_str(), 100.0);
        std::vector<double> x(length);
        for (double &v : x) v = (component == 'Z' ? 4.0 : 1.0) * normal(random);
        for (size_t event = 3000; event + 4000 < length; event += 5000)
            for (size_t i = 0; i < 2500; ++i) {
                const double t = static_cast<double>(i) / 100.0;
                x[event + i] += (component == 'Z' ? 20.0 * std::exp(-6 * t) : 8.0 * std::exp(-2 * t)) * std::sin(2 * M_PI * 7.0 * t);
                if (with_s && component != 'Z' && i >= 200)
                    x[event + i] += 40.0 * std::sin(2 * M_PI * 5.0 * (t - 2.0)) * std::exp(2.0 - t);
            }
        EXPECT_EQ(onset_detector_feed(detector, channel, network_start, x.data(), x.size()), 0);
    }
    EXPECT_EQ(onset_detector_flush(detector), 0);
    std::vector<detect_test::FoundEvent> events;
    detect_test::take_events(detector, events);
    onset_detector_destroy(detector);
    return events;
}

TEST(DetectStations, AWeakVerticalPMakesAnEventWhereTheHorizontalsSeeItAndItsS)
{
    // Neither the vertical alone nor an arrival without an S after it make
    // an event: noise that stands out on every component is not an arrival
    // with its S.
    EXPECT_TRUE(noisy_vertical_events(true, true).empty());
    EXPECT_TRUE(noisy_vertical_events(false, false).empty());
    const auto events = noisy_vertical_events(true, false);
    ASSERT_EQ(events.size(), 11u);
    for (size_t e = 0; e < events.size(); ++e) {
        ASSERT_EQ(events[e].picks.size(), 2u) << e;
        const bool p_first = events[e].picks[0].phase == 'P';
        const onset_pick &p = events[e].picks[p_first ? 0 : 1], &s = events[e].picks[p_first ? 1 : 0];
        EXPECT_EQ(p.channel, 0);
        EXPECT_EQ(p.phase, 'P');
        // Within 0.3 s: weak in the vertical's noise.
        EXPECT_LE(std::llabs((p.time - network_start) / 10000 - static_cast<int64_t>(3000 + 5000 * e)), 30) << e;
        EXPECT_EQ(s.phase, 'S');
        EXPECT_LE(std::llabs((s.time - network_start) / 10000 - static_cast<int64_t>(3200 + 5000 * e)), 10) << e;
    }
}

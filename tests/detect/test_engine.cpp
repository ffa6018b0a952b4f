// The engine through its C interface on the built-in network: the events,
// their independence from how the samples are cut, gaps and overlaps, and
// the calls it refuses.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <random>
#include <set>

#include "network_fixture.h"

namespace {

using detect_test::default_network;
using detect_test::default_options;
using detect_test::FoundEvent;
using detect_test::time_of;

TEST(DetectEngine, FindsEveryEventAtItsArrivalsAndNoGlitch)
{
    const auto &network = default_network();
    ASSERT_GE(network.events().size(), 3u);
    ASSERT_GE(network.glitches().size(), 2u);
    const auto events = detect_test::detect_whole(network, default_options());
    // Every station picks every event: 8 picks, each within 8 samples.
    detect_test::expect_truth(events, network, 8);
    for (const FoundEvent &event : events) EXPECT_EQ(event.stations, 8);
    for (const auto &glitch : network.glitches())
        for (const FoundEvent &event : events)
            for (const onset_pick &pick : event.picks) EXPECT_GT(std::llabs(pick.time - glitch.time), 1000000);

}

TEST(DetectEngine, EventsDoNotDependOnHowTheSamplesAreCut)
{
    const auto &network = default_network();
    const auto whole = detect_test::detect_whole(network, default_options());
    // Chunks shorter than a sample's kurtosis window, odd sizes, random
    // sizes with advances between them, and everything at once.
    for (const size_t chunk : {size_t{1}, size_t{37}, size_t{100}, size_t{4097}, size_t{0}}) {
        std::mt19937 random(static_cast<unsigned>(chunk));
        const auto cut = detect_test::detect(network, default_options(),
                                             [&](onset_detector *d, size_t s, const std::vector<double> &x) {
                                                 for (size_t i = 0; i < x.size();) {
                                                     const size_t n = chunk ? chunk : 1 + random() % 30000;
                                                     const size_t take = std::min(n, x.size() - i);
                                                     ASSERT_EQ(onset_detector_feed(d, static_cast<int32_t>(s),
                                                                                   time_of(static_cast<int64_t>(i)),
                                                                                   x.data() + i, take),
                                                               0);
                                                     i += take;
                                                     if (!chunk && s == 0) onset_detector_advance(d, time_of(0));
                                                 }
                                             });
        EXPECT_TRUE(cut == whole) << "chunks of " << chunk;
    }
}

TEST(DetectEngine, AnEventComesOutOnceNothingCanJoinIt)
{
    // Fed a second at a time, an event comes out once its stations' S
    // searches (15 s after their P) are over and no later P can join it,
    // well before the 31 s within which events trade picks.
    const auto &network = default_network();
    const onset_detect_options options = default_options();
    onset_detector *detector = onset_detector_create(&options, nullptr, 0);
    for (const std::string &id : network.ids()) ASSERT_GE(onset_detector_add_channel(detector, id.c_str(), 100.0), 0);
    std::vector<FoundEvent> events;
    for (int64_t at = 0; at < network.length(); at += 100) {
        for (size_t s = 0; s < network.ids().size(); ++s) {
            const std::vector<double> x = network.samples(s, at, std::min<int64_t>(100, network.length() - at));
            ASSERT_EQ(onset_detector_feed(detector, static_cast<int32_t>(s), time_of(at), x.data(), x.size()), 0);
        }
        ASSERT_EQ(onset_detector_advance(detector, time_of(at + 100)), 0);
        const size_t before = events.size();
        detect_test::take_events(detector, events);
        for (size_t e = before; e < events.size(); ++e)
            EXPECT_LE(time_of(at + 100) - events[e].earliest, 22'000'000) << "event " << e;
    }
    EXPECT_EQ(events.size(), network.events().size());
    onset_detector_destroy(detector);
}

TEST(DetectEngine, OverlapsAreDroppedAndGapsBridgedOrCut)
{
    const auto &network = default_network();
    const auto whole = detect_test::detect_whole(network, default_options());
    // Every chunk of 1000 samples given again with the next one: the
    // samples given first are kept, so nothing changes.
    const auto overlapping = detect_test::detect(
        network, default_options(), [](onset_detector *d, size_t s, const std::vector<double> &x) {
            for (size_t i = 0; i < x.size(); i += 1000) {
                const size_t from = i >= 1000 ? i - 1000 : 0, to = std::min(x.size(), i + 1000);
                onset_detector_feed(d, static_cast<int32_t>(s), time_of(static_cast<int64_t>(from)), x.data() + from,
                                    to - from);
            }
        });
    EXPECT_TRUE(overlapping == whole);

    // Station 0 loses 20 s that end 5 s before the second event reaches it,
    // once as a time jump and once as NaN samples; station 1 loses 3
    // samples, which the band-pass bridges. The second event is still
    // picked at station 0.
    const int64_t arrival = (network.events()[1].arrivals[0] - time_of(0)) / 10000;
    const int64_t gap_end = arrival - 500, gap_begin = gap_end - 2000;
    for (const bool as_nan : {false, true}) {
        const auto gapped = detect_test::detect(
            network, default_options(), [&](onset_detector *det, size_t s, std::vector<double> x) {
                const auto feed = [&](int64_t from, int64_t to) {
                    onset_detector_feed(det, static_cast<int32_t>(s), time_of(from), x.data() + from,
                                        static_cast<size_t>(to - from));
                };
                const int64_t n = static_cast<int64_t>(x.size());
                if (s == 1) std::fill(x.begin() + 9000, x.begin() + 9003, std::numeric_limits<double>::quiet_NaN());
                if (s != 0) return feed(0, n);
                if (as_nan) {
                    std::fill(x.begin() + gap_begin, x.begin() + gap_end, std::numeric_limits<double>::quiet_NaN());
                    return feed(0, n);
                }
                feed(0, gap_begin);
                feed(gap_end, n);
            });
        detect_test::expect_truth(gapped, network, 8);
        ASSERT_EQ(gapped.size(), whole.size());
        EXPECT_EQ(gapped[1].picks[0].channel, 0);
    }
}

TEST(DetectEngine, StationCountAndToleranceGovernEvents)
{
    const auto &network = default_network();
    onset_detect_options options = default_options();
    options.min_stations = 9;  // more than the network has
    EXPECT_TRUE(detect_test::detect_whole(network, options).empty());

    // A tolerance shorter than the moveout splits each event: its picks lie
    // within twice the tolerance of the earliest.
    options.min_stations = 1;
    options.tolerance = 0.05;
    const auto split = detect_test::detect_whole(network, options);
    EXPECT_GT(split.size(), network.events().size() + network.glitches().size());
    for (const FoundEvent &event : split)
        for (const onset_pick &pick : event.picks)
            if (pick.phase == 'P') {
                EXPECT_LE(std::llabs(pick.time - event.earliest), 100000);
            }
}

TEST(DetectEngine, RefusesWhatItCannotDoAndReportsChannels)
{
    onset_detect_options options = default_options();
    char message[128];
    options.fmin = 30.0;
    EXPECT_EQ(onset_detector_create(&options, message, sizeof message), nullptr);
    EXPECT_NE(std::string(message).find("fmin"), std::string::npos) << message;
    options = default_options();
    options.tolerance = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(onset_detector_create(&options, message, sizeof message), nullptr);

    options = default_options();
    onset_detector *d = onset_detector_create(&options, nullptr, 0);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(onset_detector_add_channel(d, "XX.A..HHZ", 100.0), 0);
    EXPECT_EQ(onset_detector_add_channel(d, "XX.A..HHZ", 100.0), ONSET_DETECT_INVALID);
    EXPECT_EQ(onset_detector_add_channel(d, "XX.B..BHZ", 40.0), ONSET_DETECT_RATE);
    EXPECT_NE(std::string(onset_detector_message(d)).find("Nyquist"), std::string::npos);
    EXPECT_EQ(onset_detector_add_channel(d, "XX.C..HHZ", 0.0), ONSET_DETECT_INVALID);
    EXPECT_EQ(onset_detector_feed(d, 1, 0, nullptr, 0), ONSET_DETECT_INVALID);

    // 300 samples with one infinity, a gap of 50, then 200 with one
    // infinity, then 200 of which 100 overlap.
    // Then 30 samples of one value, a flat line, which is a gap too.
    std::vector<double> x(300);
    for (size_t i = 0; i < x.size(); ++i) x[i] = std::sin(0.3 * static_cast<double>(i * i));
    x[10] = std::numeric_limits<double>::infinity();
    const std::vector<double> flat(30, 5.0);
    ASSERT_EQ(onset_detector_feed(d, 0, time_of(0), x.data(), 300), 0);
    ASSERT_EQ(onset_detector_feed(d, 0, time_of(350), x.data(), 200), 0);
    ASSERT_EQ(onset_detector_feed(d, 0, time_of(450), x.data(), 200), 0);
    ASSERT_EQ(onset_detector_feed(d, 0, time_of(650), flat.data(), flat.size()), 0);
    ASSERT_EQ(onset_detector_feed(d, 0, time_of(680), x.data() + 11, 100), 0);
    ASSERT_EQ(onset_detector_flush(d), 0);
    onset_channel_report report;
    ASSERT_EQ(onset_detector_channel_report(d, 0, &report), 0);
    EXPECT_EQ(report.samples, 299u + 199u + 100u + 100u);
    EXPECT_EQ(report.missing, 1u + 50u + 1u + 30u);
    EXPECT_EQ(report.overlapped, 100u);
    EXPECT_EQ(report.longest_run, 189u + 100u);
    EXPECT_EQ(report.needed_run, 202u);
    EXPECT_EQ(onset_detector_channel_report(d, 5, &report), ONSET_DETECT_INVALID);

    EXPECT_EQ(onset_detector_feed(d, 0, time_of(900), x.data(), 1), ONSET_DETECT_FINISHED);
    EXPECT_EQ(onset_detector_add_channel(d, "XX.D..HHZ", 100.0), ONSET_DETECT_FINISHED);
    onset_event event;
    EXPECT_EQ(onset_detector_next_event(d, &event), 0);
    onset_detector_destroy(d);
}

// Samples for a time the detector was advanced past are refused whole, and
// so are times whose arithmetic could overflow.
TEST(DetectEngine, RefusesLateSamplesAndTimesOutOfRange)
{
    const onset_detect_options options = default_options();
    onset_detector *d = onset_detector_create(&options, nullptr, 0);
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(onset_detector_add_channel(d, "XX.A..HHZ", 100.0), 0);
    ASSERT_EQ(onset_detector_add_channel(d, "XX.B..HHZ", 100.0), 1);
    const std::vector<double> x = detect_test::default_network().samples(0, 0, 3000);
    ASSERT_EQ(onset_detector_feed(d, 0, time_of(0), x.data(), 1000), 0);
    ASSERT_EQ(onset_detector_advance(d, time_of(2000)), 0);
    // Channel A's samples from 1000 on come late, whether or not they
    // begin with samples it already has; channel B never had any.
    EXPECT_EQ(onset_detector_feed(d, 0, time_of(1000), x.data() + 1000, 2000), ONSET_DETECT_LATE);
    EXPECT_NE(std::string(onset_detector_message(d)).find("XX.A..HHZ"), std::string::npos);
    EXPECT_EQ(onset_detector_feed(d, 0, time_of(500), x.data() + 500, 2500), ONSET_DETECT_LATE);
    EXPECT_EQ(onset_detector_feed(d, 1, time_of(1999), x.data(), 10), ONSET_DETECT_LATE);
    // Samples it already has, or from the watermark on, are welcome.
    EXPECT_EQ(onset_detector_feed(d, 0, time_of(0), x.data(), 1000), 0);
    EXPECT_EQ(onset_detector_feed(d, 0, time_of(2000), x.data() + 2000, 1000), 0);
    EXPECT_EQ(onset_detector_feed(d, 1, time_of(2000), x.data(), 10), 0);

    const int64_t max = std::numeric_limits<int64_t>::max(), min = std::numeric_limits<int64_t>::min();
    EXPECT_EQ(onset_detector_advance(d, max), ONSET_DETECT_INVALID);
    EXPECT_EQ(onset_detector_advance(d, min), ONSET_DETECT_INVALID);
    EXPECT_EQ(onset_detector_feed(d, 1, max - 5, x.data(), 10), ONSET_DETECT_INVALID);
    EXPECT_EQ(onset_detector_feed(d, 1, min, x.data(), 10), ONSET_DETECT_INVALID);
    EXPECT_NE(std::string(onset_detector_message(d)).find("1970"), std::string::npos);
    double filtered[10];
    EXPECT_EQ(onset_detect_stages(&options, 100.0, max - 5, x.data(), 10, filtered, nullptr, nullptr, 0),
              ONSET_DETECT_INVALID);
    EXPECT_EQ(onset_detector_flush(d), 0);
    onset_channel_report report;
    ASSERT_EQ(onset_detector_channel_report(d, 0, &report), 0);
    EXPECT_EQ(report.samples, 2000u);
    EXPECT_EQ(report.missing, 1000u);
    EXPECT_EQ(report.overlapped, 1000u);
    onset_detector_destroy(d);
}

// Shifted back before 1970 by a whole number of strength pieces, the
// network gives the same events, shifted.
TEST(DetectEngine, DataBefore1970GiveTheSameEvents)
{
    const auto &network = default_network();
    const auto events = detect_test::detect_whole(network, default_options());
    ASSERT_FALSE(events.empty());
    const int64_t shift = 2048 * 10000 * (tool::SyntheticNetwork::start / (2048 * 10000) + 100);
    const auto shifted = detect_test::detect(network, default_options(),
                                             [&](onset_detector *d, size_t s, const std::vector<double> &x) {
                                                 ASSERT_EQ(onset_detector_feed(d, static_cast<int32_t>(s),
                                                                               time_of(0) - shift, x.data(), x.size()),
                                                           0);
                                             });
    ASSERT_EQ(shifted.size(), events.size());
    for (size_t e = 0; e < events.size(); ++e) {
        FoundEvent moved = shifted[e];
        moved.earliest += shift;
        for (onset_pick &pick : moved.picks) pick.time += shift;
        EXPECT_LT(shifted[e].earliest, 0);
        EXPECT_TRUE(moved == events[e]) << "event " << e;
    }
}

// Every excursion of a trace with its verdict: the picks are the channel's
// onsets, and each dropped one says why, as its figures bear out.
TEST(DetectEngine, CandidatesAreTheOnsetsAndSayWhyTheRestWereDropped)
{
    const auto &network = default_network();
    // A low threshold and a long dead time give every kind of verdict.
    onset_detect_options options = default_options();
    options.threshold = 1.5;
    options.dead_time = 30.0;
    const auto events = detect_test::detect_whole(network, options);
    const double rate = tool::SyntheticNetwork::rate;
    std::set<int32_t> verdicts;
    for (size_t s = 0; s < network.ids().size(); ++s) {
        const std::vector<double> x = network.samples(s, 0, network.length());
        std::vector<double> filtered(x.size()), strength(x.size()), plain_filtered(x.size()), plain_strength(x.size());
        size_t found = 0;
        ASSERT_EQ(onset_detect_candidates(&options, rate, time_of(0), x.data(), x.size(), nullptr, nullptr, nullptr, 0,
                                          &found, nullptr, 0),
                  0);
        ASSERT_GT(found, 2u);
        std::vector<onset_candidate> all(found + 1), few(2);
        size_t again = 0;
        ASSERT_EQ(onset_detect_candidates(&options, rate, time_of(0), x.data(), x.size(), filtered.data(),
                                          strength.data(), few.data(), few.size(), &again, nullptr, 0),
                  0);
        EXPECT_EQ(again, found);
        ASSERT_EQ(onset_detect_candidates(&options, rate, time_of(0), x.data(), x.size(), nullptr, nullptr, all.data(),
                                          all.size(), &again, nullptr, 0),
                  0);
        ASSERT_EQ(again, found);
        // Field by field: the record's padding holds nothing.
        for (size_t k = 0; k < 2; ++k) {
            EXPECT_EQ(few[k].time, all[k].time);
            EXPECT_EQ(few[k].peak, all[k].peak);
            EXPECT_EQ(std::memcmp(&few[k].strength, &all[k].strength, sizeof(double)), 0);
            EXPECT_EQ(std::memcmp(&few[k].snr, &all[k].snr, sizeof(double)), 0);
            EXPECT_EQ(few[k].verdict, all[k].verdict);
        }
        // The values of the stages entry, bit for bit.
        ASSERT_EQ(onset_detect_stages(&options, rate, time_of(0), x.data(), x.size(), plain_filtered.data(),
                                      plain_strength.data(), nullptr, 0),
                  0);
        EXPECT_EQ(std::memcmp(filtered.data(), plain_filtered.data(), x.size() * sizeof(double)), 0);
        EXPECT_EQ(std::memcmp(strength.data(), plain_strength.data(), x.size() * sizeof(double)), 0);

        // The picks of the channel in events are candidates of its phase.
        std::map<int64_t, const onset_candidate *> by_time;
        size_t onsets = 0;
        int64_t last_p = std::numeric_limits<int64_t>::min() / 2;
        for (size_t k = 0; k < found; ++k) {
            const onset_candidate &c = all[k];
            verdicts.insert(c.verdict);
            by_time[c.time] = &c;
            if (k > 0) {
                EXPECT_GE(c.peak, all[k - 1].peak);
            }
            EXPECT_GE(c.strength, options.threshold);
            const auto peak = static_cast<size_t>((c.peak - time_of(0)) * 100 / 1000000);
            EXPECT_EQ(c.strength, strength[peak]);
            switch (c.verdict) {
            case 'P': EXPECT_GE(c.snr, options.min_snr); break;
            case ONSET_CANDIDATE_LOW_SNR: EXPECT_LT(c.snr, options.min_snr); break;
            case ONSET_CANDIDATE_DEAD_TIME: EXPECT_LT(c.time - last_p, options.dead_time * 1e6); break;
            case 'S':
            case ONSET_CANDIDATE_WARM_UP:
            case ONSET_CANDIDATE_CODA: EXPECT_TRUE(std::isnan(c.snr)); break;
            default: ADD_FAILURE() << "verdict " << c.verdict;
            }
            if (c.verdict == 'P') last_p = c.time;
            onsets += c.verdict == 'P' || c.verdict == 'S';
        }
        onset_detector *d = onset_detector_create(&options, nullptr, 0);
        ASSERT_EQ(onset_detector_add_channel(d, network.ids()[s].c_str(), rate), 0);
        ASSERT_EQ(onset_detector_feed(d, 0, time_of(0), x.data(), x.size()), 0);
        ASSERT_EQ(onset_detector_flush(d), 0);
        onset_channel_report report;
        ASSERT_EQ(onset_detector_channel_report(d, 0, &report), 0);
        EXPECT_EQ(report.onsets, onsets) << network.ids()[s];
        onset_detector_destroy(d);
        for (const FoundEvent &event : events)
            for (const onset_pick &pick : event.picks) {
                if (pick.channel != static_cast<int32_t>(s)) continue;
                const auto c = by_time.find(pick.time);
                // An S may also be the one searched after the P: no excursion.
                if (pick.phase == 'S' && (c == by_time.end() || c->second->strength != pick.strength)) continue;
                ASSERT_NE(c, by_time.end()) << network.ids()[s] << " " << pick.time;
                EXPECT_EQ(c->second->verdict, pick.phase);
                EXPECT_EQ(c->second->strength, pick.strength);
            }
    }
    EXPECT_EQ(verdicts, (std::set<int32_t>{'P', 'S', ONSET_CANDIDATE_LOW_SNR, ONSET_CANDIDATE_DEAD_TIME,
                                           ONSET_CANDIDATE_CODA, ONSET_CANDIDATE_WARM_UP}));
}

}  // namespace

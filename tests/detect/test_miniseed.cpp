// The network through miniSEED files written with libmseed: the same events
// come back, and gaps, shared files and other rates are read as they should.
#include <gtest/gtest.h>

#include <cmath>

#include "mseed_io.h"
#include "mseed_writer.h"
#include "network_fixture.h"
#include "temp_folder.h"

namespace {

using detect_test::Segment;

Segment segment_of(const detect::Trace &trace, size_t begin, size_t end, size_t step = 1)
{
    Segment s{"XX", trace.station().substr(3), "", "HHZ", trace.start + static_cast<int64_t>(begin) * 10000,
              trace.rate / static_cast<double>(step), {}};
    for (size_t i = begin; i < end; i += step) s.samples.push_back(trace.samples[i]);
    return s;
}

TEST(DetectMiniseed, RoundTripGivesTheSameTracesAndEvents)
{
    const auto &network = detect_test::default_network();
    detect_test::TempFolder folder;
    std::vector<std::string> files;
    // Each station in its own file, the files given in reverse order.
    for (size_t s = network.traces.size(); s-- > 0;) {
        files.push_back(folder.file("station" + std::to_string(s) + ".mseed"));
        const auto &trace = network.traces[s];
        detect_test::write_segments(files.back(), {segment_of(trace, 0, trace.samples.size())});
    }
    const auto traces = detect::read_miniseed(files);
    ASSERT_EQ(traces.size(), network.traces.size());
    for (size_t t = 0; t < traces.size(); ++t) {
        EXPECT_EQ(traces[t].id, network.traces[t].id);
        EXPECT_EQ(traces[t].start, network.traces[t].start);
        EXPECT_EQ(traces[t].rate, network.traces[t].rate);
        EXPECT_EQ(traces[t].samples, network.traces[t].samples);
    }

    const detect::Options options;
    const auto from_files = detect::detect_events(traces, options, false).events;
    const auto in_memory = detect::detect_events(network.traces, options, false).events;
    ASSERT_EQ(from_files.size(), in_memory.size());
    for (size_t e = 0; e < in_memory.size(); ++e) {
        EXPECT_EQ(from_files[e].earliest, in_memory[e].earliest);
        ASSERT_EQ(from_files[e].picks.size(), in_memory[e].picks.size());
        for (size_t p = 0; p < in_memory[e].picks.size(); ++p) {
            EXPECT_EQ(from_files[e].picks[p].trace, in_memory[e].picks[p].trace);
            EXPECT_EQ(from_files[e].picks[p].time, in_memory[e].picks[p].time);
        }
    }
    detect_test::expect_truth(from_files, network, detect_test::identity(8), 8);
}

TEST(DetectMiniseed, OneFileWithGapsAndOtherRates)
{
    const auto &network = detect_test::default_network();
    // Station 0 loses 20 s that end 5 s before the second event reaches it;
    // stations 4..7 are kept at 50 Hz (every other sample: the band ends
    // below their Nyquist frequency of 25 Hz).
    const size_t arrival = static_cast<size_t>((network.events[1].arrivals[0] - network.traces[0].start) / 10000);
    const size_t gap_end = arrival - 500, gap_begin = gap_end - 2000;
    std::vector<Segment> segments;
    for (size_t s = 0; s < network.traces.size(); ++s) {
        const auto &trace = network.traces[s];
        const size_t n = trace.samples.size();
        if (s == 0) {
            segments.push_back(segment_of(trace, gap_end, n));  // later record first
            segments.push_back(segment_of(trace, 0, gap_begin));
        } else {
            segments.push_back(segment_of(trace, 0, n, s >= 4 ? 2 : 1));
        }
    }
    detect_test::TempFolder folder;
    const std::string file = folder.file("network.mseed");
    detect_test::write_segments(file, segments);

    const auto traces = detect::read_miniseed({file});
    ASSERT_EQ(traces.size(), 8u);
    ASSERT_EQ(traces[0].samples.size(), network.traces[0].samples.size());
    for (size_t i = 0; i < traces[0].samples.size(); ++i) {
        const bool in_gap = i >= gap_begin && i < gap_end;
        ASSERT_EQ(std::isnan(traces[0].samples[i]), in_gap) << i;
        if (!in_gap) { ASSERT_EQ(traces[0].samples[i], network.traces[0].samples[i]); }
    }
    for (size_t s = 4; s < 8; ++s) EXPECT_EQ(traces[s].rate, 50.0);

    const detect::Options options;
    detect::check_traces(traces, options);
    const auto events = detect::detect_events(traces, options, false).events;
    // Decimating without a low-pass folds the noise above 25 Hz into the band,
    // so a weak arrival may be lost at a 50 Hz station; picks there lie
    // within 3 of their own samples.
    detect_test::expect_truth(events, network, detect_test::identity(8), 7, 6);
    // The kurtosis has recovered 5 s after the gap.
    ASSERT_EQ(events.size(), network.events.size());
    EXPECT_EQ(events[1].picks.front().trace, 0u);
}

TEST(DetectMiniseed, TextChannelsAreLeftOut)
{
    detect_test::TempFolder folder;
    const std::string mixed = folder.file("mixed.mseed"), log = folder.file("log.mseed");
    const Segment text{"XX", "A", "", "LOG", 1704067200000000LL, 0.0, {}, "clock locked\n"};
    const Segment samples{"XX", "A", "", "HHZ", 1704067200000000LL, 100.0, {1.0, -2.0, 3.5}};
    detect_test::write_segments(mixed, {text, samples});
    detect_test::write_segments(log, {text});

    const auto traces = detect::read_miniseed({mixed});
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_EQ(traces[0].id, "XX.A..HHZ");
    EXPECT_EQ(traces[0].samples, samples.samples);
    try {
        detect::read_miniseed({mixed, log});
        ADD_FAILURE() << "a file of text alone was read";
    } catch (const detect::InputError &error) {
        EXPECT_EQ(std::string(error.what()), "'" + log + "' holds no miniSEED data records with samples");
    }
}

}  // namespace

// Reading recordings: miniSEED files and folders, SDS archives across day
// boundaries, channel and time selection, and channels that cannot be used.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>

#include "command_fixture.h"
#include "mseed_writer.h"
#include "network_fixture.h"

namespace {

using detect_test::Segment;

class DetectReading : public detect_test::CommandLine {
protected:
    // Samples [begin, end) of a station of the default network, moved in
    // time by `shift` microseconds, at every `step`-th sample.
    static Segment stretch(size_t station, int64_t begin, int64_t end, int64_t shift = 0, int64_t step = 1)
    {
        const auto &network = detect_test::default_network();
        Segment s{"XX", network.ids()[station].substr(3, 3), "", "HHZ", detect_test::time_of(begin) + shift,
                  100.0 / static_cast<double>(step), {}};
        const std::vector<double> all = network.samples(station, begin, end - begin);
        for (size_t i = 0; i < all.size(); i += static_cast<size_t>(step)) s.samples.push_back(all[i]);
        return s;
    }
    // The events part of the default run's output.
    std::string default_events() const
    {
        const auto r = run("--demo");
        return r.out.substr(0, r.out.find("\nsynthetic truth:"));
    }
    std::string sds_file(const std::string &station, int day) const
    {
        const std::string folder = folder_.file("sds/2024/XX/" + station + "/HHZ.D");
        std::filesystem::create_directories(folder);
        char name[64];
        std::snprintf(name, sizeof name, "/XX.%s..HHZ.D.2024.%03d", station.c_str(), day);
        return folder + name;
    }
};

TEST_F(DetectReading, FilesAndFoldersGiveTheEventsOfTheNetwork)
{
    // Each station in its own file, given in reverse order, station 0 in two
    // records written later one first; a folder of them reads the same.
    const auto &network = detect_test::default_network();
    std::string files;
    std::filesystem::create_directories(folder_.file("net/deeper"));
    for (size_t s = 8; s-- > 0;) {
        const std::string file = folder_.file((s < 4 ? "net/deeper/" : "net/") + std::to_string(s) + ".mseed");
        if (s == 0)
            detect_test::write_segments(file, {stretch(0, 10000, network.length()), stretch(0, 0, 10000)});
        else
            detect_test::write_segments(file, {stretch(s, 0, network.length())});
        files += " " + file;
    }
    const auto from_files = run("--quiet" + files);
    ASSERT_EQ(from_files.status, 0) << from_files.err;
    EXPECT_EQ(from_files.out, default_events());
    EXPECT_EQ(run(folder_.file("net")).out, from_files.out);

    // Stations 4..7 kept at 50 Hz (every other sample: the band ends below
    // their Nyquist frequency of 25 Hz), all in one file: every event is
    // still found on 7 stations or more.
    std::vector<Segment> mixed;
    for (size_t s = 0; s < 8; ++s) mixed.push_back(stretch(s, 0, network.length(), 0, s >= 4 ? 2 : 1));
    detect_test::write_segments(folder_.file("mixed.mseed"), mixed);
    const auto slow = run("--csv " + folder_.file("mixed.mseed"));
    ASSERT_EQ(slow.status, 0) << slow.err;
    EXPECT_NE(slow.out.find("\n5,"), std::string::npos) << slow.out;
    EXPECT_EQ(slow.out.find("\n6,"), std::string::npos) << slow.out;
}

TEST_F(DetectReading, ArchiveDaysJoinAcrossMidnightWithGapsAndOverlaps)
{
    // The network moved to end 100 s after midnight: day 1's files run 3 s
    // into day 2 and day 2's begin 2 s before midnight; station 2 loses 40
    // samples. The same samples as plain files give the same events.
    const auto &network = detect_test::default_network();
    const int64_t shift = 86400LL * 1000000 - 200LL * 1000000, midnight = 20000;
    std::string plain;
    for (size_t s = 0; s < 8; ++s) {
        const std::string station = network.ids()[s].substr(3, 3);
        std::vector<Segment> day1{stretch(s, 0, midnight + 300, shift)};
        std::vector<Segment> day2{stretch(s, midnight - 200, network.length(), shift)};
        if (s == 2) {
            day2 = {stretch(s, midnight - 200, 24000, shift), stretch(s, 24040, network.length(), shift)};
            detect_test::write_segments(folder_.file("plain2.mseed"),
                                        {stretch(s, 0, 24000, shift), stretch(s, 24040, network.length(), shift)});
        } else {
            detect_test::write_segments(folder_.file("plain" + std::to_string(s) + ".mseed"),
                                        {stretch(s, 0, network.length(), shift)});
        }
        detect_test::write_segments(sds_file(station, 1), day1);
        detect_test::write_segments(sds_file(station, 2), day2);
        plain += " " + folder_.file("plain" + std::to_string(s) + ".mseed");
    }
    const auto archive = run("--quiet --csv --sds " + folder_.file("sds"));
    ASSERT_EQ(archive.status, 0) << archive.err;
    EXPECT_EQ(archive.err, "");
    EXPECT_EQ(archive.out, run("--csv" + plain).out);
    EXPECT_EQ(detect_test::count_p_rows(archive.out), 5u * 8);

    // Channels by pattern, and time limits.
    const auto some = run("--csv --sds " + folder_.file("sds") + " --channels 'XX.S0[1-4]..HHZ,*.S08.*'");
    ASSERT_EQ(some.status, 0) << some.err;
    EXPECT_EQ(detect_test::count_p_rows(some.out), 5u * 5);
    for (const char *absent : {"S05", "S06", "S07"}) EXPECT_EQ(some.out.find(absent), std::string::npos);
    const auto second_day = run("--sds " + folder_.file("sds") + " --start 2024-01-02");
    ASSERT_EQ(second_day.status, 0) << second_day.err;
    const auto first_day = run("--sds " + folder_.file("sds") + " --end 2024-01-02T00:00:00Z");
    EXPECT_EQ(detect_test::count_text_events(first_day.out) + detect_test::count_text_events(second_day.out), 5u);
    EXPECT_EQ(first_day.out.find("2024-01-02"), std::string::npos);
    EXPECT_EQ(second_day.out.find("2024-01-01"), std::string::npos);
}

TEST_F(DetectReading, UnusableChannelsAreLeftOutWithOneWarningEach)
{
    const auto &network = detect_test::default_network();
    std::vector<Segment> good;
    for (size_t s = 0; s < 8; ++s) good.push_back(stretch(s, 0, network.length()));
    detect_test::write_segments(folder_.file("good.mseed"), good);
    const int64_t t0 = detect_test::time_of(0);
    const auto wiggle = [](size_t n) {
        std::vector<double> x(n);
        for (size_t i = 0; i < n; ++i) x[i] = std::round(100.0 * std::sin(0.7 * static_cast<double>(i * i)));
        return x;
    };
    detect_test::write_segments(
        folder_.file("bad.mseed"),
        {{"XX", "SHORT", "", "HHZ", t0, 100.0, wiggle(150)},
         {"XX", "SLOW", "", "BHZ", t0, 40.0, std::vector<double>(4000, 1.0)},
         {"XX", "NAN", "", "HHZ", t0, 100.0, std::vector<double>(6000, std::numeric_limits<double>::quiet_NaN())},
         {"XX", "FLAT", "", "HHZ", t0, 100.0, std::vector<double>(6000, 7.0)},
         {"XX", "LOG", "", "LOG", t0, 0.0, {}, "clock locked\n"}});
    // A file whose last record is cut short.
    detect_test::write_segments(folder_.file("cut.mseed"), {{"XX", "CUT", "", "HHZ", t0, 100.0, wiggle(200)}});
    std::filesystem::resize_file(folder_.file("cut.mseed"), std::filesystem::file_size(folder_.file("cut.mseed")) - 100);
    std::ofstream(folder_.file("notes.txt")) << std::string(5000, 'x') << "\n";

    const auto r = run("--csv " + folder_.file("good.mseed") + " " + folder_.file("bad.mseed") + " " +
                       folder_.file("cut.mseed") + " " + folder_.file("notes.txt"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(detect_test::count_p_rows(r.out), 5u * 8);
    for (const char *named : {"XX.SHORT..HHZ left out: its longest stretch without gaps has 150 samples",
                              "XX.SLOW..BHZ left out: fmax 20 Hz is not below its Nyquist frequency 20 Hz",
                              "XX.NAN..HHZ left out: all its samples are gaps",
                              "XX.FLAT..HHZ left out: all its samples are gaps", "XX.LOG..LOG left out: a text (log) channel",
                              "cut.mseed': the record at byte 1536 is left out: the file ends inside it",
                              "notes.txt' left out: not a miniSEED file"})
        EXPECT_NE(r.err.find(named), std::string::npos) << named << "\nsaid:\n" << r.err;
    // XX.CUT..HHZ is too short as well; then the summary, which counts the
    // channels left out, not the files.
    EXPECT_EQ(detect_test::count_lines(r.err), 8u + 3) << r.err;
    EXPECT_NE(r.err.find("\nonset-detect: 8 channels used (8 stations), 6 left out (warned above)\n"
                         "onset-detect: read 2024-01-01T00:00:00.000Z to 2024-01-01T00:05:00.000Z in "),
              std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" s\nonset-detect: 5 events written, " + std::to_string(detect_test::count_lines(r.out) - 1) +
                         " picks (40 P, "),
              std::string::npos) << r.err;
    EXPECT_EQ(run("--quiet " + folder_.file("good.mseed")).err, "");

    // Nothing usable: status 2, and it says so.
    const auto none = run(folder_.file("bad.mseed"));
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.out, "");
    EXPECT_NE(none.err.find("\nonset-detect: no usable channel in the input\n"), std::string::npos) << none.err;
    const auto two = run(folder_.file("good.mseed") + " --channels 'XX.S01.*,XX.S02.*'");
    EXPECT_EQ(two.status, 0);
    EXPECT_NE(two.err.find("2 usable stations, fewer than --min-stations 3"), std::string::npos) << two.err;
}

TEST_F(DetectReading, ChunksJoinRecordsUntilAGapByChannel)
{
    // B in two contiguous segments (many records), then a gap; A in one.
    // Chunks come by channel id, then time, joined up to the gap.
    const int64_t t0 = detect_test::time_of(0);
    std::vector<double> x(4000);
    for (size_t i = 0; i < x.size(); ++i) x[i] = std::sin(0.01 * static_cast<double>(i * i % 977));
    const auto part = [&](const std::string &station, size_t begin, size_t end) {
        return Segment{"XX", station, "", "HHZ", t0 + static_cast<int64_t>(begin) * 10000, 100.0,
                       std::vector<double>(x.begin() + static_cast<std::ptrdiff_t>(begin),
                                           x.begin() + static_cast<std::ptrdiff_t>(end))};
    };
    const std::string file = folder_.file("parts.mseed");
    detect_test::write_segments(file, {part("B", 0, 1000), part("B", 1000, 3000), part("B", 3500, 4000),
                                       part("A", 0, 2000)});
    const char *paths[] = {file.c_str()};
    char message[256];
    onset_reader *reader = onset_reader_open(paths, 1, nullptr, INT64_MIN, INT64_MAX, message, sizeof message);
    ASSERT_NE(reader, nullptr) << message;
    int64_t begin = 0, end = 0;
    onset_reader_span(reader, &begin, &end);
    EXPECT_EQ(begin, t0);
    EXPECT_EQ(end, t0 + 4000 * 10000);
    struct Expected {
        const char *id;
        size_t begin, end;
    };
    for (const Expected &e : {Expected{"XX.A..HHZ", 0, 2000}, Expected{"XX.B..HHZ", 0, 3000},
                              Expected{"XX.B..HHZ", 3500, 4000}}) {
        onset_chunk chunk;
        ASSERT_EQ(onset_reader_next_chunk(reader, INT64_MAX, &chunk), 1) << e.id << " " << e.begin;
        EXPECT_STREQ(chunk.id, e.id);
        EXPECT_EQ(chunk.rate, 100.0);
        EXPECT_EQ(chunk.start, t0 + static_cast<int64_t>(e.begin) * 10000);
        ASSERT_EQ(chunk.count, e.end - e.begin);
        for (size_t i = 0; i < chunk.count; ++i) ASSERT_EQ(chunk.samples[i], x[e.begin + i]) << e.id << " " << i;
    }
    onset_chunk none;
    EXPECT_EQ(onset_reader_next_chunk(reader, INT64_MAX, &none), 0);
    EXPECT_EQ(onset_reader_next_warning(reader), nullptr);
    onset_reader_close(reader);

    // Records that start before `until` only, within the span asked for.
    reader = onset_reader_open(paths, 1, "XX.B.*", t0 + 500 * 10000, INT64_MAX, message, sizeof message);
    ASSERT_NE(reader, nullptr) << message;
    onset_chunk chunk;
    ASSERT_EQ(onset_reader_next_chunk(reader, t0 + 1000 * 10000, &chunk), 1);
    EXPECT_EQ(chunk.start, t0 + 500 * 10000);
    EXPECT_EQ(chunk.count, 500u);
    EXPECT_EQ(onset_reader_next_chunk(reader, t0 + 1000 * 10000, &chunk), 0);
    ASSERT_EQ(onset_reader_next_chunk(reader, INT64_MAX, &chunk), 1);
    EXPECT_EQ(chunk.start, t0 + 1000 * 10000);
    // A run over a reader needs a chunk, and a reader serves one run.
    onset_detect_options options;
    onset_detect_defaults(&options);
    EXPECT_EQ(onset_run_create(&options, reader, 0.0, message, sizeof message), nullptr);
    onset_run *run = onset_run_create(&options, reader, 60.0, message, sizeof message);
    ASSERT_NE(run, nullptr) << message;
    EXPECT_EQ(onset_run_create(&options, reader, 60.0, message, sizeof message), nullptr);
    EXPECT_EQ(onset_run_add_channel(run, "XX.C..HHZ", 100.0), ONSET_DETECT_INVALID);
    onset_run_destroy(run);
    onset_reader_close(reader);
    EXPECT_EQ(onset_reader_open(paths, 1, nullptr, t0, t0, message, sizeof message), nullptr);
    EXPECT_NE(std::string(message).find("empty"), std::string::npos) << message;
}

TEST_F(DetectReading, WrittenArchiveGivesTheDefaultEvents)
{
    const std::string root = folder_.file("made/here");  // the folders do not exist yet
    const auto written = run("--write-synthetic " + root);
    ASSERT_EQ(written.status, 0) << written.err;
    EXPECT_NE(written.out.find("/2024/XX/S01/HHZ.D/XX.S01..HHZ.D.2024.001\n"), std::string::npos) << written.out;
    EXPECT_EQ(run("--sds " + root).out, default_events());
    // Station codes of three digits get their own folders too.
    const auto many =
        run("--write-synthetic " + folder_.file("many") + " --synthetic-stations 101 --synthetic-duration 100");
    ASSERT_EQ(many.status, 0) << many.err;
    EXPECT_NE(many.out.find("/2024/XX/S101/HHZ.D/XX.S101..HHZ.D.2024.001\n"), std::string::npos) << many.out;
}

TEST_F(DetectReading, SelectionsOfNothingAreRefusedNamingWhatIsThere)
{
    const std::string root = folder_.file("sds");
    ASSERT_EQ(run("--write-synthetic " + root).status, 0);
    expect_refused("--sds " + root + " --channels 'YY.*,XX.S1?..HHZ'",
                   "--channels 'YY.*,XX.S1?..HHZ' matches no channel in the input; '" + root +
                       "' holds XX.S01..HHZ, XX.S02..HHZ, XX.S03..HHZ, XX.S04..HHZ, XX.S05..HHZ, "
                       "XX.S06..HHZ and 2 more");
    expect_refused("--sds " + root + " --channels 'XX.S01.*' --start 2024-01-03",
                   "--start: the input holds nothing from 2024-01-03T00:00:00.000Z to its end; its channels that match "
                   "--channels span 2024-01-01T00:00:00.000Z to 2024-01-02T00:00:00.000Z");
    // Files and folders: the same words, without a list.
    expect_refused(root + " --channels 'YY.*'", "onset-detect: --channels 'YY.*' matches no channel in the input\n");
    expect_refused(root + " --start 2023-12-31 --end 2024-01-01",
                   "--start and --end: the input holds nothing from 2023-12-31T00:00:00.000Z to "
                   "2024-01-01T00:00:00.000Z; it spans 2024-01-01T00:00:00.000Z to 2024-01-01T00:05:00.000Z");
    // A selection that holds something runs.
    EXPECT_EQ(run(root + " --channels 'XX.S0[1-3].*' --end 2024-01-01T00:00:30").status, 0);
}

}  // namespace

// The program as a user runs it: the demo, its output formats, the chunk
// size that must not matter, --help, and refused flags.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <vector>

#include "command_fixture.h"

namespace {

using DetectCommandLine = detect_test::CommandLine;

TEST_F(DetectCommandLine, DemoFindsTheSyntheticEvents)
{
    const auto r = run("--demo");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("recall 5/5 (100%), false detections 0, glitches that became events 0 of 3"),
              std::string::npos) << r.out;
    EXPECT_EQ(r.out.rfind("event 1  2024-01-01T00:00:23.390Z  8 stations  16 picks (8 P, 8 S)\n", 0), 0u) << r.out;
    EXPECT_EQ(r.err, "");

    const auto csv = run("--demo --csv");
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(csv.out.rfind("event,earliest,stations,trace,pick,strength,phase,uncertainty,polarity\n", 0), 0u);
    EXPECT_EQ(detect_test::count_p_rows(csv.out), 5u * 8);
    EXPECT_NE(csv.out.find("\n1,2024-01-01T00:00:23."), std::string::npos) << csv.out;
    EXPECT_NE(csv.out.find("Z,8,XX.S01..HHZ,2024-01-01T00:00:24."), std::string::npos) << csv.out;
    EXPECT_NE(csv.err.find("recall 5/5"), std::string::npos);

    // The text holds what the CSV holds: per event a header, then its picks
    // in time order, aligned, one a line; a blank line between events, and
    // no line wider than a terminal.
    std::map<std::string, std::vector<std::string>> rows;  // "event pick" -> CSV fields
    std::istringstream csv_lines(csv.out.substr(csv.out.find('\n') + 1));
    for (std::string line; std::getline(csv_lines, line);) {
        std::vector<std::string> fields(1);
        for (char c : line) {
            if (c == ',') fields.emplace_back();
            else fields.back().push_back(c);
        }
        rows[fields[0] + " " + fields[3] + " " + fields[6] + " " + fields[4]] = fields;
    }
    std::istringstream text(r.out.substr(0, r.out.find("\nsynthetic truth:") + 1));
    std::string event, last_time;
    size_t events = 0, picks = 0, listed = 0, phase_column = 0;
    for (std::string line; std::getline(text, line);) {
        EXPECT_LE(line.size(), 100u) << line;
        std::istringstream words(line);
        if (line.rfind("event ", 0) == 0) {
            EXPECT_EQ(listed, picks) << "event " << event;
            std::string earliest, stations, count;
            words >> event >> event >> earliest >> stations >> count >> count;
            EXPECT_EQ(event, std::to_string(++events));
            picks = static_cast<size_t>(std::stoul(count));
            listed = 0;
            last_time.clear();
            phase_column = 0;
            continue;
        }
        if (line.empty()) continue;
        std::string trace, phase, time, uncertainty, seconds, label, strength, motion;
        words >> trace >> phase >> time >> uncertainty >> seconds >> label >> strength >> motion;
        ASSERT_EQ(line.rfind("  ", 0), 0u) << line;
        const auto row = rows.find(event + " " + trace + " " + phase + " " + time);
        ASSERT_NE(row, rows.end()) << line;
        EXPECT_EQ("+-" + row->second[7] + " s", uncertainty + " " + seconds);
        EXPECT_NEAR(std::stod(strength), std::stod(row->second[5]), 0.0051) << line;
        EXPECT_EQ(motion, row->second[8] == "U" ? "up" : row->second[8] == "D" ? "down" : "") << line;
        EXPECT_EQ(line.find("  " + phase + "  "), phase_column ? phase_column : line.find("  " + phase + "  "));
        phase_column = line.find("  " + phase + "  ");
        EXPECT_GE(time, last_time);
        last_time = time;
        ++listed;
        rows.erase(row);
    }
    EXPECT_EQ(listed, picks);
    EXPECT_EQ(events, 5u);
    EXPECT_TRUE(rows.empty());
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'),
              static_cast<long>(detect_test::count_lines(csv.out) - 1 + 2 * events - 1 + 9));  // and the comparison
}

TEST_F(DetectCommandLine, QuakeMLAndNonLinLocFilesHoldEveryPick)
{
    const std::string quakeml = folder_.file("events.xml"), nlloc = folder_.file("events.obs");
    const auto r = run("--demo --csv --quakeml " + quakeml + " --nlloc " + nlloc);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, run("--demo --csv").out);
    const auto count = [](const std::string &text, const std::string &what) {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    };
    // What the CSV holds: picks, events, S picks, and the first row's fields.
    const size_t picks = detect_test::count_lines(r.out) - 1, s_picks = count(r.out, ",S,");
    const size_t events = static_cast<size_t>(std::stoi(r.out.substr(r.out.rfind('\n', r.out.size() - 2) + 1)));
    std::vector<std::string> row(1);
    for (char c : r.out.substr(r.out.find('\n') + 1, r.out.find('\n', r.out.find('\n') + 1) - r.out.find('\n') - 1)) {
        if (c == ',') row.emplace_back();
        else row.back().push_back(c);
    }
    ASSERT_EQ(row.size(), 9u);
    ASSERT_GE(events, 5u);

    const std::string xml = detect_test::slurp(quakeml), obs = detect_test::slurp(nlloc);
    EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<q:quakeml ", 0), 0u);
    EXPECT_EQ(count(xml, "<event publicID="), events);
    EXPECT_EQ(count(xml, "<pick publicID="), picks);
    EXPECT_EQ(count(xml, "<phaseHint>S</phaseHint>"), s_picks);
    EXPECT_EQ(count(xml, "<origin"), 0u);
    // The first pick's time to the microsecond (at 100 Hz, whole milliseconds).
    const std::string first = "<value>" + row[4].substr(0, 23) + "000Z</value>";
    EXPECT_NE(xml.find(first), std::string::npos) << first << "\n" << xml;
    EXPECT_NE(xml.find("<waveformID networkCode=\"XX\" stationCode=\"S01\" locationCode=\"\" channelCode=\"HHZ\"/>"),
              std::string::npos);
    const std::string end = "  </eventParameters>\n</q:quakeml>\n";
    EXPECT_EQ(xml.substr(xml.size() - end.size()), end);
    // Every resource under the run's own prefix, which the next run does not share.
    const size_t prefix_at = xml.find("<eventParameters publicID=\"") + 27;
    const std::string prefix = xml.substr(prefix_at, xml.find('"', prefix_at) - prefix_at);
    EXPECT_EQ(prefix.rfind("smi:local/onset/", 0), 0u) << prefix;
    EXPECT_EQ(count(xml, "publicID=\"" + prefix), 1 + events + picks);
    EXPECT_NE(xml.find("<event publicID=\"" + prefix + "/event/" + std::to_string(events) + "\">"), std::string::npos);
    EXPECT_EQ(count(xml, "<creationInfo>"), 1 + events + picks);
    EXPECT_EQ(count(xml, "<evaluationMode>automatic</evaluationMode>"), picks);
    const std::string next = folder_.file("next.xml");
    ASSERT_EQ(run("--demo --quakeml " + next).status, 0);
    EXPECT_EQ(detect_test::slurp(next).find(prefix), std::string::npos);
    // Sharp picks are impulsive: those the CSV gives a few hundredths of a second.
    size_t sharp = 0;
    std::istringstream rows(r.out.substr(r.out.find('\n') + 1));
    for (std::string pick_row; std::getline(rows, pick_row);)
        sharp += std::stod(pick_row.substr(pick_row.rfind(',', pick_row.rfind(',') - 1) + 1)) <= 0.05;
    EXPECT_EQ(count(xml, "<onset>impulsive</onset>"), sharp);
    EXPECT_GT(sharp, picks / 2);
    // The first motions where they are clear: every P of the built-in
    // network begins upwards.
    EXPECT_EQ(count(xml, "<polarity>positive</polarity>"), count(r.out, ",U\n"));
    EXPECT_EQ(count(xml, "<polarity>negative</polarity>"), 0u);
    EXPECT_GT(count(r.out, ",U\n"), (picks - s_picks) / 2);
    // Per event its QuakeML id, one line per pick and the empty line that ends it.
    EXPECT_EQ(obs.rfind("PUBLIC_ID " + prefix + "/event/1\n", 0), 0u) << obs;
    const std::string line = "XX_S01 HH   Z    I " + row[6] + "      " + (row[8].empty() ? "?" : row[8]) +
                             " 20240101 0000   " + row[4].substr(17, 6) +
                             "0 GAU";
    EXPECT_EQ(obs.find(line), obs.find('\n') + 1) << line << "\n" << obs;
    EXPECT_EQ(detect_test::count_lines(obs), picks + 2 * events);
    EXPECT_EQ(count(obs, "\n\n"), events);
    EXPECT_EQ(obs.substr(obs.size() - 2), "\n\n");
    expect_refused("--demo --quakeml " + folder_.file("no/such/folder.xml"), "--quakeml: cannot write");
}

TEST_F(DetectCommandLine, OutputDoesNotDependOnTheChunk)
{
    const auto standard = run("--demo --csv --synthetic-duration 700");
    ASSERT_EQ(standard.status, 0) << standard.err;
    // Chunks shorter than the windows, odd ones, and one longer than the data.
    for (const char *chunk : {"0.3", "7", "61.5", "5000"}) {
        const auto cut = run(std::string("--demo --csv --synthetic-duration 700 --chunk ") + chunk);
        EXPECT_EQ(cut.out, standard.out) << "--chunk " << chunk;
        EXPECT_EQ(cut.err, standard.err) << "--chunk " << chunk;
    }
}

TEST_F(DetectCommandLine, HelpExplainsEveryFlag)
{
    const auto r = run("--help");
    ASSERT_EQ(r.status, 0);
    for (const char *flag : {"--fmin HZ", "--fmax HZ", "--kurtosis-window S", "--threshold X", "--tolerance S",
                             "--min-stations N", "--csv", "--voices", "--jump-window", "--dead-time", "--quiet",
                             "--synthetic-stations", "--write-synthetic", "--demo", "--sds ROOT", "--start TIME", "--end TIME",
                             "--channels PATTERNS", "--chunk S", "--version", "--quakeml FILE", "--nlloc FILE",
                             "exit status: 0"})
        EXPECT_NE(r.out.find(flag), std::string::npos) << flag;
    EXPECT_EQ(run("-h").out, r.out);
    EXPECT_EQ(run("--version").out.rfind("onset-detect 1.", 0), 0u);
}

TEST_F(DetectCommandLine, BadFlagsAreRefusedWithStatus2)
{
    expect_refused("", "--demo");
    expect_refused("--csv --fmin 1", "--demo");
    expect_refused("--demo --fmax 60", "fmax 60 Hz is not below");
    expect_refused("--fmin 20 --fmax 10", "fmin 20 Hz must be below fmax 10 Hz");
    expect_refused("--voices 33", "--voices: must be a whole number from 1 to 32");
    expect_refused("--demo " + folder_.file("x.mseed"), "--demo");
    expect_refused("--threshold x", "--threshold");
    expect_refused("--tolerance -1", "--tolerance");
    expect_refused("--min-stations 2.5", "--min-stations");
    expect_refused("--kurtosis-window", "--kurtosis-window");
    expect_refused("--chunk 0", "--chunk");
    expect_refused("--start 2024-13-01", "--start");
    expect_refused("--start 2024-02-02 --end 2024-02-01", "--start");
    expect_refused("--no-such-flag", "--no-such-flag");
    expect_refused("--sds " + folder_.file("nothing"), "nothing");
    expect_refused(folder_.file("missing.mseed"), "missing.mseed");
}

}  // namespace

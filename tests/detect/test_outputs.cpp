// The output files as they must stand whatever happens: codes that would
// break a row or a document, a failed run, a full device, a stop signal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <set>

#include "command_fixture.h"
#include "mseed_writer.h"
#include "network_fixture.h"

namespace {

class DetectOutputs : public detect_test::CommandLine {
protected:
    // The files of the folder but the run's stdout and stderr.
    std::set<std::string> files() const
    {
        std::set<std::string> names;
        for (const auto &entry : std::filesystem::directory_iterator(folder_.file("")))
            names.insert(entry.path().filename().string());
        names.erase("stdout");
        names.erase("stderr");
        return names;
    }
    // Runs the program until its first event is on stdout, then sends it
    // `signal`; returns the wait status and all of stdout.
    std::pair<int, std::string> stopped_run(std::vector<std::string> arguments, int signal) const
    {
        int out[2];
        EXPECT_EQ(pipe(out), 0);
        const pid_t child = fork();
        if (child == 0) {
            dup2(out[1], 1);
            dup2(open(folder_.file("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
            close(out[0]);
            std::vector<char *> argv{const_cast<char *>(ONSET_DETECT_PROGRAM)};
            for (std::string &argument : arguments) argv.push_back(argument.data());
            argv.push_back(nullptr);
            execv(ONSET_DETECT_PROGRAM, argv.data());
            _exit(127);
        }
        close(out[1]);
        std::string text;
        char buffer[4096];
        bool signalled = false;
        for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) {
            text.append(buffer, static_cast<size_t>(n));
            // The header and the first event's rows.
            if (!signalled && detect_test::count_lines(text) > 2) signalled = kill(child, signal) == 0;
        }
        close(out[0]);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(signalled);
        return {status, text};
    }
};

size_t count(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Records of RFC 4180 text, each a list of fields.
std::vector<std::vector<std::string>> csv_records(const std::string &text)
{
    std::vector<std::vector<std::string>> records{{""}};
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"') records.back().back() += text[++i];
        else if (c == '"') quoted = !quoted;
        else if (!quoted && c == ',') records.back().emplace_back();
        else if (!quoted && c == '\n') records.push_back({""});
        else records.back().back() += c;
    }
    records.pop_back();  // after the last line feed
    return records;
}

TEST_F(DetectOutputs, OddCodesKeepEveryRowAndDocumentWhole)
{
    // Station codes with what CSV quotes and XML escapes, and what the reader
    // replaces by U+FFFD (a control character, whitespace, a byte that is no
    // UTF-8) before any output sees it.
    const std::vector<std::string> stations = {"A,1", "B\"2", "C\n3", "D&<", "E\x01", "F\t6", "G\xff", "H8"};
    const std::string replaced = "\xef\xbf\xbd";
    const std::vector<std::string> read_as = {"A,1", "B\"2", "C" + replaced + "3", "D&<", "E" + replaced,
                                              "F" + replaced + "6", "G" + replaced, "H8"};
    const std::vector<std::string> in_xml = {"A,1", "B&quot;2", "C" + replaced + "3", "D&amp;&lt;", "E" + replaced,
                                             "F" + replaced + "6", "G" + replaced, "H8"};
    std::vector<std::string> in_nlloc;
    for (size_t s = 0; s < 8; ++s) in_nlloc.push_back("XX_" + read_as[s] + (s == 7 ? "_00" : ""));
    const auto &network = detect_test::default_network();
    std::vector<detect_test::Segment> segments;
    for (size_t s = 0; s < 8; ++s)
        segments.push_back({"XX", stations[s], s == 7 ? "00" : "", "HHZ", detect_test::time_of(0), 100.0,
                            network.samples(s, 0, network.length())});
    detect_test::write_segments(folder_.file("odd.mseed"), segments);
    const std::string xml_path = folder_.file("e.xml"), obs_path = folder_.file("e.obs");
    const auto r = run("--csv --quakeml " + xml_path + " --nlloc " + obs_path + " " + folder_.file("odd.mseed"));
    ASSERT_EQ(r.status, 0) << r.err;

    const auto records = csv_records(r.out);
    ASSERT_GT(records.size(), 5u * 8);
    std::set<std::string> traces;
    for (const auto &record : records) {
        ASSERT_EQ(record.size(), 9u) << r.out;
        traces.insert(record[3]);
    }
    traces.erase("trace");
    std::set<std::string> ids;
    for (size_t s = 0; s < 8; ++s) ids.insert("XX." + read_as[s] + (s == 7 ? ".00" : ".") + ".HHZ");
    EXPECT_EQ(traces, ids);

    const std::string xml = detect_test::slurp(xml_path), obs = detect_test::slurp(obs_path);
    for (size_t s = 0; s < 8; ++s) {
        EXPECT_GE(count(xml, "stationCode=\"" + in_xml[s] + "\""), 5u) << in_xml[s];
        EXPECT_GE(count(obs, "\n" + in_nlloc[s] + " "), 5u) << in_nlloc[s];
    }
    // Every NonLinLoc pick line has the format's 14 fields.
    std::istringstream lines(obs);
    size_t pick_lines = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line.rfind("PUBLIC_ID ", 0) == 0) continue;
        std::istringstream fields(line);
        size_t n = 0;
        for (std::string field; fields >> field;) ++n;
        EXPECT_EQ(n, 14u) << line;
        ++pick_lines;
    }
    EXPECT_EQ(pick_lines, records.size() - 1);
    // In text, a code cannot break a pick's line.
    const auto text = run("--quiet " + folder_.file("odd.mseed"));
    EXPECT_EQ(detect_test::count_text_events(text.out), std::stoul(records.back()[0]));
    EXPECT_EQ(detect_test::count_lines(text.out), 2 * std::stoul(records.back()[0]) - 1 + records.size() - 1);
    EXPECT_NE(text.out.find("\n  XX.C" + replaced + "3..HHZ "), std::string::npos) << text.out;
}

TEST_F(DetectOutputs, FailedRunsLeaveNoFileAndStopAtTheFirstFailedWrite)
{
    // A run that fails leaves an older file as it was and no other behind.
    const std::string xml = folder_.file("e.xml");
    {
        std::ofstream(xml) << "older\n";
        std::ofstream(folder_.file("text.mseed")) << "no miniSEED\n";
    }
    const auto failed =
        run("--quakeml " + xml + " --nlloc " + folder_.file("e.obs") + " " + folder_.file("text.mseed"));
    EXPECT_EQ(failed.status, 2) << failed.err;
    EXPECT_EQ(detect_test::slurp(xml), "older\n");
    EXPECT_EQ(files(), (std::set<std::string>{"e.xml", "text.mseed"}));
    // A full device is said with its reason at the first event: stdout, written
    // first, holds that event's rows alone.
    const auto full = run("--demo --csv --nlloc /dev/full");
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.err, "onset-detect: --nlloc: cannot write '/dev/full': No space left on device\n");
    ASSERT_GT(full.out.size(), 0u);
    EXPECT_EQ(full.out.substr(full.out.rfind('\n', full.out.size() - 2) + 1, 2), "1,") << full.out;
    // So is a full stdout.
    const std::string command = std::string(ONSET_DETECT_PROGRAM) + " --demo --csv >/dev/full 2>" + folder_.file("stderr");
    EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), 1);
    EXPECT_EQ(detect_test::slurp(folder_.file("stderr")),
              "onset-detect: cannot write the output: No space left on device\n");
    // A finished run replaces the older file.
    ASSERT_EQ(run("--demo --quakeml " + xml).status, 0);
    EXPECT_EQ(detect_test::slurp(xml).rfind("<?xml", 0), 0u);
    EXPECT_EQ(files(), (std::set<std::string>{"e.xml", "text.mseed"}));
}

TEST_F(DetectOutputs, StopSignalsCloseEveryOutputWithTheEventsSoFar)
{
    for (const int signal : {SIGINT, SIGTERM}) {
        const std::string xml_path = folder_.file("e.xml"), obs_path = folder_.file("e.obs");
        // Long enough that the signal comes while it runs.
        const auto [status, csv] = stopped_run({"--demo", "--csv", "--chunk", "60", "--synthetic-duration", "1000000",
                                                "--quakeml", xml_path, "--nlloc", obs_path},
                                               signal);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        const std::string xml = detect_test::slurp(xml_path), obs = detect_test::slurp(obs_path);
        const size_t events = std::stoul(csv.substr(csv.rfind('\n', csv.size() - 2) + 1));
        EXPECT_LT(events, 1000u);
        EXPECT_EQ(count(xml, "<event "), events);
        EXPECT_EQ(xml.substr(xml.size() - 32), "</eventParameters>\n</q:quakeml>\n");
        EXPECT_EQ(count(obs, "PUBLIC_ID "), events);
        EXPECT_EQ(obs.substr(obs.size() - 2), "\n\n");
        EXPECT_EQ(files(), (std::set<std::string>{"e.obs", "e.xml"}));
    }
}

}  // namespace

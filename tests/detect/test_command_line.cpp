// The program as a user runs it: the default demo, --help, --csv, and every
// kind of bad input, which must end with status 2, a message naming the file
// or flag, and nothing on stdout.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>

#include "mseed_writer.h"
#include "temp_folder.h"

namespace {

struct Outcome {
    int status;
    std::string out, err;
};

std::string slurp(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class DetectCommandLine : public ::testing::Test {
protected:
    Outcome run(const std::string &arguments) const
    {
        const std::string out = folder_.file("stdout"), err = folder_.file("stderr");
        const std::string command =
            std::string(ONSET_DETECT_PROGRAM) + " " + arguments + " >" + out + " 2>" + err;
        const int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
    }
    void expect_refused(const std::string &arguments, const std::string &named) const
    {
        const Outcome r = run(arguments);
        EXPECT_EQ(r.status, 2) << arguments << "\n" << r.err;
        EXPECT_EQ(r.out, "") << arguments;
        EXPECT_NE(r.err.find(named), std::string::npos) << arguments << " said: " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    // A one-channel file of `samples` (100 Hz).
    std::string write(const std::string &name, std::vector<double> samples) const
    {
        const std::string path = folder_.file(name);
        detect_test::write_segments(path, {{"XX", "A", "", "HHZ", 1704067200000000LL, 100.0, std::move(samples)}});
        return path;
    }
    detect_test::TempFolder folder_;
};

TEST_F(DetectCommandLine, DefaultRunFindsTheSyntheticEvents)
{
    const Outcome r = run("");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("recall 5/5 (100%), false detections 0, glitches that became events 0 of 3"),
              std::string::npos) << r.out;
    // One line per event: earliest pick, station count, every station's pick.
    EXPECT_NE(r.out.find("2024-01-01T00:00:34.880Z  8 stations  XX.S01..HHZ=2024-01-01T00:00:35.650Z"),
              std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");

    const Outcome csv = run("--csv");
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(csv.out.rfind("event,earliest,stations,trace,pick,strength\n", 0), 0u);
    EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 1 + 5 * 8);
    EXPECT_NE(csv.out.find("\n1,2024-01-01T00:00:34.880Z,8,XX.S01..HHZ,2024-01-01T00:00:35.650Z,"),
              std::string::npos);
    EXPECT_NE(csv.err.find("recall 5/5"), std::string::npos);
}

TEST_F(DetectCommandLine, HelpExplainsEveryFlag)
{
    const Outcome r = run("--help");
    ASSERT_EQ(r.status, 0);
    for (const char *flag : {"--fmin HZ", "--fmax HZ", "--kurtosis-window S", "--threshold X",
                             "--tolerance S", "--min-stations K", "--csv", "--voices", "--jump-window",
                             "--dead-time", "--quiet", "--synthetic-stations", "--write-synthetic"})
        EXPECT_NE(r.out.find(flag), std::string::npos) << flag;
}

TEST_F(DetectCommandLine, WrittenNetworkGivesTheDefaultEvents)
{
    ASSERT_EQ(run("--write-synthetic " + folder_.file("")).status, 0);
    const Outcome from_files = run("--quiet " + folder_.file("*.mseed"));
    ASSERT_EQ(from_files.status, 0) << from_files.err;
    const Outcome synthetic = run("");
    EXPECT_EQ(synthetic.out.substr(0, synthetic.out.find("\n\n") + 1), from_files.out);
}

TEST_F(DetectCommandLine, BadInputIsRefusedWithStatus2)
{
    const std::string missing = folder_.file("missing.mseed");
    expect_refused(missing, missing);

    const std::string empty = folder_.file("empty.mseed");
    std::ofstream(empty).close();
    expect_refused(empty, empty);

    const std::string text = folder_.file("notes.txt");
    std::ofstream(text) << std::string(5000, 'x') << "\n";
    expect_refused(text, text);

    std::vector<double> noise(6000);
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = std::sin(0.7 * static_cast<double>(i * i));
    const std::string good = write("good.mseed", noise);
    // A good file does not rescue a bad one: nothing is printed.
    expect_refused(good + " " + text, text);

    const std::string short_trace = write("short.mseed", std::vector<double>(150, 1.0));
    expect_refused(short_trace, short_trace);
    expect_refused(good + " --kurtosis-window 40", "--kurtosis-window");

    const std::string all_nan =
        write("nan.mseed", std::vector<double>(6000, std::numeric_limits<double>::quiet_NaN()));
    expect_refused(all_nan, all_nan);

    expect_refused(good + " --fmax 50", "--fmax");
    expect_refused(good + " --fmin 0.01", "--fmin");
    expect_refused("--fmax 60", "--fmax");
    expect_refused("--fmin 20 --fmax 10", "--fmin");
    expect_refused("--threshold x", "--threshold");
    expect_refused("--tolerance -1", "--tolerance");
    expect_refused("--min-stations 2.5", "--min-stations");
    expect_refused("--kurtosis-window", "--kurtosis-window");
    expect_refused("--no-such-flag", "--no-such-flag");

    EXPECT_EQ(run("--quiet " + good).status, 0);
}

}  // namespace

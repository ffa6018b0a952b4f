// Live runs: onset-detect --seedlink against the test server gives the
// events of an offline run over the same records, through dropped
// connections too; a stop signal leaves whole outputs and the state; a
// silent station stops holding back the others. Records fed whole by a
// host, out of order and late.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <pugixml.hpp>
#include <random>
#include <sstream>
#include <thread>

#include "command_fixture.h"
#include "data_clock.h"
#include "miniseed.h"
#include "mseed_writer.h"
#include "onset_detect.h"
#include "seedlink_fixture.h"
#include "synthetic.h"

namespace {

using namespace std::chrono_literals;
using detect_test::SeedLinkServer;
using detect_test::slurp;

constexpr size_t record_length = 512;

// Waits until `done` holds, at most a minute, so that a fault cannot hang.
bool wait_for(const std::function<bool()> &done)
{
    for (const auto give_up = std::chrono::steady_clock::now() + 60s; std::chrono::steady_clock::now() < give_up;
         std::this_thread::sleep_for(50ms))
        if (done()) return true;
    return false;
}

// The station's number in each "NET.STA SEQUENCE" line of a state file.
std::map<std::string, uint64_t> read_state(const std::string &path)
{
    std::map<std::string, uint64_t> last;
    std::ifstream in(path);
    std::string station;
    uint64_t sequence;
    while (in >> station >> sequence) last[station] = sequence;
    return last;
}

// The built-in network as 512-byte records, a file per station; `cut`
// stations end after their first `kept` seconds.
class LiveRun : public detect_test::CommandLine {
protected:
    void write_network(double seconds, size_t cut = 0, double kept = 0.0)
    {
        const tool::SyntheticNetwork network(8, seconds);
        for (size_t s = 0; s < network.ids().size(); ++s) {
            const std::string &id = network.ids()[s];
            const auto length = s < cut ? static_cast<int64_t>(kept * tool::SyntheticNetwork::rate) : network.length();
            detect_test::Segment segment{"XX", id.substr(3, 3), "", "HHZ", tool::SyntheticNetwork::start,
                                         tool::SyntheticNetwork::rate, network.samples(s, 0, length)};
            const std::string path = folder_.file(id + ".mseed");
            detect_test::write_segments(path, {segment});
            files_.push_back(path);
            last_sequence_["XX." + segment.station] = std::filesystem::file_size(path) / record_length;
        }
    }

    std::vector<std::string> serve(std::vector<std::string> arguments) const
    {
        arguments.insert(arguments.end(), files_.begin(), files_.end());
        return arguments;
    }

    // onset-detect with these arguments, stdout and stderr to live.out and
    // live.err.
    pid_t start(std::vector<std::string> arguments) const
    {
        arguments.insert(arguments.begin(), ONSET_DETECT_PROGRAM);
        std::vector<char *> argv;
        for (std::string &word : arguments) argv.push_back(word.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, folder_.file("live.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, folder_.file("live.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        pid_t child = -1;
        EXPECT_EQ(posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        return child;
    }

    // Sends SIGTERM; the run must end by it, as the shell expects.
    void stop(pid_t child) const
    {
        kill(child, SIGTERM);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status << slurp(folder_.file("live.err"));
    }

    bool everything_taken(const std::string &state) const { return read_state(state) == last_sequence_; }

    // The events and picks of onset-detect over the files themselves.
    std::string offline_csv() const
    {
        std::string paths;
        for (const std::string &file : files_) paths += " " + file;
        const detect_test::Outcome offline = run("--csv --quiet" + paths);
        EXPECT_EQ(offline.status, 0) << offline.err;
        return offline.out;
    }

    // The live run of `server`'s records until the state says all were
    // taken: the same events as offline, whole outputs and the state.
    void expect_offline_events(const SeedLinkServer &server)
    {
        const std::string state = folder_.file("state"), picks = folder_.file("picks.csv"),
                          xml = folder_.file("events.xml");
        const pid_t live = start({"--seedlink", server.address(), "--channels", "XX.*..HHZ", "--csv", "--state", state,
                                  "--picks", picks, "--quakeml", xml, "--max-latency", "3600"});
        EXPECT_TRUE(wait_for([&] { return everything_taken(state); })) << slurp(folder_.file("live.err"));
        stop(live);
        const std::string events = slurp(folder_.file("live.out"));
        const std::string offline = offline_csv();
        EXPECT_EQ(events, offline);
        EXPECT_GE(detect_test::count_p_rows(events), 20u);
        EXPECT_EQ(read_state(state), last_sequence_);
        pugi::xml_document document;
        EXPECT_TRUE(document.load_file(xml.c_str())) << slurp(xml);
        EXPECT_EQ(document.select_nodes("//event").size(), std::stoul(events.substr(events.rfind('\n', events.size() - 2) + 1)));
        // Every pick of an event was written on its own before, once.
        const std::string pick_rows = slurp(picks);
        EXPECT_EQ(pick_rows.rfind("trace,pick,strength,phase,uncertainty,polarity\n", 0), 0u);
        std::istringstream rows(events);
        std::string row;
        std::getline(rows, row);
        while (std::getline(rows, row)) {
            const std::string pick = row.substr(row.find(',', row.find(',', row.find(',') + 1) + 1) + 1) + "\n";
            EXPECT_NE(pick_rows.find(pick), std::string::npos) << pick;
        }
    }

    std::vector<std::string> files_;
    std::map<std::string, uint64_t> last_sequence_;  // by station: the server numbers from 1
};

TEST_F(LiveRun, EventsEqualOfflineAndAStopLeavesWholeOutputsAndTheState)
{
    write_network(300);
    const SeedLinkServer server(serve({}));
    expect_offline_events(server);
}

TEST_F(LiveRun, TenDroppedConnectionsLoseAndRepeatNothing)
{
    write_network(300);
    const SeedLinkServer server(serve({"--drop-after", "300", "--drops", "10", "--lifetime", "120"}));
    expect_offline_events(server);
    const std::string said = slurp(folder_.file("live.err"));
    EXPECT_NE(said.find("reconnected to the SeedLink server (10 times so far)"), std::string::npos) << said;
}

TEST_F(LiveRun, ASilentStationHoldsBackTheOthersNoLongerThanTheMaxLatency)
{
    // S01 falls silent after 20 s; the others stream on for 30 s of wall
    // clock. Without the max latency no event after 20 s could be final
    // before the end of the run.
    write_network(300, 1, 20.0);
    const SeedLinkServer server(serve({"--speed", "10", "--lifetime", "120"}));
    const std::string state = folder_.file("state");
    const pid_t live = start({"--seedlink", server.address(), "--channels", "XX.*..HHZ", "--csv", "--state", state,
                              "--max-latency", "10"});
    const auto after_silence = [&] {
        const std::string csv = slurp(folder_.file("live.out"));
        return csv.find(",2024-01-01T00:01:") != std::string::npos;
    };
    EXPECT_TRUE(wait_for(after_silence)) << slurp(folder_.file("live.err"));
    // The state is a second old at most: the others were still streaming.
    const std::map<std::string, uint64_t> taken = read_state(state);
    EXPECT_LT(taken.at("XX.S02"), last_sequence_.at("XX.S02"));
    stop(live);
}

TEST_F(LiveRun, LocatesAsAnOfflineRunDoes)
{
    write_network(300);
    const tool::SyntheticNetwork network(8, 300);
    const std::string stations = folder_.file("stations.csv"), model = folder_.file("model.csv");
    std::ofstream(stations) << network.stations_csv();
    std::ofstream(model) << tool::SyntheticNetwork::model_csv();
    const SeedLinkServer server(serve({}));
    const std::string state = folder_.file("state"), origins = folder_.file("origins.csv");
    const pid_t live = start({"--seedlink", server.address(), "--channels", "XX.*..HHZ", "--csv", "--state", state,
                              "--max-latency", "3600", "--stations", stations, "--velocity-model", model, "--origins",
                              origins});
    EXPECT_TRUE(wait_for([&] { return everything_taken(state); })) << slurp(folder_.file("live.err"));
    stop(live);
    std::string paths;
    for (const std::string &file : files_) paths += " " + file;
    const std::string offline_origins = folder_.file("offline.csv");
    const detect_test::Outcome offline = run("--csv --quiet --stations " + stations + " --velocity-model " + model +
                                             " --origins " + offline_origins + paths);
    ASSERT_EQ(offline.status, 0) << offline.err;
    EXPECT_EQ(slurp(folder_.file("live.out")), offline.out);
    EXPECT_EQ(slurp(origins), slurp(offline_origins));
    EXPECT_GE(std::count(offline.out.begin(), offline.out.end(), '\n'), 20);
}

TEST_F(LiveRun, MistakenFlagsAndAnUnreachableServerAreRefused)
{
    expect_refused("--seedlink 127.0.0.1:1 --channels 'XX.*..HHZ' --origins o.csv", "--origins: locating needs");
    expect_refused("--state s --demo", "--state: belongs to a live run");
    expect_refused("--seedlink 127.0.0.1:1 --channels 'XX.*' x.mseed", "give no other input");
    expect_refused("--seedlink 127.0.0.1:1", "--seedlink needs --channels");
    expect_refused("--seedlink 127.0.0.1:1 --channels 'XX.*..HHZ' --end 2024-01-01", "--start and --end");
    expect_refused("--seedlink 127.0.0.1:1 --channels 'XX.*..HHZ'", "--seedlink: cannot connect");
}

TEST(DataClock, TheMedianChannelTellsTheDataTimeAndAWrongClockIsOutvoted)
{
    detect::DataClock clock;
    EXPECT_EQ(clock.now(0), INT64_MIN);
    // Data of 2024 arriving with a monotonic clock near 1e9 us, 2 s late;
    // one station a day ahead.
    const int64_t data = 1704067200000000, wall = 1000000000, late = 2000000, day = 86400000000;
    clock.heard("XX.S01..HHZ", data, wall + late);
    clock.heard("XX.S02..HHZ", data + 500000, wall + late + 500000);
    clock.heard("XX.S03..HHZ", data + day, wall + late);
    EXPECT_EQ(clock.now(wall + 10000000), data + 10000000 - late);
    // An older record (late, repeated) does not move it back.
    clock.heard("XX.S02..HHZ", data - 5000000, wall + 9000000);
    EXPECT_EQ(clock.now(wall + 10000000), data + 10000000 - late);
    // Of two, the one further behind.
    detect::DataClock two;
    two.heard("A", data, wall);
    two.heard("B", data + 3000000, wall);
    EXPECT_EQ(two.now(wall), data);
}

// A host's records, the channels taking turns at random before each advance,
// give the events of the records in time order without any advance; a
// station's records that come after the advance passed them are left out,
// with one warning.
TEST_F(LiveRun, RecordsFedWholeInAnyTurnGiveTheSameEventsAndLateOnesAreLeftOut)
{
    write_network(300);
    struct Record {
        std::string id, bytes;
        int64_t start;
    };
    std::vector<Record> records;
    for (const std::string &path : files_) {
        std::ifstream in(path, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (size_t at = 0; at < bytes.size(); at += record_length) {
            std::vector<char> record(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                     bytes.begin() + static_cast<std::ptrdiff_t>(at + record_length));
            reading::RecordHeader header{};
            std::vector<double> samples;
            std::vector<std::string> said;
            ASSERT_EQ(reading::decode_record(record, header, samples, said), "");
            records.push_back({header.id, bytes.substr(at, record_length), header.start});
        }
    }
    std::stable_sort(records.begin(), records.end(), [](const Record &a, const Record &b) { return a.start < b.start; });
    // Stretches of 10 s by the records' starts.
    const int64_t stretch = 10000000;
    const auto stretch_of = [&](const Record &r) { return (r.start - tool::SyntheticNetwork::start) / stretch; };
    const int64_t stretches = stretch_of(records.back()) + 1;
    struct Outcome {
        std::vector<std::string> event_picks, picks, warnings;
    };
    onset_detect_options options;
    onset_detect_defaults(&options);
    // `late`: the station whose records of stretches 10 to 12 come after the
    // advance past stretch 12.
    const auto run_records = [&](bool in_turns, const std::string &late) {
        Outcome outcome;
        onset_run *run = onset_run_create(&options, nullptr, 0.0, nullptr, 0);
        EXPECT_EQ(onset_run_keep_picks(run), 0);
        const auto text = [&](const onset_pick &pick) {
            return std::string(onset_run_channel_id(run, pick.channel)) + " " + static_cast<char>(pick.phase) + " " +
                   std::to_string(pick.time);
        };
        const auto take = [&] {
            onset_pick pick;
            while (onset_run_next_pick(run, &pick) == 1) outcome.picks.push_back(text(pick));
            onset_event event;
            while (onset_run_next_event(run, &event) == 1)
                for (int32_t p = 0; p < event.pick_count; ++p) outcome.event_picks.push_back(text(event.picks[p]));
            while (const char *line = onset_run_next_warning(run)) outcome.warnings.push_back(line);
        };
        const auto feed = [&](const Record &r) {
            EXPECT_EQ(onset_run_feed_record(run, r.bytes.data(), r.bytes.size()), 0) << onset_run_message(run);
        };
        std::mt19937 random(11);
        std::vector<const Record *> held;
        for (int64_t s = 0; s < stretches; ++s) {
            std::map<std::string, std::deque<const Record *>> turns;
            for (const Record &r : records)
                if (stretch_of(r) == s) {
                    if (r.id == late && s >= 10 && s <= 12) held.push_back(&r);
                    else turns[r.id].push_back(&r);
                }
            while (!turns.empty()) {
                auto next = turns.begin();
                if (in_turns) std::advance(next, std::uniform_int_distribution<size_t>(0, turns.size() - 1)(random));
                feed(*next->second.front());
                next->second.pop_front();
                if (next->second.empty()) turns.erase(next);
            }
            if (!in_turns) continue;
            EXPECT_EQ(onset_run_advance(run, tool::SyntheticNetwork::start + (s + 1) * stretch), 0);
            if (s == 12)
                for (const Record *r : held) feed(*r);
            take();
        }
        EXPECT_EQ(onset_run_finish(run), 0);
        take();
        onset_run_destroy(run);
        return outcome;
    };
    const Outcome in_order = run_records(false, "");
    const Outcome in_turns = run_records(true, "");
    EXPECT_GE(in_order.event_picks.size(), 20u);
    EXPECT_EQ(in_turns.event_picks, in_order.event_picks);
    EXPECT_EQ(in_turns.warnings, std::vector<std::string>{});
    // The picks handed out on their own: every pick of every event, once.
    std::vector<std::string> all = in_turns.picks, grouped = in_turns.event_picks;
    std::sort(all.begin(), all.end());
    std::sort(grouped.begin(), grouped.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
    EXPECT_TRUE(std::includes(all.begin(), all.end(), grouped.begin(), grouped.end()));

    // Bytes that are no record are left out with a warning; the run goes on.
    onset_run *run = onset_run_create(&options, nullptr, 0.0, nullptr, 0);
    const std::string junk(record_length, 'x');
    EXPECT_EQ(onset_run_feed_record(run, junk.data(), junk.size()), 0);
    const char *said = onset_run_next_warning(run);
    EXPECT_EQ(std::string(said ? said : "").rfind("a record is left out: ", 0), 0u) << said;
    EXPECT_EQ(onset_run_feed_record(run, records[0].bytes.data(), records[0].bytes.size()), 0);
    onset_run_destroy(run);

    const Outcome late = run_records(true, "XX.S05..HHZ");
    ASSERT_EQ(late.warnings.size(), 1u);
    EXPECT_EQ(late.warnings[0].rfind("XX.S05..HHZ: records from 2024-01-01T00:01:4", 0), 0u) << late.warnings[0];
    EXPECT_NE(late.warnings[0].find(" came after the run had moved on to 2024-01-01T00:02:10.000000Z"),
              std::string::npos)
        << late.warnings[0];
}

}  // namespace

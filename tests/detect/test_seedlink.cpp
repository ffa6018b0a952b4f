// The SeedLink client against the test server: every record once and in
// order, through dropped connections and restarts, in both protocol
// versions; selection by patterns; clear errors.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <map>
#include <random>

#include "mseed_writer.h"
#include "seedlink_client.h"
#include "seedlink_fixture.h"
#include "temp_folder.h"

namespace {

using namespace reading::seedlink;
using namespace std::chrono_literals;
using detect_test::SeedLinkServer;

constexpr size_t record_length = 512;
const std::vector<std::string> channel_ids = {"XX.S01..HHZ", "XX.S01..HHN", "XX.S02..HHZ",
                                              "XX.S02..HHN", "XX.S03.00.HHZ", "XX.S03.00.HHN"};

// A file per channel; what the server must deliver of it is its records,
// in file order.
class SeedLinkTest : public ::testing::Test {
protected:
    SeedLinkTest()
    {
        std::mt19937 random(7);
        std::normal_distribution<double> noise;
        for (const std::string &id : channel_ids) {
            const std::string path = folder_.file(id + ".mseed");
            std::vector<std::string> codes(1);
            for (char c : id) {
                if (c == '.') codes.emplace_back();
                else codes.back() += c;
            }
            detect_test::Segment segment{codes[0], codes[1], codes[2], codes[3], 1'600'000'000'000'000, 100.0, {}};
            for (int i = 0; i < 1500; ++i) segment.samples.push_back(noise(random));
            detect_test::write_segments(path, {segment});
            files_.push_back(path);
            std::ifstream in(path, std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            for (size_t at = 0; at < bytes.size(); at += record_length)
                expected_[id].push_back(bytes.substr(at, record_length));
        }
    }

    std::vector<std::string> serve(std::vector<std::string> arguments) const
    {
        arguments.insert(arguments.end(), files_.begin(), files_.end());
        return arguments;
    }

    size_t expected_count(const std::vector<std::string> &ids) const
    {
        size_t count = 0;
        for (const std::string &id : ids) count += expected_.at(id).size();
        return count;
    }

    static SeedLinkOptions options(const SeedLinkServer &server, const std::string &channels, int version)
    {
        SeedLinkOptions o;
        o.server = server.address();
        o.channels = channels;
        o.version = version;
        o.first_retry = 5ms;
        o.last_retry = 50ms;
        return o;
    }

    // At most `count` records, bounded in time so that a fault cannot hang.
    static std::vector<SeedLinkRecord> receive(SeedLinkClient &client, size_t count)
    {
        std::vector<SeedLinkRecord> got;
        SeedLinkRecord record;
        for (const auto give_up = Clock::now() + 30s; got.size() < count && Clock::now() < give_up;)
            if (client.next(record, Clock::now() + 100ms)) got.push_back(record);
        return got;
    }

    // The records of `ids`, each once and in order, and nothing else.
    void expect_delivered(const std::vector<SeedLinkRecord> &got, const std::vector<std::string> &ids) const
    {
        std::map<std::string, std::vector<std::string>> by_channel;
        for (const SeedLinkRecord &r : got) {
            by_channel[r.id].emplace_back(r.bytes.begin(), r.bytes.end());
            EXPECT_EQ(r.station, r.id.substr(0, 6));
        }
        std::map<std::string, std::vector<std::string>> wanted;
        for (const std::string &id : ids) wanted[id] = expected_.at(id);
        EXPECT_EQ(by_channel.size(), wanted.size());
        for (const auto &[id, records] : wanted) EXPECT_TRUE(by_channel[id] == records) << id;
    }

    // Whole stations taken: their numbers follow each other by one.
    static void expect_consecutive(const std::vector<SeedLinkRecord> &got, int version)
    {
        std::map<std::string, uint64_t> last;
        for (const SeedLinkRecord &r : got) {
            if (last.count(r.station)) {
                EXPECT_EQ((r.sequence - last[r.station]) & sequence_mask(version), 1u) << r.station;
            }
            last[r.station] = r.sequence;
        }
    }

    detect_test::TempFolder folder_;
    std::vector<std::string> files_;
    std::map<std::string, std::vector<std::string>> expected_;
};

TEST_F(SeedLinkTest, EveryRecordOnceAndInOrderThenKeepalivesAnswered)
{
    for (int version : {3, 4}) {
        const SeedLinkServer server(serve({"--version", "4"}));
        SeedLinkOptions o = options(server, "XX.S0?.*.HH?", version);
        o.keepalive = 20ms;
        SeedLinkClient client(o);
        EXPECT_EQ(client.version(), version);
        const std::vector<SeedLinkRecord> got = receive(client, expected_count(channel_ids));
        expect_delivered(got, channel_ids);
        expect_consecutive(got, version);
        // INFO answers to keepalives are no records.
        SeedLinkRecord extra;
        EXPECT_FALSE(client.next(extra, Clock::now() + 300ms)) << extra.id;
        EXPECT_GT(client.keepalives(), 0);
        EXPECT_EQ(client.reconnections(), 0) << client.last_problem();
    }
}

TEST_F(SeedLinkTest, TenDroppedConnectionsLoseAndRepeatNothing)
{
    for (int version : {3, 4}) {
        const SeedLinkServer server(serve({"--version", std::to_string(version), "--drop-after", "13", "--drops", "10"}));
        SeedLinkClient client(options(server, "XX.S01..HH?,XX.S02..HH?,XX.S03.00.HH?", 4));
        EXPECT_EQ(client.version(), version);
        const std::vector<SeedLinkRecord> got = receive(client, expected_count(channel_ids));
        expect_delivered(got, channel_ids);
        expect_consecutive(got, version);
        EXPECT_EQ(client.reconnections(), 10);
        EXPECT_NE(client.last_problem().find("closed the connection"), std::string::npos) << client.last_problem();
    }
}

TEST_F(SeedLinkTest, RestartResumesFromTheStateFile)
{
    // Version 3 numbers start near their wrap to cross it; one wildcard
    // station resumes from its earliest station and skips what the others took.
    for (int version : {3, 4}) {
        const std::string state = folder_.file("state" + std::to_string(version));
        const SeedLinkServer server(serve({"--version", std::to_string(version), "--first-sequence", "16777150"}));
        SeedLinkOptions o = options(server, "XX.*.*.*", version);
        o.state_file = state;
        std::vector<SeedLinkRecord> got;
        for (size_t part : {101, 57}) {
            SeedLinkClient client(o);
            const std::vector<SeedLinkRecord> some = receive(client, part);
            EXPECT_EQ(some.size(), part);
            got.insert(got.end(), some.begin(), some.end());
        }
        SeedLinkClient client(o);
        const std::vector<SeedLinkRecord> rest = receive(client, expected_count(channel_ids) - got.size());
        got.insert(got.end(), rest.begin(), rest.end());
        expect_delivered(got, channel_ids);
        expect_consecutive(got, version);
        std::ifstream saved(state);
        std::string station;
        uint64_t sequence = 0;
        int stations = 0;
        while (saved >> station >> sequence) ++stations;
        EXPECT_EQ(stations, 3);
    }
}

TEST_F(SeedLinkTest, PatternsSelectChannels)
{
    for (int version : {3, 4}) {
        const SeedLinkServer server(serve({"--version", "4"}));
        SeedLinkClient client(options(server, "XX.S01..HHZ,XX.S03.00.HH?,XX.S0[2].*.HHN", version));
        const std::vector<std::string> chosen = {"XX.S01..HHZ", "XX.S02..HHN", "XX.S03.00.HHZ", "XX.S03.00.HHN"};
        expect_delivered(receive(client, expected_count(chosen)), chosen);
        SeedLinkRecord extra;
        EXPECT_FALSE(client.next(extra, Clock::now() + 200ms)) << extra.id;
    }
}

TEST_F(SeedLinkTest, ClearErrorsWhenNoLinkCanBeMade)
{
    const auto error_of = [](const SeedLinkOptions &o) {
        try {
            SeedLinkClient client(o);
        } catch (const SeedLinkError &e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    const SeedLinkServer server(serve({}));
    SeedLinkOptions o = options(server, "XX.S09..HHZ", 3);
    EXPECT_NE(error_of(o).find("refused 'STATION S09 XX'"), std::string::npos) << error_of(o);
    o.channels = "XX.S01";
    EXPECT_NE(error_of(o).find("'XX.S01' is not a NET.STA.LOC.CHA pattern"), std::string::npos) << error_of(o);
    o.channels = "XX.S01..HHZ";
    o.server = "nonexistent.invalid:18000";
    EXPECT_NE(error_of(o).find("cannot find the SeedLink server nonexistent.invalid:18000"), std::string::npos)
        << error_of(o);
    // A port nobody listens on: one just released.
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr *>(&address), size), 0);
    ASSERT_EQ(getsockname(probe, reinterpret_cast<sockaddr *>(&address), &size), 0);
    close(probe);
    o.server = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    EXPECT_NE(error_of(o).find("Connection refused"), std::string::npos) << error_of(o);
    std::ofstream(folder_.file("broken")) << "XX.S01 twelve\n";
    o.state_file = folder_.file("broken");
    EXPECT_NE(error_of(o).find("is not 'NET.STA SEQUENCE'"), std::string::npos) << error_of(o);
}

// Packets built by hand: every prefix asks for more bytes, the whole is
// read with its fields, and bytes that are no packet are refused.
TEST(SeedLinkPackets, ReadWholeOrNotAtAll)
{
    std::string record(512, ' ');
    record.replace(8, 12, "S01  00HHZXX");
    const std::string v3 = "SL00A1B2" + record;
    const std::string info = "SLINFO *" + record;
    const auto little = [](uint64_t value, int bytes) {
        std::string text;
        for (int i = 0; i < bytes; ++i) text += static_cast<char>(value >> (8 * i) & 0xFF);
        return text;
    };
    const std::string v4 = "SE2D" + little(512, 4) + little(0x1122334455667788, 8) + char(6) + "XX_S01" + record;
    const std::string json = "SEJI" + little(2, 4) + little(0, 8) + char(0) + "{}";
    const struct {
        const std::string *bytes;
        int version;
        bool is_record;
        uint64_t sequence;
    } cases[] = {{&v3, 3, true, 0xA1B2}, {&info, 3, false, 0}, {&v4, 4, true, 0x1122334455667788}, {&json, 4, false, 0}};
    for (const auto &c : cases) {
        Packet packet;
        for (size_t prefix = 0; prefix < c.bytes->size(); ++prefix)
            ASSERT_EQ(parse_packet(c.bytes->data(), prefix, c.version, packet), 0u) << prefix;
        const std::string twice = *c.bytes + *c.bytes;
        ASSERT_EQ(parse_packet(twice.data(), twice.size(), c.version, packet), c.bytes->size());
        EXPECT_EQ(packet.record, c.is_record);
        if (!c.is_record) continue;
        EXPECT_EQ(packet.sequence, c.sequence);
        EXPECT_EQ(std::string(packet.payload, packet.length), record);
        EXPECT_EQ(record_id(packet.payload), "XX.S01.00.HHZ");
    }
    Packet packet;
    EXPECT_THROW(parse_packet(v4.data(), v4.size(), 3, packet), SeedLinkError);
    EXPECT_THROW(parse_packet(v3.data(), v3.size(), 4, packet), SeedLinkError);
    std::string no_number = v3;
    no_number[4] = 'G';
    EXPECT_THROW(parse_packet(no_number.data(), no_number.size(), 3, packet), SeedLinkError);
}

}  // namespace

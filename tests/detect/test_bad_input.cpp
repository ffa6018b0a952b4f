// Reading damaged or misplaced input: every good record is read, every bad
// one is told with its file, byte offset and reason, and nothing blocks.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>

#include "command_fixture.h"
#include "mseed_writer.h"
#include "network_fixture.h"
#include "onset_detect.h"

namespace {

using detect_test::Segment;

constexpr size_t record_bytes = 512, per_record = 57;  // the test writer's FLOAT64 records

std::vector<char> file_bytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void put_file(const std::string &path, const std::vector<char> &bytes)
{
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Writes a 16-bit header field in the byte order the record's year is in.
void put16(std::vector<char> &bytes, size_t record, size_t field, int value)
{
    char *at = bytes.data() + record * record_bytes;
    const bool big = static_cast<unsigned char>(at[20]) == 0x07;  // 2024 = 0x07E8
    const auto v = static_cast<uint16_t>(value);
    at[field + (big ? 0 : 1)] = static_cast<char>(v >> 8);
    at[field + (big ? 1 : 0)] = static_cast<char>(v & 0xFF);
}

// Every chunk the reader hands out, by sample index from t0, and the warnings.
struct ReadBack {
    std::map<int64_t, double> samples;
    std::string warnings;
    std::vector<std::string> ids;
};

ReadBack read_all(const std::vector<std::string> &files, int64_t t0)
{
    std::vector<const char *> paths;
    for (const std::string &f : files) paths.push_back(f.c_str());
    char message[512];
    onset_reader *reader = onset_reader_open(paths.data(), paths.size(), nullptr, INT64_MIN, INT64_MAX, message,
                                             sizeof message);
    ReadBack back;
    if (!reader) {
        ADD_FAILURE() << message;
        return back;
    }
    onset_chunk chunk;
    while (onset_reader_next_chunk(reader, INT64_MAX, &chunk) == 1) {
        back.ids.emplace_back(chunk.id);
        for (size_t i = 0; i < chunk.count; ++i)
            back.samples[(chunk.start - t0) / 10000 + static_cast<int64_t>(i)] = chunk.samples[i];
    }
    while (const char *line = onset_reader_next_warning(reader)) back.warnings += std::string(line) + "\n";
    onset_reader_close(reader);
    return back;
}

class DetectBadInput : public detect_test::CommandLine {};

TEST_F(DetectBadInput, DamagedRecordsAreToldAndCostNothingElse)
{
    // 41 records of one channel; a few of them damaged in one of the ways
    // headers go wrong. The others read back exactly; each damaged one is
    // told with its byte offset.
    const int64_t t0 = detect_test::time_of(0);
    const size_t records = 41;
    std::mt19937_64 random(7);
    for (int trial = 0; trial < 24; ++trial) {
        std::vector<double> x(records * per_record);
        for (double &v : x) v = static_cast<double>(static_cast<int64_t>(random() % 20001) - 10000) / 8;
        const std::string path = folder_.file("damaged" + std::to_string(trial) + ".mseed");
        detect_test::write_segments(path, {{"XX", "DMG", "", "HHZ", t0, 100.0, x}});
        std::vector<char> bytes = file_bytes(path);
        ASSERT_EQ(bytes.size(), records * record_bytes);
        std::set<size_t> damaged;
        for (size_t n = 1 + random() % 4; damaged.size() < n;) damaged.insert(random() % records);
        for (size_t k : damaged) {
            switch (random() % 8) {
            case 0: put16(bytes, k, 20, 9999); break;                               // year
            case 1: put16(bytes, k, 22, random() % 2 ? 0 : 999); break;             // day of year
            case 2: put16(bytes, k, 30, 65535); break;                              // samples past the end
            case 3: put16(bytes, k, 44, random() % 2 ? 500 : 20); break;            // data offset
            case 4: put16(bytes, k, 32, -32768), put16(bytes, k, 34, -32768); break;  // rate 1e-9 Hz
            case 5: put16(bytes, k, 32, 32767), put16(bytes, k, 34, 32767); break;    // rate 1e9 Hz
            case 6: bytes[k * record_bytes + 24] = 25; break;                       // hour
            default:
                for (size_t b = 0; b < record_bytes; ++b) bytes[k * record_bytes + b] = static_cast<char>(random());
            }
        }
        put_file(path, bytes);
        const ReadBack back = read_all({path}, t0);
        std::map<int64_t, double> expected;
        for (size_t k = 0; k < records; ++k)
            for (size_t i = 0; !damaged.count(k) && i < per_record; ++i)
                expected[static_cast<int64_t>(k * per_record + i)] = x[k * per_record + i];
        EXPECT_EQ(back.samples, expected) << "trial " << trial;
        for (size_t k : damaged) {
            const std::string offset = std::to_string(k * record_bytes);
            EXPECT_TRUE(back.warnings.find("the record at byte " + offset + " is left out: ") != std::string::npos ||
                        back.warnings.find("bytes " + offset + " to ") != std::string::npos)
                << "trial " << trial << " record " << k << "\n" << back.warnings;
        }
    }
}

TEST_F(DetectBadInput, MisfiledDayFilesGiveTheSameEvents)
{
    // The network across midnight in day files; one station's two days
    // swapped, another's last hour of day 1 filed in day 2.
    const auto &network = detect_test::default_network();
    const int64_t shift = 86400LL * 1000000 - 150LL * 1000000, midnight = 15000;
    const auto part = [&](size_t s, int64_t begin, int64_t end) {
        Segment seg{"XX", network.ids()[s].substr(3, 3), "", "HHZ", detect_test::time_of(begin) + shift, 100.0, {}};
        seg.samples = network.samples(s, begin, end - begin);
        return seg;
    };
    const auto archive = [&](const std::string &root, bool misfiled) {
        for (size_t s = 0; s < 8; ++s) {
            const std::string station = network.ids()[s].substr(3, 3);
            const std::string folder = folder_.file(root + "/2024/XX/" + station + "/HHZ.D");
            std::filesystem::create_directories(folder);
            const auto day = [&](int d) { return folder + "/XX." + station + "..HHZ.D.2024.00" + std::to_string(d); };
            std::vector<Segment> one{part(s, 0, midnight)}, two{part(s, midnight, network.length())};
            if (misfiled && s == 3) std::swap(one, two);
            if (misfiled && s == 5) two.insert(two.begin(), part(s, 0, 9000)), one = {part(s, 9000, midnight)};
            detect_test::write_segments(day(1), one);
            detect_test::write_segments(day(2), two);
        }
    };
    archive("right", false);
    archive("wrong", true);
    const auto right = run("--quiet --csv --sds " + folder_.file("right"));
    const auto wrong = run("--quiet --csv --sds " + folder_.file("wrong"));
    ASSERT_EQ(right.status, 0) << right.err;
    ASSERT_EQ(wrong.status, 0) << wrong.err;
    EXPECT_EQ(right.err, "");
    EXPECT_EQ(wrong.out, right.out);
    for (const char *named : {"XX.S04..HHZ in '", "XX.S04..HHZ.D.2024.001': records from",
                              "XX.S06..HHZ.D.2024.002': records from 2024-01-01T23:57:30.000000Z to",
                              "lie outside the file's day 2024-01-02; they are read in their place"})
        EXPECT_NE(wrong.err.find(named), std::string::npos) << named << "\n" << wrong.err;
}

TEST_F(DetectBadInput, OverlapsThatDifferAreToldWithChannelSpanAndFile)
{
    const int64_t t0 = detect_test::time_of(0);
    std::vector<double> x(3000);
    for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<double>((i * 7919) % 1000);
    const auto part = [&](size_t begin, size_t end) {
        return Segment{"XX", "OVL", "", "HHZ", t0 + static_cast<int64_t>(begin) * 10000, 100.0,
                       std::vector<double>(x.begin() + static_cast<std::ptrdiff_t>(begin),
                                           x.begin() + static_cast<std::ptrdiff_t>(end))};
    };
    detect_test::write_segments(folder_.file("a.mseed"), {part(0, 2000)});
    detect_test::write_segments(folder_.file("same.mseed"), {part(1000, 3000)});  // agrees where it overlaps
    Segment other = part(1500, 2500);
    for (size_t i = 200; i < 300; ++i) other.samples[i] += 1;  // samples 1700..1799 differ
    detect_test::write_segments(folder_.file("other.mseed"), {other});

    const ReadBack same = read_all({folder_.file("a.mseed"), folder_.file("same.mseed")}, t0);
    EXPECT_EQ(same.warnings, "");
    const ReadBack differ = read_all({folder_.file("a.mseed"), folder_.file("other.mseed")}, t0);
    EXPECT_EQ(differ.warnings, "XX.OVL..HHZ: samples from 2024-01-01T00:00:17.000000Z to 2024-01-01T00:00:17.990000Z "
                               "differ between '" + folder_.file("a.mseed") + "' and '" + folder_.file("other.mseed") +
                                   "'; the first read are kept\n");
    // The summary gives the channel's overlapped and missing samples.
    detect_test::write_segments(folder_.file("later.mseed"), {part(2500, 3000)});  // 500 after a.mseed's end
    const auto summary = [&](const std::string &files) {
        const auto r = run("--min-stations 1 " + files);
        EXPECT_EQ(r.status, 0) << r.err;
        return r.err;
    };
    const std::string overlapped = summary(folder_.file("a.mseed") + " " + folder_.file("same.mseed"));
    EXPECT_NE(overlapped.find("\nonset-detect: XX.OVL..HHZ: 0 samples missing, 1000 overlapped\n"), std::string::npos)
        << overlapped;
    const std::string missing = summary(folder_.file("a.mseed") + " " + folder_.file("later.mseed"));
    EXPECT_NE(missing.find("\nonset-detect: XX.OVL..HHZ: 500 samples missing, 0 overlapped\n"), std::string::npos)
        << missing;
}

TEST_F(DetectBadInput, WarningsOfChannelsReadSideBySideComeInOneOrder)
{
    // Four channels whose overlapping files differ, read on two threads:
    // their warnings come in the order of the channels' ids, every time.
    const int64_t t0 = detect_test::time_of(0);
    std::vector<Segment> first, second;
    for (const char *station : {"D", "B", "C", "A"}) {
        std::vector<double> x(3000);
        for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<double>((i * 7919) % 1000);
        first.push_back({"XX", station, "", "HHZ", t0, 100.0, std::vector<double>(x.begin(), x.begin() + 2000)});
        std::vector<double> y(x.begin() + 1000, x.end());
        y[500] += 1;
        second.push_back({"XX", station, "", "HHZ", t0 + 1000 * 10000, 100.0, y});
    }
    detect_test::write_segments(folder_.file("first.mseed"), first);
    detect_test::write_segments(folder_.file("second.mseed"), second);
    const std::string command = "OMP_NUM_THREADS=2 " + std::string(ONSET_DETECT_PROGRAM) + " --quiet --min-stations 1 " +
                                folder_.file("first.mseed") + " " + folder_.file("second.mseed") + " 2>" +
                                folder_.file("err") + " >/dev/null";
    std::string said;
    for (int repeat = 0; repeat < 4; ++repeat) {
        ASSERT_EQ(std::system(command.c_str()), 0);
        const std::string err = detect_test::slurp(folder_.file("err"));
        if (repeat == 0) said = err;
        EXPECT_EQ(err, said);
    }
    size_t at = 0;
    for (const char *station : {"XX.A..HHZ: samples", "XX.B..HHZ: samples", "XX.C..HHZ: samples", "XX.D..HHZ: samples"}) {
        const size_t found = said.find(station);
        ASSERT_NE(found, std::string::npos) << station << "\n" << said;
        EXPECT_GE(found, at) << said;
        at = found;
    }
}

TEST_F(DetectBadInput, CodesAndNamesAreMadeValidText)
{
    const int64_t t0 = detect_test::time_of(0);
    const std::string odd = folder_.file("name\xff.mseed");
    detect_test::write_segments(odd, {{"XX", "A\xff" "B", "", "HHZ", t0, 100.0, std::vector<double>(100, 1.0)},
                                      {"XX", "C\nD", "", "HHZ", t0, 100.0, std::vector<double>(100, 1.0)}});
    const ReadBack back = read_all({odd}, t0);
    EXPECT_EQ(back.ids, (std::vector<std::string>{"XX.A\xEF\xBF\xBD" "B..HHZ", "XX.C\xEF\xBF\xBD" "D..HHZ"}));
    EXPECT_NE(back.warnings.find("name\xEF\xBF\xBD.mseed': the codes of XX.A\xEF\xBF\xBD" "B..HHZ hold control "
                                 "characters or bytes that are not UTF-8 text"),
              std::string::npos)
        << back.warnings;
    EXPECT_EQ(back.warnings.find('\xff'), std::string::npos);
}

TEST_F(DetectBadInput, PipesAndFoldersAreNamedAndNothingWaits)
{
    // A FIFO without a writer: opening it must not wait for one.
    const std::string fifo = folder_.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const char *paths[] = {fifo.c_str()};
    char message[256] = "";
    EXPECT_EQ(onset_reader_open(paths, 1, nullptr, INT64_MIN, INT64_MAX, message, sizeof message), nullptr);
    EXPECT_NE(std::string(message).find("it is a pipe: pipes are not supported"), std::string::npos) << message;

    // In an archive: a FIFO and a folder where day files should be.
    const std::string folder = folder_.file("sds/2024/XX/S01/HHZ.D");
    std::filesystem::create_directories(folder + "/XX.S01..HHZ.D.2024.002");
    ASSERT_EQ(mkfifo((folder + "/XX.S01..HHZ.D.2024.001").c_str(), 0600), 0);
    const auto r = run("--sds " + folder_.file("sds"));
    EXPECT_NE(r.err.find("XX.S01..HHZ.D.2024.001' left out: it is a pipe"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("XX.S01..HHZ.D.2024.002' left out: it is a folder, not a file"), std::string::npos) << r.err;
}

TEST_F(DetectBadInput, ARecordDecadesAheadCostsNoSlicesBetween)
{
    // Slices no record reaches are skipped on the same grid: the events are
    // those of 7 s slices stepped through 76 years (which would take hours).
    const int64_t t0 = detect_test::time_of(0), later = t0 + 76LL * 365 * 86400 * 1000000;
    const std::string file = folder_.file("ahead.mseed");
    std::vector<double> x(3000);
    for (size_t i = 0; i < x.size(); ++i) x[i] = std::sin(0.3 * static_cast<double>(i)) * static_cast<double>(i % 7);
    detect_test::write_segments(file, {{"XX", "A", "", "HHZ", t0, 100.0, x},
                                       {"XX", "A", "", "HHZ", later, 100.0, std::vector<double>(x.begin(), x.begin() + 57)}});
    const auto whole = run("--csv --min-stations 1 " + file), sliced = run("--csv --min-stations 1 --chunk 7 " + file);
    ASSERT_EQ(whole.status, 0) << whole.err;
    EXPECT_EQ(sliced.out, whole.out);
}

TEST_F(DetectBadInput, NullHandlesAndOutputsAreRefused)
{
    char message[128];
    int64_t begin = 1, end = 1;
    onset_chunk chunk;
    EXPECT_EQ(onset_reader_open(nullptr, 2, nullptr, 0, 1, message, sizeof message), nullptr);
    onset_reader_span(nullptr, &begin, &end);
    EXPECT_EQ(begin, end);
    EXPECT_EQ(onset_reader_next_chunk(nullptr, 0, &chunk), ONSET_DETECT_INVALID);
    onset_reader_finish(nullptr);
    EXPECT_EQ(onset_reader_next_warning(nullptr), nullptr);
    EXPECT_STREQ(onset_reader_message(nullptr), "no reader");
    onset_reader_close(nullptr);

    const std::string file = folder_.file("one.mseed");
    detect_test::write_segments(file, {{"XX", "A", "", "HHZ", detect_test::time_of(0), 100.0, {1.0, 2.0}}});
    const char *paths[] = {file.c_str()};
    onset_reader *reader = onset_reader_open(paths, 1, nullptr, INT64_MIN, INT64_MAX, message, sizeof message);
    ASSERT_NE(reader, nullptr) << message;
    EXPECT_EQ(onset_reader_next_chunk(reader, INT64_MAX, nullptr), ONSET_DETECT_INVALID);
    onset_reader_close(reader);

    EXPECT_EQ(onset_writer_open(nullptr, "XX.A..HHZ", 100.0, message, sizeof message), nullptr);
    EXPECT_EQ(onset_writer_open(file.c_str(), nullptr, 100.0, message, sizeof message), nullptr);
    EXPECT_EQ(onset_writer_open(file.c_str(), "XX.A..HHZ", 0.0, message, sizeof message), nullptr);
    EXPECT_EQ(onset_writer_write(nullptr, 0, nullptr, 0), ONSET_DETECT_INVALID);
    onset_writer *writer = onset_writer_open(file.c_str(), "XX.A..HHZ", 100.0, message, sizeof message);
    ASSERT_NE(writer, nullptr) << message;
    EXPECT_EQ(onset_writer_write(writer, 0, nullptr, 5), ONSET_DETECT_INVALID);
    EXPECT_EQ(onset_writer_close(writer, nullptr, 0), 0);
    EXPECT_EQ(onset_writer_close(nullptr, nullptr, 0), 0);
}

}  // namespace

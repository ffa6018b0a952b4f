// The golden capture cases, block for block and flag for flag.
#include "golden.h"
#include "test_captures_harness.h"

#include <string>

namespace {

using capture_test::Capture;
using capture_test::CaptureInput;
using onset_test::GoldenCase;

std::vector<uint8_t> bytes_of(const std::vector<std::string> &words)
{
    std::vector<uint8_t> bytes;
    for (const std::string &w : words)
        bytes.push_back(static_cast<uint8_t>(std::stoi(w)));
    return bytes;
}

TEST(CapturesGolden, MatchBitForBit)
{
    ONSET_REQUIRE_GOLDEN();
    onset_test::for_each_golden_case("captures.txt", "captures", [](const GoldenCase &golden) {
        CaptureInput input;
        int32_t expected_count = -1;
        std::vector<Capture> expected;
        std::vector<std::vector<uint8_t>> taken_after;
        int32_t declared = 0;
        double tolerance = 0.0;
        std::vector<double> times;
        for (const onset_test::GoldenRow &row : golden.rows) {
            if (row.tag == "trace") {
                declared = std::stoi(row.words.at(0));
                tolerance = onset_test::sample_from_hex(row.words.at(1));
            } else if (row.tag == "times") {
                times = onset_test::samples_from_hex(row.words);
            } else if (row.tag == "taken") {
                input.add_trace(times, tolerance, bytes_of(row.words), declared);
            } else if (row.tag == "G") {
                expected_count = std::stoi(row.words.at(0));
                taken_after = input.taken;
            } else if (row.tag == "capture") {
                Capture capture;
                for (std::size_t w = 1; w < row.words.size(); ++w) {
                    const std::string &slot = row.words[w];
                    const std::size_t colon = slot.find(':');
                    capture.emplace_back(std::stoi(slot.substr(0, colon)),
                                         std::stoi(slot.substr(colon + 1)));
                }
                ASSERT_EQ(capture.size(), static_cast<std::size_t>(std::stoi(row.words.at(0))));
                expected.push_back(std::move(capture));
            } else if (row.tag == "taken_after") {
                const auto trace = static_cast<std::size_t>(std::stoi(row.words.at(0)));
                taken_after.at(trace) = bytes_of({row.words.begin() + 1, row.words.end()});
            }
        }
        ASSERT_EQ(std::stoi(golden.head.at(1)), input.traces());
        const capture_test::CaptureRun run = capture_test::run_checked(input);
        EXPECT_EQ(run.returned, expected_count);
        EXPECT_EQ(run.captures, expected);
        // Traces without a taken_after row keep their flags as they were.
        EXPECT_EQ(input.taken, taken_after);
    });
}

} // namespace

// Reading the golden result files, and the loop over their cases.
#include "golden.h"

#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

namespace onset_test {

const GoldenRow *GoldenCase::row(const std::string &tag) const
{
    for (const GoldenRow &r : rows)
        if (r.tag == tag)
            return &r;
    return nullptr;
}

std::optional<std::string> golden_dir()
{
    struct stat info {};
    if (stat(ONSET_GOLDEN_DIR, &info) == 0 && S_ISDIR(info.st_mode))
        return std::string(ONSET_GOLDEN_DIR);
    return std::nullopt;
}

std::vector<GoldenCase> load_golden(const std::string &file, const std::string &function)
{
    const auto dir = golden_dir();
    if (!dir)
        return {};
    std::ifstream in(*dir + "/" + file);
    if (!in)
        throw std::runtime_error("cannot open golden file " + file);
    std::vector<GoldenCase> cases;
    bool keep = false;
    std::string text;
    for (int line = 1; std::getline(in, text); ++line) {
        if (text.empty() || text[0] == '#')
            continue;
        std::istringstream words(text);
        GoldenRow row;
        words >> row.tag;
        for (std::string w; words >> w;)
            row.words.push_back(w);
        if (row.tag == "case") {
            keep = function.empty() || (!row.words.empty() && row.words[0] == function);
            if (keep)
                cases.push_back(GoldenCase{row.words, {}, line});
        } else if (keep) {
            cases.back().rows.push_back(std::move(row));
        }
    }
    return cases;
}

void for_each_golden_case(const std::string &file, const std::string &function,
                          const std::function<void(const GoldenCase &)> &check)
{
    const std::vector<GoldenCase> cases = load_golden(file, function);
    if (cases.empty())
        ADD_FAILURE() << file << " holds no case of " << function;
    for (const GoldenCase &c : cases) {
        SCOPED_TRACE(file + " line " + std::to_string(c.line));
        check(c);
    }
}

double sample_from_hex(const std::string &bits)
{
    const std::uint64_t raw = std::stoull(bits, nullptr, 16);
    double value;
    std::memcpy(&value, &raw, sizeof value);
    return value;
}

std::vector<double> samples_from_hex(const std::vector<std::string> &words)
{
    std::vector<double> samples;
    samples.reserve(words.size());
    for (const std::string &w : words)
        samples.push_back(sample_from_hex(w));
    return samples;
}

::testing::AssertionResult same_samples(const std::vector<double> &expected, const double *actual)
{
    const std::size_t i = first_difference(expected.data(), actual, expected.size());
    if (i == expected.size())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "sample " << i << " of " << expected.size() << " is " << actual[i] << " (bits "
           << std::hex << bits_of(actual[i]) << "), want " << expected[i] << " (bits "
           << bits_of(expected[i]) << std::dec << ")";
}

} // namespace onset_test

#include "golden.h"

#include <cmath>
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

std::uint64_t bits_of(double value)
{
    std::uint64_t raw;
    std::memcpy(&raw, &value, sizeof raw);
    return raw;
}

bool same_sample(double expected, double actual)
{
    if (std::isnan(expected) || std::isnan(actual))
        return std::isnan(expected) && std::isnan(actual);
    return bits_of(expected) == bits_of(actual);
}

} // namespace onset_test

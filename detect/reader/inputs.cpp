// Channel patterns, file lists and the SDS layout.
#include "inputs.h"

#include <fnmatch.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <tuple>

namespace reading {

namespace fs = std::filesystem;

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t days_from_civil(int64_t year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned year_of_era = static_cast<unsigned>(year - era * 400);
    const unsigned day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + static_cast<int64_t>(day_of_era) - 719468;
}

bool leap(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Reads `width` digits at text[at] into `value`.
bool digits(const std::string &text, size_t &at, size_t width, int64_t &value)
{
    value = 0;
    for (size_t i = 0; i < width; ++i, ++at) {
        if (at >= text.size() || !std::isdigit(static_cast<unsigned char>(text[at]))) return false;
        value = value * 10 + (text[at] - '0');
    }
    return true;
}

std::vector<std::string> split(const std::string &text, char separator)
{
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == separator) parts.emplace_back();
        else parts.back() += c;
    }
    return parts;
}

}  // namespace

ChannelSelection::ChannelSelection(const std::string &patterns)
{
    for (const std::string &pattern : split(patterns, ','))
        if (!pattern.empty()) patterns_.push_back(pattern);
}

bool ChannelSelection::takes(const std::string &id) const
{
    if (patterns_.empty()) return true;
    return std::any_of(patterns_.begin(), patterns_.end(),
                       [&](const std::string &p) { return fnmatch(p.c_str(), id.c_str(), 0) == 0; });
}

std::vector<std::string> list_files(const std::vector<std::string> &paths)
{
    std::vector<std::string> files;
    for (const std::string &path : paths) {
        std::error_code error;
        const fs::file_status status = fs::status(path, error);
        if (error) throw ReadError("cannot open '" + path + "': " + error.message());
        if (!fs::is_directory(status)) {
            if (!std::ifstream(path, std::ios::binary))
                throw ReadError("cannot open '" + path + "': " + std::strerror(errno));
            files.push_back(path);
            continue;
        }
        std::vector<std::string> found;
        fs::recursive_directory_iterator walk(path, fs::directory_options::skip_permission_denied, error);
        if (error) throw ReadError("cannot read the folder '" + path + "': " + error.message());
        for (const auto &entry : walk)
            if (entry.is_regular_file(error)) found.push_back(entry.path().string());
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    }
    return files;
}

std::vector<DayFile> list_archive(const std::string &root, const ChannelSelection &selection, Microseconds start,
                                  Microseconds end)
{
    std::error_code error;
    if (!fs::is_directory(root, error)) throw ReadError("'" + root + "' is not a folder");
    std::vector<DayFile> days;
    const auto folders = [](const fs::path &parent) {
        std::vector<fs::path> children;
        std::error_code unreadable;
        for (const auto &entry : fs::directory_iterator(parent, unreadable))
            if (entry.is_directory(unreadable)) children.push_back(entry.path());
        return children;
    };
    for (const fs::path &year : folders(root)) {
        const std::string year_name = year.filename().string();
        if (year_name.size() != 4 || !std::all_of(year_name.begin(), year_name.end(), ::isdigit)) continue;
        for (const fs::path &network : folders(year))
            for (const fs::path &station : folders(network))
                for (const fs::path &channel : folders(station)) {
                    std::error_code unreadable;
                    for (const auto &entry : fs::directory_iterator(channel, unreadable)) {
                        const std::vector<std::string> parts = split(entry.path().filename().string(), '.');
                        if (parts.size() != 7 || parts[5] != year_name || parts[6].size() != 3) continue;
                        const std::string id = parts[0] + "." + parts[1] + "." + parts[2] + "." + parts[3];
                        size_t at = 0;
                        int64_t y = 0, day_of_year = 0;
                        if (!digits(parts[5], at, 4, y)) continue;
                        at = 0;
                        if (!digits(parts[6], at, 3, day_of_year) || day_of_year < 1 ||
                            day_of_year > 365 + leap(y) || !selection.takes(id))
                            continue;
                        const Microseconds day = (days_from_civil(y, 1, 1) + day_of_year - 1) * day_length;
                        if (day + day_length > start && day < end) days.push_back({entry.path().string(), id, day});
                    }
                }
    }
    std::sort(days.begin(), days.end(), [](const DayFile &a, const DayFile &b) {
        return std::tie(a.day, a.id, a.path) < std::tie(b.day, b.id, b.path);
    });
    return days;
}

}  // namespace reading

// Channel patterns, file lists and the SDS layout.
#include "inputs.h"

#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <tuple>

namespace reading {

namespace fs = std::filesystem;

namespace {

bool leap(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

bool all_digits(const std::string &text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

// The first microsecond of a day of a year, UTC.
Microseconds day_start(int64_t year, int64_t day_of_year)
{
    std::tm parts{};
    parts.tm_year = static_cast<int>(year - 1900);
    parts.tm_mday = static_cast<int>(day_of_year);  // timegm carries it into the months
    return static_cast<Microseconds>(timegm(&parts)) * 1000000;
}

}  // namespace

std::vector<std::string> split(const std::string &text, char separator)
{
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == separator) parts.emplace_back();
        else parts.back() += c;
    }
    return parts;
}

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

std::FILE *open_regular_file(const std::string &path, std::string &problem)
{
    // Without O_NONBLOCK, opening a FIFO waits for a writer that may never come.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) {
        problem = std::strerror(errno);
        return nullptr;
    }
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        problem = S_ISDIR(status.st_mode)    ? "it is a folder, not a file"
                  : S_ISFIFO(status.st_mode) ? "it is a pipe: pipes are not supported, save the data to a file"
                                             : "it is not a regular file";
        ::close(descriptor);
        return nullptr;
    }
    std::FILE *file = ::fdopen(descriptor, "rb");
    if (!file) {
        problem = std::strerror(errno);
        ::close(descriptor);
    }
    return file;
}

std::vector<std::string> list_files(const std::vector<std::string> &paths)
{
    std::vector<std::string> files;
    for (const std::string &path : paths) {
        std::error_code error;
        const fs::file_status status = fs::status(path, error);
        if (error) throw ReadError("cannot open '" + path + "': " + error.message());
        if (!fs::is_directory(status)) {
            std::string problem;
            std::FILE *file = open_regular_file(path, problem);
            if (!file) throw ReadError("cannot read '" + path + "': " + problem);
            std::fclose(file);
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
        if (year_name.size() != 4 || !all_digits(year_name)) continue;
        for (const fs::path &network : folders(year))
            for (const fs::path &station : folders(network))
                for (const fs::path &channel : folders(station)) {
                    std::error_code unreadable;
                    for (const auto &entry : fs::directory_iterator(channel, unreadable)) {
                        const std::vector<std::string> parts = split(entry.path().filename().string(), '.');
                        if (parts.size() != 7 || parts[5] != year_name || parts[6].size() != 3) continue;
                        const std::string id = parts[0] + "." + parts[1] + "." + parts[2] + "." + parts[3];
                        if (!all_digits(parts[6])) continue;
                        const int64_t y = std::stoll(parts[5]), day_of_year = std::stoll(parts[6]);
                        if (day_of_year < 1 || day_of_year > 365 + leap(y) || !selection.takes(id)) continue;
                        const Microseconds day = day_start(y, day_of_year);
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

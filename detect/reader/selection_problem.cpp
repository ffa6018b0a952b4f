// Probing the input again without the patterns and the times tells which of
// them left nothing. A reader indexes its files only to open, so this costs
// one more pass over the headers, on a run that would fail anyway.
#include "selection_problem.h"

#include <filesystem>
#include <limits>
#include <optional>
#include <set>
#include <utility>

#include "inputs.h"
#include "reader.h"
#include "time_text.h"

namespace reading {

namespace {

constexpr Microseconds no_start = std::numeric_limits<Microseconds>::min();
constexpr Microseconds no_end = std::numeric_limits<Microseconds>::max();

using Span = std::pair<Microseconds, Microseconds>;

// The input, as the flags name it.
struct Input {
    const std::vector<std::string> &paths;
    const std::string &root;
};

// The span of what the input holds of `channels` from start to end, or
// nothing when the reader finds none of it.
std::optional<Span> held(const Input &input, const std::string &channels, Microseconds start, Microseconds end)
{
    try {
        const Reader reader = input.root.empty() ? Reader(input.paths, channels, start, end)
                                                 : Reader(input.root, channels, start, end);
        if (reader.begin() >= reader.end()) return std::nullopt;
        return Span{reader.begin(), reader.end()};
    } catch (const ReadError &) {
        return std::nullopt;
    }
}

// A time to the millisecond, as onset-detect writes the times it is given.
std::string millisecond_text(Microseconds time)
{
    const std::string text = time_text(time);
    return text.substr(0, text.size() - 4) + "Z";
}

// NET.STA.LOC.CHA of the day files of an archive's latest year, in order.
std::set<std::string> archive_channels(const std::string &root)
{
    namespace fs = std::filesystem;
    std::error_code error;
    std::string latest;
    for (const fs::directory_entry &year : fs::directory_iterator(root, error)) {
        const std::string name = year.path().filename().string();
        if (year.is_directory(error) && name.size() == 4 && name > latest) latest = name;
    }
    std::set<std::string> ids;
    if (latest.empty()) return ids;
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(fs::path(root) / latest, error)) {
        if (entry.is_directory(error)) continue;
        // NET.STA.LOC.CHA.TYPE.YEAR.DAY: the first four fields.
        const std::string name = entry.path().filename().string();
        size_t dot = 0;
        for (int field = 0; field < 4 && dot != std::string::npos; ++field) dot = name.find('.', dot + 1);
        if (dot != std::string::npos) ids.insert(name.substr(0, dot));
    }
    return ids;
}

std::string some_of(const std::set<std::string> &ids)
{
    constexpr size_t named = 6;
    std::string text;
    size_t n = 0;
    for (const std::string &id : ids) {
        if (n++ == named) break;
        text += (text.empty() ? "" : ", ") + id;
    }
    if (ids.size() > named) text += " and " + std::to_string(ids.size() - named) + " more";
    return text;
}

}  // namespace

std::string selection_problem(const std::vector<std::string> &paths, const std::string &root,
                              const std::string &channels, Microseconds start, Microseconds end)
{
    const Input input{paths, root};
    const bool timed = start != no_start || end != no_end;
    if (channels.empty() && !timed) return "";
    const std::optional<Span> everything = held(input, "", no_start, no_end);
    if (!everything) return "";
    const std::optional<Span> chosen = held(input, channels, no_start, no_end);
    if (!chosen) {
        std::string said = "--channels '" + channels + "' matches no channel in the input";
        if (!root.empty()) {
            const std::set<std::string> ids = archive_channels(root);
            if (!ids.empty()) said += "; '" + root + "' holds " + some_of(ids);
        }
        return said;
    }
    if (held(input, channels, start, end)) return "";
    const bool both = start != no_start && end != no_end;
    const std::string flags = both ? "--start and --end" : start != no_start ? "--start" : "--end";
    const std::string from = start == no_start ? "its beginning" : millisecond_text(start);
    const std::string to = end == no_end ? "its end" : millisecond_text(end);
    return flags + ": the input holds nothing from " + from + " to " + to + "; " +
           (channels.empty() ? "it spans " : "its channels that match --channels span ") +
           millisecond_text(chosen->first) + " to " + millisecond_text(chosen->second);
}

}  // namespace reading

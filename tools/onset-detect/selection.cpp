// Probing the input again without the patterns and the times tells which of
// them left nothing. The reader indexes its files only to open, so this
// costs one more pass over the headers, on a run that would fail anyway.
#include "selection.h"

#include <filesystem>
#include <limits>
#include <optional>
#include <set>
#include <utility>

#include "event_writer.h"

namespace tool {

namespace {

constexpr Microseconds no_start = std::numeric_limits<Microseconds>::min();
constexpr Microseconds no_end = std::numeric_limits<Microseconds>::max();

using Span = std::pair<Microseconds, Microseconds>;

// The span of what the input holds of `channels` from start to end, or
// nothing when the reader finds none of it.
std::optional<Span> held(const Options &options, const std::string &channels, Microseconds start, Microseconds end)
{
    char message[512];
    onset_reader *reader;
    if (options.sds.empty()) {
        std::vector<const char *> names;
        for (const std::string &path : options.inputs) names.push_back(path.c_str());
        reader = onset_reader_open(names.data(), names.size(), channels.c_str(), start, end, message, sizeof message);
    } else {
        reader = onset_reader_open_sds(options.sds.c_str(), channels.c_str(), start, end, message, sizeof message);
    }
    if (!reader) return std::nullopt;
    Span span;
    onset_reader_span(reader, &span.first, &span.second);
    onset_reader_close(reader);
    if (span.first >= span.second) return std::nullopt;
    return span;
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

void refuse_empty_selection(const Options &options)
{
    const bool timed = options.start != no_start || options.end != no_end;
    if (options.channels.empty() && !timed) return;
    const std::optional<Span> everything = held(options, "", no_start, no_end);
    if (!everything) return;
    const std::optional<Span> chosen = held(options, options.channels, no_start, no_end);
    if (!chosen) {
        std::string said = "--channels '" + options.channels + "' matches no channel in the input";
        if (!options.sds.empty()) {
            const std::set<std::string> ids = archive_channels(options.sds);
            if (!ids.empty()) said += "; '" + options.sds + "' holds " + some_of(ids);
        }
        throw InputError(said);
    }
    if (held(options, options.channels, options.start, options.end)) return;
    const bool both = options.start != no_start && options.end != no_end;
    const std::string flags = both ? "--start and --end" : options.start != no_start ? "--start" : "--end";
    const std::string from = options.start == no_start ? "its beginning" : iso_time(options.start);
    const std::string to = options.end == no_end ? "its end" : iso_time(options.end);
    throw InputError(flags + ": the input holds nothing from " + from + " to " + to + "; " +
                     (options.channels.empty() ? "it spans " : "its channels that match --channels span ") +
                     iso_time(chosen->first) + " to " + iso_time(chosen->second));
}

}  // namespace tool

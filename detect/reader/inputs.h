// What to read: files and folders, or the day files of an SDS archive,
// chosen by channel patterns and a time span.
#ifndef ONSET_DETECT_READER_INPUTS_H
#define ONSET_DETECT_READER_INPUTS_H

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "miniseed.h"

namespace reading {

// A path that cannot be read: the reader is not made.
struct ReadError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The parts of `text` between separators (one part when there is none).
std::vector<std::string> split(const std::string &text, char separator);

// NET.STA.LOC.CHA patterns with shell wildcards (*, ?, [...]), comma
// separated; an empty selection takes every channel.
class ChannelSelection {
public:
    ChannelSelection() = default;
    explicit ChannelSelection(const std::string &patterns);
    bool takes(const std::string &id) const;

private:
    std::vector<std::string> patterns_;
};

// The files named, and those under the folders named (recursively, in name
// order). Throws ReadError for a path that cannot be read or is no regular
// file (pipes and devices cannot be read twice, as records are).
std::vector<std::string> list_files(const std::vector<std::string> &paths);

// The file at `path` open for reading, or nullptr and why: also for a
// folder, a pipe or a device, without waiting for a FIFO's writer.
std::FILE *open_regular_file(const std::string &path, std::string &problem);

// One day file of an SDS archive:
// ROOT/YEAR/NET/STA/CHA.TYPE/NET.STA.LOC.CHA.TYPE.YEAR.DAY
struct DayFile {
    std::string path;
    std::string id;     // NET.STA.LOC.CHA
    Microseconds day;   // its day's first microsecond
};

// The archive's day files of the selected channels whose days meet
// [start, end), by day, then id. Throws ReadError when ROOT is no folder.
std::vector<DayFile> list_archive(const std::string &root, const ChannelSelection &selection,
                                  Microseconds start, Microseconds end);

constexpr Microseconds day_length = 86400LL * 1000000;

}  // namespace reading

#endif

// A --config file (TOML): the engine's options and the tool's channels and
// chunk at the top, per-station options in tables [stations."NET.STA"].
#ifndef ONSET_DETECT_TOOL_CONFIG_FILE_H
#define ONSET_DETECT_TOOL_CONFIG_FILE_H

#include <string>
#include <utility>
#include <vector>

#include "onset_detect.h"

namespace tool {

struct Options;

// One [stations."PATTERN"] table: option index and value, as the file gives them.
struct StationSection {
    std::string pattern;  // NET.STA with shell wildcards
    std::vector<std::pair<size_t, double>> values;
};

// The options of the stations a pattern matches.
struct StationOptions {
    std::string pattern;
    onset_detect_options options;
};

// Sets the file's top-level values in `options` and returns its station
// tables in the order of the file. Throws InputError naming the file, the
// line, the table and the key of an unknown key, a value of the wrong type
// or out of range, or a network option in a station's table.
std::vector<StationSection> read_config(const std::string &path, Options &options);

// Each station table over `top` (the file's top-level values and the flags
// over them); throws InputError naming the file and the table where the
// whole does not fit (fmin not below fmax).
std::vector<StationOptions> station_options(const std::string &path, const std::vector<StationSection> &sections,
                                            const onset_detect_options &top);

}  // namespace tool

#endif

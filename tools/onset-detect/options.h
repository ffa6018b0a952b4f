// Command-line settings of onset-detect.
#ifndef ONSET_DETECT_TOOL_OPTIONS_H
#define ONSET_DETECT_TOOL_OPTIONS_H

#include <limits>
#include <string>
#include <vector>

#include "config_file.h"
#include "inputs.h"
#include "onset_detect.h"

namespace tool {

// What a flag's value fills in; the defaults are the flags' defaults.
struct Options {
    onset_detect_options detector;  // the engine's settings
    std::string config;             // the --config file
    std::vector<StationOptions> stations;  // its per-station options, the last match winning
    bool csv = false;
    std::string quakeml;  // files the events also go to
    std::string nlloc;
    std::string picks;    // where each pick goes as soon as it is final
    bool quiet = false;       // no progress line
    double chunk = 600.0;     // s of every channel read before the engine works
    std::vector<std::string> inputs;  // files and folders

    // An SDS archive instead of files.
    std::string sds;
    std::string channels;  // NET.STA.LOC.CHA patterns, comma separated
    Microseconds start = std::numeric_limits<Microseconds>::min();
    Microseconds end = std::numeric_limits<Microseconds>::max();

    // A live SeedLink stream instead, until SIGINT or SIGTERM.
    std::string seedlink;      // HOST:PORT
    std::string state;         // the stations' last sequence numbers
    double max_latency = 30.0;  // s a silent channel holds back the others at most

    // The built-in network, run or written to an SDS archive.
    bool demo = false;
    std::string write_synthetic;
    double synthetic_duration = 300.0;  // s
    int synthetic_stations = 8;

    Options();
};

// What the command line asks for.
enum class Request { run, help, version };

// Parses argv; throws InputError naming the flag on a bad value.
Request parse_arguments(int argc, char **argv, Options &options);

// Sets what flag `name` (--chunk) sets from `text`, as on the command line;
// a bad value is an InputError that begins with `label`.
void set_flag(Options &options, const std::string &name, const std::string &label, const std::string &text);

// The text of --help.
std::string help_text();

}  // namespace tool

#endif

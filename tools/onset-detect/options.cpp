// The flags, each written once with its value's name, meaning and check:
// the tool's own, and the engine's from its table of options.
#include "options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "inputs.h"

namespace tool {

Options::Options() { onset_detect_defaults(&detector); }

namespace {

std::string number_text(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

double parse_number(const std::string &flag, const std::string &text)
{
    errno = 0;
    char *end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(value))
        throw InputError(flag + ": '" + text + "' is not a number");
    return value;
}

double in_range(const std::string &flag, const std::string &text, double lowest, double highest)
{
    const double value = parse_number(flag, text);
    if (value < lowest || value > highest)
        throw InputError(flag + ": must be from " + number_text(lowest) + " to " + number_text(highest) + ", got " +
                         text);
    return value;
}

using Setter = std::function<void(Options &, const std::string &flag, const std::string &value)>;

struct Flag {
    std::string name;   // --chunk
    std::string value;  // the value's name in the help, "" for a switch
    std::string help;
    Setter set;
};

struct Section {
    std::string title;
    std::vector<Flag> flags;
};

// The engine's option as a flag: --kurtosis-window for kurtosis_window.
Flag engine_flag(size_t index)
{
    const onset_option_info &option = *onset_detect_option(index);
    std::string name = std::string("--") + option.name;
    for (char &c : name)
        if (c == '_') c = '-';
    const std::string unit = option.unit;
    const bool integer = option.type != ONSET_OPTION_REAL;
    const std::string value = unit == "Hz" ? "HZ" : unit == "s" ? "S" : integer ? "N" : "X";
    std::string range;
    if (std::isfinite(option.highest))
        range = integer ? number_text(option.lowest) + " to " + number_text(option.highest) + ", "
                        : "at most " + number_text(option.highest) + ", ";
    const std::string help = std::string(option.help) + " (" + range + "default " +
                             number_text(option.default_value) + ")";
    return {name, value, help, [index](Options &o, const std::string &flag, const std::string &text) {
                const double number = parse_number(flag, text);
                char problem[256];
                if (onset_detect_option_check(index, number, problem, sizeof problem) != 0)
                    throw InputError(flag + ": " + problem + ", got " + text);
                onset_detect_option_set(&o.detector, index, number);
            }};
}

// "tolerance and min_stations": the options no station may set apart.
std::string network_options()
{
    std::vector<std::string> names;
    for (size_t i = 0; i < onset_detect_option_count(); ++i)
        if (onset_detect_option(i)->network) names.push_back(onset_detect_option(i)->name);
    std::string text;
    for (size_t n = 0; n < names.size(); ++n)
        text += (n == 0 ? "" : n + 1 == names.size() ? " and " : ", ") + names[n];
    return text;
}

std::vector<Section> sections()
{
    const Options defaults;
    std::vector<Flag> detection;
    for (size_t i = 0; i < onset_detect_option_count(); ++i) detection.push_back(engine_flag(i));
    return {
        {"settings file",
         {{"--config", "FILE",
           "read options from a TOML file: the detection options below by their names (threshold = 4, "
           "kurtosis_window = 1.5), channels and chunk, and a table per station pattern, [stations.\"XX.S0*\"] "
           "(NET.STA, shell wildcards), of detection options for the channels of the stations it matches; "
           "where several match, the last in the file wins. " + network_options() +
               " are the network's and cannot be set per station. Flags override the file's top-level values; a "
               "station's table still applies on top of them, being more specific",
           [](Options &o, auto &, auto &v) { o.config = v; }}}},
        {"input",
         {{"--sds", "ROOT", "read an SDS archive, ROOT/YEAR/NET/STA/CHA.TYPE/NET.STA.LOC.CHA.TYPE.YEAR.DAY, day by day",
           [](Options &o, auto &, auto &v) { o.sds = v; }},
          {"--start", "TIME",
           "first time to read, UTC (2024-03-01 or 2024-03-01T06:00:00Z; default: what the input holds)",
           [](Options &o, auto &f, auto &v) { o.start = parse_time(f, v); }},
          {"--end", "TIME", "time to stop reading before (default: the end)",
           [](Options &o, auto &f, auto &v) { o.end = parse_time(f, v); }},
          {"--channels", "PATTERNS",
           "NET.STA.LOC.CHA patterns with shell wildcards, comma separated (e.g. 'BW.*..?HZ'; default: all)",
           [](Options &o, auto &, auto &v) { o.channels = v; }},
          {"--chunk", "S",
           "seconds of every channel read before they are processed (default " + number_text(defaults.chunk) +
               "); results do not depend on it",
           [](Options &o, auto &f, auto &v) {
               o.chunk = parse_number(f, v);
               // A year at most: longer slices are typing errors.
               if (!(o.chunk > 0.0) || o.chunk > 86400.0 * 366)
                   throw InputError(f + ": must be above 0 and at most 31622400, got " + v);
           }}}},
        {"real time",
         {{"--seedlink", "HOST:PORT",
           "read a live SeedLink server (3.1, or 4 where offered; HOST alone: port 18000) instead of files: the "
           "stations and channels of --channels (required), every event and pick written as soon as it is final, "
           "until SIGINT or SIGTERM, which flush what came and close every output",
           [](Options &o, auto &, auto &v) { o.seedlink = v; }},
          {"--state", "FILE",
           "keep every station's last sequence number in FILE, read at the start and written every second and at "
           "the end, so that a restart resumes where the last run stopped, losing and repeating nothing",
           [](Options &o, auto &, auto &v) { o.state = v; }},
          {"--max-latency", "S",
           "seconds of wall-clock time a silent station holds back the others' results at most (default " +
               number_text(defaults.max_latency) +
               "); data it sends later for times passed by then are left out with a warning. Above the time a "
               "record spans plus its delay on the way",
           [](Options &o, auto &f, auto &v) { o.max_latency = in_range(f, v, 0.0, 1e6); }}}},
        {"detection", detection},
        {"location",
         {{"--stations", "FILE",
           "locate the events with the stations' coordinates in FILE: FDSN StationXML, or CSV with the columns "
           "network,station,latitude,longitude,elevation_m. Picks then become events by travel time: the picks one "
           "origin explains as P or S within 0.5 s (relabelled where need be), on min-stations stations with 5 "
           "phases at least; what no origin explains of a group stays an event, not located, where its P picks "
           "are on min-stations stations. A located event then picks, where a station lacks its P or S, the arrival "
           "within 1 s of the time its origin predicts, if one stands out there (strength 0). A channel without "
           "coordinates is picked but not located. With --write-synthetic: the file to write the network's stations "
           "to",
           [](Options &o, auto &, auto &v) { o.station_file = v; }},
          {"--velocity-model", "FILE",
           "the 1-D model to locate with: CSV with the columns depth_km,vp_km_s,vs_km_s, each row the top of a "
           "layer (km below sea level, increasing) (default: the crust of IASP91, 5.8/3.36 km/s, 6.5/3.75 from "
           "20 km, 8.04/4.47 from 35 km). With --write-synthetic: the file to write the network's model to",
           [](Options &o, auto &, auto &v) { o.velocity_model = v; }},
          {"--graded-model", "", "velocities vary linearly between the model's depths, rather than in layers",
           [](Options &o, auto &, auto &) { o.graded_model = true; }},
          {"--origins", "FILE",
           "also write the origins to FILE as CSV, one row per event: event,time,latitude,longitude,depth_km,"
           "horizontal_uncertainty_km,depth_uncertainty_km,rms_s,azimuthal_gap,phases,status (located, large gap "
           "or too few phases)",
           [](Options &o, auto &, auto &v) { o.origins = v; }}}},
        {"output",
         {{"--csv", "",
           "write CSV instead: one row per pick with the event's number, earliest pick and station count (the "
           "synthetic run's comparison then goes to stderr)",
           [](Options &o, auto &, auto &) { o.csv = true; }},
          {"--quakeml", "FILE",
           "also write the events to FILE as QuakeML 1.2: one event per detection with its picks, no origin",
           [](Options &o, auto &, auto &v) { o.quakeml = v; }},
          {"--nlloc", "FILE",
           "also write the picks to FILE in NonLinLoc's phase format, events apart by an empty line, to locate "
           "them",
           [](Options &o, auto &, auto &v) { o.nlloc = v; }},
          {"--picks", "FILE",
           "also write each pick to FILE as soon as it is final, before its event closes, for an associator: CSV "
           "rows trace,pick,strength,phase,uncertainty,polarity as in --csv; every pick made, also those no "
           "event takes",
           [](Options &o, auto &, auto &v) { o.picks = v; }},
          {"--quiet", "", "no progress line (shown only on a terminal) and no summary at the end on stderr",
           [](Options &o, auto &, auto &) { o.quiet = true; }}}},
        {"built-in synthetic network",
         {{"--demo", "", "run the built-in network instead of recordings and compare what is found with the truth",
           [](Options &o, auto &, auto &) { o.demo = true; }},
          {"--synthetic-stations", "N",
           "stations of the network, 3 to 1000 (default " + std::to_string(defaults.synthetic_stations) + ")",
           [](Options &o, auto &f, auto &v) {
               const double stations = in_range(f, v, 3.0, 1000.0);
               if (stations != std::floor(stations)) throw InputError(f + ": must be a whole number, got " + v);
               o.synthetic_stations = static_cast<int>(stations);
           }},
          {"--synthetic-duration", "S",
           "seconds of data, 100 to 31622400 (default " + number_text(defaults.synthetic_duration) + ")",
           // One event slot at least; a year at most.
           [](Options &o, auto &f, auto &v) { o.synthetic_duration = in_range(f, v, 100.0, 366.0 * 86400.0); }},
          {"--write-synthetic", "DIR",
           "write the network as an SDS archive under DIR (made if missing) instead of detecting",
           [](Options &o, auto &, auto &v) { o.write_synthetic = v; }}}},
    };
}

// `text` from column `indent`, in lines of at most 79 columns; the first
// line continues what is already `used` columns wide.
std::string wrapped(const std::string &text, size_t indent, size_t used)
{
    std::string out, line;
    size_t column = used;
    for (size_t at = 0; at < text.size();) {
        const size_t space = text.find(' ', at);
        const std::string word = text.substr(at, space == std::string::npos ? std::string::npos : space - at);
        at = space == std::string::npos ? text.size() : space + 1;
        if (column > indent && column + 1 + word.size() > 79) {
            out += "\n" + std::string(indent, ' ');
            column = indent;
        } else if (column > indent) {
            out += ' ';
            ++column;
        } else {
            out += std::string(indent - column, ' ');
            column = indent;
        }
        out += word;
        column += word.size();
    }
    return out + "\n";
}

const Flag &flag_named(const std::vector<Flag> &flags, const std::string &name)
{
    for (const Flag &flag : flags)
        if (flag.name == name) return flag;
    throw InputError(name + ": unknown option (see --help)");
}

std::vector<Flag> all_flags()
{
    std::vector<Flag> flags;
    for (Section &section : sections())
        for (Flag &flag : section.flags) flags.push_back(std::move(flag));
    return flags;
}

}  // namespace

void set_flag(Options &options, const std::string &name, const std::string &label, const std::string &text)
{
    flag_named(all_flags(), name).set(options, label, text);
}

std::string help_text()
{
    std::string text = R"(usage: onset-detect [options] file-or-folder ...
       onset-detect --sds ROOT [--start TIME] [--end TIME] [options]
       onset-detect --seedlink HOST:PORT --channels PATTERNS [--state FILE]
                    [--max-latency S] [--picks FILE] [options]
       onset-detect --demo [options]

Finds seismic events recorded at several stations. Each miniSEED channel
(NET.STA.LOC.CHA) is one trace; its records, from any number of files, are
taken in time order, gaps are left empty, and each trace keeps its own
sampling rate. Folders are searched for files recursively. Text (log)
channels are left out. --demo runs a built-in synthetic network instead and
compares what it finds with the truth.

Per trace: band-pass with Mexican-hat wavelets covering FMIN..FMAX, moving
kurtosis of the band-passed trace, onset strength = moving max-jump (rise) of
the kurtosis; an onset is a peak of the strength above the threshold whose
next second stands out of the noise before it. Its pick is the arrival
itself: the best split, by the Akaike information criterion, of the
band-passed samples within half a kurtosis window of the kurtosis rise. An
onset that begins a wave train is a P; the first clear rise inside the train
is its S, and the train's coda is dropped. Across traces: P picks within the
tolerance of one another form a capture (late stations and later waves of an
event join it); a capture on at least min-stations stations with one pick
that stands out by the event SNR is an event. Runs of 0.2 s or more of one
value (dead channels, filled gaps) are gaps. Data are processed as they are
read, so memory does not grow with the length of the recording, and each
event is written as soon as it is final.

Output: per event a line with its number, earliest P pick (UTC, ISO 8601,
ms), stations and picks, with --stations a line with its origin (time,
latitude, longitude, depth, uncertainties, RMS residual, azimuthal gap,
phases used), then one line per pick in time order (trace, phase, time,
uncertainty, strength, first motion up or down where it is clear, and where
located the phase taken and the residual), and a summary on stderr at the
end. With --csv one row per pick: event,earliest,stations,trace,pick,
strength,phase,uncertainty,polarity. The uncertainty (s) is the quality of a
pick: the farthest split on either side that fits the data as well (within
2 of the least AIC); 0.01 s at 100 Hz means a sharp onset, tenths of a
second an emergent one. The polarity (U, D or empty) is the first motion on
the raw samples of a sharp pick (0.05 s at most) whose first swing clearly
leaves the noise before it.
)";
    for (const Section &section : sections()) {
        text += "\n" + section.title + ":\n";
        for (const Flag &flag : section.flags) {
            const std::string shown = "  " + flag.name + (flag.value.empty() ? "" : " " + flag.value);
            text += shown + wrapped(flag.help, 26, shown.size());
        }
    }
    text += R"(
other:
  -h, --help              this text
  --version               the version

A channel that cannot be used (too short for the windows, a rate too low
for the band, all gaps, text only) is left out with a warning.

exit status: 0 on success; 1 when the output cannot be written or a system
error stops the run; 2 on bad flags, unreadable paths, no input, or when no
channel of the input can be used (message on stderr).
)";
    return text;
}

Request parse_arguments(int argc, char **argv, Options &options)
{
    const std::vector<Flag> flags = all_flags();
    // The flags are applied after the file, which they override.
    std::vector<std::pair<const Flag *, std::string>> given;
    bool only_inputs = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (only_inputs || arg.size() < 2 || arg[0] != '-') {
            options.inputs.push_back(arg);
            continue;
        }
        if (arg == "--") {
            only_inputs = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") return Request::help;
        if (arg == "--version") return Request::version;
        std::string value;
        const auto equals = arg.find('=');
        if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
            arg.resize(equals);
        }
        const Flag *flag = &flag_named(flags, arg);
        if (flag->value.empty()) {
            if (equals != std::string::npos) throw InputError(arg + ": takes no value");
        } else if (equals == std::string::npos) {
            if (i + 1 >= argc) throw InputError(arg + ": needs a value");
            value = argv[++i];
        }
        given.push_back({flag, value});
        if (flag->name == "--config") options.config = value;
    }
    std::vector<StationSection> sections;
    if (!options.config.empty()) sections = read_config(options.config, options);
    for (const auto &[flag, value] : given) flag->set(options, flag->name, value);
    char problem[256];
    if (onset_detect_check(&options.detector, problem, sizeof problem) != 0) throw InputError(problem);
    options.stations = station_options(options.config, sections, options.detector);
    if (options.start >= options.end) throw InputError("--start must be before --end");
    const auto given_flag = [&](const std::string &name) {
        for (const auto &[flag, value] : given)
            if (flag->name == name) return true;
        return false;
    };
    const bool locating = !options.station_file.empty();
    if (!locating && (!options.velocity_model.empty() || options.graded_model || !options.origins.empty()))
        throw InputError(std::string(!options.velocity_model.empty() ? "--velocity-model"
                                     : options.graded_model          ? "--graded-model"
                                                                     : "--origins") +
                         ": locating needs --stations FILE");
    if (options.seedlink.empty()) {
        for (const char *name : {"--state", "--max-latency"})
            if (given_flag(name)) throw InputError(std::string(name) + ": belongs to a live run: give --seedlink");
    } else {
        if (!options.sds.empty() || !options.inputs.empty() || options.demo || !options.write_synthetic.empty())
            throw InputError("--seedlink reads a live stream: give no other input besides it");
        if (given_flag("--start") || given_flag("--end"))
            throw InputError("--seedlink reads a live stream: --start and --end do not apply");
        if (options.channels.empty())
            throw InputError("--seedlink needs --channels: the NET.STA.LOC.CHA patterns to ask the server for");
        return Request::run;
    }
    const bool recordings = !options.sds.empty() || !options.inputs.empty();
    if (!options.sds.empty() && !options.inputs.empty())
        throw InputError("--sds reads an archive: give no input files besides it");
    if (!options.write_synthetic.empty() && (recordings || options.demo))
        throw InputError("--write-synthetic writes the built-in network: give no input besides it");
    if (options.demo && recordings) throw InputError("--demo runs the built-in network: give no input besides it");
    if (!options.write_synthetic.empty() && (options.graded_model || !options.origins.empty()))
        throw InputError("--write-synthetic writes the network's stations and model: no --graded-model or --origins");
    if (!recordings && !options.demo && options.write_synthetic.empty())
        throw InputError("no input: give miniSEED files or folders, --sds ROOT, or --demo for the built-in "
                         "synthetic network (see --help)");
    return Request::run;
}

}  // namespace tool

#include "options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>

#include "trace.h"

namespace detect {

std::string help_text()
{
    return R"(usage: onset-detect [options] [file.mseed ...]

Finds seismic events recorded at several stations. Each miniSEED channel
(NET.STA.LOC.CHA, from any number of files) is one trace; records of a channel
are joined in time order, with gaps left empty, and each trace keeps its own
sampling rate. Text channels (station logs) are left out. Without files it
runs a built-in synthetic network and compares what it finds with the truth.

Per trace: band-pass with Mexican-hat wavelets covering FMIN..FMAX, moving
kurtosis of the band-passed trace, onset strength = moving max-jump (rise) of
the kurtosis, onsets = local maxima of the strength above the threshold, at
most one per dead time. Across traces: onsets within the tolerance of one
another form a capture; a capture on at least K stations is an event.

Output: one line per event: earliest pick (UTC, ISO 8601, ms), number of
stations, then each trace's pick.

options:
  --fmin HZ             lower edge of the band, at about half power
                        (default 2)
  --fmax HZ             upper edge of the band, at about half power; below
                        the Nyquist frequency of every trace (default 20)
  --voices N            wavelet scales per octave, 1 to 32 (default 4)
  --kurtosis-window S   width of the moving-kurtosis window in seconds
                        (default 1)
  --jump-window S       width of the max-jump window over the kurtosis, in
                        seconds (default: the kurtosis window)
  --threshold X         rise of the kurtosis within the jump window that
                        makes an onset (default 8; Gaussian noise sits at 3
                        and its rises stay below 6, local events rise by 12
                        or more)
  --dead-time S         an onset suppresses further onsets of its trace for
                        S seconds (default 2)
  --tolerance S         picks on other traces within S seconds of the pick
                        on the capture's first trace join the capture
                        (default 2)
  --min-stations K      distinct stations (NET.STA) a capture needs to be an
                        event (default 3)
  --csv                 write CSV instead: one row per pick with the event's
                        number, earliest pick and station count (the
                        synthetic run's comparison then goes to stderr)
  --quiet               no stage lines on stderr (they are written for
                        inputs of 20 million samples or more)
  --help                this text

built-in synthetic network (used when no file is given):
  --synthetic-stations N   stations of the network (default 8, at least 3)
  --synthetic-duration S   seconds of data, 100 or more (default 300)
  --write-synthetic DIR    write the network as miniSEED files (one per
                           station) into DIR instead of detecting

exit status: 0 on success, 2 on bad flags or bad input (message on stderr).
)";
}

std::string number_text(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

namespace {

double parse_number(const std::string &flag, const std::string &text)
{
    errno = 0;
    char *end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || errno == ERANGE ||
        !std::isfinite(value))
        throw InputError(flag + ": '" + text + "' is not a number");
    return value;
}

double positive(const std::string &flag, const std::string &text)
{
    const double value = parse_number(flag, text);
    if (value <= 0.0) throw InputError(flag + ": must be above 0, got " + text);
    return value;
}

int bounded_integer(const std::string &flag, const std::string &text, int largest)
{
    const double value = parse_number(flag, text);
    if (value < 1.0 || value > largest || value != std::floor(value))
        throw InputError(flag + ": must be a whole number from 1 to " + std::to_string(largest) +
                         ", got " + text);
    return static_cast<int>(value);
}

}  // namespace

bool parse_arguments(int argc, char **argv, Options &options)
{
    using Setter = std::function<void(const std::string &, const std::string &)>;
    const std::map<std::string, Setter> valued = {
        {"--fmin", [&](auto &f, auto &v) { options.fmin = positive(f, v); }},
        {"--fmax", [&](auto &f, auto &v) { options.fmax = positive(f, v); }},
        {"--voices", [&](auto &f, auto &v) { options.voices = bounded_integer(f, v, 32); }},
        {"--kurtosis-window", [&](auto &f, auto &v) { options.kurtosis_window = positive(f, v); }},
        {"--jump-window", [&](auto &f, auto &v) { options.jump_window = positive(f, v); }},
        {"--threshold", [&](auto &f, auto &v) { options.threshold = positive(f, v); }},
        {"--dead-time", [&](auto &f, auto &v) { options.dead_time = positive(f, v); }},
        {"--tolerance", [&](auto &f, auto &v) { options.tolerance = positive(f, v); }},
        {"--min-stations", [&](auto &f, auto &v) { options.min_stations = bounded_integer(f, v, 1000000); }},
        {"--write-synthetic", [&](auto &, auto &v) { options.write_synthetic = v; }},
        {"--synthetic-duration",
         [&](auto &f, auto &v) {
             options.synthetic_duration = parse_number(f, v);
             // One event slot at least; the library counts samples in 32 bits.
             if (options.synthetic_duration < 100.0 || options.synthetic_duration > 1e7)
                 throw InputError(f + ": must be from 100 to 10000000 s, got " + v);
         }},
        {"--synthetic-stations",
         [&](auto &f, auto &v) { options.synthetic_stations = bounded_integer(f, v, 1000); }},
    };
    bool only_files = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (only_files || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            if (!only_files && arg.size() > 1 && arg[0] == '-')
                throw InputError(arg + ": unknown option (see --help)");
            options.files.push_back(arg);
            continue;
        }
        if (arg == "--") { only_files = true; continue; }
        if (arg == "--help") { std::fputs(help_text().c_str(), stdout); return false; }
        if (arg == "--csv") { options.csv = true; continue; }
        if (arg == "--quiet") { options.progress = false; continue; }
        std::string value;
        const auto equals = arg.find('=');
        if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
            arg.resize(equals);
        }
        const auto setter = valued.find(arg);
        if (setter == valued.end()) throw InputError(arg + ": unknown option (see --help)");
        if (equals == std::string::npos) {
            if (i + 1 >= argc) throw InputError(arg + ": needs a value");
            value = argv[++i];
        }
        setter->second(arg, value);
    }
    if (options.fmin >= options.fmax)
        throw InputError("--fmin " + number_text(options.fmin) + " Hz must be below --fmax " +
                         number_text(options.fmax) + " Hz");
    if (options.synthetic_stations < 3)
        throw InputError("--synthetic-stations: a network needs at least 3 stations");
    return true;
}

}  // namespace detect

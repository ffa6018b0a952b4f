// Flags, their checks and the help text.
#include "options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>

#include "inputs.h"

namespace tool {

Options::Options() { onset_detect_defaults(&detector); }

std::string help_text()
{
    return R"(usage: onset-detect [options] [file-or-folder ...]
       onset-detect --sds ROOT [--start TIME] [--end TIME] [options]

Finds seismic events recorded at several stations. Each miniSEED channel
(NET.STA.LOC.CHA) is one trace; its records, from any number of files, are
taken in time order, gaps are left empty, and each trace keeps its own
sampling rate. Folders are searched for files recursively. Text (log)
channels are left out. Without input it runs a built-in synthetic network
and compares what it finds with the truth.

Per trace: band-pass with Mexican-hat wavelets covering FMIN..FMAX, moving
kurtosis of the band-passed trace, onset strength = moving max-jump (rise) of
the kurtosis; an onset is a peak of the strength above the threshold whose
next second stands out of the noise before it. Its pick is the arrival
itself: the best split, by the Akaike information criterion, of the
band-passed samples within half a kurtosis window of the kurtosis rise. An
onset that begins a wave train is a P; the first clear rise inside the train
is its S, and the train's coda is dropped. Across traces: P picks within the
tolerance of one another form a capture (late stations and later waves of an
event join it); a capture on at least K stations with one pick that stands
out by the event SNR is an event. Runs of 0.2 s or more of one value (dead
channels, filled gaps) are gaps. Data are processed as they are read, so
memory does not grow with the length of the recording, and each event is
written as soon as it is final.

Output: one line per event: earliest P pick (UTC, ISO 8601, ms), number of
stations, then each trace's picks (ID=time, and ID=time(S) for an S). With
--csv one row per pick: event,earliest,stations,trace,pick,strength,phase,
uncertainty. The uncertainty (s) is the quality of a pick: the farthest
split on either side that fits the data as well (within 2 of the least AIC);
0.01 s at 100 Hz means a sharp onset, tenths of a second an emergent one.

input:
  --sds ROOT            read an SDS archive, ROOT/YEAR/NET/STA/CHA.TYPE/
                        NET.STA.LOC.CHA.TYPE.YEAR.DAY, day by day
  --start TIME          first time to read, UTC (2024-03-01 or
                        2024-03-01T06:00:00Z; default: what the input holds)
  --end TIME            time to stop reading before (default: the end)
  --channels PATTERNS   NET.STA.LOC.CHA patterns with shell wildcards,
                        comma separated (e.g. 'BW.*..?HZ'; default: all)
  --chunk S             seconds of every channel read before they are
                        processed (default 600); results do not depend on it

detection:
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
                        makes a candidate onset (default 3). Noise rises by 1
                        to 6, local events by 3 to 90; the noise checks below
                        sort the candidates, so the threshold can stay low.
                        Raise it (6 to 8) for fewer, surer picks.
  --min-snr R           an onset counts only when the mean square of the
                        band-passed second after it is at least R times the
                        noise level before it (default 2): the mean square of
                        the 10 s before it, or of the last 2 s when quieter,
                        but no less than the lower quartile of its tenths of
                        a second. Kurtosis rises in noise and coda wiggles do
                        not count, arrivals do
  --event-snr R         an event needs one P pick that stands out by R
                        (default 5); with --min-stations 1 every detection
                        is then a clear arrival
  --dead-time S         an onset suppresses further onsets of its trace for
                        S seconds (default 2)
  --tolerance S         picks on other traces within S seconds of the pick
                        on the capture's first trace join the capture
                        (default 2)
  --min-stations K      distinct stations (NET.STA) a capture needs to be an
                        event (default 3)

output:
  --csv                 write CSV instead: one row per pick with the event's
                        number, earliest pick and station count (the
                        synthetic run's comparison then goes to stderr)
  --quakeml FILE        also write the events to FILE as QuakeML 1.2: one
                        event per detection with its picks, no origin
  --nlloc FILE          also write the picks to FILE in NonLinLoc's phase
                        format, events apart by an empty line, to locate them
  --quiet               no progress line on stderr (it is shown only when
                        stderr is a terminal)
  -h, --help            this text
  --version             the version

built-in synthetic network (used when no input is given):
  --synthetic-stations N   stations of the network (default 8, at least 3)
  --synthetic-duration S   seconds of data, 100 or more (default 300)
  --write-synthetic DIR    write the network as an SDS archive under DIR
                           (made if missing) instead of detecting

A channel that cannot be used (too short for the windows, a rate too low
for the band, all gaps, text only) is left out with a warning.

exit status: 0 on success; 1 when the output cannot be written or a system
error stops the run; 2 on bad flags, unreadable paths, or when no channel
of the input can be used (message on stderr).
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
    if (text.empty() || end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(value))
        throw InputError(flag + ": '" + text + "' is not a number");
    return value;
}

double positive(const std::string &flag, const std::string &text, double largest)
{
    const double value = parse_number(flag, text);
    if (value <= 0.0) throw InputError(flag + ": must be above 0, got " + text);
    if (value > largest) throw InputError(flag + ": must be at most " + number_text(largest) + ", got " + text);
    return value;
}

int bounded_integer(const std::string &flag, const std::string &text, int largest)
{
    const double value = parse_number(flag, text);
    if (value < 1.0 || value > largest || value != std::floor(value))
        throw InputError(flag + ": must be a whole number from 1 to " + std::to_string(largest) + ", got " + text);
    return static_cast<int>(value);
}

}  // namespace

Request parse_arguments(int argc, char **argv, Options &options)
{
    onset_detect_options &d = options.detector;
    using Setter = std::function<void(const std::string &, const std::string &)>;
    const double huge = 1e12;
    const std::map<std::string, Setter> valued = {
        {"--fmin", [&](auto &f, auto &v) { d.fmin = positive(f, v, huge); }},
        {"--fmax", [&](auto &f, auto &v) { d.fmax = positive(f, v, huge); }},
        {"--voices", [&](auto &f, auto &v) { d.voices = static_cast<uint32_t>(bounded_integer(f, v, 32)); }},
        {"--kurtosis-window", [&](auto &f, auto &v) { d.kurtosis_window = positive(f, v, 3600.0); }},
        {"--jump-window", [&](auto &f, auto &v) { d.jump_window = positive(f, v, 3600.0); }},
        {"--threshold", [&](auto &f, auto &v) { d.threshold = positive(f, v, huge); }},
        {"--dead-time", [&](auto &f, auto &v) { d.dead_time = positive(f, v, 86400.0); }},
        {"--tolerance", [&](auto &f, auto &v) { d.tolerance = positive(f, v, 86400.0); }},
        {"--min-stations", [&](auto &f, auto &v) { d.min_stations = bounded_integer(f, v, 1000000); }},
        {"--min-snr", [&](auto &f, auto &v) { d.min_snr = positive(f, v, huge); }},
        {"--event-snr", [&](auto &f, auto &v) { d.event_snr = positive(f, v, huge); }},
        {"--chunk", [&](auto &f, auto &v) { options.chunk = positive(f, v, 86400.0 * 366); }},
        {"--sds", [&](auto &, auto &v) { options.sds = v; }},
        {"--start", [&](auto &f, auto &v) { options.start = parse_time(f, v); }},
        {"--end", [&](auto &f, auto &v) { options.end = parse_time(f, v); }},
        {"--channels", [&](auto &, auto &v) { options.channels = v; }},
        {"--quakeml", [&](auto &, auto &v) { options.quakeml = v; }},
        {"--nlloc", [&](auto &, auto &v) { options.nlloc = v; }},
        {"--write-synthetic", [&](auto &, auto &v) { options.write_synthetic = v; }},
        {"--synthetic-duration",
         [&](auto &f, auto &v) {
             options.synthetic_duration = parse_number(f, v);
             // One event slot at least; a year at most.
             if (options.synthetic_duration < 100.0 || options.synthetic_duration > 366.0 * 86400.0)
                 throw InputError(f + ": must be from 100 to 31622400 s, got " + v);
         }},
        {"--synthetic-stations", [&](auto &f, auto &v) { options.synthetic_stations = bounded_integer(f, v, 1000); }},
    };
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
        if (arg == "--csv") {
            options.csv = true;
            continue;
        }
        if (arg == "--quiet") {
            options.quiet = true;
            continue;
        }
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
    if (d.fmin >= d.fmax)
        throw InputError("--fmin " + number_text(d.fmin) + " Hz must be below --fmax " + number_text(d.fmax) + " Hz");
    if (options.synthetic_stations < 3)
        throw InputError("--synthetic-stations: a network needs at least 3 stations");
    if (options.start >= options.end) throw InputError("--start must be before --end");
    if (!options.sds.empty() && !options.inputs.empty())
        throw InputError("--sds reads an archive: give no input files besides it");
    if (!options.write_synthetic.empty() && (!options.inputs.empty() || !options.sds.empty()))
        throw InputError("--write-synthetic writes the built-in network: give no input besides it");
    return Request::run;
}

}  // namespace tool

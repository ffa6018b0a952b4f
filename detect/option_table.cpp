// The table of the detector's options and the check of one value.
#include "option_table.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "number_text.h"

namespace detect {

namespace {

constexpr double unbounded = std::numeric_limits<double>::infinity();

}  // namespace

#define ONSET_FIELD(name) #name, offsetof(onset_detect_options, name)

// Windows over an hour and spans over a day are typing errors; a channel's
// look-back grows with them. Only the grouping's options are the network's:
// every other one acts on a trace alone and may differ per station.

const onset_option_info option_table[] = {
    {ONSET_FIELD(fmin), ONSET_OPTION_REAL, 2.0, 0.0, unbounded, 0, 0, "Hz",
     "lower edge of the band, at about half power"},
    {ONSET_FIELD(fmax), ONSET_OPTION_REAL, 20.0, 0.0, unbounded, 0, 0, "Hz",
     "upper edge of the band, at about half power; below the Nyquist frequency of every trace"},
    {ONSET_FIELD(voices), ONSET_OPTION_UINT32, 4.0, 1.0, 32.0, 1, 0, "", "wavelet scales per octave"},
    {ONSET_FIELD(kurtosis_window), ONSET_OPTION_REAL, 1.0, 0.0, 3600.0, 0, 0, "s",
     "width of the moving-kurtosis window"},
    {ONSET_FIELD(jump_window), ONSET_OPTION_REAL, 0.0, 0.0, 3600.0, 1, 0, "s",
     "width of the max-jump window over the kurtosis; 0 takes the kurtosis window"},
    {ONSET_FIELD(threshold), ONSET_OPTION_REAL, 3.0, 0.0, unbounded, 0, 0, "",
     "rise of the kurtosis within the jump window that makes a candidate onset. Noise rises by 1 to 6, "
     "local events by 3 to 90; the signal-to-noise checks sort the candidates, so the threshold can stay "
     "low. Raise it (6 to 8) for fewer, surer picks"},
    {ONSET_FIELD(dead_time), ONSET_OPTION_REAL, 2.0, 0.0, 86400.0, 0, 0, "s",
     "an onset suppresses further onsets of its trace for this long"},
    {ONSET_FIELD(tolerance), ONSET_OPTION_REAL, 2.0, 0.0, 86400.0, 0, 1, "s",
     "picks on other traces within this time of the pick on the capture's first trace join the capture"},
    {ONSET_FIELD(min_stations), ONSET_OPTION_INT32, 3.0, 1.0, unbounded, 1, 1, "",
     "distinct stations (NET.STA) a capture needs to be an event"},
    {ONSET_FIELD(min_snr), ONSET_OPTION_REAL, 2.0, 0.0, unbounded, 0, 0, "",
     "an onset counts only when the mean square of the band-passed second after it is at least this many "
     "times the noise level before it: the mean square of the 10 s before it, or of the last 2 s when "
     "quieter, but no less than the lower quartile of its tenths of a second. Kurtosis rises in noise and "
     "coda wiggles do not count, arrivals do"},
    {ONSET_FIELD(event_snr), ONSET_OPTION_REAL, 5.0, 0.0, unbounded, 0, 0, "",
     "an event needs one P pick that stands out this much (by its own station's value); with a minimum of one "
     "station every detection is then a clear arrival"},
};

#undef ONSET_FIELD

const size_t option_count = sizeof option_table / sizeof option_table[0];

double option_value(const onset_detect_options &options, const onset_option_info &option)
{
    const char *field = reinterpret_cast<const char *>(&options) + option.offset;
    switch (option.type) {
    case ONSET_OPTION_INT32: {
        int32_t value;
        std::memcpy(&value, field, sizeof value);
        return value;
    }
    case ONSET_OPTION_UINT32: {
        uint32_t value;
        std::memcpy(&value, field, sizeof value);
        return value;
    }
    default: {
        double value;
        std::memcpy(&value, field, sizeof value);
        return value;
    }
    }
}

void set_option(onset_detect_options &options, const onset_option_info &option, double value)
{
    char *field = reinterpret_cast<char *>(&options) + option.offset;
    if (option.type == ONSET_OPTION_INT32) {
        const auto whole = static_cast<int32_t>(value);
        std::memcpy(field, &whole, sizeof whole);
    } else if (option.type == ONSET_OPTION_UINT32) {
        const auto whole = static_cast<uint32_t>(value);
        std::memcpy(field, &whole, sizeof whole);
    } else {
        std::memcpy(field, &value, sizeof value);
    }
}

std::string value_problem(const onset_option_info &option, double value)
{
    const bool integer = option.type != ONSET_OPTION_REAL;
    // An integer field holds no more than its type does.
    const double type_highest = option.type == ONSET_OPTION_INT32    ? std::numeric_limits<int32_t>::max()
                                : option.type == ONSET_OPTION_UINT32 ? std::numeric_limits<uint32_t>::max()
                                                                     : unbounded;
    const double highest = std::min(option.highest, type_highest);
    const bool above_lowest = option.lowest_included ? value >= option.lowest : value > option.lowest;
    const bool fits = std::isfinite(value) && above_lowest && value <= highest &&
                      (!integer || value == std::floor(value));
    if (fits) return "";
    const std::string unit = *option.unit ? std::string(" ") + option.unit : "";
    const std::string lowest = number_text(option.lowest);
    std::string range;
    if (!std::isfinite(option.highest))
        range = option.lowest_included ? lowest + " or more" : "above " + lowest;
    else if (option.lowest_included)
        range = "from " + lowest + " to " + number_text(highest) + unit;
    else
        range = "above " + lowest + " and at most " + number_text(highest) + unit;
    return std::string("must be ") + (integer ? "a whole number " : "") + range;
}

}  // namespace detect

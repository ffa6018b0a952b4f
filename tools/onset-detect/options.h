// Command-line settings of the detector.
#ifndef ONSET_DETECT_OPTIONS_H
#define ONSET_DETECT_OPTIONS_H

#include <string>
#include <vector>

namespace detect {

struct Options {
    double fmin = 2.0;             // Hz, lower edge of the band
    double fmax = 20.0;            // Hz, upper edge of the band
    unsigned voices = 4;           // wavelet scales per octave
    double kurtosis_window = 1.0;  // s
    double jump_window = 0.0;      // s; 0 means "the kurtosis window"
    double threshold = 8.0;        // rise of the kurtosis that makes an onset
    double dead_time = 2.0;        // s between two onsets of one trace
    double tolerance = 2.0;        // s, half-width of a capture
    int min_stations = 3;          // stations an event needs
    bool csv = false;
    bool progress = true;          // stage lines on stderr for long inputs
    std::vector<std::string> files;

    // The built-in network, and a folder to write it to as miniSEED.
    std::string write_synthetic;
    double synthetic_duration = 300.0;  // s
    int synthetic_stations = 8;

    double jump_seconds() const { return jump_window > 0.0 ? jump_window : kurtosis_window; }
};

// Parses argv; throws InputError naming the flag on a bad value. Returns
// false when --help was given (the help text is then already printed).
bool parse_arguments(int argc, char **argv, Options &options);

// A flag's value as the user would write it (%g).
std::string number_text(double value);

// The text of --help.
std::string help_text();

}  // namespace detect

#endif

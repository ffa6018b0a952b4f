// The detector's options, each described once: its field, default, range,
// unit and meaning. Defaults, checks and every host's flags come from here.
#ifndef ONSET_DETECT_OPTION_TABLE_H
#define ONSET_DETECT_OPTION_TABLE_H

#include <cstddef>
#include <string>

#include "onset_detect.h"

namespace detect {

extern const onset_option_info option_table[];
extern const size_t option_count;

double option_value(const onset_detect_options &options, const onset_option_info &option);
void set_option(onset_detect_options &options, const onset_option_info &option, double value);

// Why `value` is out of the option's range ("must be above 0"), or "".
std::string value_problem(const onset_option_info &option, double value);

}  // namespace detect

#endif

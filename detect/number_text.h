// A number in a message as the user would write it.
#ifndef ONSET_DETECT_NUMBER_TEXT_H
#define ONSET_DETECT_NUMBER_TEXT_H

#include <cstdio>
#include <string>

namespace detect {

inline std::string number_text(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

}  // namespace detect

#endif

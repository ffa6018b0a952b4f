// A time in a warning, as ISO 8601 UTC.
#ifndef ONSET_DETECT_READER_TIME_TEXT_H
#define ONSET_DETECT_READER_TIME_TEXT_H

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

namespace reading {

inline std::string time_text(int64_t microseconds)
{
    const int64_t fraction = ((microseconds % 1000000) + 1000000) % 1000000;
    const auto seconds = static_cast<std::time_t>((microseconds - fraction) / 1000000);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06dZ", parts.tm_year + 1900, parts.tm_mon + 1,
                  parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, static_cast<int>(fraction));
    return text;
}

}  // namespace reading

#endif

// UTC times as the flags take them.
#include "inputs.h"

#include <cctype>
#include <ctime>

namespace tool {

namespace {

bool leap(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Reads `width` digits at text[at] into `value`.
bool digits(const std::string &text, size_t &at, size_t width, int64_t &value)
{
    value = 0;
    for (size_t i = 0; i < width; ++i, ++at) {
        if (at >= text.size() || !std::isdigit(static_cast<unsigned char>(text[at]))) return false;
        value = value * 10 + (text[at] - '0');
    }
    return true;
}

}  // namespace

Microseconds parse_time(const std::string &flag, const std::string &text)
{
    const InputError bad(flag + ": '" + text + "' is not a UTC time such as 2024-03-01 or 2024-03-01T12:30:00Z");
    const auto fail = [&]() -> Microseconds { throw bad; };
    size_t at = 0;
    int64_t year, month, day, hour = 0, minute = 0, second = 0, micro = 0;
    if (!digits(text, at, 4, year) || at >= text.size() || text[at++] != '-' || !digits(text, at, 2, month) ||
        at >= text.size() || text[at++] != '-' || !digits(text, at, 2, day))
        return fail();
    if (at < text.size() && (text[at] == 'T' || text[at] == ' ')) {
        ++at;
        if (!digits(text, at, 2, hour)) return fail();
        if (at < text.size() && text[at] == ':') {
            ++at;
            if (!digits(text, at, 2, minute)) return fail();
            if (at < text.size() && text[at] == ':') {
                ++at;
                if (!digits(text, at, 2, second)) return fail();
                if (at < text.size() && text[at] == '.') {
                    ++at;
                    int64_t scale = 100000;
                    if (at >= text.size() || !std::isdigit(static_cast<unsigned char>(text[at]))) return fail();
                    for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at, scale /= 10)
                        micro += (text[at] - '0') * scale;
                }
            }
        }
    }
    if (at < text.size() && text[at] == 'Z') ++at;
    static const int month_days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (at != text.size() || month < 1 || month > 12 || day < 1 ||
        day > month_days[month - 1] + (month == 2 && leap(year)) || hour > 23 || minute > 59 || second > 60)
        return fail();
    std::tm parts{};
    parts.tm_year = static_cast<int>(year - 1900);
    parts.tm_mon = static_cast<int>(month - 1);
    parts.tm_mday = static_cast<int>(day);
    parts.tm_hour = static_cast<int>(hour);
    parts.tm_min = static_cast<int>(minute);
    parts.tm_sec = static_cast<int>(second);
    const auto seconds = static_cast<int64_t>(timegm(&parts));
    return seconds * 1000000 + micro;
}

}  // namespace tool

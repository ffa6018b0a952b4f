// Codes and file names come from disk as bytes: one stray byte must not make
// a host's UTF-8 decoding fail, nor a newline split an output row.
#include "readable_text.h"

namespace reading {

namespace {

const char replacement[] = "\xEF\xBF\xBD";

// The length of the valid UTF-8 sequence at `at` (shortest form, no
// surrogates, at most U+10FFFF), or 0.
size_t sequence_length(const std::string &text, size_t at)
{
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned lead = byte(at);
    if (lead < 0x80) return 1;
    size_t length;
    unsigned low = 0x80, high = 0xBF;  // bounds of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (size_t k = 2; k < length; ++k)
        if (byte(at + k) < 0x80 || byte(at + k) > 0xBF) return 0;
    return length;
}

}  // namespace

std::string readable_text(const std::string &text)
{
    std::string readable;
    readable.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const size_t length = sequence_length(text, at);
        const auto lead = static_cast<unsigned char>(text[at]);
        // C0 controls, DEL, and the C1 controls U+0080..U+009F (C2 80..C2 9F).
        const bool control = lead < 0x20 || lead == 0x7F ||
                             (length == 2 && lead == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0);
        if (length == 0 || control) {
            readable += replacement;
            at += length == 0 ? 1 : length;
        } else {
            readable.append(text, at, length);
            at += length;
        }
    }
    return readable;
}

}  // namespace reading

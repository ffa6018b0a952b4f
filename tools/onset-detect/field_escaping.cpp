#include "field_escaping.h"

#include <cstdint>
#include <cstdio>

namespace tool {

namespace {

bool is_control(unsigned char c) { return c < 0x20 || c == 0x7f; }

// The length of the well-formed UTF-8 sequence at text[at] and its code
// point, or 0 when the bytes there are not one (overlong forms and
// surrogates included).
size_t utf8_sequence(const std::string &text, size_t at, uint32_t &code)
{
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[at + k]); };
    const unsigned char lead = byte(0);
    size_t length;
    uint32_t minimum;
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    if (lead >= 0xc2 && lead <= 0xdf) length = 2, code = lead & 0x1fu, minimum = 0x80;
    else if (lead >= 0xe0 && lead <= 0xef) length = 3, code = lead & 0x0fu, minimum = 0x800;
    else if (lead >= 0xf0 && lead <= 0xf4) length = 4, code = lead & 0x07u, minimum = 0x10000;
    else return 0;
    if (at + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(k) & 0xc0) != 0x80) return 0;
        code = (code << 6) | (byte(k) & 0x3fu);
    }
    const bool surrogate = code >= 0xd800 && code <= 0xdfff;
    return code < minimum || code > 0x10ffff || surrogate ? 0 : length;
}

}  // namespace

std::string csv_field(const std::string &text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + '"';
}

std::string xml_text(const std::string &text)
{
    static const std::string replacement = "\xef\xbf\xbd";
    std::string out;
    for (size_t at = 0; at < text.size();) {
        uint32_t code = 0;
        const size_t length = utf8_sequence(text, at, code);
        if (length == 0) {
            out += replacement;
            ++at;
            continue;
        }
        switch (code) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\t': out += "&#9;"; break;
        case '\n': out += "&#10;"; break;
        case '\r': out += "&#13;"; break;
        default:
            if (code < 0x20 || code == 0xfffe || code == 0xffff) out += replacement;
            else out.append(text, at, length);
        }
        at += length;
    }
    return out;
}

std::string nlloc_field(const std::string &text)
{
    if (text.empty()) return "?";
    std::string out = text;
    for (char &c : out)
        if (c == ' ' || is_control(static_cast<unsigned char>(c))) c = '?';
    return out;
}

std::string printable(const std::string &text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (is_control(static_cast<unsigned char>(c))) {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02x", static_cast<unsigned char>(c));
            out += code;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace tool

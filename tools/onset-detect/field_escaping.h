// Codes as each output format can hold them: whatever a channel id contains
// (commas, quotes, newlines, bytes that are no text), a row stays a row and
// a document stays well formed. The Python package escapes the same way.
#ifndef ONSET_DETECT_TOOL_FIELD_ESCAPING_H
#define ONSET_DETECT_TOOL_FIELD_ESCAPING_H

#include <string>

namespace tool {

// RFC 4180: quoted, with quotes doubled, when it holds a comma, a quote, a
// carriage return or a line feed; as it is otherwise.
std::string csv_field(const std::string &text);

// XML 1.0 character data, for element text and attribute values alike:
// markup characters as entities; tab, line feed and carriage return as
// character references (so that attribute normalisation keeps them); what
// XML 1.0 cannot hold at all (other control characters, U+FFFE, U+FFFF,
// bytes that are not UTF-8) as U+FFFD.
std::string xml_text(const std::string &text);

// A whitespace-separated field of NonLinLoc's phase format: never empty
// ("?", the format's unknown), whitespace and control characters as "?".
std::string nlloc_field(const std::string &text);

// The text output's one line per event: control characters as \xHH and the
// backslash as \\, so that a code cannot break the line.
std::string printable(const std::string &text);

}  // namespace tool

#endif

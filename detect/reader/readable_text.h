// Text from files, made safe to print and to hand to hosts as UTF-8.
#ifndef ONSET_DETECT_READER_READABLE_TEXT_H
#define ONSET_DETECT_READER_READABLE_TEXT_H

#include <string>

namespace reading {

// `text` with every byte that is not part of valid UTF-8, and every
// control character, replaced by U+FFFD, as decoders with "replace" do.
std::string readable_text(const std::string &text);

}  // namespace reading

#endif

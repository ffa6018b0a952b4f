// Fuzz target for onset-detect's option parser: the bytes, split at NUL
// bytes, are the arguments. A bad value must be refused with InputError,
// never a crash or another exception, and options it takes for a run must
// make a detector.
#include "fuzz_support.h"
#include "onset_detect.h"
#include "options.h"

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::vector<std::string> words{"onset-detect"};
    std::string word;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word += static_cast<char>(data[i]);
        }
    }
    if (!word.empty())
        words.push_back(word);
    std::vector<char *> argv;
    for (std::string &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    tool::Options options;
    try {
        if (tool::parse_arguments(static_cast<int>(words.size()), argv.data(), options) != tool::Request::run)
            return 0;
    } catch (const tool::InputError &) {
        return 0;
    }
    char message[256] = "";
    onset_detector *detector = onset_detector_create(&options.detector, message, sizeof message);
    if (!detector)
        onset_fuzz::fail("options taken by the parser were refused by the engine: %s", message);
    onset_detector_destroy(detector);
    return 0;
}

// Replays committed fuzz inputs through a fuzz target without libFuzzer, so
// that any compiler's build runs them: every file named, and every file of
// every folder named, goes to LLVMFuzzerTestOneInput once, in name order. A
// failing check aborts; no input at all counts as a failure too.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

namespace {

std::vector<std::filesystem::path> inputs_of(int count, char **names)
{
    std::vector<std::filesystem::path> inputs;
    for (int i = 0; i < count; ++i) {
        const std::filesystem::path name = names[i];
        if (!std::filesystem::is_directory(name)) {
            inputs.push_back(name);
            continue;
        }
        std::vector<std::filesystem::path> files;
        for (const auto &entry : std::filesystem::directory_iterator(name))
            if (entry.is_regular_file())
                files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        inputs.insert(inputs.end(), files.begin(), files.end());
    }
    return inputs;
}

} // namespace

int main(int argc, char **argv)
{
    const std::vector<std::filesystem::path> inputs = inputs_of(argc - 1, argv + 1);
    for (const std::filesystem::path &input : inputs) {
        std::ifstream file(input, std::ios::binary);
        if (!file) {
            std::fprintf(stderr, "cannot read %s\n", input.c_str());
            return 1;
        }
        const std::vector<char> bytes{std::istreambuf_iterator<char>(file),
                                      std::istreambuf_iterator<char>()};
        // An empty input still gets a valid pointer, as libFuzzer gives it.
        static const std::uint8_t nothing = 0;
        const auto *data = bytes.empty() ? &nothing
                                         : reinterpret_cast<const std::uint8_t *>(bytes.data());
        LLVMFuzzerTestOneInput(data, bytes.size());
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "no inputs to replay\n");
        return 1;
    }
    std::printf("%zu inputs replayed\n", inputs.size());
    return 0;
}

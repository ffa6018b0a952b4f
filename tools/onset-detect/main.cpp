// onset-detect: multi-station event detection with libonset.
#include <cstdio>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <string>
#include <new>

#include "detector.h"
#include "mseed_io.h"
#include "options.h"
#include "progress.h"
#include "report.h"
#include "synthetic.h"

namespace {

size_t total_samples(const std::vector<detect::Trace> &traces)
{
    size_t n = 0;
    for (const auto &t : traces) n += t.samples.size();
    return n;
}

void write(const detect::Options &options, const std::vector<detect::Event> &events,
           const std::vector<detect::Trace> &traces)
{
    if (options.csv) detect::write_events_csv(stdout, events, traces);
    else detect::write_events(stdout, events, traces);
}

int run_synthetic(const detect::Options &options)
{
    const auto network = detect::make_synthetic(options.synthetic_stations, options.synthetic_duration);
    if (!options.write_synthetic.empty()) {
        for (const auto &path : detect::write_miniseed(network.traces, options.write_synthetic))
            std::printf("%s\n", path.c_str());
        return 0;
    }
    detect::check_traces(network.traces, options);
    const bool long_input = total_samples(network.traces) >= detect::progress_samples;
    const auto detection = detect::detect_events(network.traces, options, options.progress && long_input);
    write(options, detection.events, network.traces);
    // With CSV on stdout the comparison goes to stderr, to keep the CSV clean.
    detect::write_score(options.csv ? stderr : stdout, detection.events, network, options.tolerance);
    return 0;
}

int run_files(const detect::Options &options)
{
    if (!options.write_synthetic.empty())
        throw detect::InputError("--write-synthetic writes the built-in network: give no input files");
    // Steim-compressed samples take one to four bytes: a large input says so
    // before the read, which can take a while.
    std::uintmax_t bytes = 0;
    for (const std::string &file : options.files) {
        std::error_code unknown;
        const std::uintmax_t size = std::filesystem::file_size(file, unknown);
        if (!unknown) bytes += size;
    }
    if (options.progress && bytes >= detect::progress_samples)
        std::fprintf(stderr, "onset-detect: reading %zu file(s), %.0f MB\n", options.files.size(),
                     static_cast<double>(bytes) / 1e6);
    detect::Stages stages(false);
    const auto traces = detect::read_miniseed(options.files);
    const size_t samples = total_samples(traces);
    const bool stage_lines = options.progress && samples >= detect::progress_samples;
    stages.enable(stage_lines);
    stages.done("read", samples);
    detect::check_traces(traces, options);
    const auto detection = detect::detect_events(traces, options, stage_lines);
    write(options, detection.events, traces);
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    try {
        detect::Options options;
        if (!detect::parse_arguments(argc, argv, options)) return 0;
        const int status = options.files.empty() ? run_synthetic(options) : run_files(options);
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
            std::fprintf(stderr, "onset-detect: cannot write the output\n");
            return 1;
        }
        return status;
    } catch (const detect::InputError &error) {
        std::fprintf(stderr, "onset-detect: %s\n", error.what());
        return 2;
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "onset-detect: out of memory: the input is too large\n");
        return 2;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "onset-detect: %s\n", error.what());
        return 1;
    }
}

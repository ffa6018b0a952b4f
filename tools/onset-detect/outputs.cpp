#include "outputs.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "interruption.h"

namespace tool {

namespace {

std::string stdout_failure() { return std::string("cannot write the output: ") + std::strerror(errno); }

}  // namespace

Outputs::Outputs(const Options &options, const std::vector<std::string> &ids) : run_(new_run_identity())
{
    writers_.emplace_back(stdout, options.csv ? Format::csv : Format::text, ids, run_);
    const bool live = !options.seedlink.empty();
    const auto add = [&](const std::string &flag, const std::string &path, Format format, Writing writing) {
        if (path.empty()) return;
        files_.emplace_back(flag, path, live ? writing : Writing::replace);
        writers_.emplace_back(files_.back().stream(), format, ids, run_);
    };
    // A QuakeML document cannot be appended to.
    add("--quakeml", options.quakeml, Format::quakeml, Writing::in_place);
    add("--nlloc", options.nlloc, Format::nlloc, Writing::append);
    if (!options.picks.empty()) {
        files_.emplace_back("--picks", options.picks, live ? Writing::append : Writing::replace);
        pick_writers_.emplace_back(files_.back().stream(), ids, files_.back().began_empty());
    }
}

Outputs::~Outputs()
{
    if (finished_ || stop_signal() == 0) return;
    try {
        close();
    } catch (const std::exception &error) {
        std::fprintf(stderr, "onset-detect: %s\n", error.what());
    }
}

void Outputs::write(const Event &event)
{
    for (size_t i = 0; i < writers_.size(); ++i)
        if (!writers_[i].write(event)) throw std::runtime_error(i == 0 ? stdout_failure() : files_[i - 1].failure());
}

void Outputs::write(const onset_pick &pick)
{
    for (PickWriter &writer : pick_writers_)
        if (!writer.write(pick)) throw std::runtime_error(files_.back().failure());
}

void Outputs::finish()
{
    close();
    finished_ = true;
}

void Outputs::close()
{
    for (size_t i = 0; i < writers_.size(); ++i)
        if (!writers_[i].finish()) throw std::runtime_error(i == 0 ? stdout_failure() : files_[i - 1].failure());
    for (PickWriter &writer : pick_writers_)
        if (!writer.finish()) throw std::runtime_error(files_.back().failure());
    for (OutputFile &file : files_) file.commit();
}

}  // namespace tool

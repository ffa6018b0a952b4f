// Record queues per channel, filled from file indexes and read slice by slice.
#include "record_source.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace tool {

void Warnings::add(const std::string &line)
{
    const std::lock_guard<std::mutex> hold(lock_);
    if (said_.insert(line).second) lines_.push_back(line);
}

bool Warnings::pending()
{
    const std::lock_guard<std::mutex> hold(lock_);
    return !lines_.empty();
}

void Warnings::write()
{
    const std::lock_guard<std::mutex> hold(lock_);
    for (const std::string &line : lines_) std::fprintf(stderr, "onset-detect: warning: %s\n", line.c_str());
    lines_.clear();
}

RecordSource::~RecordSource()
{
    for (File &file : files_)
        if (file.descriptor >= 0) ::close(file.descriptor);
}

void RecordSource::add_files(const std::vector<std::string> &paths, const ChannelSelection &selection)
{
    std::vector<FileIndex> indexes(paths.size());
    const auto count = static_cast<int64_t>(paths.size());
#pragma omp parallel for schedule(dynamic, 1)
    for (int64_t i = 0; i < count; ++i) indexes[static_cast<size_t>(i)] = index_file(paths[static_cast<size_t>(i)]);

    std::vector<ChannelRecords *> touched;
    for (size_t i = 0; i < paths.size(); ++i) {
        const FileIndex &index = indexes[i];
        if (!index.problem.empty()) {
            warnings_.add("'" + paths[i] + "' left out: " + index.problem);
            continue;
        }
        if (index.truncated)
            warnings_.add("'" + paths[i] + "': its last record is cut short or unreadable; what follows it is left out");
        const auto number = static_cast<uint32_t>(files_.size());
        files_.emplace_back();
        files_.back().path = paths[i];
        for (const RecordHeader &record : index.records) {
            queue(number, record, selection);
            if (ChannelRecords *channel = find(record.id)) touched.push_back(channel);
        }
        File &file = files_.back();
        if (file.unread > 0) {
            file.descriptor = ::open(paths[i].c_str(), O_RDONLY | O_CLOEXEC);
            if (file.descriptor < 0) warnings_.add("cannot open '" + paths[i] + "' again; its records are left out");
        }
    }
    std::sort(touched.begin(), touched.end());
    touched.erase(std::unique(touched.begin(), touched.end()), touched.end());
    for (ChannelRecords *channel : touched)
        std::stable_sort(channel->records.begin(), channel->records.end(),
                         [](const ChannelRecords::Ref &a, const ChannelRecords::Ref &b) { return a.start < b.start; });
}

void RecordSource::queue(uint32_t file, const RecordHeader &record, const ChannelSelection &selection)
{
    if (!selection.takes(record.id)) return;
    ChannelRecords &channel = channels_[record.id];
    channel.id = record.id;
    if (record.text) {
        channel.has_text = true;
        return;
    }
    if (record.samples <= 0) return;
    const std::string &path = files_[file].path;
    if (!(record.rate > 0.0) || !std::isfinite(record.rate)) {
        warnings_.add(record.id + " in '" + path + "': records without a sampling rate are left out");
        return;
    }
    if (channel.rate == 0.0) channel.rate = record.rate;
    if (std::fabs(1.0 - record.rate / channel.rate) >= 1e-4) {
        char text[160];
        std::snprintf(text, sizeof text, " changes its sampling rate from %g to %g Hz in '", channel.rate, record.rate);
        warnings_.add(record.id + text + path + "': those records are left out");
        return;
    }
    channel.has_samples = true;
    channel.records.push_back({file, record.length, record.offset, record.start, record.samples});
    ++files_[file].unread;
}

std::vector<ChannelRecords *> RecordSource::channels()
{
    std::vector<ChannelRecords *> all;
    for (auto &[id, channel] : channels_) all.push_back(&channel);
    return all;
}

ChannelRecords *RecordSource::find(const std::string &id)
{
    const auto found = channels_.find(id);
    return found == channels_.end() ? nullptr : &found->second;
}

void RecordSource::read_until(ChannelRecords &channel, Microseconds until, Microseconds from, Microseconds to,
                              const Feed &feed)
{
    std::vector<char> bytes;
    std::vector<double> samples;
    const double rate = channel.rate;
    while (!channel.records.empty() && channel.records.front().start < until) {
        const ChannelRecords::Ref ref = channel.records.front();
        channel.records.pop_front();
        File &file = files_[ref.file];
        bytes.resize(ref.length);
        const bool read = file.descriptor >= 0 &&
                          ::pread(file.descriptor, bytes.data(), ref.length, static_cast<off_t>(ref.offset)) ==
                              static_cast<ssize_t>(ref.length);
        samples.clear();
        const std::string problem = read ? decode_record(bytes, samples) : "cannot be read";
        if (file.unread.fetch_sub(1) == 1 && file.descriptor >= 0) {
            ::close(file.descriptor);
            file.descriptor = -1;
        }
        if (!problem.empty()) {
            warnings_.add(channel.id + " in '" + file.path + "': a record is left out: " + problem);
            continue;
        }
        // The samples within [from, to) only.
        size_t first = 0, last = samples.size();
        const auto time_of = [&](size_t k) {
            return ref.start + std::llround(static_cast<double>(k) * 1e6 / rate);
        };
        while (first < last && time_of(first) < from) ++first;
        while (last > first && time_of(last - 1) >= to) --last;
        if (last > first) feed(time_of(first), samples.data() + first, last - first);
    }
}

Microseconds RecordSource::first_start() const
{
    Microseconds first = std::numeric_limits<Microseconds>::max();
    for (const auto &[id, channel] : channels_)
        if (!channel.records.empty()) first = std::min(first, channel.records.front().start);
    return first;
}

Microseconds RecordSource::last_end() const
{
    Microseconds last = std::numeric_limits<Microseconds>::min();
    for (const auto &[id, channel] : channels_)
        for (const ChannelRecords::Ref &ref : channel.records)
            last = std::max<Microseconds>(last, ref.start + std::llround(static_cast<double>(ref.samples) * 1e6 / channel.rate));
    return last;
}

}  // namespace tool

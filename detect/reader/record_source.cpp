// Record queues per channel, filled from file indexes and read slice by slice.
#include "record_source.h"

#include <fcntl.h>
#include <omp.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace reading {

void Warnings::add(const std::string &line)
{
    const std::lock_guard<std::mutex> hold(lock_);
    if (said_.insert(line).second) lines_.push_back(line);
}

bool Warnings::take(std::string &line)
{
    const std::lock_guard<std::mutex> hold(lock_);
    if (lines_.empty()) return false;
    line = std::move(lines_.front());
    lines_.pop_front();
    return true;
}

RecordSource::~RecordSource()
{
    for (File &file : files_)
        if (file.descriptor >= 0) ::close(file.descriptor);
}

void RecordSource::add_files(const std::vector<std::string> &paths, const ChannelSelection &selection)
{
    // Files are indexed a few at a time, as many as there are threads, and
    // each index goes once its records are queued: a day of many channels
    // would otherwise hold the headers of all its records at once, on top
    // of what the engine holds by then.
    const auto batch = static_cast<size_t>(std::max(1, omp_get_max_threads()));
    std::vector<ChannelRecords *> touched;
    for (size_t from = 0; from < paths.size(); from += batch) {
        const size_t count = std::min(batch, paths.size() - from);
        std::vector<FileIndex> indexes(count);
        std::vector<std::vector<std::string>> said(count);
#pragma omp parallel for schedule(dynamic, 1)
        for (int64_t i = 0; i < static_cast<int64_t>(count); ++i) {
            const auto n = static_cast<size_t>(i);
            indexes[n] = index_file(paths[from + n], said[n]);
        }
        for (size_t n = 0; n < count; ++n) queue_file(paths[from + n], indexes[n], said[n], selection, touched);
    }
    std::sort(touched.begin(), touched.end());
    touched.erase(std::unique(touched.begin(), touched.end()), touched.end());
    for (ChannelRecords *channel : touched)
        std::stable_sort(channel->records.begin(), channel->records.end(),
                         [](const ChannelRecords::Ref &a, const ChannelRecords::Ref &b) { return a.start < b.start; });
}

void RecordSource::queue_file(const std::string &path, const FileIndex &index, const std::vector<std::string> &said,
                              const ChannelSelection &selection, std::vector<ChannelRecords *> &touched)
{
    for (const std::string &line : said) warnings_.add("'" + path + "': " + line);
    if (!index.problem.empty()) {
        warnings_.add("'" + path + "' left out: " + index.problem);
        return;
    }
    if (index.truncated)
        warnings_.add("'" + path + "': its last record is cut short or unreadable; what follows it is left out");
    const auto number = static_cast<uint32_t>(files_.size());
    files_.emplace_back();
    files_.back().path = path;
    for (const RecordHeader &record : index.records) {
        queue(number, record, selection);
        if (ChannelRecords *channel = find(record.id)) touched.push_back(channel);
    }
    File &file = files_.back();
    if (file.unread > 0) {
        file.descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (file.descriptor < 0) warnings_.add("cannot open '" + path + "' again; its records are left out");
    }
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
    // A record wholly outside the span would give no sample: it is not read.
    const auto end = record.start + std::llround(static_cast<double>(record.samples) * 1e6 / record.rate);
    if (end <= from_ || record.start >= to_) return;
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

void RecordSource::read_record(ChannelRecords &channel, Microseconds from, Microseconds to, const Feed &feed)
{
    // Kept per thread, so that records of every size reuse one allocation.
    thread_local std::vector<char> bytes;
    thread_local std::vector<double> samples;
    thread_local std::vector<std::string> said;
    const ChannelRecords::Ref ref = channel.records.front();
    channel.records.pop_front();
    File &file = files_[ref.file];
    bytes.resize(ref.length);
    const bool read = file.descriptor >= 0 &&
                      ::pread(file.descriptor, bytes.data(), ref.length, static_cast<off_t>(ref.offset)) ==
                          static_cast<ssize_t>(ref.length);
    samples.clear();
    said.clear();
    const std::string problem = read ? decode_record(bytes, samples, said) : "cannot be read";
    if (file.unread.fetch_sub(1) == 1 && file.descriptor >= 0) {
        ::close(file.descriptor);
        file.descriptor = -1;
    }
    for (const std::string &line : said) warnings_.add(channel.id + " in '" + file.path + "': " + line);
    if (!problem.empty()) {
        warnings_.add(channel.id + " in '" + file.path + "': a record is left out: " + problem);
        return;
    }
    // The samples within [from, to) only.
    const double rate = channel.rate;
    size_t first = 0, last = samples.size();
    const auto time_of = [&](size_t k) { return ref.start + std::llround(static_cast<double>(k) * 1e6 / rate); };
    while (first < last && time_of(first) < from) ++first;
    while (last > first && time_of(last - 1) >= to) --last;
    if (last > first) feed(time_of(first), samples.data() + first, last - first);
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

}  // namespace reading

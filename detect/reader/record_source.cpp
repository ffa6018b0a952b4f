// Record queues per channel, filled from file indexes and read slice by slice.
#include "record_source.h"

#include <fcntl.h>
#include <omp.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "readable_text.h"
#include "time_text.h"

namespace reading {

void Warnings::add(const std::string &text)
{
    const std::string line = readable_text(text);
    const std::lock_guard<std::mutex> hold(lock_);
    if (!said_.insert(line).second) return;
    if (unsettled_) unsettled_lines_.push_back(line);
    else lines_.push_back(line);
}

void Warnings::unsettle()
{
    const std::lock_guard<std::mutex> hold(lock_);
    unsettled_ = true;
}

void Warnings::settle()
{
    const std::lock_guard<std::mutex> hold(lock_);
    std::sort(unsettled_lines_.begin(), unsettled_lines_.end());
    lines_.insert(lines_.end(), unsettled_lines_.begin(), unsettled_lines_.end());
    unsettled_lines_.clear();
    unsettled_ = false;
}

bool Warnings::take(std::string &line)
{
    const std::lock_guard<std::mutex> hold(lock_);
    if (lines_.empty()) return false;
    line = std::move(lines_.front());
    lines_.pop_front();
    return true;
}

namespace {

// The first and the last microsecond of some records, per channel.
using Spans = std::map<std::string, std::pair<Microseconds, Microseconds>>;

void widen(Spans &spans, const std::string &id, Microseconds from, Microseconds to)
{
    const auto [at, added] = spans.emplace(id, std::make_pair(from, to));
    if (!added) at->second = {std::min(at->second.first, from), std::max(at->second.second, to)};
}

Microseconds end_of(const RecordHeader &record)
{
    if (!(record.rate > 0.0) || record.samples <= 0) return record.start;
    return record.start + std::llround(static_cast<double>(record.samples - 1) * 1e6 / record.rate);
}

// Writers split records at midnight loosely: a record that starts or ends
// within this of its file's day is filed well.
constexpr Microseconds day_margin = 60LL * 1000000;

}  // namespace

RecordSource::~RecordSource()
{
    for (File &file : files_)
        if (file.descriptor >= 0) ::close(file.descriptor);
}

void RecordSource::add_files(const std::vector<std::string> &paths, const ChannelSelection &selection,
                             Microseconds day)
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
        for (size_t n = 0; n < count; ++n)
            queue_file(paths[from + n], indexes[n], said[n], selection, day, touched);
    }
    std::sort(touched.begin(), touched.end());
    touched.erase(std::unique(touched.begin(), touched.end()), touched.end());
    for (ChannelRecords *channel : touched)
        std::stable_sort(channel->records.begin(), channel->records.end(),
                         [](const ChannelRecords::Ref &a, const ChannelRecords::Ref &b) { return a.start < b.start; });
}

void RecordSource::queue_file(const std::string &path, const FileIndex &index, const std::vector<std::string> &said,
                              const ChannelSelection &selection, Microseconds day,
                              std::vector<ChannelRecords *> &touched)
{
    for (const std::string &line : said) warnings_.add("'" + path + "': " + line);
    if (!index.problem.empty()) {
        warnings_.add("'" + path + "' left out: " + index.problem);
        return;
    }
    for (const std::string &line : index.left_out) warnings_.add("'" + path + "': " + line);
    const auto number = static_cast<uint32_t>(files_.size());
    files_.emplace_back();
    files_.back().path = path;
    Spans misfiled, late;
    for (const RecordHeader &record : index.records) {
        if (record.repaired_id)
            warnings_.add("'" + path + "': the codes of " + record.id +
                          " hold control characters or bytes that are not UTF-8 text, read as U+FFFD");
        const Microseconds end = end_of(record);
        if (day != no_day && (end < day - day_margin || record.start >= day + day_length + day_margin))
            widen(misfiled, record.id, record.start, end);
        if (!queue(number, record, selection)) widen(late, record.id, record.start, end);
        if (ChannelRecords *channel = find(record.id)) touched.push_back(channel);
    }
    for (const auto &[id, span] : misfiled)
        warnings_.add(id + " in '" + path + "': records from " + time_text(span.first) + " to " +
                      time_text(span.second) + " lie outside the file's day " + time_text(day).substr(0, 10) +
                      "; they are read in their place");
    for (const auto &[id, span] : late)
        warnings_.add(id + " in '" + path + "': records from " + time_text(span.first) + " to " +
                      time_text(span.second) + " come after their time was read; they are left out");
    File &file = files_.back();
    if (file.unread > 0) {
        file.descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (file.descriptor < 0) warnings_.add("cannot open '" + path + "' again; its records are left out");
    }
}

bool RecordSource::queue(uint32_t file, const RecordHeader &record, const ChannelSelection &selection)
{
    if (!selection.takes(record.id)) return true;
    ChannelRecords &channel = channels_[record.id];
    channel.id = record.id;
    if (record.text) {
        channel.has_text = true;
        return true;
    }
    if (record.samples <= 0) return true;
    if (channel.rate == 0.0) channel.rate = record.rate;
    if (std::fabs(1.0 - record.rate / channel.rate) >= 1e-4) {
        char text[160];
        std::snprintf(text, sizeof text, " changes its sampling rate from %g to %g Hz in '", channel.rate, record.rate);
        warnings_.add(record.id + text + files_[file].path + "': those records are left out");
        return true;
    }
    // A record wholly outside the span would give no sample: it is not read.
    const auto end = record.start + std::llround(static_cast<double>(record.samples) * 1e6 / record.rate);
    if (end <= from_ || record.start >= to_) return true;
    if (record.start < read_until_) return false;
    channel.has_samples = true;
    channel.longest_record = std::max(channel.longest_record, record.samples);
    channel.records.push_back({file, record.length, record.offset, record.start, record.samples});
    ++files_[file].unread;
    return true;
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
        char where[64];
        std::snprintf(where, sizeof where, "': the record at byte %llu is left out: ",
                      static_cast<unsigned long long>(ref.offset));
        warnings_.add(channel.id + " in '" + file.path + where + problem);
        return;
    }
    compare_overlap(channel, ref.file, ref.start, samples);
    if (channel.records.empty()) say_conflict(channel);
    // The samples within [from, to) only.
    const double rate = channel.rate;
    size_t first = 0, last = samples.size();
    const auto time_of = [&](size_t k) { return ref.start + std::llround(static_cast<double>(k) * 1e6 / rate); };
    while (first < last && time_of(first) < from) ++first;
    while (last > first && time_of(last - 1) >= to) --last;
    if (last > first) feed(time_of(first), samples.data() + first, last - first);
}

void RecordSource::compare_overlap(ChannelRecords &channel, uint32_t file, Microseconds start,
                                   const std::vector<double> &samples)
{
    const double step = 1e6 / channel.rate;
    const auto time_of = [&](Microseconds origin, int64_t k) {
        return origin + std::llround(static_cast<double>(k) * step);
    };
    // Sample k of the record is recent sample shift + k.
    const auto recent_count = static_cast<int64_t>(channel.recent.size());
    const int64_t shift = std::llround(static_cast<double>(start - channel.recent_start) / step);
    const bool on_grid = recent_count > 0 &&
                         std::llabs(time_of(channel.recent_start, shift) - start) < std::llround(0.5 * step);
    const auto count = static_cast<int64_t>(samples.size());
    int64_t first_difference = -1, last_difference = -1;
    std::set<uint32_t> files{file};
    for (int64_t k = std::max<int64_t>(0, -shift); on_grid && k < count && shift + k < recent_count; ++k) {
        const auto j = static_cast<size_t>(shift + k);
        const double before = channel.recent[j], now = samples[static_cast<size_t>(k)];
        if (before == now || (std::isnan(before) && std::isnan(now))) continue;
        if (first_difference < 0) first_difference = k;
        last_difference = k;
        files.insert(channel.recent_files[j]);
    }
    ChannelRecords::Conflict &conflict = channel.conflict;
    if (first_difference < 0) {
        say_conflict(channel);
    } else {
        if (conflict.files.empty()) conflict.from = time_of(start, first_difference);
        conflict.to = std::max<Microseconds>(conflict.to, time_of(start, last_difference));
        conflict.files.insert(files.begin(), files.end());
    }

    // The engine keeps the samples it was given first: the recent ones are
    // extended past their end only, or begin anew after a gap or off grid.
    if (!on_grid || shift > recent_count || shift + count <= 0) {
        channel.recent = samples;
        channel.recent_files.assign(samples.size(), file);
        channel.recent_start = start;
    } else if (shift + count > recent_count) {
        const int64_t added = shift + count - recent_count;
        channel.recent.insert(channel.recent.end(), samples.end() - added, samples.end());
        channel.recent_files.insert(channel.recent_files.end(), static_cast<size_t>(added), file);
    }
    const auto keep = static_cast<size_t>(channel.longest_record);
    if (channel.recent.size() > 4 * keep) {
        const auto dropped = static_cast<std::ptrdiff_t>(channel.recent.size() - keep);
        channel.recent.erase(channel.recent.begin(), channel.recent.begin() + dropped);
        channel.recent_files.erase(channel.recent_files.begin(), channel.recent_files.begin() + dropped);
        channel.recent_start = time_of(channel.recent_start, dropped);
    }
}

void RecordSource::say_conflict(ChannelRecords &channel)
{
    ChannelRecords::Conflict &conflict = channel.conflict;
    if (conflict.files.empty()) return;
    std::string between;
    size_t named = 0;
    for (uint32_t file : conflict.files) {
        if (named > 0) between += named + 1 == conflict.files.size() ? " and " : ", ";
        between += "'" + files_[file].path + "'";
        ++named;
    }
    warnings_.add(channel.id + ": samples from " + time_text(conflict.from) + " to " + time_text(conflict.to) +
                  (conflict.files.size() > 1 ? " differ between " : " differ within ") + between +
                  "; the first read are kept");
    conflict = {};
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

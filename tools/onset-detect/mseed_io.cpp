#include "mseed_io.h"

#include <libmseed.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <map>
#include <memory>
#include <new>

namespace detect {

namespace {

// A contiguous stretch of one channel as libmseed hands it over; the
// samples stay in libmseed's list until they are copied into their trace.
struct Piece {
    const std::string *source;
    const MSTraceSeg *segment;
};

using TraceList = std::unique_ptr<MSTraceList, void (*)(MSTraceList *)>;

void free_list(MSTraceList *list)
{
    mstl_free(&list, 0);
}

void library_message(char *message)
{
    std::fprintf(stderr, "onset-detect: libmseed: %s", message);
}

void check_file(const std::string &path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        throw InputError("cannot open '" + path + "': " + std::strerror(errno));
    if (S_ISDIR(info.st_mode)) throw InputError("'" + path + "' is a directory, not a miniSEED file");
    if (info.st_size == 0) throw InputError("'" + path + "' is empty");
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) throw InputError("cannot open '" + path + "': " + std::strerror(errno));
    std::fclose(file);
}

void copy_samples(const MSTraceSeg &segment, double *out, const std::string &path,
                  const std::string &id)
{
    const size_t n = static_cast<size_t>(segment.numsamples);
    switch (segment.sampletype) {
    case 'i': {
        const auto *data = static_cast<const int32_t *>(segment.datasamples);
        std::copy(data, data + n, out);
        break;
    }
    case 'f': {
        const auto *data = static_cast<const float *>(segment.datasamples);
        std::copy(data, data + n, out);
        break;
    }
    case 'd': {
        const auto *data = static_cast<const double *>(segment.datasamples);
        std::copy(data, data + n, out);
        break;
    }
    default:
        throw InputError("'" + path + "': channel " + id + " has samples of unknown type '" +
                         std::string(1, segment.sampletype) + "'");
    }
}

std::string channel_id(const MSTraceID &id)
{
    return std::string(id.network) + "." + id.station + "." + id.location + "." + id.channel;
}

// Decodes one file into `owner` and lists its stretches by channel.
void read_file(const std::string &path, TraceList &owner,
               std::map<std::string, std::vector<Piece>> &pieces)
{
    check_file(path);
    MSTraceList *list = nullptr;
    const int status = ms_readtracelist(&list, path.c_str(), 0, -1.0, -1.0, 0, 1, 1, 0);
    owner.reset(list);
    if (status != MS_NOERROR)
        throw InputError("'" + path + "' is not a readable miniSEED file (" + ms_errorstr(status) + ")");
    // Text channels (station logs) are no traces: they are left out.
    const auto holds_samples = [](const MSTraceSeg &segment) {
        return segment.numsamples > 0 && segment.sampletype != 'a';
    };
    int64_t samples = 0;
    for (MSTraceID *id = list ? list->traces : nullptr; id; id = id->next)
        for (MSTraceSeg *segment = id->first; segment; segment = segment->next)
            if (holds_samples(*segment)) samples += segment->numsamples;
    if (samples == 0) throw InputError("'" + path + "' holds no miniSEED data records with samples");

    for (MSTraceID *id = list->traces; id; id = id->next) {
        const std::string name = channel_id(*id);
        for (MSTraceSeg *segment = id->first; segment; segment = segment->next) {
            if (!holds_samples(*segment)) continue;
            if (!(segment->samprate > 0.0) || !std::isfinite(segment->samprate))
                throw InputError("'" + path + "': channel " + name + " has no sampling rate");
            pieces[name].push_back({&path, segment});
        }
    }
}

Trace join_pieces(const std::string &id, std::vector<Piece> &pieces)
{
    // Stable: where records overlap, the later file on the command line wins.
    std::stable_sort(pieces.begin(), pieces.end(), [](const Piece &a, const Piece &b) {
        return a.segment->starttime < b.segment->starttime;
    });
    Trace trace;
    trace.id = id;
    trace.source = *pieces.front().source;
    trace.start = pieces.front().segment->starttime;
    trace.rate = pieces.front().segment->samprate;
    size_t length = 0;
    std::vector<size_t> offsets;
    for (const Piece &p : pieces) {
        const double rate = p.segment->samprate;
        if (std::fabs(1.0 - rate / trace.rate) >= 1e-4)
            throw InputError("'" + *p.source + "': channel " + id + " changes its sampling rate from " +
                             std::to_string(trace.rate) + " to " + std::to_string(rate) + " Hz");
        const double offset =
            std::round(static_cast<double>(p.segment->starttime - trace.start) * 1e-6 * trace.rate);
        offsets.push_back(static_cast<size_t>(offset));
        length = std::max(length, offsets.back() + static_cast<size_t>(p.segment->numsamples));
    }
    // The library counts samples in 32 bits.
    if (length > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        throw InputError("'" + trace.source + "': channel " + id + " spans " + std::to_string(length) +
                         " samples, more than one trace can hold; split the input in time");
    trace.samples.assign(length, std::numeric_limits<double>::quiet_NaN());
    for (size_t i = 0; i < pieces.size(); ++i)
        copy_samples(*pieces[i].segment, trace.samples.data() + offsets[i], *pieces[i].source, id);
    return trace;
}

// NET, STA, LOC and CHA of an id (missing parts empty).
std::vector<std::string> id_codes(const std::string &id)
{
    std::vector<std::string> codes(4);
    size_t part = 0;
    for (char c : id) {
        if (c == '.') { if (++part == 4) break; }
        else codes[part] += c;
    }
    return codes;
}

void append_record(char *record, int length, void *file)
{
    std::fwrite(record, 1, static_cast<size_t>(length), static_cast<std::FILE *>(file));
}

}  // namespace

std::vector<Trace> read_miniseed(const std::vector<std::string> &files)
{
    if (files.empty()) return {};
    ms_loginit(library_message, nullptr, library_message, nullptr);
    // Files are decoded side by side, each into its own list and map. The
    // first file goes alone, so that libmseed's one-time set-up is done
    // before any thread shares it. Of several failures, the first file in
    // command-line order (then the first channel) is the one reported.
    std::vector<TraceList> lists;
    for (size_t f = 0; f < files.size(); ++f) lists.emplace_back(nullptr, free_list);
    std::vector<std::map<std::string, std::vector<Piece>>> per_file(files.size());
    std::vector<std::exception_ptr> failures(files.size());
    const auto read_one = [&](size_t f) {
        try {
            read_file(files[f], lists[f], per_file[f]);
        } catch (...) {
            failures[f] = std::current_exception();
        }
    };
    if (!files.empty()) read_one(0);
    if (!failures[0]) {
#pragma omp parallel for schedule(dynamic, 1)
        for (size_t f = 1; f < files.size(); ++f) read_one(f);
    }
    for (const std::exception_ptr &failure : failures)
        if (failure) std::rethrow_exception(failure);

    std::map<std::string, std::vector<Piece>> by_channel;
    for (auto &file : per_file)
        for (auto &[id, channel] : file)
            by_channel[id].insert(by_channel[id].end(), channel.begin(), channel.end());
    std::vector<std::pair<const std::string *, std::vector<Piece> *>> channels;
    for (auto &[id, channel] : by_channel) channels.emplace_back(&id, &channel);

    std::vector<Trace> traces(channels.size());
    std::vector<std::exception_ptr> join_failures(channels.size());
#pragma omp parallel for schedule(dynamic, 1)
    for (size_t c = 0; c < channels.size(); ++c) {
        try {
            traces[c] = join_pieces(*channels[c].first, *channels[c].second);
        } catch (...) {
            join_failures[c] = std::current_exception();
        }
    }
    for (const std::exception_ptr &failure : join_failures)
        if (failure) std::rethrow_exception(failure);
    return traces;
}

std::vector<std::string> write_miniseed(const std::vector<Trace> &traces, const std::string &folder)
{
    std::vector<std::string> paths;
    for (const Trace &trace : traces) {
        const std::string path = folder + "/" + trace.id + ".mseed";
        std::FILE *file = std::fopen(path.c_str(), "wb");
        if (!file) throw InputError("cannot write '" + path + "': " + std::strerror(errno));
        // mst_pack shifts and reallocates the samples it has packed away, so
        // the buffer must come from malloc and belong to the MSTrace.
        const size_t n = trace.samples.size();
        auto *counts = static_cast<int32_t *>(std::malloc(std::max<size_t>(n, 1) * sizeof(int32_t)));
        if (!counts) throw std::bad_alloc();
        for (size_t i = 0; i < n; ++i) counts[i] = static_cast<int32_t>(std::lround(trace.samples[i]));

        MSTrace *mst = mst_init(nullptr);
        const std::vector<std::string> codes = id_codes(trace.id);
        char *fields[4] = {mst->network, mst->station, mst->location, mst->channel};
        for (size_t i = 0; i < 4; ++i) std::snprintf(fields[i], 11, "%s", codes[i].c_str());
        mst->dataquality = 'D';
        mst->starttime = trace.start;
        mst->samprate = trace.rate;
        mst->sampletype = 'i';
        mst->datasamples = counts;
        mst->numsamples = static_cast<int64_t>(n);
        mst->samplecnt = mst->numsamples;
        int64_t packed = 0;
        const int records = mst_pack(mst, append_record, file, 4096, DE_STEIM2, 1, &packed, 1, 0, nullptr);
        mst_free(&mst);
        const bool written = std::fclose(file) == 0;
        if (records < 0 || !written || packed != static_cast<int64_t>(n))
            throw InputError("cannot write '" + path + "'");
        paths.push_back(path);
    }
    return paths;
}

}  // namespace detect

// miniSEED through libmseed 2: record headers, decoding, Steim-2 writing.
#include "miniseed.h"

#include <libmseed.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>

namespace reading {

namespace {

// libmseed's logging is global, but what it says while a thread reads
// belongs to that thread's file: the calls below point `said` at the caller's
// lines for as long as they run.
thread_local std::vector<std::string> *said = nullptr;

void library_message(char *message)
{
    if (!said) return;
    std::string line = std::string("libmseed: ") + message;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    said->push_back(line);
}

// Set up once, before any thread reads.
void set_up_library()
{
    static std::once_flag done;
    std::call_once(done, [] { ms_loginit(library_message, nullptr, library_message, nullptr); });
}

// Points `said` at a caller's lines while it lives.
class Listening {
public:
    explicit Listening(std::vector<std::string> &lines)
    {
        set_up_library();
        said = &lines;
    }
    ~Listening() { said = nullptr; }
    Listening(const Listening &) = delete;
    Listening &operator=(const Listening &) = delete;
};

struct RecordDeleter {
    void operator()(MSRecord *record) const { msr_free(&record); }
};
using Record = std::unique_ptr<MSRecord, RecordDeleter>;

std::string channel_id(const MSRecord &record)
{
    return std::string(record.network) + "." + record.station + "." + record.location + "." + record.channel;
}

// NET, STA, LOC and CHA of an id (missing parts empty).
std::vector<std::string> id_codes(const std::string &id)
{
    std::vector<std::string> codes(4);
    size_t part = 0;
    for (char c : id) {
        if (c == '.') {
            if (++part == 4) break;
        } else {
            codes[part] += c;
        }
    }
    return codes;
}

void append_record(char *record, int length, void *file)
{
    std::fwrite(record, 1, static_cast<size_t>(length), static_cast<std::FILE *>(file));
}

}  // namespace

FileIndex index_file(const std::string &path, std::vector<std::string> &lines)
{
    const Listening listening(lines);
    FileIndex index;
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) {
        index.problem = std::strerror(errno);
        return index;
    }
    // The file is read in blocks; a record cut by a block's end is read again
    // from its start after the block is refilled.
    std::vector<char> block(size_t{1} << 20);
    size_t filled = 0, position = 0;
    uint64_t block_offset = 0;
    bool at_end = false;
    const auto refill = [&] {
        std::memmove(block.data(), block.data() + position, filled - position);
        block_offset += position;
        filled -= position;
        position = 0;
        filled += std::fread(block.data() + filled, 1, block.size() - filled, file);
        at_end = filled < block.size();
    };
    MSRecord *raw = nullptr;
    while (true) {
        if (!at_end && filled - position < block.size() / 2) refill();
        if (position >= filled) break;
        const int status = msr_parse(block.data() + position, static_cast<int>(filled - position), &raw, 0, 0, 0);
        if (status > 0 && !at_end && position > 0) {
            refill();
            continue;
        }
        if (status != MS_NOERROR) {
            if (index.records.empty() && status < 0) index.problem = "not a miniSEED file";
            else index.truncated = true;
            break;
        }
        index.records.push_back({channel_id(*raw), raw->starttime, msr_samprate(raw), raw->samplecnt,
                                 block_offset + position, static_cast<uint32_t>(raw->reclen),
                                 raw->encoding == DE_ASCII});
        position += static_cast<size_t>(raw->reclen);
    }
    msr_free(&raw);
    std::fclose(file);
    if (index.records.empty() && index.problem.empty())
        index.problem = index.truncated ? "its only record is cut short" : "it is empty";
    return index;
}

std::string decode_record(std::vector<char> &bytes, std::vector<double> &samples, std::vector<std::string> &lines)
{
    const Listening listening(lines);
    MSRecord *raw = nullptr;
    const int status = msr_parse(bytes.data(), static_cast<int>(bytes.size()), &raw,
                                 static_cast<int>(bytes.size()), 1, 0);
    const Record record(raw);
    if (status != MS_NOERROR) return status > 0 ? "record cut short" : ms_errorstr(status);
    const size_t n = static_cast<size_t>(std::max<int64_t>(record->numsamples, 0));
    const size_t at = samples.size();
    samples.resize(at + n);
    switch (record->sampletype) {
    case 'i': std::copy_n(static_cast<const int32_t *>(record->datasamples), n, samples.data() + at); break;
    case 'f': std::copy_n(static_cast<const float *>(record->datasamples), n, samples.data() + at); break;
    case 'd': std::copy_n(static_cast<const double *>(record->datasamples), n, samples.data() + at); break;
    default:
        samples.resize(at);
        if (record->sampletype != 'a') return std::string("samples of unknown type '") + record->sampletype + "'";
    }
    return "";
}

RecordWriter::RecordWriter(const std::string &path, const std::string &id, double rate)
    : path_(path), file_(std::fopen(path.c_str(), "wb")), trace_(nullptr)
{
    set_up_library();
    if (!file_) throw std::runtime_error("cannot write '" + path + "': " + std::strerror(errno));
    MSTrace *trace = mst_init(nullptr);
    const std::vector<std::string> codes = id_codes(id);
    char *fields[4] = {trace->network, trace->station, trace->location, trace->channel};
    for (size_t i = 0; i < 4; ++i) std::snprintf(fields[i], 11, "%s", codes[i].c_str());
    trace->dataquality = 'D';
    trace->samprate = rate;
    trace->sampletype = 'i';
    trace_ = trace;
}

RecordWriter::~RecordWriter()
{
    auto *trace = static_cast<MSTrace *>(trace_);
    mst_free(&trace);
    if (file_) std::fclose(file_);
}

void RecordWriter::write(Microseconds start, const int32_t *counts, size_t count)
{
    auto *trace = static_cast<MSTrace *>(trace_);
    if (trace->numsamples == 0) trace->starttime = start;
    // mst_pack moves and reallocates the samples it leaves, so they live in
    // malloc'ed memory that belongs to the MSTrace.
    const size_t held = static_cast<size_t>(trace->numsamples);
    void *grown = std::realloc(trace->datasamples, (held + count) * sizeof(int32_t) + 1);
    if (!grown) throw std::bad_alloc();
    trace->datasamples = grown;
    std::copy_n(counts, count, static_cast<int32_t *>(grown) + held);
    trace->numsamples = static_cast<int64_t>(held + count);
    trace->samplecnt = trace->numsamples;
    int64_t packed = 0;
    if (mst_pack(trace, append_record, file_, 4096, DE_STEIM2, 1, &packed, 0, 0, nullptr) < 0)
        throw std::runtime_error("cannot write '" + path_ + "'");
}

void RecordWriter::close()
{
    auto *trace = static_cast<MSTrace *>(trace_);
    int64_t packed = 0;
    const bool packed_all = trace->numsamples == 0 ||
                            mst_pack(trace, append_record, file_, 4096, DE_STEIM2, 1, &packed, 1, 0, nullptr) >= 0;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!packed_all || !closed) throw std::runtime_error("cannot write '" + path_ + "'");
}

}  // namespace reading

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

#include "inputs.h"
#include "readable_text.h"
#include "record_checks.h"

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

// Set up once, before any thread reads. Records without a blockette 1000
// are decoded as Steim-1 whatever the environment says, as the checks
// before decoding assume.
void set_up_library()
{
    static std::once_flag done;
    std::call_once(done, [] {
        ms_loginit(library_message, nullptr, library_message, nullptr);
        MS_UNPACKENCODINGFORMAT(-1);
        MS_UNPACKENCODINGFALLBACK(DE_STEIM1);
    });
}

// Points `said` at a caller's lines while it lives.
class Listening {
public:
    explicit Listening(std::vector<std::string> &lines) : before_(said)
    {
        set_up_library();
        said = &lines;
    }
    ~Listening() { said = before_; }
    Listening(const Listening &) = delete;
    Listening &operator=(const Listening &) = delete;

private:
    std::vector<std::string> *before_;
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

// "" when the parsed record can be decoded and placed in time, or why not.
std::string record_problem(const MSRecord &record)
{
    const BTime &time = record.fsdh->start_time;
    // libmseed decodes a record without a blockette 1000 as its fallback.
    const int encoding = record.Blkt1000 ? record.encoding : DE_STEIM1;
    return header_problem({time.year, time.day, time.hour, time.min, time.sec, time.fract, record.starttime,
                           record.samplecnt, msr_samprate(const_cast<MSRecord *>(&record)), encoding,
                           static_cast<uint32_t>(record.reclen), record.fsdh->data_offset});
}

// A record's header parsed from `size` bytes at `bytes`: MS_NOERROR and the
// record, a positive count of bytes still needed, or a negative libmseed
// error; `problem` says why a parsed header cannot be used, or why parsing
// failed.
int parse_header(char *bytes, size_t size, MSRecord *&record, std::string &problem)
{
    std::vector<std::string> lines;
    {
        const Listening listening(lines);
        const int length = static_cast<int>(std::min<size_t>(size, MAXRECLEN));
        const int status = msr_parse(bytes, length, &record, 0, 0, 0);
        if (status > 0) return status;
        if (status != MS_NOERROR) {
            problem = status == MS_NOTSEED ? "no miniSEED record header" : ms_errorstr(status);
            if (!lines.empty()) problem += " (" + lines.back() + ")";
            return status;
        }
    }
    problem = record_problem(*record);
    if (said && problem.empty()) said->insert(said->end(), lines.begin(), lines.end());
    return MS_NOERROR;
}

// The bytes of a file, a block at a time: a record cut by a block's end is
// read again from its start after the block is refilled.
class Blocks {
public:
    explicit Blocks(std::FILE *file) : file_(file), block_(size_t{2} * MAXRECLEN) {}
    // The bytes from `offset` on (at least a whole record's worth unless
    // the file ends first).
    char *at(uint64_t offset, size_t &available)
    {
        if (offset < start_ || offset > start_ + filled_) return nullptr;  // only forward
        if (!at_end_ && start_ + filled_ - offset < MAXRECLEN) {
            const size_t kept = static_cast<size_t>(start_ + filled_ - offset);
            std::memmove(block_.data(), block_.data() + (offset - start_), kept);
            start_ = offset;
            filled_ = kept + std::fread(block_.data() + kept, 1, block_.size() - kept, file_);
            at_end_ = filled_ < block_.size();
        }
        available = static_cast<size_t>(start_ + filled_ - offset);
        return block_.data() + (offset - start_);
    }
    bool failed() const { return std::ferror(file_) != 0; }
    uint64_t read() const { return start_ + filled_; }

private:
    std::FILE *file_;
    std::vector<char> block_;
    uint64_t start_ = 0;
    size_t filled_ = 0;
    bool at_end_ = false;
};

// Records of a concatenated file start at multiples of the shortest record
// length from its start: after damage, reading resumes at the next of them
// that holds a usable record.
constexpr uint64_t record_step = MINRECLEN;

}  // namespace

FileIndex index_stream(std::FILE *file, std::vector<std::string> &lines)
{
    const Listening listening(lines);
    FileIndex index;
    Blocks blocks(file);
    uint64_t position = 0;
    // The damaged stretch being skipped: where it began and why.
    uint64_t damage_start = 0;
    std::string damage;
    const auto end_damage = [&](uint64_t end, uint32_t first_length) {
        if (damage.empty()) return;
        char where[120];
        if (end - damage_start == first_length)
            std::snprintf(where, sizeof where, "the record at byte %llu is left out: ",
                          static_cast<unsigned long long>(damage_start));
        else
            std::snprintf(where, sizeof where, "bytes %llu to %llu are left out: ",
                          static_cast<unsigned long long>(damage_start), static_cast<unsigned long long>(end - 1));
        index.left_out.push_back(where + damage);
        damage.clear();
    };
    uint32_t damaged_length = 0;  // of the first damaged record, when its header said
    bool any_header = false;      // else it is no miniSEED file
    while (true) {
        size_t available = 0;
        char *bytes = blocks.at(position, available);
        if (!bytes || available == 0) {
            position = std::min(position, blocks.read());
            break;
        }
        MSRecord *raw = nullptr;
        std::string problem;
        const int status = parse_header(bytes, available, raw, problem);
        const Record record(raw);
        if (status == MS_NOERROR) any_header = true;
        if (status > 0 && available >= MAXRECLEN) {
            problem = "its length cannot be told";
        } else if (status > 0) {
            // The file ends inside a record.
            if (damage.empty()) {
                damage_start = position;
                damage = "the file ends inside it";
                damaged_length = static_cast<uint32_t>(available);
            }
            position += available;
            break;
        } else if (status == MS_NOERROR && problem.empty()) {
            end_damage(position, damaged_length);
            const std::string id = channel_id(*record), readable_id = readable_text(id);
            index.records.push_back({readable_id, record->starttime, msr_samprate(record.get()), record->samplecnt,
                                     position, static_cast<uint32_t>(record->reclen), record->encoding == DE_ASCII,
                                     readable_id != id});
            position += static_cast<uint64_t>(record->reclen);
            continue;
        }
        // A bad header at a record boundary, and whatever follows a damaged
        // record whose length is known, is told on its own.
        if (status == MS_NOERROR || (damaged_length > 0 && position >= damage_start + damaged_length))
            end_damage(position, damaged_length);
        if (damage.empty()) {
            damage_start = position;
            damage = problem;
            damaged_length = status == MS_NOERROR ? static_cast<uint32_t>(record->reclen) : 0;
        }
        position = (position / record_step + 1) * record_step;
    }
    end_damage(position, damaged_length);
    if (blocks.failed()) index.problem = std::strerror(errno);
    else if (position == 0) index.problem = "it is empty";
    else if (!any_header) index.problem = "not a miniSEED file";
    return index;
}

FileIndex index_file(const std::string &path, std::vector<std::string> &lines)
{
    FileIndex index;
    std::FILE *file = open_regular_file(path, index.problem);
    if (!file) return index;
    index = index_stream(file, lines);
    std::fclose(file);
    return index;
}

namespace {

// The samples of a record whose header was read and found sound, appended.
std::string decode_samples(std::vector<char> &bytes, std::vector<double> &samples)
{
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

}  // namespace

namespace {

// A whole record's samples appended, once its header is read and found
// sound; its header into `header` where one is asked for.
std::string decode_whole(std::vector<char> &bytes, RecordHeader *header, std::vector<double> &samples,
                         std::vector<std::string> &lines)
{
    const Listening listening(lines);
    {
        MSRecord *raw = nullptr;
        std::string problem;
        const int status = parse_header(bytes.data(), bytes.size(), raw, problem);
        const Record record(raw);
        if (status > 0) return "record cut short";
        if (!problem.empty()) return problem;
        if (header) {
            const std::string id = channel_id(*record), readable_id = readable_text(id);
            *header = {readable_id,     record->starttime, msr_samprate(record.get()), record->samplecnt, 0,
                       static_cast<uint32_t>(record->reclen), record->encoding == DE_ASCII, readable_id != id};
        }
        if (static_cast<size_t>(record->reclen) != bytes.size()) return "record changed on disk";
    }
    return decode_samples(bytes, samples);
}

}  // namespace

std::string decode_record(std::vector<char> &bytes, std::vector<double> &samples, std::vector<std::string> &lines)
{
    return decode_whole(bytes, nullptr, samples, lines);
}

std::string decode_record(std::vector<char> &bytes, RecordHeader &header, std::vector<double> &samples,
                          std::vector<std::string> &lines)
{
    return decode_whole(bytes, &header, samples, lines);
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

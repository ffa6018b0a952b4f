// Fuzz target for the miniSEED reader: the bytes are a file. Every record
// the index keeps must lie inside the file, one after another, with valid
// UTF-8 codes, and must decode to the samples its header promised; indexing
// the same bytes twice must give the same records and the same warnings.
#include "fuzz_support.h"
#include "miniseed.h"
#include "readable_text.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace onset_fuzz;

reading::FileIndex index_of(const std::uint8_t *data, std::size_t size, std::vector<std::string> &said)
{
    // fmemopen refuses an empty buffer; its mode "r" never writes to it.
    static const std::uint8_t nothing = 0;
    std::FILE *file = fmemopen(const_cast<std::uint8_t *>(size ? data : &nothing), size ? size : 1, "rb");
    if (!file)
        fail("fmemopen failed");
    if (size == 0)
        std::fseek(file, 1, SEEK_SET);
    reading::FileIndex index = reading::index_stream(file, said);
    std::fclose(file);
    return index;
}

bool same(const reading::RecordHeader &a, const reading::RecordHeader &b)
{
    return a.id == b.id && a.start == b.start && same_sample(a.rate, b.rate) && a.samples == b.samples &&
           a.offset == b.offset && a.length == b.length && a.text == b.text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::vector<std::string> said, said_again;
    const reading::FileIndex index = index_of(data, size, said);
    const reading::FileIndex again = index_of(data, size, said_again);
    if (index.records.size() != again.records.size() || index.left_out != again.left_out ||
        index.problem != again.problem || said != said_again)
        fail("indexing the same bytes twice differs");
    std::uint64_t end = 0;
    for (std::size_t r = 0; r < index.records.size(); ++r) {
        const reading::RecordHeader &record = index.records[r];
        if (!same(record, again.records[r]))
            fail("record %zu differs between two indexings", r);
        if (record.offset < end || record.offset + record.length > size)
            fail("record %zu at %llu (%u bytes) overlaps the one before or the end at %zu", r,
                 static_cast<unsigned long long>(record.offset), record.length, size);
        end = record.offset + record.length;
        if (reading::readable_text(record.id) != record.id)
            fail("record %zu: id is not readable text", r);
        // Exactly the record's bytes, so that AddressSanitizer sees a read
        // past them.
        std::vector<char> bytes(data + record.offset, data + record.offset + record.length);
        std::vector<double> samples;
        std::vector<std::string> decoding;
        const std::string problem = reading::decode_record(bytes, samples, decoding);
        if (problem.empty() && !record.text && static_cast<std::int64_t>(samples.size()) != record.samples)
            fail("record %zu: %zu samples decoded, its header says %lld", r, samples.size(),
                 static_cast<long long>(record.samples));
    }
    for (const std::string &line : index.left_out)
        if (line.empty())
            fail("an empty warning");
    return 0;
}

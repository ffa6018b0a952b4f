#include "mseed_writer.h"

#include <libmseed.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace detect_test {

namespace {

void append(char *record, int length, void *file)
{
    std::fwrite(record, 1, static_cast<size_t>(length), static_cast<std::FILE *>(file));
}

}  // namespace

void write_segments(const std::string &path, const std::vector<Segment> &segments)
{
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file) throw std::runtime_error("cannot create " + path);
    for (const Segment &s : segments) {
        // mst_pack moves and reallocates its samples: they must be malloc'ed.
        const bool text = !s.text.empty();
        const size_t bytes = text ? s.text.size() : s.samples.size() * sizeof(double);
        const size_t count = text ? s.text.size() : s.samples.size();
        void *samples = std::malloc(bytes + sizeof(double));
        if (!samples) throw std::bad_alloc();
        std::memcpy(samples, text ? static_cast<const void *>(s.text.data()) : s.samples.data(), bytes);
        MSTrace *trace = mst_init(nullptr);
        std::snprintf(trace->network, sizeof trace->network, "%s", s.network.c_str());
        std::snprintf(trace->station, sizeof trace->station, "%s", s.station.c_str());
        std::snprintf(trace->location, sizeof trace->location, "%s", s.location.c_str());
        std::snprintf(trace->channel, sizeof trace->channel, "%s", s.channel.c_str());
        trace->dataquality = 'D';
        trace->starttime = s.start;
        trace->samprate = s.rate;
        trace->sampletype = text ? 'a' : 'd';
        trace->datasamples = samples;
        trace->numsamples = static_cast<int64_t>(count);
        trace->samplecnt = trace->numsamples;
        int64_t packed = 0;
        const int records =
            mst_pack(trace, append, file, 512, text ? DE_ASCII : DE_FLOAT64, 1, &packed, 1, 0, nullptr);
        mst_free(&trace);
        if (records < 0 || packed != static_cast<int64_t>(count))
            throw std::runtime_error("cannot pack " + path);
    }
    if (std::fclose(file) != 0) throw std::runtime_error("cannot write " + path);
}

}  // namespace detect_test

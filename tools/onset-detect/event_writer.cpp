// The four event formats. The Python package writes the same bytes.
#include "event_writer.h"

#include <cmath>
#include <ctime>

namespace tool {

namespace {

// Whole seconds and the microseconds past them, for times before 1970 too.
std::tm utc_parts(Microseconds time, Microseconds &micro)
{
    Microseconds seconds = time / 1000000;
    micro = time % 1000000;
    if (micro < 0) {
        micro += 1000000;
        seconds -= 1;
    }
    const auto whole = static_cast<std::time_t>(seconds);
    std::tm parts{};
    gmtime_r(&whole, &parts);
    return parts;
}

// 2024-01-01T00:00:12.345678Z
std::string iso_time_micro(Microseconds time)
{
    Microseconds micro;
    const std::tm p = utc_parts(time, micro);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06dZ", p.tm_year + 1900, p.tm_mon + 1, p.tm_mday,
                  p.tm_hour, p.tm_min, p.tm_sec, static_cast<int>(micro));
    return text;
}

// NET, STA, LOC and CHA of an id (missing parts empty).
std::vector<std::string> id_codes(const std::string &id)
{
    std::vector<std::string> codes(4);
    size_t part = 0;
    for (char c : id) {
        if (c == '.' && part < 3) ++part;
        else codes[part] += c;
    }
    return codes;
}

std::string xml_escaped(const std::string &text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

}  // namespace

std::string iso_time(Microseconds time)
{
    const auto ms = static_cast<Microseconds>(std::floor(static_cast<double>(time) / 1000.0 + 0.5));
    Microseconds micro;
    const std::tm p = utc_parts(ms * 1000, micro);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", p.tm_year + 1900, p.tm_mon + 1, p.tm_mday,
                  p.tm_hour, p.tm_min, p.tm_sec, static_cast<int>(micro / 1000));
    return text;
}

EventWriter::EventWriter(std::FILE *out, Format format, const std::vector<std::string> &channel_ids)
    : out_(out), format_(format), ids_(channel_ids)
{
}

void EventWriter::header()
{
    if (header_written_) return;
    header_written_ = true;
    if (format_ == Format::csv) std::fputs("event,earliest,stations,trace,pick,strength,phase,uncertainty\n", out_);
    if (format_ == Format::quakeml)
        std::fputs("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                   "<q:quakeml xmlns:q=\"http://quakeml.org/xmlns/quakeml/1.2\" "
                   "xmlns=\"http://quakeml.org/xmlns/bed/1.2\">\n"
                   "  <eventParameters publicID=\"smi:local/onset/catalog\">\n",
                   out_);
}

void EventWriter::write(const Event &event)
{
    header();
    ++written_;
    const std::string earliest = iso_time(event.earliest);
    switch (format_) {
    case Format::csv:
        for (const onset_pick &pick : event.picks)
            std::fprintf(out_, "%zu,%s,%d,%s,%s,%.3f,%c,%.3f\n", written_, earliest.c_str(), event.stations,
                         ids_[static_cast<size_t>(pick.channel)].c_str(), iso_time(pick.time).c_str(), pick.strength,
                         static_cast<char>(pick.phase), pick.uncertainty);
        break;
    case Format::text:
        std::fprintf(out_, "%s %2d station%s", earliest.c_str(), event.stations, event.stations == 1 ? " " : "s");
        for (const onset_pick &pick : event.picks)
            std::fprintf(out_, "  %s=%s%s", ids_[static_cast<size_t>(pick.channel)].c_str(), iso_time(pick.time).c_str(),
                         pick.phase == 'S' ? "(S)" : "");
        std::fputc('\n', out_);
        break;
    case Format::quakeml: quakeml(event); break;
    case Format::nlloc: nlloc(event); break;
    }
    // A pipe sees each event as soon as it is final.
    std::fflush(out_);
}

void EventWriter::quakeml(const Event &event)
{
    const std::string id = "smi:local/onset/event/" + std::to_string(written_);
    std::fprintf(out_,
                 "    <event publicID=\"%s\">\n"
                 "      <comment>\n"
                 "        <text>%d station%s, earliest pick %s</text>\n"
                 "      </comment>\n",
                 id.c_str(), event.stations, event.stations == 1 ? "" : "s", iso_time_micro(event.earliest).c_str());
    for (size_t k = 0; k < event.picks.size(); ++k) {
        const onset_pick &pick = event.picks[k];
        const std::vector<std::string> codes = id_codes(ids_[static_cast<size_t>(pick.channel)]);
        std::fprintf(out_,
                     "      <pick publicID=\"%s/pick/%zu\">\n"
                     "        <time>\n"
                     "          <value>%s</value>\n"
                     "          <uncertainty>%g</uncertainty>\n"
                     "        </time>\n"
                     "        <waveformID networkCode=\"%s\" stationCode=\"%s\" locationCode=\"%s\" "
                     "channelCode=\"%s\"/>\n"
                     "        <methodID>smi:local/onset/kurtosis-rise</methodID>\n"
                     "        <phaseHint>%c</phaseHint>\n"
                     "        <evaluationMode>automatic</evaluationMode>\n"
                     "        <comment>\n"
                     "          <text>strength %.3f</text>\n"
                     "        </comment>\n"
                     "      </pick>\n",
                     id.c_str(), k + 1, iso_time_micro(pick.time).c_str(), pick.uncertainty,
                     xml_escaped(codes[0]).c_str(), xml_escaped(codes[1]).c_str(), xml_escaped(codes[2]).c_str(),
                     xml_escaped(codes[3]).c_str(), static_cast<char>(pick.phase), pick.strength);
    }
    std::fprintf(out_,
                 "      <creationInfo>\n"
                 "        <author>onset %s</author>\n"
                 "      </creationInfo>\n"
                 "    </event>\n",
                 onset_detect_version());
}

void EventWriter::nlloc(const Event &event)
{
    if (written_ > 1) std::fputc('\n', out_);
    for (const onset_pick &pick : event.picks) {
        const std::vector<std::string> codes = id_codes(ids_[static_cast<size_t>(pick.channel)]);
        const std::string &channel = codes[3];
        const std::string instrument = channel.size() > 1 ? channel.substr(0, channel.size() - 1) : "?";
        const std::string component = channel.empty() ? "?" : channel.substr(channel.size() - 1);
        // Tenths of milliseconds, the format's resolution, rounded before the
        // time is split, so that the seconds never print as 60.
        const Microseconds shifted = pick.time + 50;
        const Microseconds tenths = shifted / 100 - (shifted % 100 < 0 ? 1 : 0);
        Microseconds micro;
        const std::tm p = utc_parts(tenths * 100, micro);
        std::fprintf(out_, "%-6s %-4s %-4s ? %-6c ? %04d%02d%02d %02d%02d %9.4f GAU %9.2e %9.2e %9.2e %9.2e\n",
                     codes[1].c_str(), instrument.c_str(), component.c_str(), static_cast<char>(pick.phase),
                     p.tm_year + 1900, p.tm_mon + 1, p.tm_mday, p.tm_hour, p.tm_min,
                     p.tm_sec + static_cast<double>(micro) * 1e-6, pick.uncertainty, -1.0, -1.0, -1.0);
    }
}

void EventWriter::finish()
{
    header();
    if (format_ == Format::quakeml) std::fputs("  </eventParameters>\n</q:quakeml>\n", out_);
    std::fflush(out_);
}

}  // namespace tool

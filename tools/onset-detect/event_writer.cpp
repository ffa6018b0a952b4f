// The four event formats. The Python package writes the same bytes.
#include "event_writer.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include "field_escaping.h"

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

// The onset where the pick's uncertainty makes it clear: a sharp arrival is
// pinned to a few hundredths of a second, an emergent one only to tenths.
// In between, neither is said.
enum class Onset { unclear, impulsive, emergent };
Onset onset_of(const onset_pick &pick)
{
    if (pick.uncertainty <= 0.05) return Onset::impulsive;
    if (pick.uncertainty >= 0.2) return Onset::emergent;
    return Onset::unclear;
}

// The first motion in each format's words, empty where it is not clear.
struct Motion {
    const char *letter;   // CSV and NonLinLoc
    const char *word;     // text
    const char *quakeml;  // QuakeML's PickPolarity
};
Motion motion_of(const onset_pick &pick)
{
    if (pick.polarity == 'U') return {"U", "up", "positive"};
    if (pick.polarity == 'D') return {"D", "down", "negative"};
    return {"", "", ""};
}

std::string event_id(const RunIdentity &run, size_t number)
{
    return run.resource_id + "/event/" + std::to_string(number);
}

// NonLinLoc's station label: the station with its network, and its location
// where it has one, so that equal station codes of two networks stay apart.
std::string nlloc_label(const std::vector<std::string> &codes)
{
    std::string label = codes[0] + "_" + codes[1];
    if (!codes[2].empty()) label += "_" + codes[2];
    return nlloc_field(label);
}

// Who made a resource and when, as every QuakeML resource carries it once
// catalogues are merged.
void creation_info(std::FILE *out, const char *indent, const RunIdentity &run)
{
    std::fprintf(out,
                 "%s<creationInfo>\n"
                 "%s  <author>onset</author>\n"
                 "%s  <creationTime>%s</creationTime>\n"
                 "%s  <version>%s</version>\n"
                 "%s</creationInfo>\n",
                 indent, indent, indent, iso_time_micro(run.created).c_str(), indent, onset_detect_version(), indent);
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

const char csv_pick_header[] = "trace,pick,strength,phase,uncertainty,polarity";

std::string csv_pick_columns(const onset_pick &pick, const std::string &trace)
{
    char numbers[96];
    std::snprintf(numbers, sizeof numbers, ",%.3f,%c,%.3f,", pick.strength, static_cast<char>(pick.phase),
                  pick.uncertainty);
    return csv_field(trace) + "," + iso_time(pick.time) + numbers + motion_of(pick).letter;
}

EventWriter::EventWriter(std::FILE *out, Format format, const std::vector<std::string> &channel_ids,
                         const RunIdentity &run)
    : out_(out), format_(format), ids_(channel_ids), run_(run)
{
}

void EventWriter::header()
{
    if (header_written_) return;
    header_written_ = true;
    if (format_ == Format::csv)
        std::fprintf(out_, "event,earliest,stations,%s\n", csv_pick_header);
    if (format_ == Format::quakeml) {
        std::fprintf(out_,
                     "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<q:quakeml xmlns:q=\"http://quakeml.org/xmlns/quakeml/1.2\" "
                     "xmlns=\"http://quakeml.org/xmlns/bed/1.2\">\n"
                     "  <eventParameters publicID=\"%s\">\n",
                     xml_text(run_.resource_id).c_str());
    }
}

bool EventWriter::write(const Event &event)
{
    header();
    ++written_;
    const std::string earliest = iso_time(event.earliest);
    switch (format_) {
    case Format::csv:
        for (const onset_pick &pick : event.picks)
            std::fprintf(out_, "%zu,%s,%d,%s\n", written_, earliest.c_str(), event.stations,
                         csv_pick_columns(pick, ids_[static_cast<size_t>(pick.channel)]).c_str());
        break;
    case Format::text: text(event); break;
    case Format::quakeml: quakeml(event); break;
    case Format::nlloc: nlloc(event); break;
    }
    // A pipe sees each event as soon as it is final, and a failed write
    // shows now rather than at the end.
    return std::fflush(out_) == 0 && !std::ferror(out_);
}

// A header line, then one aligned line per pick in time order, short enough
// for a terminal; a blank line before every event but the first.
void EventWriter::text(const Event &event)
{
    std::vector<const onset_pick *> picks;
    size_t width = 0, s_picks = 0;
    for (const onset_pick &pick : event.picks) {
        picks.push_back(&pick);
        width = std::max(width, printable(ids_[static_cast<size_t>(pick.channel)]).size());
        s_picks += pick.phase == 'S';
    }
    std::stable_sort(picks.begin(), picks.end(),
                     [](const onset_pick *a, const onset_pick *b) { return a->time < b->time; });
    if (written_ > 1) std::fputc('\n', out_);
    std::fprintf(out_, "event %zu  %s  %d station%s  %zu pick%s (%zu P, %zu S)\n", written_,
                 iso_time(event.earliest).c_str(), event.stations, event.stations == 1 ? "" : "s", picks.size(),
                 picks.size() == 1 ? "" : "s", picks.size() - s_picks, s_picks);
    for (const onset_pick *pick : picks)
        std::fprintf(out_, "  %-*s  %c  %s  +-%.3f s  strength %6.2f%s%s\n", static_cast<int>(width),
                     printable(ids_[static_cast<size_t>(pick->channel)]).c_str(), static_cast<char>(pick->phase),
                     iso_time(pick->time).c_str(), pick->uncertainty, pick->strength,
                     *motion_of(*pick).word ? "  " : "", motion_of(*pick).word);
}

void EventWriter::quakeml(const Event &event)
{
    const std::string id = xml_text(event_id(run_, written_));
    std::fprintf(out_,
                 "    <event publicID=\"%s\">\n"
                 "      <comment>\n"
                 "        <text>%d station%s, earliest pick %s</text>\n"
                 "      </comment>\n",
                 id.c_str(), event.stations, event.stations == 1 ? "" : "s", iso_time_micro(event.earliest).c_str());
    for (size_t k = 0; k < event.picks.size(); ++k) {
        const onset_pick &pick = event.picks[k];
        const std::vector<std::string> codes = id_codes(ids_[static_cast<size_t>(pick.channel)]);
        const Onset onset = onset_of(pick);
        const std::string onset_element = onset == Onset::unclear ? ""
                                          : std::string("        <onset>") +
                                                (onset == Onset::impulsive ? "impulsive" : "emergent") + "</onset>\n";
        const Motion motion = motion_of(pick);
        const std::string polarity_element =
            *motion.quakeml ? std::string("        <polarity>") + motion.quakeml + "</polarity>\n" : "";
        std::fprintf(out_,
                     "      <pick publicID=\"%s/pick/%zu\">\n"
                     "        <time>\n"
                     "          <value>%s</value>\n"
                     "          <uncertainty>%g</uncertainty>\n"
                     "        </time>\n"
                     "        <waveformID networkCode=\"%s\" stationCode=\"%s\" locationCode=\"%s\" "
                     "channelCode=\"%s\"/>\n"
                     "        <methodID>smi:local/onset/kurtosis-rise</methodID>\n"
                     "%s"
                     "        <phaseHint>%c</phaseHint>\n"
                     "%s"
                     "        <evaluationMode>automatic</evaluationMode>\n"
                     "        <comment>\n"
                     "          <text>strength %.3f</text>\n"
                     "        </comment>\n",
                     id.c_str(), k + 1, iso_time_micro(pick.time).c_str(), pick.uncertainty,
                     xml_text(codes[0]).c_str(), xml_text(codes[1]).c_str(), xml_text(codes[2]).c_str(),
                     xml_text(codes[3]).c_str(), onset_element.c_str(), static_cast<char>(pick.phase),
                     polarity_element.c_str(), pick.strength);
        creation_info(out_, "        ", run_);
        std::fputs("      </pick>\n", out_);
    }
    creation_info(out_, "      ", run_);
    std::fputs("    </event>\n", out_);
}

void EventWriter::nlloc(const Event &event)
{
    std::fprintf(out_, "PUBLIC_ID %s\n", nlloc_field(event_id(run_, written_)).c_str());
    for (const onset_pick &pick : event.picks) {
        const std::vector<std::string> codes = id_codes(ids_[static_cast<size_t>(pick.channel)]);
        const std::string &channel = codes[3];
        const std::string instrument = nlloc_field(channel.size() > 1 ? channel.substr(0, channel.size() - 1) : "");
        const std::string component = nlloc_field(channel.empty() ? "" : channel.substr(channel.size() - 1));
        const Onset onset = onset_of(pick);
        const char *motion = motion_of(pick).letter;
        // Tenths of milliseconds, the format's resolution, rounded before the
        // time is split, so that the seconds never print as 60.
        const Microseconds shifted = pick.time + 50;
        const Microseconds tenths = shifted / 100 - (shifted % 100 < 0 ? 1 : 0);
        Microseconds micro;
        const std::tm p = utc_parts(tenths * 100, micro);
        std::fprintf(out_, "%-6s %-4s %-4s %c %-6c %c %04d%02d%02d %02d%02d %9.4f GAU %9.2e %9.2e %9.2e %9.2e\n",
                     nlloc_label(codes).c_str(), instrument.c_str(), component.c_str(),
                     onset == Onset::impulsive ? 'I' : onset == Onset::emergent ? 'E' : '?',
                     static_cast<char>(pick.phase), *motion ? *motion : '?',
                     p.tm_year + 1900, p.tm_mon + 1, p.tm_mday, p.tm_hour, p.tm_min,
                     p.tm_sec + static_cast<double>(micro) * 1e-6, pick.uncertainty, -1.0, -1.0, -1.0);
    }
    // The empty line ends the event, the last one too.
    std::fputc('\n', out_);
}

bool EventWriter::finish()
{
    header();
    if (format_ == Format::quakeml) {
        // After the events, where QuakeML's order of elements puts it.
        creation_info(out_, "    ", run_);
        std::fputs("  </eventParameters>\n</q:quakeml>\n", out_);
    }
    return std::fflush(out_) == 0 && !std::ferror(out_);
}

}  // namespace tool

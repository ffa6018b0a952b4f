#include "report.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <limits>

namespace detect {

namespace {

Microseconds first_arrival(const SyntheticEvent &event)
{
    return *std::min_element(event.arrivals.begin(), event.arrivals.end());
}

// Index of the true event matched by `event`, or -1.
int match(const Event &event, const SyntheticNetwork &truth, double tolerance)
{
    int best = -1;
    double best_distance = tolerance;
    for (size_t e = 0; e < truth.events.size(); ++e) {
        const double distance = std::fabs(static_cast<double>(event.earliest - first_arrival(truth.events[e])) * 1e-6);
        if (distance <= best_distance) { best = static_cast<int>(e); best_distance = distance; }
    }
    return best;
}

// Largest distance of a pick from its station's true arrival; trace i of the
// synthetic network is station i.
double worst_error(const Event &event, const SyntheticEvent &truth)
{
    double worst = 0.0;
    for (const EventPick &pick : event.picks)
        worst = std::max(worst, std::fabs(static_cast<double>(pick.time - truth.arrivals[pick.trace]) * 1e-6));
    return worst;
}

bool holds_glitch(const Event &event, const SyntheticNetwork &truth)
{
    for (const EventPick &pick : event.picks)
        for (const Glitch &glitch : truth.glitches)
            if (pick.trace == glitch.station && std::llabs(pick.time - glitch.time) < 500000) return true;
    return false;
}

}  // namespace

std::string iso_time(Microseconds time)
{
    const Microseconds ms = static_cast<Microseconds>(std::floor(static_cast<double>(time) / 1000.0 + 0.5));
    Microseconds seconds = ms / 1000, fraction = ms % 1000;
    if (fraction < 0) { fraction += 1000; seconds -= 1; }
    const std::time_t whole = static_cast<std::time_t>(seconds);
    std::tm parts{};
    gmtime_r(&whole, &parts);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  static_cast<int>(fraction));
    return text;
}

void write_events(std::FILE *out, const std::vector<Event> &events, const std::vector<Trace> &traces)
{
    for (const Event &event : events) {
        std::fprintf(out, "%s %2d stations", iso_time(event.earliest).c_str(), event.stations);
        for (const EventPick &pick : event.picks)
            std::fprintf(out, "  %s=%s", traces[pick.trace].id.c_str(), iso_time(pick.time).c_str());
        std::fputc('\n', out);
    }
}

void write_events_csv(std::FILE *out, const std::vector<Event> &events,
                      const std::vector<Trace> &traces)
{
    std::fputs("event,earliest,stations,trace,pick,strength\n", out);
    for (size_t e = 0; e < events.size(); ++e)
        for (const EventPick &pick : events[e].picks)
            std::fprintf(out, "%zu,%s,%d,%s,%s,%.3f\n", e + 1, iso_time(events[e].earliest).c_str(),
                         events[e].stations, traces[pick.trace].id.c_str(), iso_time(pick.time).c_str(),
                         pick.strength);
}

Score score_events(const std::vector<Event> &events, const SyntheticNetwork &truth, double tolerance)
{
    Score score;
    score.true_events = static_cast<int>(truth.events.size());
    std::vector<bool> found(truth.events.size(), false);
    for (const Event &event : events) {
        if (holds_glitch(event, truth)) ++score.glitch_events;
        const int e = match(event, truth, tolerance);
        if (e < 0) { ++score.false_detections; continue; }
        found[static_cast<size_t>(e)] = true;
        score.worst_pick_error = std::max(score.worst_pick_error, worst_error(event, truth.events[static_cast<size_t>(e)]));
    }
    score.found = static_cast<int>(std::count(found.begin(), found.end(), true));
    return score;
}

void write_score(std::FILE *out, const std::vector<Event> &events, const SyntheticNetwork &truth,
                 double tolerance)
{
    std::fprintf(out, "\nsynthetic truth: %zu stations, %zu events, %zu glitches\n", truth.traces.size(),
                 truth.events.size(), truth.glitches.size());
    std::fprintf(out, "%-26s %-26s %9s %17s\n", "true first arrival", "found earliest pick", "stations",
                 "worst pick error");
    for (const SyntheticEvent &true_event : truth.events) {
        const Event *hit = nullptr;
        for (const Event &event : events)
            if (match(event, truth, tolerance) == static_cast<int>(&true_event - truth.events.data())) hit = &event;
        if (!hit) {
            std::fprintf(out, "%-26s %-26s\n", iso_time(first_arrival(true_event)).c_str(), "missed");
            continue;
        }
        std::fprintf(out, "%-26s %-26s %5d/%-3zu %11.3f s\n", iso_time(first_arrival(true_event)).c_str(),
                     iso_time(hit->earliest).c_str(), hit->stations, truth.traces.size(),
                     worst_error(*hit, true_event));
    }
    const Score score = score_events(events, truth, tolerance);
    std::fprintf(out, "recall %d/%d (%.0f%%), false detections %d, glitches that became events %d of %zu\n",
                 score.found, score.true_events, 100.0 * score.found / std::max(1, score.true_events),
                 score.false_detections, score.glitch_events, truth.glitches.size());
}

}  // namespace detect

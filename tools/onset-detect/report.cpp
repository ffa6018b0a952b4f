// The comparison with the synthetic truth.
#include "report.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tool {

namespace {

Microseconds first_arrival(const SyntheticEvent &event)
{
    return *std::min_element(event.arrivals.begin(), event.arrivals.end());
}

// The true events by first arrival, to match detections in log time.
class TruthIndex {
public:
    TruthIndex(const SyntheticNetwork &truth, double tolerance)
        : tolerance_(std::llround(tolerance * 1e6)), glitches_(truth.ids().size())
    {
        for (size_t e = 0; e < truth.events().size(); ++e) firsts_.push_back({first_arrival(truth.events()[e]), e});
        std::sort(firsts_.begin(), firsts_.end());
        for (const Glitch &glitch : truth.glitches()) glitches_[glitch.station].push_back(glitch.time);
        for (auto &times : glitches_) std::sort(times.begin(), times.end());
    }

    // Index of the true event matched by `event`, or -1.
    int match(const Event &event) const
    {
        const auto near = std::lower_bound(firsts_.begin(), firsts_.end(),
                                           std::make_pair(event.earliest - tolerance_, size_t{0}));
        int best = -1;
        Microseconds best_distance = tolerance_;
        for (auto it = near; it != firsts_.end() && it->first <= event.earliest + tolerance_; ++it) {
            const Microseconds distance = std::llabs(event.earliest - it->first);
            if (distance <= best_distance) {
                best = static_cast<int>(it->second);
                best_distance = distance;
            }
        }
        return best;
    }

    bool holds_glitch(const Event &event) const
    {
        for (const onset_pick &pick : event.picks) {
            const auto &times = glitches_[static_cast<size_t>(pick.channel)];
            const auto next = std::lower_bound(times.begin(), times.end(), pick.time - 499999);
            if (next != times.end() && *next < pick.time + 500000) return true;
        }
        return false;
    }

private:
    Microseconds tolerance_;
    std::vector<std::pair<Microseconds, size_t>> firsts_;
    std::vector<std::vector<Microseconds>> glitches_;  // by station
};

// Largest distance of a P pick from its station's true arrival.
double worst_error(const Event &event, const SyntheticEvent &truth)
{
    double worst = 0.0;
    for (const onset_pick &pick : event.picks)
        if (pick.phase == 'P')
            worst = std::max(worst,
                         std::fabs(static_cast<double>(pick.time - truth.arrivals[static_cast<size_t>(pick.channel)]) * 1e-6));
    return worst;
}

}  // namespace

Score score_events(const std::vector<Event> &events, const SyntheticNetwork &truth, double tolerance)
{
    const TruthIndex index(truth, tolerance);
    Score score;
    score.true_events = static_cast<int>(truth.events().size());
    std::vector<bool> found(truth.events().size(), false);
    for (const Event &event : events) {
        if (index.holds_glitch(event)) ++score.glitch_events;
        const int e = index.match(event);
        if (e < 0) {
            ++score.false_detections;
            continue;
        }
        found[static_cast<size_t>(e)] = true;
        score.worst_pick_error =
            std::max(score.worst_pick_error, worst_error(event, truth.events()[static_cast<size_t>(e)]));
    }
    score.found = static_cast<int>(std::count(found.begin(), found.end(), true));
    return score;
}

void write_score(std::FILE *out, const std::vector<Event> &events, const SyntheticNetwork &truth, double tolerance)
{
    const TruthIndex index(truth, tolerance);
    std::vector<const Event *> hits(truth.events().size(), nullptr);
    for (const Event &event : events) {
        const int e = index.match(event);
        if (e >= 0) hits[static_cast<size_t>(e)] = &event;
    }
    std::fprintf(out, "\nsynthetic truth: %zu stations, %zu events, %zu glitches\n", truth.ids().size(),
                 truth.events().size(), truth.glitches().size());
    std::fprintf(out, "%-26s %-26s %9s %17s\n", "true first arrival", "found earliest pick", "stations",
                 "worst pick error");
    for (size_t e = 0; e < truth.events().size(); ++e) {
        const SyntheticEvent &true_event = truth.events()[e];
        const std::string arrival = iso_time(first_arrival(true_event));
        if (!hits[e]) {
            std::fprintf(out, "%-26s %-26s\n", arrival.c_str(), "missed");
            continue;
        }
        std::fprintf(out, "%-26s %-26s %5d/%-3zu %11.3f s\n", arrival.c_str(), iso_time(hits[e]->earliest).c_str(),
                     hits[e]->stations, truth.ids().size(), worst_error(*hits[e], true_event));
    }
    const Score score = score_events(events, truth, tolerance);
    std::fprintf(out, "recall %d/%d (%.0f%%), false detections %d, glitches that became events %d of %zu\n", score.found,
                 score.true_events, 100.0 * score.found / std::max(1, score.true_events), score.false_detections,
                 score.glitch_events, truth.glitches().size());
}

}  // namespace tool

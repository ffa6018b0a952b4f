// Merging located events that found the same arrivals.
#include "same_arrivals.h"

#include <algorithm>
#include <cstdlib>

namespace detect {

namespace {

// The picking stations where the two have a pick of one phase within `same`.
size_t stations_in_common(const OriginCandidate &a, const OriginCandidate &b, const std::vector<int32_t> &unit,
                          int64_t same)
{
    std::vector<int32_t> shared;
    for (size_t i = 0; i < a.picks.size(); ++i)
        for (size_t j = 0; j < b.picks.size(); ++j) {
            const int32_t station = unit[static_cast<size_t>(a.picks[i].channel)];
            if (station == unit[static_cast<size_t>(b.picks[j].channel)] && a.phases[i] == b.phases[j] &&
                std::llabs(a.picks[i].time - b.picks[j].time) <= same)
                shared.push_back(station);
        }
    std::sort(shared.begin(), shared.end());
    return static_cast<size_t>(std::unique(shared.begin(), shared.end()) - shared.begin());
}

bool has_phase(const OriginCandidate &c, int32_t station, char phase, const std::vector<int32_t> &unit)
{
    for (size_t i = 0; i < c.picks.size(); ++i)
        if (unit[static_cast<size_t>(c.picks[i].channel)] == station && c.phases[i] == phase) return true;
    return false;
}

}  // namespace

void merge_same_arrivals(std::vector<OriginCandidate> &candidates, const std::vector<int32_t> &unit, int64_t same,
                         size_t stations,
                         const std::function<location::Location(const std::vector<location::PhasePick> &)> &locate)
{
    auto open = [](const OriginCandidate &c) {
        return !c.merged && c.location.status == location::LocationStatus::located;
    };
    for (size_t i = 0; i < candidates.size(); ++i) {
        OriginCandidate &kept = candidates[i];
        for (size_t j = i + 1; j < candidates.size() && open(kept); ++j) {
            OriginCandidate &other = candidates[j];
            if (!open(other) || stations_in_common(kept, other, unit, same) < stations) continue;
            for (size_t b = 0; b < other.picks.size(); ++b) {
                if (has_phase(kept, unit[static_cast<size_t>(other.picks[b].channel)], other.phases[b], unit))
                    continue;
                kept.picks.push_back(other.picks[b]);
                kept.phases.push_back(other.phases[b]);
                kept.labelled.push_back(other.labelled[b]);
            }
            kept.location = locate(kept.labelled);
            other.merged = true;
        }
    }
}

}  // namespace detect

#include "data_clock.h"

#include <algorithm>
#include <vector>

namespace detect {

void DataClock::heard(const std::string &channel, int64_t end, int64_t arrival)
{
    // Late and repeated records say nothing of how far the data have come.
    const auto [latest, added] = ends_.emplace(channel, end);
    if (!added && end <= latest->second) return;
    latest->second = end;
    offsets_[channel] = end - arrival;
}

int64_t DataClock::now(int64_t wall) const
{
    if (offsets_.empty()) return std::numeric_limits<int64_t>::min();
    std::vector<int64_t> offsets;
    for (const auto &[channel, offset] : offsets_) offsets.push_back(offset);
    // The lower median: of two channels, the one further behind.
    const auto middle = offsets.begin() + static_cast<std::ptrdiff_t>((offsets.size() - 1) / 2);
    std::nth_element(offsets.begin(), middle, offsets.end());
    return wall + *middle;
}

}  // namespace detect

// Located events that found the same arrivals are one earthquake.
#ifndef ONSET_DETECT_SAME_ARRIVALS_H
#define ONSET_DETECT_SAME_ARRIVALS_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "locator.h"
#include "onset_detect.h"

namespace detect {

// An origin and the picks it takes, each as a phase (`phases`, and the
// locator's picks in `labelled`); `main` is the pool's event that gave most
// of them.
struct OriginCandidate {
    std::vector<onset_pick> picks;
    std::vector<char> phases;
    std::vector<location::PhasePick> labelled;
    location::Location location;
    size_t main;
    bool merged = false;
};

// Where the grouping split an earthquake, the windows of one part find the
// arrivals the other picked. Of two located candidates whose picks of one
// phase coincide (within `same`, microseconds) at `stations` picking
// stations or more (unit[c]: the picking station of channel c), the later
// is merged into the earlier: it gives the phases whose stations the
// earlier lacks, and the whole is located afresh with `locate`.
void merge_same_arrivals(std::vector<OriginCandidate> &candidates, const std::vector<int32_t> &unit, int64_t same,
                         size_t stations,
                         const std::function<location::Location(const std::vector<location::PhasePick> &)> &locate);

}  // namespace detect

#endif

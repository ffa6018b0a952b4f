// Association of picks into located events by travel time.
#ifndef ONSET_DETECT_LOCATION_ASSOCIATION_H
#define ONSET_DETECT_LOCATION_ASSOCIATION_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "locator.h"

namespace detect::location {

struct AssociationOptions {
    double tolerance_s = 0.5; // a pick belongs to an origin within this of its P or S
    int32_t min_stations = 3; // an event needs picks on this many stations
    int32_t min_phases =
        5; // and this many picks: one more than the unknowns, so that they must agree
};

struct AssociatedEvent {
    Location location;         // its fits in the order of `picks` below
    std::vector<size_t> picks; // indices into the picks given, by time
    std::vector<char> phases;  // the label each takes here: 'P' or 'S'
};

// Groups picks (of any stations, in any order, labels not trusted) into
// events, each the set of picks that one origin explains as P or S within
// the tolerance, at most one of each per station. Events are found from the
// earliest pick not yet taken: every node of the locator's coarse grid, with
// that pick as P or as S, proposes an origin time, and the node explaining
// most picks on enough stations is located; the picks within the tolerance
// of the located origin then form the event, relabelled by their nearer
// phase, and it is located again with them. A pick that starts no event and
// joins none is left out: it is in no event returned. Overlapping events
// come apart since each takes only the picks its origin explains.
std::vector<AssociatedEvent> associate(const Locator &locator, const std::vector<PhasePick> &picks,
                                       const AssociationOptions &options = {});

// The same for picks already sorted into groups that mostly belong together
// (events grouped by their times), which spares most of the search: each
// group, in order, is located with its own labels, then takes the picks of
// all groups that its origin explains, relabelled, until they no longer
// change; a group whose picks an earlier origin took is merged into that
// event. Picks that no group's origin explains then go through associate(),
// for events hidden under others. Events come in the order they are found.
std::vector<AssociatedEvent> associate_groups(const Locator &locator,
                                              const std::vector<PhasePick> &picks,
                                              const std::vector<std::vector<size_t>> &groups,
                                              const AssociationOptions &options = {});

} // namespace detect::location

#endif

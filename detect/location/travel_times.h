// First-arrival travel times through a 1-D model, tabulated on a
// distance-depth grid.
#ifndef ONSET_DETECT_LOCATION_TRAVEL_TIMES_H
#define ONSET_DETECT_LOCATION_TRAVEL_TIMES_H

#include <cstddef>
#include <vector>

#include "velocity_model.h"

namespace detect::location {

// Sources at distances 0 .. max_distance_km and depths top_km ..
// bottom_km (negative above sea level), `step_km` apart both ways.
struct TableGrid {
    double max_distance_km;
    double top_km;
    double bottom_km;
    double step_km;
};

// The first arrival of one wave at a receiver at a given depth (a
// station's negative elevation), from every node of a grid: by
// reciprocity, the rays from the receiver. The model is cut into flat
// slabs of constant velocity at its own depths, the grid's depths and the
// receiver's (a graded model also at every step, with the mean velocity of
// each slab), and in that stack of slabs the times are exact: the least of
// the direct ray and the head waves along every interface below both ends
// that is faster than all above it. The direct ray is traced by its ray
// parameter and interpolated in distance by its slope, which is the ray
// parameter itself.
class TravelTimeTable {
public:
    TravelTimeTable(const VelocityModel &model, Wave wave, double receiver_depth_km,
                    const TableGrid &grid);

    // Where a source depth falls among the rows: the row above it and the
    // share of the row below. Tables on one grid share it, so a search
    // finds it once for all of them.
    struct DepthRow {
        size_t row;
        double below;
    };
    DepthRow depth_row(double depth_km) const
    {
        double depth_index = (depth_km - grid_.top_km) / grid_.step_km;
        depth_index = depth_index < 0.0 ? 0.0 : depth_index;
        depth_index = depth_index > depth_count_ - 1.0 ? depth_count_ - 1.0 : depth_index;
        const size_t j = depth_index < depth_count_ - 2.0 ? static_cast<size_t>(depth_index)
                                                          : depth_count_ - 2;
        return {j, depth_index - j};
    }

    // Seconds from a source at a horizontal distance and a depth (km),
    // interpolated bilinearly; depths outside the grid are taken at its
    // edge, distances beyond it extrapolated along its last step.
    double time(double distance_km, double depth_km) const
    {
        return time(distance_km, depth_row(depth_km));
    }
    double time(double distance_km, const DepthRow &depth) const
    {
        const double distance_index = distance_km / grid_.step_km;
        size_t i = distance_index < distance_count_ - 2.0 ? static_cast<size_t>(distance_index)
                                                          : distance_count_ - 2;
        const double u = distance_index - i, w = depth.below;
        const double *upper = &times_[depth.row * distance_count_ + i];
        const double *lower = upper + distance_count_;
        return (1.0 - w) * ((1.0 - u) * upper[0] + u * upper[1]) +
               w * ((1.0 - u) * lower[0] + u * lower[1]);
    }

    const TableGrid &grid() const { return grid_; }

private:
    TableGrid grid_;
    size_t distance_count_, depth_count_;
    std::vector<double> times_; // depth by depth, distances within
};

} // namespace detect::location

#endif

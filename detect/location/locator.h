// Location of events from their picks: a grid search in the volume around
// the stations, refined on finer grids.
#ifndef ONSET_DETECT_LOCATION_LOCATOR_H
#define ONSET_DETECT_LOCATION_LOCATOR_H

#include <algorithm>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "local_projection.h"
#include "stations.h"
#include "travel_times.h"
#include "velocity_model.h"

namespace detect::location {

struct LocatorOptions {
    double margin_km = 20.0;     // searched beyond the box around the stations
    double max_depth_km = 30.0;  // deepest source searched, below sea level
    double table_step_km = 0.25; // of the travel-time tables
    double final_step_km = 0.1;  // the finest grid of the search, which least squares then polish
    // Added in quadrature to each pick's uncertainty for its weight: the
    // model's own error, so that sharp picks do not overrule all others.
    double model_error_s = 0.05;
    int32_t min_phases = 4;     // and three stations: fewer do not fix a hypocentre
    double max_gap_deg = 300.0; // wider azimuthal gaps are flagged
    // A pick is left out, one at a time, when its residual exceeds both this
    // and five robust deviations of the others.
    double outlier_s = 0.5;
};

// One arrival: `site` indexes the locator's sites.
struct PhasePick {
    int32_t site;
    int64_t time;       // microseconds since 1970
    char phase;         // 'P' or 'S'
    double uncertainty; // seconds
};

struct PickFit {
    double residual;    // seconds, observed - computed; NaN without an origin
    double distance_km; // epicentre to station
    double azimuth_deg; // of the station seen from the epicentre
    bool used;          // false: an outlier left out (or no origin)
};

enum class LocationStatus {
    located,        // an origin within the network's reach
    large_gap,      // located, but the stations cover less than 360 - max_gap_deg of azimuth
    too_few_phases, // not located: fewer phases or stations than needed
};

struct Location {
    LocationStatus status;
    double latitude, longitude; // degrees; NaN when not located
    double depth_km;            // below sea level
    int64_t origin_time;        // microseconds since 1970
    // One standard deviation, from the travel times' derivatives at the
    // origin and the residuals' spread (never less than the picks' own
    // uncertainty): the horizontal semi-major axis and the depth.
    double horizontal_uncertainty_km, depth_uncertainty_km;
    double rms_residual_s; // of the phases used
    double azimuthal_gap_deg;
    int32_t phases_used;
    std::vector<PickFit> picks; // one per pick given, in its order
};

// Travel-time tables for every station elevation and both waves, and the
// times to the nodes of a coarse grid over the volume, are made once, on
// construction (which throws std::invalid_argument for no stations or a
// bad model); locate() only reads them, so one locator serves any number
// of threads at once. The misfit of a trial hypocentre is the weighted L1
// norm of the residuals about their weighted median, which is the best
// origin time for it; a few picks far off (a wrong phase label, a spike)
// move it little. The search: the coarse grid with the 40 earliest picks;
// grids halving in step around the best node of its three best depths,
// down to 0.5 km; finer grids with all picks; least squares reweighted to
// the same misfit, from there and from depths 2 km apart; then the worst
// outliers are left out one at a time. Located in local coordinates around
// the centre of the stations (LocalProjection).
class Locator {
public:
    Locator(std::vector<StationSite> sites, const VelocityModel &model,
            const LocatorOptions &options = {});

    Location locate(const std::vector<PhasePick> &picks) const;
    // The same, and an origin on the floor of the volume, held there by a
    // pick that contradicts the others, is searched again without each pick
    // in turn: up to one search per pick more, for an event's own picks
    // rather than for every trial of association.
    Location locate_off_the_floor(const std::vector<PhasePick> &picks) const;
    // The same as locate, searching only around a hypocentre known to be
    // near (from an earlier location of most of the same picks): much
    // faster.
    Location locate_near(const std::vector<PhasePick> &picks, PlanePoint epicentre,
                         double depth_km) const;

    // Whether a depth lies on the floor of the volume searched: an origin
    // there fits no source inside it.
    bool on_floor(double depth_km) const { return depth_km >= volume_.bottom - options_.final_step_km; }

    const std::vector<StationSite> &sites() const { return sites_; }
    // The sites of one station (network and station code) share a number.
    int32_t station_of(int32_t site) const { return station_of_site_[site]; }
    const LocalProjection &projection() const { return projection_; }
    // The model's first arrival at a site from a hypocentre, seconds.
    double travel_time(int32_t site, char phase, PlanePoint epicentre, double depth_km) const;

    // The coarse grid the search starts on, with its travel times: for
    // association, which tries every node.
    size_t node_count() const { return coarse_times_.size() / (2 * sites_.size()); }
    double node_step_km() const { return coarse_step_; }
    float node_time(size_t node, int32_t site, char phase) const
    {
        return coarse_times_[(node * sites_.size() + site) * 2 + (phase == 'S')];
    }
    void node_place(size_t node, PlanePoint &epicentre, double &depth_km) const
    {
        const size_t across = static_cast<size_t>(coarse_count_[0]) * coarse_count_[1];
        epicentre = {coarse_east(static_cast<int>(node % coarse_count_[0])),
                     coarse_north(static_cast<int>(node / coarse_count_[0] % coarse_count_[1]))};
        depth_km = coarse_depth(static_cast<int>(node / across));
    }

private:
    struct Volume {
        double west, east, south, north, top, bottom;
    };
    struct Trial {
        double east, north, depth, misfit, origin;
    };
    struct Observation;

    Trial evaluate(const std::vector<Observation> &observations, double east, double north,
                   double depth, std::vector<std::pair<double, double>> &work) const;
    Trial search(const std::vector<Observation> &observations) const;
    Location locate_from(const std::vector<PhasePick> &picks, const Trial *near, bool off_floor) const;
    Trial polish(const std::vector<Observation> &observations, Trial best) const;
    Trial refine(const std::vector<Observation> &observations, Trial best, double step,
                 double finest) const;
    void describe(const std::vector<Observation> &observations, const Trial &origin,
                  Location &location) const;
    // Observed minus computed, seconds.
    double residual(const Observation &o, const Trial &origin) const;
    double rms_residual(const std::vector<Observation> &observations, const Trial &origin) const;
    // Whether picks can fix a hypocentre.
    using Enough = std::function<bool(const std::vector<Observation> &)>;
    // Leaves the worst outliers out of `used`, one at a time, while fewer
    // than `most` are out (`out` are already), and returns the origin of
    // the rest.
    Trial leave_out_outliers(std::vector<Observation> &used, Trial origin, size_t out, size_t most,
                             const Enough &enough) const;
    // Leaves out of `used` the pick that held the origin on the floor of
    // the volume, if one did, and returns the origin of the others.
    Trial off_the_floor(std::vector<Observation> &used, Trial origin, size_t most,
                        const Enough &enough) const;

    std::vector<StationSite> sites_;
    LocalProjection projection_;
    LocatorOptions options_;
    std::vector<PlanePoint> places_;       // of the sites
    std::vector<int32_t> station_of_site_; // sites of one station share a number
    std::vector<size_t> table_of_site_;    // P table; the S table follows it
    std::vector<TravelTimeTable> tables_;
    Volume volume_;
    // The first, coarse grid of the search and the travel times to its
    // nodes, node by node, P and S of each site side by side: the search
    // over it reads memory in order.
    double coarse_step_;
    int coarse_count_[3]; // east, north, depth
    std::vector<float> coarse_times_;
    double coarse_east(int i) const
    {
        return std::min(volume_.west + i * coarse_step_, volume_.east);
    }
    double coarse_north(int j) const
    {
        return std::min(volume_.south + j * coarse_step_, volume_.north);
    }
    double coarse_depth(int k) const
    {
        return std::min(volume_.top + k * coarse_step_, volume_.bottom);
    }
};

} // namespace detect::location

#endif

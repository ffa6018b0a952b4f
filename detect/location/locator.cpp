// Grid search with an L1 misfit, refinement, outliers and the origin's
// description.
#include "locator.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_map>

namespace detect::location {

struct Locator::Observation {
    size_t pick; // index among the picks given
    int32_t site;
    size_t column; // in a node's row of the coarse grid's times
    const TravelTimeTable *table;
    double time;   // seconds after the earliest pick
    double weight; // 1 / standard deviation
};

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// The step (km) from which the search uses every pick: the earliest picks
// have placed the origin within it.
constexpr double refined_step = 0.5;

// A trial hypocentre by the bits of its coordinates: equal only where
// evaluating them gives the same bits.
struct Place {
    double east, north, depth;
    bool operator==(const Place &other) const
    {
        return std::memcmp(this, &other, sizeof(Place)) == 0;
    }
};

struct PlaceHash {
    size_t operator()(const Place &place) const
    {
        uint64_t bits[3];
        std::memcpy(bits, &place, sizeof(bits));
        return std::hash<uint64_t>()(bits[0] ^ (bits[1] * 0x9e3779b97f4a7c15u) ^
                                     (bits[2] * 0xc2b2ae3d27d4eb4fu));
    }
};

// The weighted median of (value, weight) pairs, the minimiser of the
// weighted sum of absolute deviations: the least value at which the weight
// at or below it reaches half the total. Found by selection, in linear
// time; the pairs are reordered.
double weighted_median(std::vector<std::pair<double, double>> &pairs)
{
    double half = 0.0;
    for (const auto &pair : pairs)
        half += pair.second;
    half *= 0.5;
    size_t low = 0, high = pairs.size();
    double below = 0.0; // weight of the pairs left of `low`
    while (high - low > 1) {
        const double pivot = pairs[low + (high - low) / 2].first;
        // Three parts: [low, less) < pivot, [less, more) == pivot, [more, high) > pivot.
        size_t less = low, i = low, more = high;
        double less_weight = 0.0, equal_weight = 0.0;
        while (i < more) {
            const std::pair<double, double> pair = pairs[i];
            if (pair.first < pivot) {
                less_weight += pair.second;
                pairs[i++] = pairs[less];
                pairs[less++] = pair;
            } else if (pair.first > pivot) {
                pairs[i] = pairs[--more];
                pairs[more] = pair;
            } else {
                equal_weight += pair.second;
                ++i;
            }
        }
        if (below + less_weight >= half) {
            high = less;
        } else if (below + less_weight + equal_weight >= half) {
            return pivot;
        } else {
            below += less_weight + equal_weight;
            low = more;
        }
    }
    return pairs[low].first;
}

// Inverts a symmetric positive definite 4x4 matrix in place by
// Gauss-Jordan elimination; false if it is singular.
bool invert(double m[4][4])
{
    double inverse[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
    for (int c = 0; c < 4; ++c) {
        int pivot = c;
        for (int r = c + 1; r < 4; ++r)
            if (std::fabs(m[r][c]) > std::fabs(m[pivot][c]))
                pivot = r;
        if (!(std::fabs(m[pivot][c]) > 1e-12))
            return false;
        std::swap(m[c], m[pivot]);
        std::swap(inverse[c], inverse[pivot]);
        const double scale = 1.0 / m[c][c];
        for (int k = 0; k < 4; ++k)
            m[c][k] *= scale, inverse[c][k] *= scale;
        for (int r = 0; r < 4; ++r) {
            if (r == c)
                continue;
            const double factor = m[r][c];
            for (int k = 0; k < 4; ++k)
                m[r][k] -= factor * m[c][k], inverse[r][k] -= factor * inverse[c][k];
        }
    }
    std::copy(&inverse[0][0], &inverse[0][0] + 16, &m[0][0]);
    return true;
}

} // namespace

Locator::Locator(std::vector<StationSite> sites, const VelocityModel &model,
                 const LocatorOptions &options)
    : sites_(std::move(sites)), projection_(0.0, 0.0), options_(options)
{
    if (sites_.empty())
        throw std::invalid_argument("locator: no stations");
    std::string message;
    check_velocity_model(model, message);
    if (!message.empty())
        throw std::invalid_argument("velocity model: " + message);
    // The centre of the stations' box, with longitudes taken near the
    // first one so that a network across the antimeridian stays whole.
    double south = 90.0, north = -90.0, west = 1e9, east = -1e9, highest = -1e9;
    for (const StationSite &site : sites_) {
        const double longitude = sites_[0].longitude +
                                 std::remainder(site.longitude - sites_[0].longitude, 360.0);
        south = std::min(south, site.latitude), north = std::max(north, site.latitude);
        west = std::min(west, longitude), east = std::max(east, longitude);
        highest = std::max(highest, site.elevation_m);
    }
    projection_ = LocalProjection(0.5 * (south + north), 0.5 * (west + east));

    std::map<std::pair<std::string, std::string>, int32_t> stations;
    volume_ = {1e9, -1e9, 1e9, -1e9, -highest / 1000.0, options_.max_depth_km};
    for (const StationSite &site : sites_) {
        places_.push_back(projection_.to_plane(site.latitude, site.longitude));
        volume_.west = std::min(volume_.west, places_.back().east_km - options_.margin_km);
        volume_.east = std::max(volume_.east, places_.back().east_km + options_.margin_km);
        volume_.south = std::min(volume_.south, places_.back().north_km - options_.margin_km);
        volume_.north = std::max(volume_.north, places_.back().north_km + options_.margin_km);
        station_of_site_.push_back(
            stations.emplace(std::make_pair(site.network, site.station), stations.size())
                .first->second);
    }
    if (!(volume_.bottom > volume_.top))
        throw std::invalid_argument("locator: maximum depth above the stations");

    // Distances reach from any station to the far corner of the volume.
    double reach = 0.0;
    for (const PlanePoint &place : places_)
        reach = std::max(
            reach,
            std::hypot(std::max(place.east_km - volume_.west, volume_.east - place.east_km),
                       std::max(place.north_km - volume_.south, volume_.north - place.north_km)));
    const TableGrid grid{reach + options_.table_step_km, volume_.top, volume_.bottom,
                         options_.table_step_km};

    // One pair of tables per distinct elevation.
    std::map<double, size_t> table_of_elevation;
    std::vector<double> depths;
    for (const StationSite &site : sites_) {
        const auto found = table_of_elevation.emplace(site.elevation_m, 2 * depths.size());
        if (found.second)
            depths.push_back(-site.elevation_m / 1000.0);
        table_of_site_.push_back(found.first->second);
    }
    std::vector<std::unique_ptr<TravelTimeTable>> made(2 * depths.size());
#pragma omp parallel for schedule(dynamic)
    for (size_t t = 0; t < made.size(); ++t)
        made[t] = std::make_unique<TravelTimeTable>(model, t % 2 ? Wave::S : Wave::P, depths[t / 2],
                                                    grid);
    for (const auto &table : made)
        tables_.push_back(std::move(*table));

    // About 1000 nodes over the whole volume.
    const double size = (volume_.east - volume_.west) * (volume_.north - volume_.south) *
                        (volume_.bottom - volume_.top);
    coarse_step_ = std::max(4.0 * options_.table_step_km, std::cbrt(size / 1000.0));
    coarse_count_[0] = static_cast<int>(std::ceil((volume_.east - volume_.west) / coarse_step_)) +
                       1;
    coarse_count_[1] = static_cast<int>(std::ceil((volume_.north - volume_.south) / coarse_step_)) +
                       1;
    coarse_count_[2] = static_cast<int>(std::ceil((volume_.bottom - volume_.top) / coarse_step_)) +
                       1;
    const size_t columns = 2 * sites_.size();
    coarse_times_.resize(static_cast<size_t>(coarse_count_[0]) * coarse_count_[1] *
                         coarse_count_[2] * columns);
    for (int k = 0; k < coarse_count_[2]; ++k)
        for (int j = 0; j < coarse_count_[1]; ++j)
            for (int i = 0; i < coarse_count_[0]; ++i) {
                const PlanePoint node{coarse_east(i), coarse_north(j)};
                float *row = &coarse_times_[((static_cast<size_t>(k) * coarse_count_[1] + j) *
                                                 coarse_count_[0] +
                                             i) *
                                            columns];
                for (size_t site = 0; site < sites_.size(); ++site)
                    for (const char phase : {'P', 'S'})
                        row[2 * site + (phase == 'S')] = static_cast<float>(
                            travel_time(static_cast<int32_t>(site), phase, node, coarse_depth(k)));
            }
}

double Locator::travel_time(int32_t site, char phase, PlanePoint epicentre, double depth_km) const
{
    const PlanePoint &place = places_.at(site);
    const double distance = std::hypot(epicentre.east_km - place.east_km,
                                       epicentre.north_km - place.north_km);
    return tables_[table_of_site_[site] + (phase == 'S')].time(distance, depth_km);
}

Locator::Trial Locator::evaluate(const std::vector<Observation> &observations, double east,
                                 double north, double depth,
                                 std::vector<std::pair<double, double>> &work) const
{
    work.clear();
    // All the tables are on one grid.
    const TravelTimeTable::DepthRow row = tables_.front().depth_row(depth);
    for (const Observation &o : observations) {
        const PlanePoint &place = places_[o.site];
        const double de = east - place.east_km, dn = north - place.north_km;
        work.emplace_back(o.time - o.table->time(std::sqrt(de * de + dn * dn), row), o.weight);
    }
    const double origin = weighted_median(work);
    double misfit = 0.0;
    for (const auto &[residual, weight] : work)
        misfit += weight * std::fabs(residual - origin);
    return {east, north, depth, misfit, origin};
}

Locator::Trial Locator::refine(const std::vector<Observation> &observations, Trial best,
                               double step, double finest) const
{
    std::vector<std::pair<double, double>> work;
    // A move at the same step brings back most of the points around the
    // centre it left; they are looked up by their exact coordinates, so the
    // search takes the same path as without the memory.
    std::unordered_map<Place, Trial, PlaceHash> tried;
    auto trial_at = [&](double east, double north, double depth) {
        const auto found = tried.try_emplace(Place{east, north, depth});
        if (found.second)
            found.first->second = evaluate(observations, east, north, depth, work);
        return found.first->second;
    };
    for (int moves = 0; step >= finest && moves < 400; ++moves) {
        const Trial centre = best;
        bool moved = false;
        for (int k = -1; k <= 1; ++k)
            for (int j = -1; j <= 1; ++j)
                for (int i = -1; i <= 1; ++i) {
                    if (i == 0 && j == 0 && k == 0)
                        continue;
                    const double east = std::clamp(centre.east + i * step, volume_.west,
                                                   volume_.east);
                    const double north = std::clamp(centre.north + j * step, volume_.south,
                                                    volume_.north);
                    const double depth = std::clamp(centre.depth + k * step, volume_.top,
                                                    volume_.bottom);
                    const Trial trial = trial_at(east, north, depth);
                    if (trial.misfit < best.misfit)
                        best = trial, moved = true;
                }
        // A neighbour that is better moves the search there at the same
        // step; only a centre better than all its neighbours goes finer.
        if (!moved)
            step *= 0.5;
    }
    return best;
}

Locator::Trial Locator::search(const std::vector<Observation> &observations) const
{
    // The basins of the misfit are found with the earliest picks alone,
    // those of the nearest stations, which constrain a hypocentre most;
    // the cost of the wide search then does not grow with the network.
    std::vector<Observation> earliest(observations);
    std::stable_sort(earliest.begin(), earliest.end(),
                     [](const Observation &a, const Observation &b) { return a.time < b.time; });
    earliest.resize(std::min<size_t>(earliest.size(), 40));

    const int nx = coarse_count_[0], ny = coarse_count_[1], nz = coarse_count_[2];
    const size_t columns = 2 * sites_.size();
    std::vector<Trial> trials;
    trials.reserve(static_cast<size_t>(nx) * ny * nz);
    std::vector<std::pair<double, double>> work;
    const float *row = coarse_times_.data();
    for (int k = 0; k < nz; ++k)
        for (int j = 0; j < ny; ++j)
            for (int i = 0; i < nx; ++i, row += columns) {
                work.clear();
                for (const Observation &o : earliest)
                    work.emplace_back(o.time - row[o.column], o.weight);
                const double origin = weighted_median(work);
                double misfit = 0.0;
                for (const auto &[residual, weight] : work)
                    misfit += weight * std::fabs(residual - origin);
                trials.push_back(
                    {coarse_east(i), coarse_north(j), coarse_depth(k), misfit, origin});
            }
    // The best nodes of the three best depths start refinements: the
    // misfit can have a second basin across a velocity step, and depth is
    // what it is least sure of.
    std::vector<Trial> starts;
    const size_t layer = static_cast<size_t>(nx) * ny;
    auto lower = [](const Trial &a, const Trial &b) { return a.misfit < b.misfit; };
    for (int k = 0; k < nz; ++k)
        starts.push_back(
            *std::min_element(trials.begin() + k * layer, trials.begin() + (k + 1) * layer, lower));
    std::stable_sort(starts.begin(), starts.end(), lower);
    Trial best{0, 0, 0, std::numeric_limits<double>::infinity(), 0};
    for (size_t m = 0; m < std::min<size_t>(starts.size(), 3); ++m) {
        const Trial refined = refine(earliest, starts[m], 0.5 * coarse_step_, refined_step);
        if (refined.misfit < best.misfit)
            best = refined;
    }
    best = refine(observations, evaluate(observations, best.east, best.north, best.depth, work),
                  refined_step, options_.final_step_km);
    best = polish(observations, best);
    // A velocity step can leave a narrow basin of the misfit beside a wide
    // one, at another depth: least squares from depths 2 km apart below the
    // epicentre, with the earliest picks, find it.
    Trial other{0, 0, 0, std::numeric_limits<double>::infinity(), 0};
    for (double depth = volume_.top; depth <= volume_.bottom; depth += 2.0) {
        const Trial polished = polish(earliest,
                                      evaluate(earliest, best.east, best.north, depth, work));
        if (polished.misfit < other.misfit)
            other = polished;
    }
    other = polish(observations,
                   evaluate(observations, other.east, other.north, other.depth, work));
    return other.misfit < best.misfit ? other : best;
}

Locator::Trial Locator::polish(const std::vector<Observation> &observations, Trial best) const
{
    // Steps of iteratively reweighted least squares, whose weights make it
    // minimise the same L1 misfit: they follow a narrow valley of the
    // misfit that the grid's directions miss. A step is kept only when the
    // misfit falls.
    std::vector<std::pair<double, double>> work;
    const double delta = options_.table_step_km;
    for (int iteration = 0; iteration < 10; ++iteration) {
        double normal[4][4] = {}, right[4] = {};
        const TravelTimeTable::DepthRow level = tables_.front().depth_row(best.depth),
                                        deeper = tables_.front().depth_row(best.depth + delta);
        for (const Observation &o : observations) {
            const PlanePoint &place = places_[o.site];
            auto distance_to = [&](double east, double north) {
                return std::hypot(east - place.east_km, north - place.north_km);
            };
            const double distance = distance_to(best.east, best.north);
            const double computed = o.table->time(distance, level);
            const double residual = o.time - best.origin - computed;
            const double row[4] = {
                (o.table->time(distance_to(best.east + delta, best.north), level) - computed) /
                    delta,
                (o.table->time(distance_to(best.east, best.north + delta), level) - computed) /
                    delta,
                (o.table->time(distance, deeper) - computed) / delta, 1.0};
            const double weight = o.weight / std::max(std::fabs(residual) * o.weight, 0.01);
            for (int a = 0; a < 4; ++a) {
                right[a] += weight * row[a] * residual;
                for (int b = 0; b < 4; ++b)
                    normal[a][b] += weight * row[a] * row[b];
            }
        }
        if (!invert(normal))
            break;
        double step[3];
        for (int a = 0; a < 3; ++a)
            step[a] = normal[a][0] * right[0] + normal[a][1] * right[1] + normal[a][2] * right[2] +
                      normal[a][3] * right[3];
        bool improved = false;
        for (double share = 1.0; share > 0.1 && !improved; share *= 0.5) {
            const Trial trial = evaluate(
                observations, std::clamp(best.east + share * step[0], volume_.west, volume_.east),
                std::clamp(best.north + share * step[1], volume_.south, volume_.north),
                std::clamp(best.depth + share * step[2], volume_.top, volume_.bottom), work);
            if (trial.misfit < best.misfit)
                best = trial, improved = true;
        }
        if (!improved)
            break;
    }
    return best;
}

void Locator::describe(const std::vector<Observation> &observations, const Trial &origin,
                       Location &location) const
{
    const PlanePoint epicentre{origin.east, origin.north};
    projection_.to_geographic(epicentre, location.latitude, location.longitude);
    location.depth_km = origin.depth;

    // Linearised covariance of (east, north, depth, origin time), with the
    // travel times' derivatives taken across a table step.
    const double delta = options_.table_step_km;
    double normal[4][4] = {};
    double squares = 0.0, weighted_squares = 0.0;
    std::vector<double> azimuths;
    int32_t used = 0;
    for (const Observation &o : observations) {
        const PickFit &fit = location.picks[o.pick];
        if (!fit.used)
            continue;
        ++used;
        squares += fit.residual * fit.residual;
        weighted_squares += fit.residual * fit.residual * o.weight * o.weight;
        azimuths.push_back(fit.azimuth_deg);
        const PlanePoint &place = places_[o.site];
        auto time_at = [&](double east, double north, double depth) {
            return o.table->time(std::hypot(east - place.east_km, north - place.north_km), depth);
        };
        const double row[4] = {
            (time_at(origin.east + delta, origin.north, origin.depth) -
             time_at(origin.east - delta, origin.north, origin.depth)) /
                (2 * delta),
            (time_at(origin.east, origin.north + delta, origin.depth) -
             time_at(origin.east, origin.north - delta, origin.depth)) /
                (2 * delta),
            (time_at(origin.east, origin.north, origin.depth + delta) -
             time_at(origin.east, origin.north, std::max(origin.depth - delta, volume_.top))) /
                (origin.depth + delta - std::max(origin.depth - delta, volume_.top)),
            1.0};
        for (int a = 0; a < 4; ++a)
            for (int b = 0; b < 4; ++b)
                normal[a][b] += row[a] * row[b] * o.weight * o.weight;
    }
    location.phases_used = used;
    location.rms_residual_s = std::sqrt(squares / used);
    // The residuals' own spread scales the covariance when they exceed the
    // picks' uncertainties.
    const double scale = used > 4 ? std::max(1.0, weighted_squares / (used - 4)) : 1.0;
    if (invert(normal)) {
        const double a = normal[0][0] * scale, b = normal[0][1] * scale, c = normal[1][1] * scale;
        const double major = 0.5 * (a + c) + std::sqrt(0.25 * (a - c) * (a - c) + b * b);
        location.horizontal_uncertainty_km = std::sqrt(major);
        location.depth_uncertainty_km = std::sqrt(std::max(0.0, normal[2][2] * scale));
    } else {
        location.horizontal_uncertainty_km = location.depth_uncertainty_km =
            std::numeric_limits<double>::infinity();
    }

    std::sort(azimuths.begin(), azimuths.end());
    double gap = 360.0 - (azimuths.back() - azimuths.front());
    for (size_t i = 1; i < azimuths.size(); ++i)
        gap = std::max(gap, azimuths[i] - azimuths[i - 1]);
    location.azimuthal_gap_deg = gap;
    location.status = gap > options_.max_gap_deg ? LocationStatus::large_gap
                                                 : LocationStatus::located;
}

double Locator::residual(const Observation &o, const Trial &origin) const
{
    const PlanePoint &place = places_[o.site];
    return o.time - origin.origin -
           o.table->time(std::hypot(origin.east - place.east_km, origin.north - place.north_km), origin.depth);
}

double Locator::rms_residual(const std::vector<Observation> &observations, const Trial &origin) const
{
    double squares = 0.0;
    for (const Observation &o : observations) {
        const double r = residual(o, origin);
        squares += r * r;
    }
    return std::sqrt(squares / static_cast<double>(observations.size()));
}

Locator::Trial Locator::leave_out_outliers(std::vector<Observation> &used, Trial origin, size_t out,
                                           size_t most, const Enough &enough) const
{
    std::vector<std::pair<double, double>> work;
    for (; out < most; ++out) {
        // The worst residual, and the robust spread of the others.
        std::vector<double> deviations;
        size_t worst = 0;
        for (size_t k = 0; k < used.size(); ++k) {
            deviations.push_back(std::fabs(residual(used[k], origin)));
            if (deviations[k] > deviations[worst])
                worst = k;
        }
        const double largest = deviations[worst];
        std::nth_element(deviations.begin(), deviations.begin() + deviations.size() / 2,
                         deviations.end());
        const double spread = 1.4826 * deviations[deviations.size() / 2];
        std::vector<Observation> kept(used);
        kept.erase(kept.begin() + worst);
        if (!(largest > options_.outlier_s && largest > 5.0 * spread) || !enough(kept))
            break;
        used = std::move(kept);
        // One outlier among many pulls an L1 origin little: least squares
        // from there find it again.
        origin = polish(used, evaluate(used, origin.east, origin.north, origin.depth, work));
    }
    return origin;
}

Locator::Trial Locator::off_the_floor(std::vector<Observation> &used, Trial origin, size_t most,
                                      const Enough &enough) const
{
    // An origin on the floor of the volume fits no source inside it: picks
    // that contradict the others pulled it there, and one of them (a noise
    // onset before the P) can outweigh several good ones. The pick whose
    // absence lets the others (their outliers left out too) fit an origin
    // off the floor with half the RMS residual, or less, is left out.
    double best = 0.5 * rms_residual(used, origin);
    std::vector<Observation> chosen;
    for (size_t k = 0; most > 0 && k < used.size(); ++k) {
        std::vector<Observation> kept(used);
        kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(k));
        if (!enough(kept)) continue;
        const Trial trial = leave_out_outliers(kept, search(kept), 1, most, enough);
        if (on_floor(trial.depth)) continue;
        const double rms = rms_residual(kept, trial);
        if (rms < best) best = rms, chosen = std::move(kept), origin = trial;
    }
    if (!chosen.empty()) used = std::move(chosen);
    return origin;
}

Location Locator::locate(const std::vector<PhasePick> &picks) const
{
    return locate_from(picks, nullptr, false);
}

Location Locator::locate_off_the_floor(const std::vector<PhasePick> &picks) const
{
    return locate_from(picks, nullptr, true);
}

Location Locator::locate_near(const std::vector<PhasePick> &picks, PlanePoint epicentre,
                              double depth_km) const
{
    const Trial near{std::clamp(epicentre.east_km, volume_.west, volume_.east),
                     std::clamp(epicentre.north_km, volume_.south, volume_.north),
                     std::clamp(depth_km, volume_.top, volume_.bottom), 0.0, 0.0};
    return locate_from(picks, &near, false);
}

Location Locator::locate_from(const std::vector<PhasePick> &picks, const Trial *near, bool off_floor) const
{
    Location location{LocationStatus::too_few_phases, nan, nan, nan, 0, nan, nan, nan, nan, 0, {}};
    location.picks.assign(picks.size(), PickFit{nan, nan, nan, false});
    int64_t earliest = std::numeric_limits<int64_t>::max();
    for (const PhasePick &pick : picks)
        earliest = std::min(earliest, pick.time);

    std::vector<Observation> observations;
    for (size_t i = 0; i < picks.size(); ++i) {
        const PhasePick &pick = picks[i];
        if (pick.site < 0 || pick.site >= static_cast<int32_t>(sites_.size()))
            continue;
        if (pick.phase != 'P' && pick.phase != 'S')
            continue;
        const double deviation = std::hypot(std::max(pick.uncertainty, 0.0),
                                            options_.model_error_s);
        observations.push_back({i, pick.site,
                                2 * static_cast<size_t>(pick.site) + (pick.phase == 'S'),
                                &tables_[table_of_site_[pick.site] + (pick.phase == 'S')],
                                (pick.time - earliest) * 1e-6, 1.0 / deviation});
    }
    auto enough = [&](const std::vector<Observation> &used) {
        std::vector<int32_t> stations;
        for (const Observation &o : used)
            stations.push_back(station_of_site_[o.site]);
        std::sort(stations.begin(), stations.end());
        const size_t distinct = std::unique(stations.begin(), stations.end()) - stations.begin();
        return static_cast<int32_t>(used.size()) >= std::max(options_.min_phases, 1) &&
               distinct >= 3;
    };
    if (!enough(observations))
        return location;

    std::vector<Observation> used = observations;
    std::vector<std::pair<double, double>> work;
    Trial origin = near ? polish(used,
                                 refine(used,
                                        evaluate(used, near->east, near->north, near->depth, work),
                                        refined_step, options_.final_step_km))
                        : search(used);
    const size_t most = observations.size() / 4;
    if (off_floor && on_floor(origin.depth)) origin = off_the_floor(used, origin, most, enough);
    origin = leave_out_outliers(used, origin, observations.size() - used.size(), most, enough);

    double latitude, longitude;
    projection_.to_geographic({origin.east, origin.north}, latitude, longitude);
    for (const Observation &o : observations) {
        PickFit &fit = location.picks[o.pick];
        const PlanePoint &place = places_[o.site];
        fit.distance_km = std::hypot(origin.east - place.east_km, origin.north - place.north_km);
        fit.azimuth_deg = azimuth(latitude, longitude, sites_[o.site].latitude,
                                  sites_[o.site].longitude);
        fit.residual = o.time - origin.origin - o.table->time(fit.distance_km, origin.depth);
    }
    for (const Observation &o : used)
        location.picks[o.pick].used = true;
    location.origin_time = earliest + std::llround(origin.origin * 1e6);
    describe(observations, origin, location);
    return location;
}

} // namespace detect::location

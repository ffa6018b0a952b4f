// The slab stack, direct rays by ray parameter and head waves by their
// intercept times.
#include "travel_times.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace detect::location {

namespace {

// Flat slabs of constant velocity: slab k lies between boundary k and
// k + 1; the last one, below the last boundary, is a half-space.
struct SlabStack {
    std::vector<double> boundary; // km, increasing
    std::vector<double> velocity; // one per boundary: of the slab below it

    double thickness(size_t k) const { return boundary[k + 1] - boundary[k]; }
    size_t at(double depth) const
    {
        return std::lower_bound(boundary.begin(), boundary.end(), depth - 1e-9) - boundary.begin();
    }
};

SlabStack cut_slabs(const VelocityModel &model, Wave wave, double receiver_depth,
                    const TableGrid &grid, size_t depth_count)
{
    std::vector<double> cuts(model.depth_km);
    cuts.push_back(receiver_depth);
    for (size_t j = 0; j < depth_count; ++j)
        cuts.push_back(grid.top_km + j * grid.step_km);
    std::sort(cuts.begin(), cuts.end());
    // Nothing above the shallower end carries a first arrival.
    const double top = std::min(receiver_depth, grid.top_km);
    SlabStack stack;
    for (double cut : cuts) {
        if (cut < top - 1e-9 || (!stack.boundary.empty() && cut - stack.boundary.back() < 1e-9))
            continue;
        if (model.graded && !stack.boundary.empty()) {
            // Grade within a step of depth, so that mean velocities of thin
            // slabs follow the gradient.
            const double from = stack.boundary.back();
            const int parts = static_cast<int>(std::ceil((cut - from) / grid.step_km - 1e-9));
            for (int p = 1; p < parts; ++p)
                stack.boundary.push_back(from + (cut - from) * p / parts);
        }
        stack.boundary.push_back(cut);
    }
    for (size_t k = 0; k + 1 < stack.boundary.size(); ++k)
        stack.velocity.push_back(
            model.velocity(wave, 0.5 * (stack.boundary[k] + stack.boundary[k + 1])));
    stack.velocity.push_back(model.velocity(wave, stack.boundary.back() + 1.0));
    return stack;
}

// Fills `times` at distances i * step (0 <= i < count) with the direct ray
// through slabs [first, last) of the stack, or +inf beyond its reach.
void direct_times(const SlabStack &stack, size_t first, size_t last, double step, double *times,
                  size_t count)
{
    if (first == last) {
        // Both ends at one depth: along the faster side of the boundary.
        double v = stack.velocity[first];
        if (first > 0)
            v = std::max(v, stack.velocity[first - 1]);
        for (size_t i = 0; i < count; ++i)
            times[i] = i * step / v;
        return;
    }
    // Neighbouring slabs of one velocity act as one: a layered model's
    // layers, however often the grid cuts them.
    std::vector<double> thickness, velocity;
    for (size_t k = first; k < last; ++k) {
        if (!velocity.empty() && velocity.back() == stack.velocity[k]) {
            thickness.back() += stack.thickness(k);
        } else {
            thickness.push_back(stack.thickness(k));
            velocity.push_back(stack.velocity[k]);
        }
    }
    const double fastest = *std::max_element(velocity.begin(), velocity.end());
    // The ray is followed by s, the tangent of its angle from the vertical
    // in the fastest slab: the distance grows with s without bound.
    double s = 0.0, previous_x = 0.0, previous_t = 0.0, previous_p = 0.0;
    const double target_step = 0.5 * step;
    size_t i = 0;
    for (bool first_sample = true; i < count; first_sample = false) {
        const double cos_fast = 1.0 / std::sqrt(1.0 + s * s);
        const double p = s * cos_fast / fastest;
        double x = 0.0, t = 0.0, slope = 0.0;
        for (size_t k = 0; k < velocity.size(); ++k) {
            const double v = velocity[k], h = thickness[k];
            const double sine = p * v;
            const double cosine = v == fastest ? cos_fast : std::sqrt((1.0 - sine) * (1.0 + sine));
            x += h * sine / cosine;
            t += h / (v * cosine);
            const double ratio = cos_fast / cosine;
            slope += h * (v / fastest) * ratio * ratio * ratio;
        }
        if (first_sample) {
            times[i++] = t;
        } else {
            // Cubic Hermite in distance: dt/dx is the ray parameter.
            const double span = x - previous_x;
            for (; i < count && i * step <= x; ++i) {
                const double u = (i * step - previous_x) / span;
                const double u2 = u * u, u3 = u2 * u;
                times[i] = (2 * u3 - 3 * u2 + 1) * previous_t +
                           (u3 - 2 * u2 + u) * span * previous_p + (-2 * u3 + 3 * u2) * t +
                           (u3 - u2) * span * p;
            }
        }
        previous_x = x, previous_t = t, previous_p = p;
        s += target_step / slope;
        if (!(s < 1e12))
            break;
    }
    for (; i < count; ++i)
        times[i] = std::numeric_limits<double>::infinity();
}

// A head wave: t = intercept + x / velocity from the critical distance on.
struct HeadWave {
    double intercept, critical_distance, velocity;
};

// Per boundary b above interface k: the leg from b down to k, if every
// slab on it is slower than the slab below k.
struct Leg {
    bool valid;
    double intercept, critical_distance;
};

std::vector<Leg> legs_to(const SlabStack &stack, size_t k)
{
    std::vector<Leg> legs(k + 1, Leg{false, 0.0, 0.0});
    legs[k] = {true, 0.0, 0.0};
    const double v_head = stack.velocity[k];
    double intercept = 0.0, critical = 0.0;
    for (size_t b = k; b-- > 0;) {
        const double v = stack.velocity[b], h = stack.thickness(b);
        if (!(v < v_head))
            break;
        const double sine = v / v_head;
        const double cosine = std::sqrt((1.0 - sine) * (1.0 + sine));
        intercept += h * cosine / v;
        critical += h * sine / cosine;
        legs[b] = {true, intercept, critical};
    }
    return legs;
}

} // namespace

TravelTimeTable::TravelTimeTable(const VelocityModel &model, Wave wave, double receiver_depth_km,
                                 const TableGrid &grid)
    : grid_(grid)
{
    if (!(grid.step_km > 0.0 && grid.bottom_km >= grid.top_km && grid.max_distance_km > 0.0))
        throw std::invalid_argument("travel-time grid: empty or negative step");
    distance_count_ = static_cast<size_t>(std::ceil(grid.max_distance_km / grid.step_km - 1e-9)) +
                      1;
    depth_count_ = static_cast<size_t>(
                       std::ceil((grid.bottom_km - grid.top_km) / grid.step_km - 1e-9)) +
                   1;
    distance_count_ = std::max<size_t>(distance_count_, 2);
    depth_count_ = std::max<size_t>(depth_count_, 2);
    grid_.max_distance_km = (distance_count_ - 1) * grid.step_km;
    grid_.bottom_km = grid.top_km + (depth_count_ - 1) * grid.step_km;

    const SlabStack stack = cut_slabs(model, wave, receiver_depth_km, grid_, depth_count_);
    const size_t receiver = stack.at(receiver_depth_km);
    std::vector<size_t> node(depth_count_);
    for (size_t j = 0; j < depth_count_; ++j)
        node[j] = stack.at(grid_.top_km + j * grid_.step_km);

    times_.resize(depth_count_ * distance_count_);
    for (size_t j = 0; j < depth_count_; ++j)
        direct_times(stack, std::min(node[j], receiver), std::max(node[j], receiver), grid_.step_km,
                     &times_[j * distance_count_], distance_count_);

    std::vector<std::vector<HeadWave>> heads(depth_count_);
    for (size_t k = 1; k < stack.boundary.size(); ++k) {
        if (k <= receiver)
            continue;
        const std::vector<Leg> legs = legs_to(stack, k);
        if (!legs[receiver].valid)
            continue;
        for (size_t j = 0; j < depth_count_; ++j) {
            if (node[j] >= k || !legs[node[j]].valid)
                continue;
            const Leg &leg = legs[node[j]];
            heads[j].push_back({legs[receiver].intercept + leg.intercept,
                                legs[receiver].critical_distance + leg.critical_distance,
                                stack.velocity[k]});
        }
    }
    for (size_t j = 0; j < depth_count_; ++j) {
        double *row = &times_[j * distance_count_];
        for (const HeadWave &head : heads[j])
            for (size_t i = 0; i < distance_count_; ++i) {
                const double x = i * grid_.step_km;
                if (x >= head.critical_distance)
                    row[i] = std::min(row[i], head.intercept + x / head.velocity);
            }
    }
}

} // namespace detect::location

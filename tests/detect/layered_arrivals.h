// First arrivals through flat layers, computed plainly for the location
// suites: the direct ray by bisection on its ray parameter and each head
// wave by its intercept time.
#pragma once

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace detect_test {

// Layer tops (km, increasing) and their velocities; the first layer also
// holds above its top, the last one down without end.
struct Layers {
    std::vector<double> top;
    std::vector<double> velocity;
};

inline double first_arrival(const Layers &layers, double distance, double source_depth,
                            double receiver_depth)
{
    const double upper = std::min(source_depth, receiver_depth),
                 lower = std::max(source_depth, receiver_depth);
    // The pieces of the path between the two depths.
    std::vector<double> thickness, speed;
    double depth = upper;
    for (size_t i = 0; i < layers.top.size(); ++i) {
        const double bottom = i + 1 < layers.top.size() ? std::min(layers.top[i + 1], lower)
                                                        : lower;
        if (bottom > depth && (i + 1 == layers.top.size() || layers.top[i + 1] > depth)) {
            thickness.push_back(bottom - depth);
            speed.push_back(layers.velocity[i]);
            depth = bottom;
        }
    }
    double best = std::numeric_limits<double>::infinity();
    if (thickness.empty()) {
        size_t i = 0;
        while (i + 1 < layers.top.size() && layers.top[i + 1] <= upper)
            ++i;
        best = distance / layers.velocity[i];
    } else {
        const double fastest = *std::max_element(speed.begin(), speed.end());
        double low = 0.0, high = 1.0; // sine of the angle in the fastest piece
        for (int step = 0; step < 200; ++step) {
            const double mid = 0.5 * (low + high);
            double x = 0.0;
            for (size_t k = 0; k < speed.size(); ++k) {
                const double sine = mid * speed[k] / fastest;
                x += thickness[k] * sine / std::sqrt(1.0 - sine * sine);
            }
            (x < distance ? low : high) = mid;
        }
        best = 0.0;
        for (size_t k = 0; k < speed.size(); ++k) {
            const double sine = low * speed[k] / fastest;
            best += thickness[k] / (speed[k] * std::sqrt(1.0 - sine * sine));
        }
    }
    // Head waves along each layer top below both ends.
    for (size_t i = 1; i < layers.top.size(); ++i) {
        if (layers.top[i] <= lower)
            continue;
        const double head = layers.velocity[i];
        double intercept = 0.0, critical = 0.0;
        bool possible = true;
        for (const double end : {source_depth, receiver_depth}) {
            for (size_t k = 0; k < i; ++k) {
                const double from = std::max(end, k == 0 ? end : layers.top[k]);
                const double h = layers.top[k + 1] - from;
                if (h <= 0.0)
                    continue;
                if (layers.velocity[k] >= head)
                    possible = false;
                const double sine = std::min(layers.velocity[k] / head, 1.0);
                intercept += h * std::sqrt(1.0 - sine * sine) / layers.velocity[k];
                critical += h * sine / std::sqrt(1.0 - sine * sine);
            }
        }
        if (possible && distance >= critical)
            best = std::min(best, intercept + distance / head);
    }
    return best;
}

} // namespace detect_test

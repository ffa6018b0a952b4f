// The spherical forward and inverse azimuthal equidistant formulas.
#include "local_projection.h"

#include <cmath>

namespace detect::location {

namespace {

constexpr double radians_per_degree = M_PI / 180.0;

}  // namespace

LocalProjection::LocalProjection(double centre_latitude, double centre_longitude)
    : latitude_(centre_latitude * radians_per_degree), longitude_(centre_longitude * radians_per_degree)
{
}

PlanePoint LocalProjection::to_plane(double latitude, double longitude) const
{
    const double phi = latitude * radians_per_degree;
    const double dlambda = longitude * radians_per_degree - longitude_;
    // Haversine: accurate for the short distances of a local network.
    const double a = std::sin(0.5 * (phi - latitude_)) * std::sin(0.5 * (phi - latitude_)) +
                     std::cos(phi) * std::cos(latitude_) * std::sin(0.5 * dlambda) * std::sin(0.5 * dlambda);
    const double angle = 2.0 * std::asin(std::sqrt(std::fmin(a, 1.0)));
    const double azimuth =
        std::atan2(std::sin(dlambda) * std::cos(phi),
                   std::cos(latitude_) * std::sin(phi) - std::sin(latitude_) * std::cos(phi) * std::cos(dlambda));
    return {earth_radius_km * angle * std::sin(azimuth), earth_radius_km * angle * std::cos(azimuth)};
}

void LocalProjection::to_geographic(PlanePoint point, double &latitude, double &longitude) const
{
    const double angle = std::hypot(point.east_km, point.north_km) / earth_radius_km;
    const double azimuth = std::atan2(point.east_km, point.north_km);
    const double phi = std::asin(std::sin(latitude_) * std::cos(angle) +
                                 std::cos(latitude_) * std::sin(angle) * std::cos(azimuth));
    const double lambda =
        longitude_ + std::atan2(std::sin(azimuth) * std::sin(angle) * std::cos(latitude_),
                                std::cos(angle) - std::sin(latitude_) * std::sin(phi));
    latitude = phi / radians_per_degree;
    longitude = std::remainder(lambda / radians_per_degree, 360.0);
}

double plane_azimuth(PlanePoint from, PlanePoint to)
{
    const double degrees = std::atan2(to.east_km - from.east_km, to.north_km - from.north_km) / radians_per_degree;
    return degrees < 0.0 ? degrees + 360.0 : degrees;
}

}  // namespace detect::location

// The spherical forward and inverse azimuthal equidistant formulas.
#include "local_projection.h"

#include <cmath>

namespace detect::location {

namespace {

constexpr double radians_per_degree = M_PI / 180.0;

} // namespace

LocalProjection::LocalProjection(double centre_latitude, double centre_longitude)
    : latitude_(centre_latitude * radians_per_degree),
      longitude_(centre_longitude * radians_per_degree)
{
}

PlanePoint LocalProjection::to_plane(double latitude, double longitude) const
{
    const double phi = latitude * radians_per_degree;
    const double dlambda = longitude * radians_per_degree - longitude_;
    // Haversine: accurate for the short distances of a local network.
    const double a = std::sin(0.5 * (phi - latitude_)) * std::sin(0.5 * (phi - latitude_)) +
                     std::cos(phi) * std::cos(latitude_) * std::sin(0.5 * dlambda) *
                         std::sin(0.5 * dlambda);
    const double angle = 2.0 * std::asin(std::sqrt(std::fmin(a, 1.0)));
    const double bearing = azimuth(latitude_ / radians_per_degree, longitude_ / radians_per_degree,
                                   latitude, longitude) *
                           radians_per_degree;
    return {earth_radius_km * angle * std::sin(bearing),
            earth_radius_km * angle * std::cos(bearing)};
}

void LocalProjection::to_geographic(PlanePoint point, double &latitude, double &longitude) const
{
    const double angle = std::hypot(point.east_km, point.north_km) / earth_radius_km;
    const double azimuth = std::atan2(point.east_km, point.north_km);
    const double phi = std::asin(std::sin(latitude_) * std::cos(angle) +
                                 std::cos(latitude_) * std::sin(angle) * std::cos(azimuth));
    const double lambda = longitude_ +
                          std::atan2(std::sin(azimuth) * std::sin(angle) * std::cos(latitude_),
                                     std::cos(angle) - std::sin(latitude_) * std::sin(phi));
    latitude = phi / radians_per_degree;
    longitude = std::remainder(lambda / radians_per_degree, 360.0);
}

double azimuth(double latitude1, double longitude1, double latitude2, double longitude2)
{
    const double phi1 = latitude1 * radians_per_degree, phi2 = latitude2 * radians_per_degree;
    const double dlambda = (longitude2 - longitude1) * radians_per_degree;
    const double degrees = std::atan2(std::sin(dlambda) * std::cos(phi2),
                                      std::cos(phi1) * std::sin(phi2) -
                                          std::sin(phi1) * std::cos(phi2) * std::cos(dlambda)) /
                           radians_per_degree;
    return degrees < 0.0 ? degrees + 360.0 : degrees;
}

} // namespace detect::location

// Local Cartesian coordinates around a network's centre.
#ifndef ONSET_DETECT_LOCATION_LOCAL_PROJECTION_H
#define ONSET_DETECT_LOCATION_LOCAL_PROJECTION_H

namespace detect::location {

constexpr double earth_radius_km = 6371.0;

struct PlanePoint {
    double east_km;
    double north_km;
};

// Azimuthal equidistant projection of a sphere about a centre: distances
// and azimuths from the centre are exact, and between two points within
// 100 km of it they are off by less than 1e-4 of the distance, well below
// what travel times resolve. x is east, y north.
class LocalProjection {
public:
    LocalProjection(double centre_latitude, double centre_longitude);

    PlanePoint to_plane(double latitude, double longitude) const;
    void to_geographic(PlanePoint point, double &latitude, double &longitude) const;

private:
    double latitude_, longitude_;  // radians
};

// Degrees clockwise from north of `to` as seen from `from`, in [0, 360).
double plane_azimuth(PlanePoint from, PlanePoint to);

}  // namespace detect::location

#endif

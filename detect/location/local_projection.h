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
    double latitude_, longitude_; // radians
};

// Degrees clockwise from north of point 2 as seen from point 1, on the
// sphere, in [0, 360): the plane's north turns away from the meridians
// off the centre.
double azimuth(double latitude1, double longitude1, double latitude2, double longitude2);

} // namespace detect::location

#endif

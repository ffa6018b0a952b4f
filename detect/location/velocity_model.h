// One-dimensional P and S velocity models.
#ifndef ONSET_DETECT_LOCATION_VELOCITY_MODEL_H
#define ONSET_DETECT_LOCATION_VELOCITY_MODEL_H

#include <string>
#include <vector>

namespace detect::location {

enum class Wave { P, S };

// Velocities at listed depths (km, increasing; negative above sea level).
// Layered: each velocity holds from its depth down to the next one, the
// last one below. Graded: velocities vary linearly between the listed
// depths. Either way the first velocity holds above the first depth.
struct VelocityModel {
    std::vector<double> depth_km;
    std::vector<double> vp_km_s;
    std::vector<double> vs_km_s;
    bool graded = false;

    double velocity(Wave wave, double depth) const;
    const std::vector<double> &velocities(Wave wave) const
    {
        return wave == Wave::P ? vp_km_s : vs_km_s;
    }
};

// A CSV table with the columns depth_km,vp_km_s,vs_km_s. Throws
// std::runtime_error naming the file and line where the depths do not
// increase, a velocity is not positive or vs is not below vp.
VelocityModel read_velocity_model(const std::string &path, bool graded);

// Checks a model's rows; the message says which row and why.
void check_velocity_model(const VelocityModel &model, std::string &message);

// Without a model of the region: the crust and upper mantle of IASP91
// (Kennett and Engdahl 1991), layered: 20 km of upper crust, 15 km of
// lower crust, the mantle from the Moho at 35 km.
VelocityModel default_velocity_model();

} // namespace detect::location

#endif

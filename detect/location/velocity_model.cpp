// Velocity lookup, checks and reading of velocity tables.
#include "velocity_model.h"

#include <algorithm>
#include <stdexcept>

#include "csv_table.h"

namespace detect::location {

double VelocityModel::velocity(Wave wave, double depth) const
{
    const std::vector<double> &v = velocities(wave);
    const size_t above = std::upper_bound(depth_km.begin(), depth_km.end(), depth) -
                         depth_km.begin();
    if (above == 0)
        return v.front();
    if (!graded || above == depth_km.size())
        return v[above - 1];
    const double share = (depth - depth_km[above - 1]) / (depth_km[above] - depth_km[above - 1]);
    return v[above - 1] + share * (v[above] - v[above - 1]);
}

void check_velocity_model(const VelocityModel &model, std::string &message)
{
    message.clear();
    if (model.depth_km.empty())
        message = "no layers";
    for (size_t i = 0; i < model.depth_km.size() && message.empty(); ++i) {
        const std::string row = "row " + std::to_string(i + 1) + ": ";
        if (i > 0 && !(model.depth_km[i] > model.depth_km[i - 1]))
            message = row + "depth " + std::to_string(model.depth_km[i]) + " km does not increase";
        else if (!(model.vp_km_s[i] > 0.0 && model.vs_km_s[i] > 0.0))
            message = row + "velocities must be positive";
        else if (!(model.vs_km_s[i] < model.vp_km_s[i]))
            message = row + "vs must be below vp";
    }
}

VelocityModel read_velocity_model(const std::string &path, bool graded)
{
    const std::vector<std::string> columns = {"depth_km", "vp_km_s", "vs_km_s"};
    VelocityModel model;
    model.graded = graded;
    for (const CsvRow &row : read_csv_table(path, columns)) {
        model.depth_km.push_back(csv_number(path, row, 0, columns[0]));
        model.vp_km_s.push_back(csv_number(path, row, 1, columns[1]));
        model.vs_km_s.push_back(csv_number(path, row, 2, columns[2]));
        std::string message;
        check_velocity_model(model, message);
        if (!message.empty()) {
            // The row just added is the one at fault.
            throw std::runtime_error(path + ":" + std::to_string(row.line) + ": " +
                                     message.substr(message.find(": ") + 2));
        }
    }
    if (model.depth_km.empty())
        throw std::runtime_error(path + ": no layers in the model");
    return model;
}

VelocityModel default_velocity_model()
{
    return VelocityModel{{0.0, 20.0, 35.0}, {5.80, 6.50, 8.04}, {3.36, 3.75, 4.47}, false};
}

} // namespace detect::location

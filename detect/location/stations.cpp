// Reading of StationXML through pugixml and of station CSV tables.
#include "stations.h"

#include <pugixml.hpp>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "csv_table.h"

namespace detect::location {

namespace {

// The 1-based line of a byte offset, for messages about XML elements.
int line_of(const std::string &text, ptrdiff_t offset)
{
    int line = 1;
    for (ptrdiff_t i = 0; i < offset && i < static_cast<ptrdiff_t>(text.size()); ++i)
        line += text[i] == '\n';
    return line;
}

class XmlPlace {
public:
    XmlPlace(const std::string &path, const std::string &text) : path_(path), text_(text) {}

    [[noreturn]] void fail(const pugi::xml_node &node, const std::string &what) const
    {
        std::string where;
        for (pugi::xml_node n = node; n && n.type() == pugi::node_element; n = n.parent()) {
            std::string step = n.name();
            if (pugi::xml_attribute code = n.attribute("code"))
                step += " " + std::string(code.value());
            where = where.empty() ? step : step + "/" + where;
        }
        throw std::runtime_error(path_ + ":" + std::to_string(line_of(text_, node.offset_debug())) +
                                 ": " + where + ": " + what);
    }

    // A child element's number; `fallback` (NaN: required) when it is absent.
    double number(const pugi::xml_node &parent, const char *name, double fallback) const
    {
        const pugi::xml_node child = parent.child(name);
        if (!child) {
            if (std::isnan(fallback))
                fail(parent, std::string("no ") + name);
            return fallback;
        }
        const std::string text = child.child_value();
        char *end = nullptr;
        errno = 0;
        const double value = std::strtod(text.c_str(), &end);
        while (*end == ' ' || *end == '\n' || *end == '\t' || *end == '\r')
            ++end;
        if (text.empty() || *end != '\0' || errno == ERANGE || !std::isfinite(value))
            fail(child, "'" + text + "' is not a number");
        return value;
    }

    void check(const pugi::xml_node &node, const StationSite &site) const
    {
        std::string message;
        check_site(site, message);
        if (!message.empty())
            fail(node, message);
    }

private:
    const std::string &path_;
    const std::string &text_;
};

} // namespace

void check_site(const StationSite &site, std::string &message)
{
    message.clear();
    if (site.network.empty() || site.station.empty())
        message = "empty network or station code";
    else if (!(site.latitude >= -90.0 && site.latitude <= 90.0))
        message = "latitude " + std::to_string(site.latitude) + " outside [-90, 90]";
    else if (!(site.longitude >= -180.0 && site.longitude < 360.0))
        message = "longitude " + std::to_string(site.longitude) + " outside [-180, 360)";
    // Between the deepest borehole and the highest summit.
    else if (!(site.elevation_m >= -12000.0 && site.elevation_m <= 9000.0))
        message = "elevation " + std::to_string(site.elevation_m) + " m outside [-12000, 9000]";
}

std::vector<StationSite> read_station_xml(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw std::runtime_error(path + ": cannot be read");
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    pugi::xml_document document;
    const pugi::xml_parse_result parsed = document.load_buffer(text.data(), text.size());
    if (!parsed)
        throw std::runtime_error(path + ":" + std::to_string(line_of(text, parsed.offset)) +
                                 ": not XML: " + parsed.description());
    const pugi::xml_node root = document.child("FDSNStationXML");
    if (!root)
        throw std::runtime_error(path + ": not StationXML (no FDSNStationXML element)");
    const XmlPlace place(path, text);
    std::vector<StationSite> sites;
    for (pugi::xml_node network : root.children("Network")) {
        for (pugi::xml_node station : network.children("Station")) {
            const double nan = std::nan("");
            StationSite site{network.attribute("code").value(),
                             station.attribute("code").value(),
                             "",
                             "",
                             place.number(station, "Latitude", nan),
                             place.number(station, "Longitude", nan),
                             place.number(station, "Elevation", nan)};
            place.check(station, site);
            bool has_channels = false;
            for (pugi::xml_node channel : station.children("Channel")) {
                has_channels = true;
                StationSite at_channel{site.network,
                                       site.station,
                                       channel.attribute("locationCode").value(),
                                       channel.attribute("code").value(),
                                       place.number(channel, "Latitude", site.latitude),
                                       place.number(channel, "Longitude", site.longitude),
                                       place.number(channel, "Elevation", site.elevation_m)};
                // A buried sensor lies its depth below the ground it is
                // listed at.
                at_channel.elevation_m -= place.number(channel, "Depth", 0.0);
                if (at_channel.channel.empty())
                    place.fail(channel, "no channel code");
                place.check(channel, at_channel);
                sites.push_back(std::move(at_channel));
            }
            if (!has_channels)
                sites.push_back(std::move(site));
        }
    }
    if (sites.empty())
        throw std::runtime_error(path + ": no Station in the StationXML");
    return sites;
}

std::vector<StationSite> read_station_csv(const std::string &path)
{
    const std::vector<std::string> columns = {"network", "station", "latitude", "longitude",
                                              "elevation_m"};
    std::vector<StationSite> sites;
    for (const CsvRow &row : read_csv_table(path, columns)) {
        StationSite site{row.fields[0],
                         row.fields[1],
                         "",
                         "",
                         csv_number(path, row, 2, columns[2]),
                         csv_number(path, row, 3, columns[3]),
                         csv_number(path, row, 4, columns[4])};
        std::string message;
        check_site(site, message);
        if (!message.empty())
            throw std::runtime_error(path + ":" + std::to_string(row.line) + ": " + message);
        sites.push_back(std::move(site));
    }
    if (sites.empty())
        throw std::runtime_error(path + ": no stations in the table");
    return sites;
}

std::vector<StationSite> read_stations(const std::string &path)
{
    std::ifstream file(path);
    if (!file)
        throw std::runtime_error(path + ": cannot be read");
    char first = ' ';
    while (file.get(first) && std::isspace(static_cast<unsigned char>(first))) {
    }
    return first == '<' ? read_station_xml(path) : read_station_csv(path);
}

int find_site(const std::vector<StationSite> &sites, const std::string &network,
              const std::string &station, const std::string &location, const std::string &channel)
{
    int found = -1;
    for (size_t i = 0; i < sites.size(); ++i) {
        const StationSite &site = sites[i];
        if (site.network != network || site.station != station)
            continue;
        if (site.location == location && site.channel == channel)
            return static_cast<int>(i);
        if (found < 0)
            found = static_cast<int>(i);
    }
    return found;
}

int find_site(const std::vector<StationSite> &sites, const std::string &stream_id)
{
    std::string codes[4];
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const size_t dot = stream_id.find('.', start);
        codes[i] = stream_id.substr(start, dot - start);
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    return find_site(sites, codes[0], codes[1], codes[2], codes[3]);
}

} // namespace detect::location

// Station metadata: codes and coordinates from FDSN StationXML or a CSV
// table.
#ifndef ONSET_DETECT_LOCATION_STATIONS_H
#define ONSET_DETECT_LOCATION_STATIONS_H

#include <string>
#include <vector>

namespace detect::location {

// A station's or a channel's place. From a CSV table, location and channel
// are empty: the coordinates serve every channel of the station.
struct StationSite {
    std::string network, station, location, channel;
    double latitude;    // degrees north, in [-90, 90]
    double longitude;   // degrees east, in [-180, 360)
    double elevation_m; // above sea level
};

// FDSN StationXML (any version 1.x): one site per Channel, with the
// channel's own coordinates where it gives them and its station's
// otherwise; one per Station that lists no channel. Throws
// std::runtime_error naming the file and the element (with its line) for a
// file that is not StationXML or a missing or impossible value.
std::vector<StationSite> read_station_xml(const std::string &path);

// A CSV table with the columns network,station,latitude,longitude,
// elevation_m (others are ignored). Throws std::runtime_error naming the
// file and line for a missing column or an impossible value.
std::vector<StationSite> read_station_csv(const std::string &path);

// Either of the two, told apart by the file's first character ('<').
std::vector<StationSite> read_stations(const std::string &path);

// Checks that a site's coordinates are possible; the message says which is
// not.
void check_site(const StationSite &site, std::string &message);

// The site of a channel, given by its codes: the exact channel where the
// metadata list it, else any site of the station (a CSV table's). -1 if
// the station is not known.
int find_site(const std::vector<StationSite> &sites, const std::string &network,
              const std::string &station, const std::string &location, const std::string &channel);

// The same for a stream id NET.STA.LOC.CHA (NET.STA for a station alone).
int find_site(const std::vector<StationSite> &sites, const std::string &stream_id);

} // namespace detect::location

#endif

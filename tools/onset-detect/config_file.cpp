// Reading a --config file with toml++.
#include "config_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include <toml++/toml.h>

#include "inputs.h"
#include "options.h"

namespace tool {

namespace {

// The option of the engine's table named `key`, or the count when none is.
size_t option_index(const std::string &key)
{
    const size_t count = onset_detect_option_count();
    for (size_t i = 0; i < count; ++i)
        if (key == onset_detect_option(i)->name) return i;
    return count;
}

// The shortest text that reads back as `value`.
std::string exact_text(double value)
{
    char text[32];
    for (const int digits : {15, 17}) {
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        if (std::strtod(text, nullptr) == value) break;
    }
    return text;
}

std::string where(const std::string &path, const toml::node &node)
{
    return path + ":" + std::to_string(node.source().begin.line) + ": ";
}

double number_of(const toml::node &node, const std::string &label)
{
    if (const auto *whole = node.as_integer()) return static_cast<double>(whole->get());
    if (const auto *real = node.as_floating_point()) return real->get();
    std::ostringstream kind;
    kind << node.type();
    throw InputError(label + ": must be a number, got a " + kind.str());
}

// The nodes of a table in the order of the file: toml++ keeps them sorted.
std::vector<std::pair<std::string, const toml::node *>> in_file_order(const toml::table &table)
{
    std::vector<std::pair<std::string, const toml::node *>> nodes;
    for (const auto &[key, node] : table) nodes.push_back({std::string(key.str()), &node});
    std::stable_sort(nodes.begin(), nodes.end(), [](const auto &a, const auto &b) {
        const auto &x = a.second->source().begin, &y = b.second->source().begin;
        return x.line != y.line ? x.line < y.line : x.column < y.column;
    });
    return nodes;
}

StationSection station_section(const std::string &path, const std::string &pattern, const toml::node &node)
{
    const std::string table = "[stations.\"" + pattern + "\"] ";
    const auto *values = node.as_table();
    if (!values) throw InputError(where(path, node) + table + "must be a table of options");
    StationSection section{pattern, {}};
    for (const auto &[key, value] : in_file_order(*values)) {
        const std::string label = where(path, *value) + table + key;
        const size_t index = option_index(key);
        if (index == onset_detect_option_count())
            throw InputError(label + ": not an option of a station (see --help; a pattern with dots is quoted, "
                                     "[stations.\"XX.S01\"])");
        if (onset_detect_option(index)->network)
            throw InputError(label + ": an option of the whole network, the same for every station: set it at "
                                     "the top of the file");
        const double number = number_of(*value, label);
        char problem[256];
        if (onset_detect_option_check(index, number, problem, sizeof problem) != 0)
            throw InputError(label + ": " + problem + ", got " + exact_text(number));
        section.values.push_back({index, number});
    }
    return section;
}

}  // namespace

std::vector<StationSection> read_config(const std::string &path, Options &options)
{
    if (std::FILE *readable = std::fopen(path.c_str(), "rb")) std::fclose(readable);
    else throw InputError("--config: cannot read '" + path + "': " + std::strerror(errno));
    toml::table file;
    try {
        file = toml::parse_file(path);
    } catch (const toml::parse_error &error) {
        throw InputError(path + ":" + std::to_string(error.source().begin.line) + ": " +
                         std::string(error.description()));
    }
    std::vector<StationSection> sections;
    for (const auto &[key, node] : in_file_order(file)) {
        const std::string label = where(path, *node) + key;
        if (key == "stations") {
            const auto *stations = node->as_table();
            if (!stations) throw InputError(label + ": must hold tables [stations.\"NET.STA\"]");
            for (const auto &[pattern, section] : in_file_order(*stations))
                sections.push_back(station_section(path, pattern, *section));
        } else if (key == "channels") {
            const auto *text = node->as_string();
            if (!text) throw InputError(label + ": must be a string of NET.STA.LOC.CHA patterns");
            set_flag(options, "--channels", label, text->get());
        } else if (key == "chunk" || option_index(key) < onset_detect_option_count()) {
            std::string flag = "--" + key;
            std::replace(flag.begin(), flag.end(), '_', '-');
            set_flag(options, flag, label, exact_text(number_of(*node, label)));
        } else {
            throw InputError(label + ": unknown key; the file takes the options of --help by their names "
                                     "(fmin, kurtosis_window ...), channels, chunk and [stations.\"NET.STA\"] tables");
        }
    }
    return sections;
}

std::vector<StationOptions> station_options(const std::string &path, const std::vector<StationSection> &sections,
                                            const onset_detect_options &top)
{
    std::vector<StationOptions> stations;
    for (const StationSection &section : sections) {
        onset_detect_options options = top;
        for (const auto &[index, value] : section.values) onset_detect_option_set(&options, index, value);
        char problem[256];
        if (onset_detect_check(&options, problem, sizeof problem) != 0)
            throw InputError(path + ": [stations.\"" + section.pattern + "\"]: " + problem);
        stations.push_back({section.pattern, options});
    }
    return stations;
}

}  // namespace tool

// Column lookup by header name and numbers with the place they came from.
#include "csv_table.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace detect::location {

namespace {

std::string trimmed(const std::string &text)
{
    const size_t first = text.find_first_not_of(" \t\r\"");
    if (first == std::string::npos)
        return "";
    const size_t last = text.find_last_not_of(" \t\r\"");
    return text.substr(first, last - first + 1);
}

std::vector<std::string> split(const std::string &line)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t comma = line.find(',', start);
        fields.push_back(trimmed(line.substr(start, comma - start)));
        if (comma == std::string::npos)
            return fields;
        start = comma + 1;
    }
}

} // namespace

std::vector<CsvRow> read_csv_table(const std::string &path, const std::vector<std::string> &columns)
{
    std::ifstream file(path);
    if (!file)
        throw std::runtime_error(path + ": cannot be read");
    std::string line;
    int number = 0;
    std::vector<size_t> position;
    std::vector<CsvRow> rows;
    while (std::getline(file, line)) {
        ++number;
        const std::string content = trimmed(line);
        if (content.empty() || content[0] == '#')
            continue;
        const std::vector<std::string> fields = split(line);
        if (position.empty()) {
            for (const std::string &column : columns) {
                size_t i = 0;
                while (i < fields.size() && fields[i] != column)
                    ++i;
                if (i == fields.size())
                    throw std::runtime_error(path + ":" + std::to_string(number) + ": no column '" +
                                             column + "' in the header");
                position.push_back(i);
            }
            continue;
        }
        CsvRow row{number, {}};
        for (size_t i = 0; i < columns.size(); ++i) {
            if (position[i] >= fields.size())
                throw std::runtime_error(path + ":" + std::to_string(number) + ": no value for '" +
                                         columns[i] + "'");
            row.fields.push_back(fields[position[i]]);
        }
        rows.push_back(std::move(row));
    }
    if (file.bad())
        throw std::runtime_error(path + ": cannot be read");
    if (position.empty())
        throw std::runtime_error(path + ": empty, no header line");
    return rows;
}

double csv_number(const std::string &path, const CsvRow &row, size_t field,
                  const std::string &column)
{
    const std::string &text = row.fields[field];
    char *end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno == ERANGE || !std::isfinite(value))
        throw std::runtime_error(path + ":" + std::to_string(row.line) + ": " + column + " '" +
                                 text + "' is not a number");
    return value;
}

} // namespace detect::location

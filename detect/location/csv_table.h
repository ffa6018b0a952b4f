// Small CSV tables with named columns: station lists and velocity models.
#ifndef ONSET_DETECT_LOCATION_CSV_TABLE_H
#define ONSET_DETECT_LOCATION_CSV_TABLE_H

#include <string>
#include <vector>

namespace detect::location {

// One data row: its fields in the order of the columns asked for.
struct CsvRow {
    int line; // 1-based, in the file
    std::vector<std::string> fields;
};

// Reads `path`, whose first line names the columns; the columns asked for
// must all be there, in any order, and others are ignored. Blank lines and
// lines starting with '#' are skipped. Throws std::runtime_error naming the
// file (and line) when it cannot be read, a column is missing or a row is
// short.
std::vector<CsvRow> read_csv_table(const std::string &path,
                                   const std::vector<std::string> &columns);

// The field as a finite number; throws naming file, line and column if not.
double csv_number(const std::string &path, const CsvRow &row, size_t field,
                  const std::string &column);

} // namespace detect::location

#endif

// Reader for the bit-exact golden result files: one case per `case` line,
// followed by tagged rows of words.
#pragma once

#include "sample_bits.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace onset_test {

struct GoldenRow {
    std::string tag;
    std::vector<std::string> words;
};

struct GoldenCase {
    std::vector<std::string> head; // the words after `case`
    std::vector<GoldenRow> rows;
    int line = 0;                  // line of the `case` row, for messages

    // The first row with this tag, or nullptr.
    const GoldenRow *row(const std::string &tag) const;
};

// The golden folder, or nothing when this checkout has none.
std::optional<std::string> golden_dir();

// Every case of a file in the golden folder whose head starts with
// `function` (all cases when empty).
std::vector<GoldenCase> load_golden(const std::string &file,
                                    const std::string &function = "");

// Runs `check` on every case of `function` in `file`, each under a trace
// that names its line, and fails the running test when the file has none.
// A fatal assertion in `check` ends that case only.
void for_each_golden_case(const std::string &file, const std::string &function,
                          const std::function<void(const GoldenCase &)> &check);

double sample_from_hex(const std::string &bits);
std::vector<double> samples_from_hex(const std::vector<std::string> &words);

// Success when actual[0 .. expected.size() - 1] equals expected sample for
// sample (as same_sample); otherwise a message naming the first difference.
::testing::AssertionResult same_samples(const std::vector<double> &expected, const double *actual);

} // namespace onset_test

// Skips the running test when the golden folder is absent: call it before
// for_each_golden_case, in the test's own body.
#define ONSET_REQUIRE_GOLDEN()                                                 \
    do {                                                                       \
        if (!onset_test::golden_dir())                                         \
            GTEST_SKIP() << "golden vectors not present";                      \
    } while (0)

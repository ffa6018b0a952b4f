// Runs onset-detect as a user does, in a fresh folder, and keeps what it
// printed.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

#include "temp_folder.h"

namespace detect_test {

struct Outcome {
    int status;
    std::string out, err;
};

inline std::string slurp(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline size_t count_lines(const std::string &text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

// The events of text output: one header line each.
inline size_t count_text_events(const std::string &text)
{
    size_t events = text.rfind("event ", 0) == 0;
    for (size_t at = text.find("\nevent "); at != std::string::npos; at = text.find("\nevent ", at + 1)) ++events;
    return events;
}

// The P rows of CSV output.
inline size_t count_p_rows(const std::string &csv)
{
    size_t rows = 0;
    for (size_t at = csv.find(",P,"); at != std::string::npos; at = csv.find(",P,", at + 1)) ++rows;
    return rows;
}

class CommandLine : public ::testing::Test {
protected:
    Outcome run(const std::string &arguments) const
    {
        const std::string out = folder_.file("stdout"), err = folder_.file("stderr");
        const std::string command = std::string(ONSET_DETECT_PROGRAM) + " " + arguments + " >" + out + " 2>" + err;
        const int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
    }
    // Status 2, one line on stderr naming `named`, nothing on stdout.
    void expect_refused(const std::string &arguments, const std::string &named) const
    {
        const Outcome r = run(arguments);
        EXPECT_EQ(r.status, 2) << arguments << "\n" << r.err;
        EXPECT_EQ(r.out, "") << arguments;
        EXPECT_NE(r.err.find(named), std::string::npos) << arguments << " said: " << r.err;
        EXPECT_EQ(count_lines(r.err), 1u) << r.err;
    }
    TempFolder folder_;
};

}  // namespace detect_test

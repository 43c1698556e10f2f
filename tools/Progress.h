// A count of done/total on standard error while a long command runs, so that
// a slow link does not look like a hang. Shown only when standard error is a
// terminal, and only for a command of more than 20 exchanges or once it has
// run for a second; a pipe or a log file never sees it.
#pragma once

#include <chrono>
#include <cstddef>
#include <ostream>
#include <string>

namespace traxctl {

// Whether the file descriptor (1 standard output, 2 standard error) is a terminal.
bool IsTerminal(int fd);

class ProgressLine {
public:
    // what: "reading settings"; err must be the process's standard error for
    // anything to show.
    ProgressLine(std::ostream& err, std::string what);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void Update(size_t done, size_t total);
    // Clears the line before other text goes to the terminal.
    void Clear();

private:
    std::ostream& err_;
    std::string what_;
    bool terminal_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point start_;
};

}  // namespace traxctl

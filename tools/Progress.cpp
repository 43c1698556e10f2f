#include "Progress.h"

#include <iostream>

#ifdef _WIN32
#include <io.h>
#define TRAXCTL_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define TRAXCTL_ISATTY(fd) isatty(fd)
#endif

namespace traxctl {

bool IsTerminal(int fd) { return TRAXCTL_ISATTY(fd) != 0; }

ProgressLine::ProgressLine(std::ostream& err, std::string what)
    : err_(err),
      what_(std::move(what)),
      terminal_(&err == &std::cerr && IsTerminal(2)),
      start_(std::chrono::steady_clock::now()) {}

ProgressLine::~ProgressLine() { Clear(); }

void ProgressLine::Update(size_t done, size_t total) {
    if (!terminal_) return;
    if (!shown_ && total <= 20 && std::chrono::steady_clock::now() - start_ < std::chrono::seconds(1)) return;
    shown_ = true;
    err_ << "\r" << what_ << ": " << done << "/" << total << "\033[K" << std::flush;
}

void ProgressLine::Clear() {
    if (!shown_) return;
    err_ << "\r\033[K" << std::flush;
    shown_ = false;
}

}  // namespace traxctl

// The options traxctl takes before it runs any command: --version (what
// traxctl tells about itself and the installation it runs on) and --trace.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace traxctl {

// traxctl's version, the library's version and file, and whether the USB
// driver in use is the stand-in with the simulated controller. Returns the
// exit status: 1 when the library did not load or its driver did not start.
int PrintVersion(std::ostream& out, std::ostream& err);

// Takes --trace and --trace=calls|bytes out of args and sets TRAX_LOG (and
// TRAX_LOG_FILE=stderr unless the user named a file) for the library, which
// is loaded afterwards; returns the exit status when traxctl must end here
// (a bad value), else 0.
int TakeTraceOption(std::vector<std::string>& args);

}  // namespace traxctl

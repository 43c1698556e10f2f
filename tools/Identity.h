// What traxctl tells about itself and the installation it runs on: --version
// and --trace.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace traxctl {

// traxctl's version, the library's version and file, and whether the USB
// driver in use is the stand-in with the simulated controller.
void PrintVersion(std::ostream& out);
// The library's version ("2.2.0"), "" when it cannot be told.
std::string LibraryVersion();

// Takes --trace and --trace=calls|bytes out of args. When the library's log
// is not yet on at that level, sets TRAX_LOG and starts traxctl again (the
// library reads it when it loads); returns the exit status when traxctl must
// end here (a bad value, or the restart failed), else 0.
int TakeTraceOption(std::vector<std::string>& args, char** argv);

}  // namespace traxctl

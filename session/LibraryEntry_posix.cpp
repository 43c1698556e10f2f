// Load-time entry of the shared library on POSIX systems. A shared object
// cannot refuse to load, so when the driver does not start the library stays
// loaded but unusable: every exported function then returns 0 without traffic.
#include "session/DeviceSession.h"

namespace {
// The result is kept as "usable" inside; a shared object cannot refuse to load.
__attribute__((constructor)) void TraxLibraryLoad() { (void)trax::session::ProcessAttach(); }
}  // namespace

#include "client/Installation.h"

#include "client/Failure.h"
#include "client/LibraryLoader.h"

namespace trax::client {

std::string LibraryVersion() {
    const LibraryLoad& load = LoadTraxLibrary();
    if (!load.loaded) return "";
    const StartupReport startup = ReadStartupReport();
    if (startup.known) return startup.version;
    // "2.2.0" from ".../libtrax.so.2.2.0".
    const size_t at = load.path.rfind(".so.");
    return at == std::string::npos ? "" : load.path.substr(at + 4);
}

}  // namespace trax::client

// The library, loaded at run time by the programs that link trax_client_loader
// (traxctl) instead of the library itself. A program that cannot load the
// library still starts, and can say why: on Windows, Trax.dll refuses to load
// when its driver does not start, which would otherwise keep the program
// itself from starting. Loading late also lets the program set the trace
// log's variables (the reason tap, --trace) before the library reads them.
//
// Every TRAX_* function of the header is defined by generated forwarders that
// call the loaded library's function, or return 0 when it did not load.
#pragma once

#include <string>
#include <vector>

namespace trax::client {

struct LibraryLoad {
    bool loaded = false;
    std::string path;     // the library's file, when it loaded
    std::string problem;  // why it did not load
    // Windows: the library was found but its driver was not, or the driver's
    // start-up failed; with the folders Windows searched for the driver, in order.
    bool driverMissing = false;
    bool startupFailed = false;
    std::vector<std::string> driverSearch;
    // Files found on the way that could not be loaded (made for another
    // architecture) and were passed over, as the system's loader does.
    struct Skipped {
        std::string path;
        std::string why;
    };
    std::vector<Skipped> skipped;
};

// Loads the library once per process, after preparing the reason tap (see
// Failure.h); later calls return the same result. Call it before any thread
// that uses the library is started.
const LibraryLoad& LoadTraxLibrary();

// The driver's file, once the library has loaded it ("" when not known).
std::string DriverPath();

// While calls are held on this thread, every TRAX_* function throws
// CallHeld instead of reaching the library: a batch runs each line so first,
// which checks all its words (they are checked before any call) while
// nothing is sent.
struct CallHeld {};
void HoldCalls(bool hold);
bool CallsHeld();

namespace detail {
extern const char* const kFunctionNames[];
extern const int kFunctionCount;
// The loaded library's function `index` of kFunctionNames, or null.
void* Slot(int index);
}  // namespace detail

}  // namespace trax::client

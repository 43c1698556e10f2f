#include "client/LibraryLoader.h"

#include <mutex>

#include "client/Failure.h"
#include "client/System.h"

namespace trax::client {

namespace {

std::vector<void*>& Slots() {
    static std::vector<void*> slots(static_cast<size_t>(detail::kFunctionCount), nullptr);
    return slots;
}

void Load(LibraryLoad& load) {
    system::LoadedLibrary loaded = system::LoadLibraryFile();
    load.problem = loaded.problem;
    load.driverMissing = loaded.driverMissing;
    load.startupFailed = loaded.startupFailed;
    load.driverSearch = loaded.driverSearch;
    for (const system::SkippedLibrary& s : loaded.skipped) load.skipped.push_back({s.path, s.why});
    if (loaded.module == nullptr) return;
    load.loaded = true;
    load.path = loaded.path;
    for (int i = 0; i < detail::kFunctionCount; ++i) {
        Slots()[static_cast<size_t>(i)] = system::LibraryFunction(loaded.module, detail::kFunctionNames[i]);
    }
}

}  // namespace

const LibraryLoad& LoadTraxLibrary() {
    static LibraryLoad load;
    static std::once_flag once;
    std::call_once(once, [] {
        PrepareReasonTap();
        Load(load);
        ReasonTapOpened();
        if (load.loaded) {
            for (int i = 0; i < detail::kFunctionCount; ++i) {
                if (Slots()[static_cast<size_t>(i)] != nullptr) continue;
                load.loaded = false;
                load.problem = load.path + " lacks " + detail::kFunctionNames[i];
                break;
            }
        }
        if (!load.loaded) SetLibraryLoadProblem(load.problem, load.driverMissing);
    });
    return load;
}

std::string DriverPath() { return LoadTraxLibrary().loaded ? system::DriverFile() : ""; }

namespace {
thread_local bool callsHeld = false;
}

void HoldCalls(bool hold) { callsHeld = hold; }

bool CallsHeld() { return callsHeld; }

namespace detail {
void* Slot(int index) {
    if (callsHeld) throw CallHeld{};
    if (!LoadTraxLibrary().loaded) return nullptr;
    return Slots()[static_cast<size_t>(index)];
}
}  // namespace detail

}  // namespace trax::client

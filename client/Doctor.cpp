#include "client/Doctor.h"

#include <trax.h>

#include "client/Failure.h"
#include "client/LibraryLoader.h"
#include "client/System.h"

namespace trax::client {

namespace {

DoctorCheck Passed(const char* name, std::string detail) { return DoctorCheck{name, true, std::move(detail), ""}; }

DoctorCheck Failed(const char* name, std::string detail, std::string hint) {
    return DoctorCheck{name, false, std::move(detail), std::move(hint)};
}

DoctorCheck FailedCall(const char* name, const char* function) {
    Failure failure = FailureOf(function);
    AddHint(failure);
    return Failed(name, failure.Text(), failure.hint);
}

bool Is32BitWindows() {
#if defined(_WIN32) && !defined(_WIN64)
    return true;
#else
    return false;
#endif
}

std::string Joined(const std::vector<std::string>& folders) {
    std::string text;
    for (size_t i = 0; i < folders.size(); ++i)
        text += (i == 0 ? "" : "; ") + std::to_string(i + 1) + ". " + folders[i];
    return text;
}

}  // namespace

std::vector<DoctorCheck> RunDoctor() {
    std::vector<DoctorCheck> checks;
    const LibraryLoad& load = LoadTraxLibrary();
    const StartupReport startup = ReadStartupReport();
    // What the search passed over on its way, and why: a library made for
    // another architecture first on the path, say.
    for (const LibraryLoad::Skipped& skipped : load.skipped) {
        // The loader's words name the file already.
        checks.push_back(Passed(
            "skipped", skipped.why.rfind(skipped.path, 0) == 0 ? skipped.why : skipped.path + ": " + skipped.why));
    }
    if (!load.loaded) {
        checks.push_back(Failed("library", load.problem,
                                load.driverMissing || load.startupFailed
                                    ? "the library file is there; the next line says what keeps it from loading"
                                    : system::LibraryPlacementHint()));
        if (load.driverMissing) {
            std::string where =
                load.driverSearch.empty() ? "" : "; searched, in this order: " + Joined(load.driverSearch);
            checks.push_back(Failed("driver", "the USB driver was not found" + where, system::DriverPlacementHint()));
        } else if (load.startupFailed) {
            checks.push_back(Failed("driver start-up", "the driver's start-up failed, so the library refused to load",
                                    "connect and power the controller, check the driver's installation, and "
                                    "that no other program holds the controller"));
        }
        return checks;
    }
    checks.push_back(
        Passed("library", "libtrax " + (startup.known ? startup.version : std::string("(version not known)")) + " (" +
                              (load.path.empty() ? std::string("file not known") : load.path) + ")"));
    const std::string driver = DriverPath();
    checks.push_back(Passed("driver", (startup.known ? startup.driver : std::string("driver")) + " (" +
                                          (driver.empty() ? std::string("file not known") : driver) + ")"));
    if (!startup.known) {
        checks.push_back(Failed("driver start-up", "not known: the library's reason tap is not available",
                                "run with --trace to see the library's first line"));
    } else {
        const std::string results = "InitQelUsbTypeParam=" + std::to_string(startup.typeParam) +
                                    " SetUsbType=" + std::to_string(startup.usbType) +
                                    " InitUsb=" + std::to_string(startup.initUsb) +
                                    " InitPid=" + std::to_string(startup.initPid);
        if (!startup.usable) {
            checks.push_back(Failed("driver start-up", results + ": the library is unusable",
                                    "connect and power the controller, check the driver's installation, and that "
                                    "no other program holds the controller"));
            return checks;
        }
        checks.push_back(Passed("driver start-up", results));
        if (Is32BitWindows()) {
            const bool known = startup.driverCalls == "cdecl" || startup.driverCalls == "stdcall";
            checks.push_back(known ? Passed("driver calls", startup.driverCalls)
                                   : Failed("driver calls", startup.driverCalls,
                                            "the driver's calling convention is neither cdecl nor stdcall"));
        }
    }

    // The storage status is answered in measurement mode and refused with
    // error 5 in setting mode: a question that tells both without switching.
    int state = 0;
    int countA = 0;
    int countB = 0;
    bool measuring = TRAX_DataStorageGetStatus(0, &state, &countA) == 1;
    if (!measuring) {
        Failure failure = FailureOf("TRAX_DataStorageGetStatus");
        if (failure.errorNumber != 5) {
            AddHint(failure);
            checks.push_back(Failed("controller", failure.Text(), failure.hint));
            return checks;
        }
        checks.push_back(Passed("controller", "answers"));
        checks.push_back(Failed("mode", "setting mode: values, storage and control commands are refused",
                                "'traxctl mode measure' (an Able adjustment in progress also holds setting mode: "
                                "'traxctl able stop')"));
        return checks;
    }
    checks.push_back(Passed("controller", "answers"));
    checks.push_back(Passed("mode", "measurement mode"));
    for (int head = 0; head < 2; ++head) {
        const char* name = head == 0 ? "display unit A" : "display unit B";
        int unit = -1;
        if (TRAX_GetDisplayUnit(head, &unit) == 1) {
            checks.push_back(Passed(name, "code " + std::to_string(unit) + " (read in setting mode, then back)"));
        } else {
            checks.push_back(FailedCall(name, "TRAX_GetDisplayUnit"));
        }
    }
    checks.push_back(Passed("unit system", "not reported by the library; name it with --units metric|inch"));
    if (TRAX_DataStorageGetStatus(1, &state, &countB) == 1) {
        checks.push_back(Passed("storage", std::string(state == 1 ? "storing" : "not storing") + ", A " +
                                               std::to_string(countA) + " values, B " + std::to_string(countB) +
                                               " values"));
    } else {
        checks.push_back(FailedCall("storage", "TRAX_DataStorageGetStatus"));
    }
    return checks;
}

}  // namespace trax::client

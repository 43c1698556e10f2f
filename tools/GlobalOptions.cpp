#include "GlobalOptions.h"

#include "client/Failure.h"
#include "client/Installation.h"
#include "client/LibraryLoader.h"

#include <trax.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iostream>

#ifndef TRAXCTL_VERSION
#define TRAXCTL_VERSION "unknown"
#endif

namespace traxctl {

namespace {

#if defined(_WIN32)
// The driver is found by its file name: the library loaded it.
void* DriverExport(const char* name) {
    HMODULE driver = GetModuleHandleA("QelUsbDrv.dll");
    return driver == nullptr ? nullptr : reinterpret_cast<void*>(GetProcAddress(driver, name));
}
#else
void* DriverExport(const char* name) { return dlsym(RTLD_DEFAULT, name); }
#endif

}  // namespace

int PrintVersion(std::ostream& out, std::ostream& err) {
    out << "traxctl " << TRAXCTL_VERSION << "\n";
    const trax::client::LibraryLoad& load = trax::client::LoadTraxLibrary();
    if (!load.loaded) {
        out.flush();
        err << "traxctl: the library did not load: " << load.problem << "\n"
            << "traxctl: 'traxctl doctor' says what to do\n";
        return 1;
    }
    const trax::client::StartupReport startup = trax::client::ReadStartupReport();
    const std::string version = trax::client::LibraryVersion();
    out << "library: libtrax " << (version.empty() ? "(version not known)" : version) << " ("
        << (load.path.empty() ? "file not known" : load.path) << ")\n";
    // Only the stand-in driver exports this; the maker's driver does not.
    using Describe = const char* (*)();
    auto describe = reinterpret_cast<Describe>(DriverExport("QelUsbStandInDescription"));
    const std::string driver = trax::client::DriverPath();
    out << "driver: " << (describe != nullptr ? describe() : "the controller's USB driver (not the stand-in)") << " ("
        << (driver.empty() ? "file not known" : driver) << ")\n";
    if (startup.known && !startup.usable) {
        out.flush();
        err << "traxctl: the USB driver did not start (InitQelUsbTypeParam=" << startup.typeParam
            << " SetUsbType=" << startup.usbType << " InitUsb=" << startup.initUsb << " InitPid=" << startup.initPid
            << "), so every call fails; 'traxctl doctor' says what to do\n";
        return 1;
    }
    return 0;
}

int TakeTraceOption(std::vector<std::string>& args) {
    const char* level = nullptr;
    for (size_t i = 0; i < args.size();) {
        const std::string& a = args[i];
        if (a == "--trace" || a == "--trace=calls") {
            level = "calls";
        } else if (a == "--trace=bytes") {
            level = "bytes";
        } else if (a.rfind("--trace=", 0) == 0) {
            std::cerr << "traxctl: --trace takes calls or bytes, not '" << a.substr(8) << "'\n";
            return 2;
        } else {
            ++i;
            continue;
        }
        args.erase(args.begin() + static_cast<long>(i));
    }
    if (level == nullptr) return 0;
    // The library is loaded after this (client/LibraryLoader), so setting the
    // variables is enough. Standard error on Windows too, where the log would
    // otherwise go to the debugger; a TRAX_LOG_FILE of the user's own stays.
    const char* file = std::getenv("TRAX_LOG_FILE");
    const bool keepFile = file != nullptr && file[0] != '\0';
#if defined(_WIN32)
    if (_putenv_s("TRAX_LOG", level) != 0 || (!keepFile && _putenv_s("TRAX_LOG_FILE", "stderr") != 0)) {
        std::cerr << "traxctl: --trace: cannot set TRAX_LOG\n";
        return 1;
    }
    SetEnvironmentVariableA("TRAX_LOG", level);
    if (!keepFile) SetEnvironmentVariableA("TRAX_LOG_FILE", "stderr");
#else
    if (setenv("TRAX_LOG", level, 1) != 0 || (!keepFile && setenv("TRAX_LOG_FILE", "stderr", 1) != 0)) {
        std::cerr << "traxctl: --trace: " << std::strerror(errno) << "\n";
        return 1;
    }
#endif
    return 0;
}

}  // namespace traxctl

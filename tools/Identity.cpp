#include "Identity.h"

#include <trax.h>

#include <dlfcn.h>
#include <unistd.h>

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

// The file a loaded function comes from, with symbolic links resolved.
std::string FileOf(const void* function) {
    Dl_info info{};
    if (function == nullptr || dladdr(function, &info) == 0 || info.dli_fname == nullptr) return "";
    char resolved[PATH_MAX];
    if (realpath(info.dli_fname, resolved) != nullptr) return resolved;
    return info.dli_fname;
}

// "2.2.0" from ".../libtrax.so.2.2.0".
std::string VersionFromFile(const std::string& file) {
    const size_t at = file.rfind(".so.");
    return at == std::string::npos ? "" : file.substr(at + 4);
}

}  // namespace

void PrintVersion(std::ostream& out) {
    out << "traxctl " << TRAXCTL_VERSION << "\n";
    const std::string library = FileOf(reinterpret_cast<const void*>(&TRAX_SetMode));
    const std::string version = VersionFromFile(library);
    out << "library: libtrax " << (version.empty() ? "(version not known)" : version) << " ("
        << (library.empty() ? "file not known" : library) << ")\n";
    // Only the stand-in driver exports this; the maker's driver does not.
    using Describe = const char* (*)();
    auto describe = reinterpret_cast<Describe>(dlsym(RTLD_DEFAULT, "QelUsbStandInDescription"));
    const std::string driver = FileOf(dlsym(RTLD_DEFAULT, "QelUsbPtrIoPtr"));
    out << "driver: " << (describe != nullptr ? describe() : "the controller's USB driver (not the stand-in)") << " ("
        << (driver.empty() ? "file not known" : driver) << ")\n";
}

int TakeTraceOption(std::vector<std::string>& args, char** argv) {
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
    const char* now = std::getenv("TRAX_LOG");
    if (now != nullptr && std::strcmp(now, level) == 0) return 0;
    if (setenv("TRAX_LOG", level, 1) != 0) {
        std::cerr << "traxctl: --trace: " << std::strerror(errno) << "\n";
        return 1;
    }
    execv("/proc/self/exe", argv);
    std::cerr << "traxctl: --trace: cannot start traxctl again: " << std::strerror(errno) << "\n";
    return 1;
}

}  // namespace traxctl

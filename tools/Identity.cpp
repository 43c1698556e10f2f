#include "Identity.h"

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
// Handlers, unlike the "ignore Ctrl-C" flag, are not inherited by the child.
BOOL WINAPI IgnoreInterruptWhileWaiting(DWORD event) {
    return (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) ? TRUE : FALSE;
}

std::string FileOf(const void* function) {
    HMODULE module = nullptr;
    char path[MAX_PATH];
    if (function == nullptr ||
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<const char*>(function), &module) == FALSE)
        return "";
    const DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
    return n == 0 || n >= MAX_PATH ? "" : std::string(path, n);
}

// The driver is found by its file name: the address of an imported function
// in this program is its import thunk.
void* DriverExport(const char* name) {
    HMODULE driver = GetModuleHandleA("QelUsbDrv.dll");
    return driver == nullptr ? nullptr : reinterpret_cast<void*>(GetProcAddress(driver, name));
}
#else
void* DriverExport(const char* name) { return dlsym(RTLD_DEFAULT, name); }

// The file a loaded function comes from, with symbolic links resolved.
std::string FileOf(const void* function) {
    Dl_info info{};
    if (function == nullptr || dladdr(function, &info) == 0 || info.dli_fname == nullptr) return "";
    char resolved[PATH_MAX];
    if (realpath(info.dli_fname, resolved) != nullptr) return resolved;
    return info.dli_fname;
}
#endif

// "2.2.0" from ".../libtrax.so.2.2.0".
std::string VersionFromFile(const std::string& file) {
    const size_t at = file.rfind(".so.");
    return at == std::string::npos ? "" : file.substr(at + 4);
}

}  // namespace

void PrintVersion(std::ostream& out) {
    out << "traxctl " << TRAXCTL_VERSION << "\n";
#if defined(_WIN32)
    HMODULE trax = GetModuleHandleA("Trax.dll");  // &TRAX_SetMode is this program's import thunk
    const std::string library =
        FileOf(trax == nullptr ? nullptr : reinterpret_cast<const void*>(GetProcAddress(trax, "TRAX_SetMode")));
#else
    const std::string library = FileOf(reinterpret_cast<const void*>(&TRAX_SetMode));
#endif
    const std::string version = VersionFromFile(library);
    out << "library: libtrax " << (version.empty() ? "(version not known)" : version) << " ("
        << (library.empty() ? "file not known" : library) << ")\n";
    // Only the stand-in driver exports this; the maker's driver does not.
    using Describe = const char* (*)();
    auto describe = reinterpret_cast<Describe>(DriverExport("QelUsbStandInDescription"));
    const std::string driver = FileOf(DriverExport("QelUsbPtrIoPtr"));
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
#if defined(_WIN32)
    // The library reads TRAX_LOG when it is loaded, before main: run this
    // program again, with the same command line, and end with its status.
    (void)argv;
    char self[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string commandLine = GetCommandLineA();
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (SetEnvironmentVariableA("TRAX_LOG", level) == FALSE || n == 0 || n >= MAX_PATH ||
        CreateProcessA(self, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process) ==
            FALSE) {
        std::cerr << "traxctl: --trace: cannot start traxctl again (error " << GetLastError() << ")\n";
        return 1;
    }
    // Ctrl-C reaches every process of the console: the child stops after its
    // call in flight and ends with 130, and this one waits for that status
    // instead of dying first and leaving the child printing after the prompt.
    SetConsoleCtrlHandler(&IgnoreInterruptWhileWaiting, TRUE);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 1;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::exit(static_cast<int>(status));
#else
    if (setenv("TRAX_LOG", level, 1) != 0) {
        std::cerr << "traxctl: --trace: " << std::strerror(errno) << "\n";
        return 1;
    }
    execv("/proc/self/exe", argv);
    std::cerr << "traxctl: --trace: cannot start traxctl again: " << std::strerror(errno) << "\n";
    return 1;
#endif
}

}  // namespace traxctl

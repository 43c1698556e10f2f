#include "client/LibraryLoader.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <limits.h>
#include <link.h>
#include <stdlib.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <mutex>

#include "client/Failure.h"

namespace trax::client {

namespace {

std::vector<void*>& Slots() {
    static std::vector<void*> slots(static_cast<size_t>(detail::kFunctionCount), nullptr);
    return slots;
}

#if defined(_WIN32)
constexpr const char* kLibraryFile = "Trax.dll";
constexpr const char* kDriverFile = "QelUsbDrv.dll";

std::string FolderOf(const std::string& path) {
    const size_t at = path.find_last_of("\\/");
    return at == std::string::npos ? std::string(".") : path.substr(0, at);
}

std::string ModuleFile(HMODULE module) {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
    return n == 0 || n >= MAX_PATH ? std::string() : std::string(path, n);
}

bool FileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The folders in which Windows looks for a DLL that a loaded DLL imports by
// name, in its order (safe search mode): the program's folder, the system
// folder, the 16-bit system folder, the Windows folder, the current folder,
// then the folders of PATH. The importing DLL's own folder is not among them.
std::vector<std::string> DriverSearchFolders() {
    std::vector<std::string> folders;
    folders.push_back(FolderOf(ModuleFile(nullptr)));
    char buffer[MAX_PATH];
    UINT n = GetSystemDirectoryA(buffer, MAX_PATH);
    if (n > 0 && n < MAX_PATH) folders.emplace_back(buffer, n);
    n = GetWindowsDirectoryA(buffer, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
        const std::string windows(buffer, n);
        folders.push_back(windows + "\\System");
        folders.push_back(windows);
    }
    n = GetCurrentDirectoryA(MAX_PATH, buffer);
    if (n > 0 && n < MAX_PATH) folders.emplace_back(buffer, n);
    const DWORD length = GetEnvironmentVariableA("PATH", nullptr, 0);
    if (length > 0) {
        std::string path(length, '\0');
        path.resize(GetEnvironmentVariableA("PATH", &path[0], length));
        size_t start = 0;
        while (start <= path.size()) {
            size_t end = path.find(';', start);
            if (end == std::string::npos) end = path.size();
            if (end > start) folders.push_back(path.substr(start, end - start));
            start = end + 1;
        }
    }
    return folders;
}

std::string SystemMessage(DWORD error) {
    char* text = nullptr;
    const DWORD n =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = n > 0 && text != nullptr ? std::string(text, n) : "";
    if (text != nullptr) LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
        message.pop_back();
    }
    return message + " (error " + std::to_string(error) + ")";
}

void Load(LibraryLoad& load) {
    // Beside the program first, as Windows itself would look.
    const std::string besideProgram = FolderOf(ModuleFile(nullptr)) + "\\" + kLibraryFile;
    const char* wanted = std::getenv("TRAX_LIBRARY");
    const std::string file = wanted != nullptr && wanted[0] != '\0' ? wanted
                             : FileExists(besideProgram)            ? besideProgram
                                                                    : kLibraryFile;
    // No "cannot find" dialog box; the program says it itself.
    const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = LoadLibraryA(file.c_str());
    const DWORD error = module == nullptr ? GetLastError() : 0;
    SetErrorMode(previous);
    if (module != nullptr) {
        load.loaded = true;
        load.path = ModuleFile(module);
        for (int i = 0; i < detail::kFunctionCount; ++i) {
            Slots()[static_cast<size_t>(i)] =
                reinterpret_cast<void*>(GetProcAddress(module, detail::kFunctionNames[i]));
        }
        return;
    }
    char found[MAX_PATH];
    const bool libraryThere =
        FileExists(file) || SearchPathA(nullptr, file.c_str(), nullptr, MAX_PATH, found, nullptr) != 0;
    if (error == ERROR_MOD_NOT_FOUND && libraryThere) {
        load.driverMissing = true;
        load.driverSearch = DriverSearchFolders();
        load.problem = std::string(kLibraryFile) + " cannot load: its USB driver " + kDriverFile +
                       " is in none of the folders Windows searches";
    } else if (error == ERROR_MOD_NOT_FOUND) {
        load.problem = std::string(kLibraryFile) + " not found beside the program or on PATH";
    } else if (error == ERROR_DLL_INIT_FAILED) {
        load.startupFailed = true;
        load.problem = std::string(kLibraryFile) + " refused to load: the USB driver's start-up failed";
    } else if (error == ERROR_BAD_EXE_FORMAT) {
        load.problem = file + " is made for another architecture than this program";
    } else {
        load.problem = file + " cannot load: " + SystemMessage(error);
    }
}

std::string DriverFile() {
    HMODULE driver = GetModuleHandleA(kDriverFile);
    return driver == nullptr ? "" : ModuleFile(driver);
}
#else
constexpr const char* kLibraryFile = "libtrax.so.2";

// The folders the loader would search for this program's own libraries
// (LD_LIBRARY_PATH, its run path with $ORIGIN expanded, the system's), in
// its order. Asked explicitly because dlopen searches the run path of its
// caller, and a sanitizer's interception makes that caller its own library.
std::vector<std::string> ProgramSearchFolders() {
    std::vector<std::string> folders;
    void* self = dlopen(nullptr, RTLD_LAZY);
    Dl_serinfo size{};
    if (self != nullptr && dlinfo(self, RTLD_DI_SERINFOSIZE, &size) == 0 && size.dls_size >= sizeof(Dl_serinfo)) {
        std::vector<char> buffer(size.dls_size);
        auto* info = reinterpret_cast<Dl_serinfo*>(buffer.data());
        *info = size;
        if (dlinfo(self, RTLD_DI_SERINFO, info) == 0) {
            for (unsigned i = 0; i < info->dls_cnt; ++i) folders.emplace_back(info->dls_serpath[i].dls_name);
        }
    }
    if (self != nullptr) dlclose(self);
    return folders;
}

std::string FirstExisting(const std::vector<std::string>& folders, const char* file) {
    for (const std::string& folder : folders) {
        const std::string path = folder + "/" + file;
        if (access(path.c_str(), R_OK) == 0) return path;
    }
    return file;  // the loader's own search, and its words when that fails
}

void Load(LibraryLoad& load) {
    // The program's run path finds the library of its kit or build tree;
    // TRAX_LIBRARY names another one.
    const char* wanted = std::getenv("TRAX_LIBRARY");
    const std::string file = wanted != nullptr && wanted[0] != '\0'
                                 ? std::string(wanted)
                                 : FirstExisting(ProgramSearchFolders(), kLibraryFile);
    // Global, so that the driver it brings is found by name (QelUsbStandInDescription).
    void* module = dlopen(file.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (module == nullptr) {
        const char* why = dlerror();
        load.problem = why != nullptr ? why : file + " cannot be loaded";
        load.driverMissing = load.problem.find("libQelUsbDrv") != std::string::npos;
        return;
    }
    load.loaded = true;
    for (int i = 0; i < detail::kFunctionCount; ++i) {
        Slots()[static_cast<size_t>(i)] = dlsym(module, detail::kFunctionNames[i]);
    }
    Dl_info info{};
    void* any = Slots()[0];
    if (any != nullptr && dladdr(any, &info) != 0 && info.dli_fname != nullptr) {
        char resolved[PATH_MAX];
        load.path = realpath(info.dli_fname, resolved) != nullptr ? resolved : info.dli_fname;
    }
}

std::string DriverFile() {
    void* exchange = dlsym(RTLD_DEFAULT, "QelUsbPtrIoPtr");
    Dl_info info{};
    if (exchange == nullptr || dladdr(exchange, &info) == 0 || info.dli_fname == nullptr) return "";
    char resolved[PATH_MAX];
    return realpath(info.dli_fname, resolved) != nullptr ? resolved : info.dli_fname;
}
#endif

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
        if (!load.loaded) SetLibraryLoadProblem(load.problem);
    });
    return load;
}

std::string DriverPath() { return LoadTraxLibrary().loaded ? DriverFile() : ""; }

namespace detail {
void* Slot(int index) {
    if (!LoadTraxLibrary().loaded) return nullptr;
    return Slots()[static_cast<size_t>(index)];
}
}  // namespace detail

}  // namespace trax::client

// The client layer's system seam on Windows (see System.h).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "client/System.h"

namespace trax::client::system {

namespace {

HANDLE AsHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// The system's own words for a failure, with its number.
std::string SystemMessage(DWORD error) {
    char* text = nullptr;
    const DWORD n =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = n > 0 && text != nullptr ? std::string(text, n) : "";
    if (text != nullptr) LocalFree(text);
    while (!message.empty() &&
           (message.back() == '\n' || message.back() == '\r' || message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    if (message.empty()) message = "system error";
    return message + " (error " + std::to_string(error) + ")";
}

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

}  // namespace

void SetVariable(const char* name, const std::string& value) {
    SetEnvironmentVariableA(name, value.c_str());
    _putenv_s(name, value.c_str());
}

std::string Variable(const char* name) {
    const DWORD length = GetEnvironmentVariableA(name, nullptr, 0);
    if (length == 0) return "";
    std::string value(length, '\0');
    value.resize(GetEnvironmentVariableA(name, &value[0], length));
    return value;
}

uint32_t ProcessId() { return static_cast<uint32_t>(GetCurrentProcessId()); }

bool StandardInputIsFile() { return GetFileType(GetStdHandle(STD_INPUT_HANDLE)) == FILE_TYPE_DISK; }

uint32_t ThreadId() { return static_cast<uint32_t>(GetCurrentThreadId()); }

bool CreateTapFile(TapFile& tap) {
    char folder[MAX_PATH];
    const DWORD n = GetTempPathA(MAX_PATH, folder);
    if (n == 0 || n >= MAX_PATH) return false;
    // A name of our own rather than GetTempFileName's, whose 65 535 names run
    // out; created new, never opened when there.
    const unsigned long process = GetCurrentProcessId();
    const unsigned long long seed = GetTickCount64();
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::string path = std::string(folder) + "trax-tap-" + std::to_string(process) + "-" +
                                 std::to_string((seed + attempt) % 1000000) + ".jsonl";
        // Deleted when the last handle closes, the library's included, so no
        // end of the process leaves it behind; shared for the library's open.
        HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            tap.path = path;
            tap.handle = reinterpret_cast<intptr_t>(handle);
            return true;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
    }
    return false;
}

bool OpenTapFile(TapFile& tap) {
    if (tap.handle != -1) return true;
    HANDLE handle = CreateFileA(tap.path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    tap.handle = reinterpret_cast<intptr_t>(handle);
    return true;
}

void ForgetTapName(TapFile& /*tap*/) {
    // Deleted on close (CreateTapFile): an open file's name stays until then.
}

bool ReadTapFile(const TapFile& tap, uint64_t offset, std::string& bytes) {
    if (tap.handle == -1) return false;
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(AsHandle(tap.handle), at, nullptr, FILE_BEGIN)) return false;
    char buffer[16384];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(AsHandle(tap.handle), buffer, sizeof buffer, &n, nullptr)) return false;
        if (n == 0) return true;
        bytes.append(buffer, n);
    }
}

void CloseTapFile(TapFile& tap) {
    if (tap.handle != -1) CloseHandle(AsHandle(tap.handle));
    tap.handle = -1;
}

std::string ErrnoText(int error) { return error != 0 ? std::strerror(error) : "unknown error"; }

std::string WriteTarget(const std::string& path) { return path; }

intptr_t CreateExclusive(const std::string& path, const std::string& like, std::string& error) {
    // A new file takes its folder's permissions; a read-only file replaced
    // stays read-only.
    const DWORD old = GetFileAttributesA(like.c_str());
    const DWORD attributes = old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY) != 0
                                 ? FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_READONLY
                                 : FILE_ATTRIBUTE_NORMAL;
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = SystemMessage(GetLastError());
        return -1;
    }
    return reinterpret_cast<intptr_t>(handle);
}

std::string WriteAndCloseFile(intptr_t file, const std::string& text) {
    HANDLE handle = AsHandle(file);
    DWORD error = 0;
    size_t done = 0;
    while (error == 0 && done < text.size()) {
        const DWORD chunk = static_cast<DWORD>(text.size() - done > 1u << 20 ? 1u << 20 : text.size() - done);
        DWORD n = 0;
        if (!WriteFile(handle, text.data() + done, chunk, &n, nullptr)) {
            error = GetLastError();
        } else if (n == 0) {
            error = ERROR_WRITE_FAULT;
        }
        done += n;
    }
    if (error == 0 && !FlushFileBuffers(handle)) error = GetLastError();
    if (!CloseHandle(handle) && error == 0) error = GetLastError();
    return error == 0 ? "" : SystemMessage(error);
}

std::string RenameOver(const std::string& from, const std::string& to) {
    // MoveFileEx sets only the system's last error, never errno.
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return "";
    return SystemMessage(GetLastError());
}

bool NameTaken(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void RemoveFile(const std::string& path) {
    // A read-only temporary file (kept from the file it replaces) is removed too.
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
}

namespace {

constexpr const char* kLibraryFile = "Trax.dll";
constexpr const char* kDriverFile = "QelUsbDrv.dll";

// The folders the README names for the library and its driver, in Windows'
// own order, less the current folder: the program's folder, the system
// folder, the 16-bit system folder, the Windows folder, then PATH.
std::vector<std::string> SearchFolders() {
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
    const std::string path = Variable("PATH");
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(';', start);
        if (end == std::string::npos) end = path.size();
        // "." or an empty entry would bring the current folder back.
        const std::string folder = path.substr(start, end - start);
        if (!folder.empty() && folder != ".") folders.push_back(folder);
        start = end + 1;
    }
    return folders;
}

std::string FindIn(const std::vector<std::string>& folders, const char* file) {
    for (const std::string& folder : folders) {
        const std::string path = folder + "\\" + file;
        if (FileExists(path)) return path;
    }
    return "";
}

// Loads a file by its full path; the DLLs it imports are looked for in its
// own folder first, then as usual, and by then the driver is loaded already.
HMODULE LoadByPath(const std::string& path, DWORD& error) {
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    error = module == nullptr ? GetLastError() : 0;
    return module;
}

}  // namespace

LoadedLibrary LoadLibraryFile() {
    LoadedLibrary load;
    // The current folder leaves the search for every DLL loaded from now on
    // (PATH stays); the two files are then taken by their full paths.
    SetDllDirectoryA("");
    const std::vector<std::string> folders = SearchFolders();
    const std::string wanted = Variable("TRAX_LIBRARY");
    const std::string file = !wanted.empty() ? wanted : FindIn(folders, kLibraryFile);
    if (file.empty()) {
        load.problem = std::string(kLibraryFile) + " not found beside the program, in a system folder or on PATH";
        return load;
    }
    // No "cannot find" dialog box; the program says it itself.
    const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    // The driver first, from the same places: an import by name then finds
    // it loaded and looks nowhere else, the current folder included.
    const std::string driver = FindIn(folders, kDriverFile);
    DWORD error = 0;
    if (!driver.empty()) (void)LoadByPath(driver, error);
    HMODULE module = LoadByPath(file, error);
    SetErrorMode(previous);
    if (module != nullptr) {
        load.module = module;
        load.path = ModuleFile(module);
        return load;
    }
    if (error == ERROR_MOD_NOT_FOUND && FileExists(file)) {
        load.driverMissing = true;
        load.driverSearch = folders;
        load.problem = std::string(kLibraryFile) + " cannot load: its USB driver " + kDriverFile +
                       " is in none of the folders searched";
    } else if (error == ERROR_MOD_NOT_FOUND) {
        load.problem = file + " not found";
    } else if (error == ERROR_DLL_INIT_FAILED) {
        load.startupFailed = true;
        load.problem = std::string(kLibraryFile) + " refused to load: the USB driver's start-up failed";
    } else if (error == ERROR_BAD_EXE_FORMAT) {
        load.problem = file + " is made for another architecture than this program";
    } else {
        load.problem = file + " cannot load: " + SystemMessage(error);
    }
    return load;
}

void* LibraryFunction(void* module, const char* name) {
    return module != nullptr ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name)) : nullptr;
}

std::string DriverFile() {
    HMODULE driver = GetModuleHandleA(kDriverFile);
    return driver == nullptr ? "" : ModuleFile(driver);
}

std::string LibraryPlacementHint() {
    return "Trax.dll must be beside the program (traxctl.exe), in a system folder or in a folder on PATH; "
           "TRAX_LIBRARY names it";
}

std::string DriverPlacementHint() {
    std::string hint =
        "put QelUsbDrv.dll beside the program (traxctl.exe), in a folder on PATH or in a system folder "
        "(the current folder is never searched)";
    // The kit's simulated controller, for a try without hardware.
    // traxctl.exe lies in the kit's x64\ or x86\ folder; the simulator beside them.
    const std::string kit = FolderOf(FolderOf(ModuleFile(nullptr)));
#if defined(_WIN64)
    const std::string simulator = "simulator\\x64\\QelUsbDrv.dll";
#else
    const std::string simulator = "simulator\\x86\\QelUsbDrv.dll";
#endif
    const std::string there = FileExists(kit + "\\" + simulator) ? kit + "\\" + simulator : simulator;
    return hint + "; to try without hardware, copy the kit's simulated controller " + there + " beside traxctl.exe";
}

}  // namespace trax::client::system

// Win32 side of the trace log's output: OutputDebugStringA (what DebugView and
// debuggers show), thread ids, a microsecond clock and the look-up of an
// export in a loaded DLL.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "platform/Platform.h"

namespace trax::platform {

void WriteDebugOutput(const char* line, int /*length*/) { OutputDebugStringA(line); }

bool EnvironmentValue(const char* name, char* buffer, int size) {
    if (size <= 0) return false;
    const DWORD n = GetEnvironmentVariableA(name, buffer, static_cast<DWORD>(size));
    if (n == 0) {
        buffer[0] = '\0';
        // Set but empty, or not set at all: both mean "not asked for" here.
        return false;
    }
    if (n >= static_cast<DWORD>(size)) {
        // Too long for the buffer: the caller gets it cut, as on POSIX.
        char* whole = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, n));
        if (whole == nullptr) return false;
        GetEnvironmentVariableA(name, whole, n);
        for (int i = 0; i < size - 1; ++i) buffer[i] = whole[i];
        buffer[size - 1] = '\0';
        HeapFree(GetProcessHeap(), 0, whole);
    }
    return true;
}

std::FILE* OpenForAppending(const char* path) {
    // Delete sharing: the tool that made the file holds it open with
    // delete-on-close, which refuses every open that does not share deletion.
    HANDLE handle = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_APPEND | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(handle);
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "ab");
    if (file == nullptr) _close(fd);
    return file;
}

uint32_t CurrentThreadId() { return static_cast<uint32_t>(GetCurrentThreadId()); }

uint32_t CurrentProcessId() { return static_cast<uint32_t>(GetCurrentProcessId()); }

uint64_t NowMicroseconds() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    if (!QueryPerformanceFrequency(&frequency) || !QueryPerformanceCounter(&counter) || frequency.QuadPart <= 0) {
        return GetTickCount64() * 1000u;
    }
    const auto ticks = static_cast<uint64_t>(counter.QuadPart);
    const auto perSecond = static_cast<uint64_t>(frequency.QuadPart);
    // Split so that the product cannot overflow for any uptime.
    return ticks / perSecond * 1000000u + ticks % perSecond * 1000000u / perSecond;
}

const char* PlatformName() { return "windows"; }

const char* ArchitectureName() {
#if defined(_M_X64) || defined(__x86_64__)
    return "x86_64";
#elif defined(_M_IX86) || defined(__i386__)
    return "x86";
#elif defined(_M_ARM64) || defined(__aarch64__)
    return "arm64";
#else
    return "unknown";
#endif
}

void* FindExportBeside(const void* /*functionInModule*/, const char* moduleFileName, const char* exportName) {
    // The address of an imported function inside this DLL is its import
    // thunk, so the driver is found by its file name instead.
    HMODULE module = GetModuleHandleA(moduleFileName);
    if (module == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(module, exportName));
}

bool ModuleFileBeside(const void* /*functionInModule*/, const char* moduleFileName, char* buffer, int size) {
    HMODULE module = GetModuleHandleA(moduleFileName);
    if (module == nullptr || size <= 0) return false;
    const DWORD n = GetModuleFileNameA(module, buffer, static_cast<DWORD>(size));
    if (n == 0 || n >= static_cast<DWORD>(size)) return false;
    return true;
}

}  // namespace trax::platform

// POSIX side of the trace log's output: standard error, thread ids, a
// microsecond clock and the look-up of an export in a loaded module.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/Platform.h"

namespace trax::platform {

void WriteDebugOutput(const char* line, int length) {
    // One write per line: lines of other threads and processes sharing the
    // descriptor stay whole. A short write is continued; an error is dropped.
    while (length > 0) {
        const ssize_t written = ::write(STDERR_FILENO, line, static_cast<size_t>(length));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        line += written;
        length -= static_cast<int>(written);
    }
}

bool EnvironmentValue(const char* name, char* buffer, int size) {
    const char* value = std::getenv(name);
    if (value == nullptr || size <= 0) return false;
    std::snprintf(buffer, static_cast<size_t>(size), "%s", value);
    return true;
}

std::FILE* OpenForAppending(const char* path) {
    const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    std::FILE* file = ::fdopen(fd, "ab");
    if (file == nullptr) ::close(fd);
    return file;
}

uint32_t CurrentThreadId() {
#if defined(SYS_gettid)
    // The kernel's id, as shown by ps, top and gdb.
    return static_cast<uint32_t>(::syscall(SYS_gettid));
#else
    static thread_local char marker;
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&marker) >> 4);
#endif
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(::getpid()); }

uint64_t NowMicroseconds() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

const char* PlatformName() {
#if defined(__linux__)
    return "linux";
#else
    return "posix";
#endif
}

const char* ArchitectureName() {
#if defined(__x86_64__)
    return "x86_64";
#elif defined(__i386__)
    return "x86";
#elif defined(__aarch64__)
    return "aarch64";
#elif defined(__arm__)
    return "arm";
#else
    return "unknown";
#endif
}

void* FindExportBeside(const void* functionInModule, const char* /*moduleFileName*/, const char* exportName) {
    Dl_info info{};
    if (dladdr(functionInModule, &info) == 0 || info.dli_fname == nullptr) return nullptr;
    // RTLD_NOLOAD: only a module that is already loaded is looked at.
    void* module = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
    if (module == nullptr) return nullptr;
    void* symbol = dlsym(module, exportName);
    dlclose(module);
    return symbol;
}

bool ModuleFileBeside(const void* functionInModule, const char* /*moduleFileName*/, char* buffer, int size) {
    Dl_info info{};
    if (size <= 0 || dladdr(functionInModule, &info) == 0 || info.dli_fname == nullptr) return false;
    std::snprintf(buffer, static_cast<size_t>(size), "%s", info.dli_fname);
    return true;
}

}  // namespace trax::platform

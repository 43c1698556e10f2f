// The client layer's system seam on POSIX (see System.h).
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <link.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "client/System.h"

namespace trax::client::system {

void SetVariable(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

uint32_t ProcessId() { return static_cast<uint32_t>(getpid()); }

bool StandardInputIsFile() {
    struct stat info {};
    return fstat(STDIN_FILENO, &info) == 0 && S_ISREG(info.st_mode);
}

uint32_t ThreadId() {
#if defined(SYS_gettid)
    return static_cast<uint32_t>(::syscall(SYS_gettid));
#else
    static thread_local char marker;
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&marker) >> 4);
#endif
}

namespace {

std::string TemporaryFolder() {
    const std::string folder = Variable("TMPDIR");
    return folder.empty() ? "/tmp" : folder;
}

}  // namespace

bool CreateTapFile(TapFile& tap) {
    std::string pattern = TemporaryFolder() + "/trax-tap-XXXXXX";
    const int fd = mkostemp(&pattern[0], O_CLOEXEC);
    if (fd < 0) return false;
    tap.path = pattern;
    tap.handle = fd;
    return true;
}

bool OpenTapFile(TapFile& tap) {
    if (tap.handle >= 0) return true;
    const int fd = open(tap.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    tap.handle = fd;
    return true;
}

void ForgetTapName(TapFile& tap) {
    if (!tap.path.empty()) unlink(tap.path.c_str());
}

bool ReadTapFile(const TapFile& tap, uint64_t offset, std::string& bytes) {
    if (tap.handle < 0) return false;
    char buffer[16384];
    for (;;) {
        const ssize_t n = pread(static_cast<int>(tap.handle), buffer, sizeof buffer, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        bytes.append(buffer, static_cast<size_t>(n));
        offset += static_cast<uint64_t>(n);
    }
}

void CloseTapFile(TapFile& tap) {
    if (tap.handle >= 0) close(static_cast<int>(tap.handle));
    tap.handle = -1;
}

std::string ErrnoText(int error) { return error != 0 ? std::strerror(error) : "unknown error"; }

std::string WriteTarget(const std::string& path) {
    // A chain of links ends in the file that is written; a link to a file
    // not yet there names where it will be.
    std::string target = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat info {};
        if (lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return target;
        char link[PATH_MAX];
        const ssize_t n = readlink(target.c_str(), link, sizeof link - 1);
        if (n <= 0) return target;
        const std::string next(link, static_cast<size_t>(n));
        const size_t slash = target.find_last_of('/');
        target = next[0] == '/' || slash == std::string::npos ? next : target.substr(0, slash + 1) + next;
    }
    return target;
}

intptr_t CreateExclusive(const std::string& path, const std::string& like, std::string& error) {
    struct stat info {};
    const bool keep = stat(like.c_str(), &info) == 0 && S_ISREG(info.st_mode);
    // O_EXCL with O_CREAT also refuses a link planted under the name.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, keep ? info.st_mode & 07777 : 0666);
    if (fd < 0) {
        error = ErrnoText(errno);
        return -1;
    }
    // The umask trimmed what open was asked for; the file replaced keeps its own.
    if (keep && fchmod(fd, info.st_mode & 07777) != 0) {
        error = ErrnoText(errno);
        close(fd);
        unlink(path.c_str());
        return -1;
    }
    return fd;
}

std::string WriteAndCloseFile(intptr_t file, const std::string& text) {
    const int fd = static_cast<int>(file);
    int error = 0;
    size_t done = 0;
    while (error == 0 && done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            break;
        }
        done += static_cast<size_t>(n);
    }
    // The data must be on the disk before the rename makes it the file.
    if (error == 0 && fsync(fd) != 0 && errno != EINVAL && errno != EROFS) error = errno;
    if (close(fd) != 0 && error == 0 && errno != EINTR) error = errno;
    return error == 0 ? "" : ErrnoText(error);
}

std::string RenameOver(const std::string& from, const std::string& to) {
    if (std::rename(from.c_str(), to.c_str()) != 0) return ErrnoText(errno);
    // The rename lives in the folder: synced, so that a write reported done
    // survives a power loss. A folder that cannot be synced (some file
    // systems refuse) leaves the rename done all the same.
    const size_t slash = to.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : to.substr(0, slash);
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        (void)fsync(fd);
        close(fd);
    }
    return "";
}

bool NameTaken(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

void RemoveFile(const std::string& path) { unlink(path.c_str()); }

namespace {

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

bool DriverNamed(const std::string& problem) { return problem.find("libQelUsbDrv") != std::string::npos; }

std::string Resolved(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? resolved : path;
}

// Tries one file. Global, so that the driver it brings is found by name
// (QelUsbStandInDescription).
bool TryLoad(const std::string& file, LoadedLibrary& load) {
    void* module = dlopen(file.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (module != nullptr) {
        load.module = module;
        return true;
    }
    const char* why = dlerror();
    load.problem = why != nullptr ? why : file + " cannot be loaded";
    return false;
}

}  // namespace

LoadedLibrary LoadLibraryFile() {
    LoadedLibrary load;
    const std::string wanted = Variable("TRAX_LIBRARY");
    if (!wanted.empty()) {
        TryLoad(wanted, load);
    } else {
        // As the system's loader does: a file that cannot be loaded (made for
        // another architecture, damaged) is passed over, and the search goes
        // on. A library that loads but lacks its driver ends the search: that
        // is the answer, said as such.
        for (const std::string& folder : ProgramSearchFolders()) {
            const std::string path = folder + "/" + kLibraryFile;
            if (access(path.c_str(), R_OK) != 0) continue;
            if (TryLoad(path, load) || DriverNamed(load.problem)) break;
            load.skipped.push_back({path, load.problem});
        }
        // The loader's own search last (its cache of system folders), and its
        // words when that fails too.
        if (load.module == nullptr && !DriverNamed(load.problem) && !TryLoad(kLibraryFile, load) &&
            !load.skipped.empty() && !DriverNamed(load.problem)) {
            load.problem = "no libtrax.so.2 that this program can load; passed over: ";
            for (size_t i = 0; i < load.skipped.size(); ++i) {
                load.problem += (i == 0 ? "" : "; ") + load.skipped[i].why;
            }
        }
    }
    load.driverMissing = load.module == nullptr && DriverNamed(load.problem);
    if (load.module != nullptr) {
        load.problem.clear();
        Dl_info info{};
        void* any = dlsym(load.module, "TRAX_SetMode");
        if (any != nullptr && dladdr(any, &info) != 0 && info.dli_fname != nullptr)
            load.path = Resolved(info.dli_fname);
    }
    return load;
}

void* LibraryFunction(void* module, const char* name) { return module != nullptr ? dlsym(module, name) : nullptr; }

std::string DriverFile() {
    void* exchange = dlsym(RTLD_DEFAULT, "QelUsbPtrIoPtr");
    Dl_info info{};
    if (exchange == nullptr || dladdr(exchange, &info) == 0 || info.dli_fname == nullptr) return "";
    return Resolved(info.dli_fname);
}

std::string LibraryPlacementHint() {
    return "libtrax.so.2 must be in the kit's lib folder, a system library folder or on LD_LIBRARY_PATH; "
           "TRAX_LIBRARY names it";
}

std::string DriverPlacementHint() {
    // The simulated controller of a system package, beside the library's folder.
    std::string simulator;
    for (const std::string& folder : ProgramSearchFolders()) {
        if (access((folder + "/" + kLibraryFile).c_str(), R_OK) != 0) continue;
        const std::string apart = folder + "/trax/simulator";
        if (access((apart + "/libQelUsbDrv.so").c_str(), R_OK) == 0) simulator = apart;
        break;
    }
    std::string hint =
        "the library is there; its USB driver libQelUsbDrv.so is not: put it in the folder of libtrax.so, a "
        "system library folder or on LD_LIBRARY_PATH";
    hint += simulator.empty() ? "; to try without hardware, use the simulator (traxctl-sim, or the kit's stand-in "
                                "driver beside libtrax.so)"
                              : "; to try without hardware: traxctl-sim, or LD_LIBRARY_PATH=" + simulator;
    return hint;
}

}  // namespace trax::client::system

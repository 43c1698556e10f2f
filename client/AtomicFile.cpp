#include "AtomicFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#define TRAX_ACCESS _access
#define TRAX_W_OK 2
#else
#include <unistd.h>
#define TRAX_ACCESS access
#define TRAX_W_OK W_OK
#endif

namespace trax::client {

namespace {

std::string Reason(const std::string& verb, const std::string& path, int error) {
    return "cannot " + verb + " '" + path + "': " + (error != 0 ? std::strerror(error) : "unknown error");
}

// Writes all of text to an open file and closes it; the errno of the first
// failure, or 0. A full disk often shows only at the flush or the close.
int WriteAndClose(std::FILE* file, const std::string& text) {
    int error = 0;
    if (!text.empty() && std::fwrite(text.data(), 1, text.size(), file) != text.size()) error = errno ? errno : EIO;
    if (error == 0 && std::fflush(file) != 0) error = errno ? errno : EIO;
#ifndef _WIN32
    // The data must be on the disk before the rename makes it the file.
    if (error == 0 && fsync(fileno(file)) != 0 && errno != EINVAL && errno != EROFS) error = errno;
#endif
    if (std::fclose(file) != 0 && error == 0) error = errno ? errno : EIO;
    return error;
}

// Never reuse a temporary file that someone else is writing (or a link
// planted under its name); the Windows C runtime has no "x" mode, and its
// rename-over needs MoveFileEx anyway.
#ifdef _WIN32
constexpr const char* kCreateNew = "wb";
#else
constexpr const char* kCreateNew = "wbx";
#endif

bool ReplaceFile(const std::string& from, const std::string& to) {
#ifdef _WIN32
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

}  // namespace

std::string WriteFileAtomically(const std::string& path, const std::string& text) {
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        errno = 0;
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr) return Reason("write", path, errno);
        const int error = WriteAndClose(file, text);
        return error == 0 ? "" : Reason("write", path, error);
    }
    // Beside the target, so that the rename stays within one file system.
    std::string temporary;
    std::FILE* file = nullptr;
    for (int attempt = 0; attempt < 100 && file == nullptr; ++attempt) {
        temporary = path + ".tmp" + std::to_string(attempt);
        errno = 0;
        file = std::fopen(temporary.c_str(), kCreateNew);
        if (file == nullptr && errno != EEXIST) return Reason("write", path, errno);
    }
    if (file == nullptr) return Reason("write", path, EEXIST);
    const int error = WriteAndClose(file, text);
    if (error != 0) {
        std::remove(temporary.c_str());
        return Reason("write", path, error);
    }
    errno = 0;
    if (!ReplaceFile(temporary, path)) {
        const int renameError = errno;
        std::remove(temporary.c_str());
        return Reason("write", path, renameError);
    }
    return "";
}

std::string CheckWritable(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return Reason("write", path, EISDIR);
        if (!S_ISREG(info.st_mode)) return "";
    }
    const size_t slash = path.find_last_of("/\\");
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    errno = 0;
    if (TRAX_ACCESS(dir.c_str(), TRAX_W_OK) != 0) return Reason("write", path, errno);
    return "";
}

std::string ReadWholeFile(const std::string& path, std::string* error) {
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *error = Reason("read", path, errno);
        return "";
    }
    std::string text;
    char buffer[65536];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    const bool failed = std::ferror(file) != 0;
    const int readError = errno;
    std::fclose(file);
    *error = failed ? Reason("read", path, readError) : "";
    return text;
}

}  // namespace trax::client

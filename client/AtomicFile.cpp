#include "AtomicFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include "client/System.h"

namespace trax::client {

namespace {

std::string Reason(const std::string& verb, const std::string& path, const std::string& why) {
    return "cannot " + verb + " '" + path + "': " + why;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && (info.st_mode & S_IFMT) == S_IFDIR;
}

}  // namespace

std::string WriteFileAtomically(const std::string& path, const std::string& text) {
    // Through a link to its target: the link stays a link, and the file it
    // names gets the text.
    const std::string target = system::WriteTarget(path);
    struct stat info {};
    if (stat(target.c_str(), &info) == 0 && (info.st_mode & S_IFMT) != S_IFREG) {
        if ((info.st_mode & S_IFMT) == S_IFDIR) return Reason("write", path, system::ErrnoText(EISDIR));
        // A device or a pipe: nothing can be renamed over it.
        errno = 0;
        std::FILE* file = std::fopen(target.c_str(), "wb");
        if (file == nullptr) return Reason("write", path, system::ErrnoText(errno));
        int error = 0;
        if (!text.empty() && std::fwrite(text.data(), 1, text.size(), file) != text.size()) error = errno ? errno : EIO;
        if (std::fflush(file) != 0 && error == 0) error = errno ? errno : EIO;
        if (std::fclose(file) != 0 && error == 0) error = errno ? errno : EIO;
        return error == 0 ? "" : Reason("write", path, system::ErrnoText(error));
    }
    // Beside the target, so that the rename stays within one file system;
    // created new, never reusing a file someone else is writing.
    std::string temporary;
    std::string why;
    intptr_t file = -1;
    for (int attempt = 0; attempt < 100 && file == -1; ++attempt) {
        temporary = target + ".tmp" + std::to_string(attempt);
        why.clear();
        file = system::CreateExclusive(temporary, target, why);
        // Only a name taken by another file is worth another attempt.
        if (file == -1 && !system::NameTaken(temporary)) return Reason("write", path, why);
    }
    if (file == -1) return Reason("write", path, why);
    why = system::WriteAndCloseFile(file, text);
    if (why.empty()) why = system::RenameOver(temporary, target);
    if (!why.empty()) {
        system::RemoveFile(temporary);
        return Reason("write", path, why);
    }
    return "";
}

std::string CheckWritable(const std::string& path) {
    const std::string target = system::WriteTarget(path);
    struct stat info {};
    if (stat(target.c_str(), &info) == 0) {
        if ((info.st_mode & S_IFMT) == S_IFDIR) return Reason("write", path, system::ErrnoText(EISDIR));
        if ((info.st_mode & S_IFMT) != S_IFREG) return "";
    }
    const std::string folder = FolderOf(target);
    if (!IsFolder(folder)) return Reason("write", path, system::ErrnoText(ENOENT));
    // A probe file tells what access() cannot (ACLs on Windows, a read-only
    // mount): made and removed at once.
    std::string why;
    const std::string probe = target + ".probe" + std::to_string(system::ProcessId());
    const intptr_t file = system::CreateExclusive(probe, "", why);
    if (file == -1) return Reason("write", path, why);
    (void)system::WriteAndCloseFile(file, "");
    system::RemoveFile(probe);
    return "";
}

std::string ReadWholeFile(const std::string& path, std::string* error, size_t maxBytes) {
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *error = Reason("read", path, system::ErrnoText(errno));
        return "";
    }
    std::string text;
    char buffer[65536];
    size_t n = 0;
    while (text.size() < maxBytes && (n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, n < maxBytes - text.size() ? n : maxBytes - text.size());
    }
    const bool failed = std::ferror(file) != 0;
    const int readError = errno;
    std::fclose(file);
    *error = failed ? Reason("read", path, system::ErrnoText(readError)) : "";
    return text;
}

}  // namespace trax::client

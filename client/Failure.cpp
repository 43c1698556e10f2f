#include "client/Failure.h"

#include <trax.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <utility>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace trax::client {

namespace {

// The tap's file and how far this process has read it. Taken by the thread
// that makes the library calls (traxctl's main thread, the server's device
// thread); the lock only keeps two such threads from tearing the offset.
struct Tap {
    std::mutex lock;
    std::string path;
    bool owned = false;  // made by this process, removed at its end
    std::streamoff readTo = 0;
    std::ifstream reader;  // open from the start, so that the name can go (ReasonTapOpened)
    std::string loadProblem;
};

Tap& TheTap() {
    static Tap tap;
    return tap;
}

void SetVariable(const char* name, const std::string& value) {
#if defined(_WIN32)
    // Both the system's copy (for child processes) and the C run-time's,
    // which the library reads with getenv.
    SetEnvironmentVariableA(name, value.c_str());
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

std::string MakeTapFile() {
#if defined(_WIN32)
    char folder[MAX_PATH];
    char file[MAX_PATH];
    const DWORD n = GetTempPathA(MAX_PATH, folder);
    if (n == 0 || n >= MAX_PATH || GetTempFileNameA(folder, "trx", 0, file) == 0) return "";
    return file;
#else
    const char* folder = std::getenv("TMPDIR");
    std::string pattern = std::string(folder != nullptr && folder[0] != '\0' ? folder : "/tmp") + "/trax-tap-XXXXXX";
    const int fd = mkstemp(&pattern[0]);
    if (fd < 0) return "";
    close(fd);
    return pattern;
#endif
}

// The string value of "key" in one JSON line, unescaped; the first one.
bool JsonString(const std::string& line, const char* key, std::string* value) {
    const std::string marker = std::string("\"") + key + "\":\"";
    size_t at = line.find(marker);
    if (at == std::string::npos) return false;
    at += marker.size();
    std::string text;
    for (; at < line.size() && line[at] != '"'; ++at) {
        if (line[at] != '\\' || at + 1 >= line.size()) {
            text += line[at];
            continue;
        }
        const char escaped = line[++at];
        if (escaped == 'u' && at + 4 < line.size()) {
            text += static_cast<char>(std::strtol(line.substr(at + 1, 4).c_str(), nullptr, 16));
            at += 4;
        } else {
            text += escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped;
        }
    }
    *value = text;
    return true;
}

bool JsonNumber(const std::string& line, const char* key, long* value) {
    const std::string marker = std::string("\"") + key + "\":";
    const size_t at = line.find(marker);
    if (at == std::string::npos) return false;
    const char* start = line.c_str() + at + marker.size();
    char* end = nullptr;
    const long number = std::strtol(start, &end, 10);
    if (end == start) return false;
    *value = number;
    return true;
}

bool JsonTrue(const std::string& line, const char* key) {
    return line.find(std::string("\"") + key + "\":true") != std::string::npos;
}

// The lines added to the tap since the last read.
std::vector<std::string> NewTapLines(Tap& tap) {
    std::vector<std::string> lines;
    std::ifstream& in = tap.reader;
    if (!in.is_open()) return lines;
    in.clear();
    in.seekg(tap.readTo);
    std::string line;
    while (std::getline(in, line)) {
        if (in.eof()) break;  // a line still being written: read it next time
        lines.push_back(line);
        tap.readTo = in.tellg();
    }
    return lines;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

std::string Failure::Text() const {
    std::string text = function + " failed";
    if (!reason.empty()) text += ": " + reason;
    return text;
}

CallError::CallError(Failure failure) : std::runtime_error(failure.Text()), failure_(std::move(failure)) {}

bool PrepareReasonTap() {
    Tap& tap = TheTap();
    std::lock_guard<std::mutex> guard(tap.lock);
    if (!tap.path.empty()) return true;
    const char* given = std::getenv("TRAX_LOG_TAP");
    if (given != nullptr && given[0] != '\0') {
        // Someone else's tap (a parent process): read it from its end on.
        tap.path = given;
        tap.reader.open(tap.path, std::ios::binary | std::ios::ate);
        tap.readTo = tap.reader ? static_cast<std::streamoff>(tap.reader.tellg()) : 0;
        return true;
    }
    const std::string file = MakeTapFile();
    if (file.empty()) return false;
    tap.path = file;
    tap.owned = true;
    tap.reader.open(file, std::ios::binary);
    SetVariable("TRAX_LOG_TAP", file);
    std::atexit(CloseReasonTap);
    return true;
}

void CloseReasonTap() {
    Tap& tap = TheTap();
    std::lock_guard<std::mutex> guard(tap.lock);
    if (tap.owned) std::remove(tap.path.c_str());
    tap.owned = false;
}

void ReasonTapOpened() {
#if !defined(_WIN32)
    // The library has opened the file and so has this process: without its
    // name nothing is left behind, however the process ends. (Windows keeps
    // the name of an open file; it goes at exit.)
    CloseReasonTap();
#endif
}

void SetLibraryLoadProblem(const std::string& problem) {
    Tap& tap = TheTap();
    std::lock_guard<std::mutex> guard(tap.lock);
    tap.loadProblem = problem;
}

StartupReport ReadStartupReport() {
    StartupReport report;
    Tap& tap = TheTap();
    // The library writes it when it loads; a parent's tap may hold several.
    std::string header;
    {
        std::lock_guard<std::mutex> guard(tap.lock);
        std::ifstream& in = tap.reader;
        if (in.is_open()) {
            in.clear();
            in.seekg(0);
            std::string line;
            while (std::getline(in, line)) {
                if (StartsWith(line, "{\"trax\":")) header = line;
            }
        }
    }
    if (header.empty()) return report;
    report.known = true;
    JsonString(header, "trax", &report.version);
    JsonNumber(header, "InitQelUsbTypeParam", &report.typeParam);
    JsonNumber(header, "SetUsbType", &report.usbType);
    JsonNumber(header, "InitUsb", &report.initUsb);
    JsonNumber(header, "InitPid", &report.initPid);
    report.usable = JsonTrue(header, "usable");
    report.standIn = JsonTrue(header, "stand_in");
    JsonString(header, "driver", &report.driver);
    JsonString(header, "driver_calls", &report.driverCalls);
    return report;
}

Failure FailureOf(const char* function) {
    Failure failure{function, "", std::nullopt, ""};
    Tap& tap = TheTap();
    std::lock_guard<std::mutex> guard(tap.lock);
    if (!tap.loadProblem.empty()) {
        failure.reason = "the library did not load: " + tap.loadProblem;
        return failure;
    }
    const std::string marker = std::string("\"call\":\"") + function + "\"";
    std::string last;
    for (const std::string& line : NewTapLines(tap)) {
        if (line.find(marker) != std::string::npos) last = line;
    }
    if (last.empty()) return failure;
    JsonString(last, "reason", &failure.reason);
    long error = 0;
    if (JsonNumber(last, "error", &error)) failure.errorNumber = static_cast<int>(error);
    return failure;
}

}  // namespace trax::client

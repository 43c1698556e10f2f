// Settings files: a controller's whole setup as JSON, written and read by
// traxctl, the Python package and the server alike.
//
//   {"format": "trax-settings", "version": 1,
//    "written": "2026-12-09T05:10:00Z", "library": "2.2.0.0", "program": 0,
//    "heads": {"A": {"offset": 0, "able-min-max": {"min": 10, "max": 90}, ...},
//              "B": {...}},
//    "system": {"sampling-cycle": 0, "storage": {"target": 0, "count": 1000, "cycle": 0}, ...}}
//
// A setting with one value is a number, one with several an object with a
// member per value named as in the setting table. Write-only settings have no
// place in a file; the program number is where the settings were read from,
// not a setting to write. A file may hold any subset of the settings.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "SettingsAccess.h"

namespace trax::client {

constexpr const char* kSettingsFormat = "trax-settings";
constexpr int kSettingsVersion = 1;

struct SettingsEntry {
    SettingRef ref;
    std::vector<int> values;
};

struct SettingsDocument {
    std::string written;  // UTC time, ISO 8601; "" when not given
    std::string library;  // library version that wrote it; "" when not given
    std::optional<int> program;
    std::vector<SettingsEntry> entries;  // in table order, head A before B

    const SettingsEntry* Find(const SettingRef& ref) const;
};

// Every setting a file holds when saved from a controller: the readable ones
// but the program number, which the file records as where they came from.
std::vector<SettingRef> FileSettings();

// Thrown for a file that cannot be trusted; nothing has been written when it
// is. The message names the key: "heads.A.offset: 1000000 is out of range
// -999999..999999".
struct SettingsFileError {
    std::string message;
};

// A settings file holds a few kilobytes; anything beyond this is refused.
constexpr size_t kMaxSettingsFileBytes = 1 << 20;

// Parses and checks the whole text before returning: its size, format and
// version, every name (each key once per object), every value's type and range.
SettingsDocument ParseSettings(const std::string& text);
// The JSON text, entries in table order, ending with a newline.
std::string SettingsJson(const SettingsDocument& doc);

// Reads and parses a file; SettingsFileError names the path too.
SettingsDocument LoadSettingsFile(const std::string& path);
// Writes atomically; SettingsFileError with the system's reason.
void SaveSettingsFile(const std::string& path, const SettingsDocument& doc);

// The current time as written into a file.
std::string UtcNow();

struct SettingsDifference {
    SettingRef ref;
    std::optional<std::vector<int>> left;   // absent: not in the left one
    std::optional<std::vector<int>> right;  // absent: not in the right one
};
// Settings whose values differ, or that only one side holds, in table order.
std::vector<SettingsDifference> DiffSettings(const SettingsDocument& left, const SettingsDocument& right);

// "min=10 max=90", or "100" for one value.
std::string ValuesText(const Setting& s, const std::vector<int>& values);

// Reading a controller into a document: the given settings and the program
// number (the caller fills in `library`); failures come back per row in
// *failures and leave their setting out of the document.
SettingsDocument ReadController(const std::vector<SettingRef>& refs, std::vector<SettingValue>* failures,
                                const Progress& progress = {}, const std::function<bool()>& stop = {});

// What a load did.
struct LoadReport {
    bool enteredSettingMode = false;
    std::vector<SettingRef> written;     // in the order written
    std::vector<SettingRef> notWritten;  // after a failed write: it and every one after it
    std::optional<Failure> writeFailure;
    bool stopped = false;                         // stop() said so before every entry was written
    std::vector<SettingsDifference> differences;  // read back against the file
    std::vector<SettingValue> readFailures;       // read-backs that failed
    bool backInMeasurement = false;
    Failure modeFailure;  // when a mode switch failed
    bool Ok() const { return !writeFailure && readFailures.empty() && differences.empty() && backInMeasurement; }
};

// Writes every entry of doc (all checked already by ParseSettings) between one
// switch to setting mode and one back to measurement mode, stops at the first
// failed write, reads every written value back and compares. The switch back
// is made whatever happened before it.
// `stop` (Ctrl-C) ends the writes early as a failed write would, without a
// failure; the read-back and the switch back still happen.
LoadReport LoadIntoController(const SettingsDocument& doc, const Progress& progress = {},
                              const std::function<bool()>& stop = {});

}  // namespace trax::client

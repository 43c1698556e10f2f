#include "SettingTable.h"

#include <trax.h>

namespace trax::client {

namespace {

// The rows come from client/settings.tsv, which the Python package reads too,
// so the names, argument order and ranges cannot drift apart.
const std::vector<Setting> kSettings = {
#include "SettingRows.inc"
};

}  // namespace

const std::vector<Setting>& SettingTable() { return kSettings; }

const Setting* FindSetting(const std::string& name) {
    for (const Setting& s : kSettings) {
        if (name == s.name) return &s;
    }
    return nullptr;
}

std::string ValuesProblem(const Setting& s, const std::vector<int>& values) {
    if (values.size() != static_cast<size_t>(s.arity)) {
        return std::to_string(s.arity) + " value" + (s.arity > 1 ? "s" : "") + " expected, got " +
               std::to_string(values.size());
    }
    for (int i = 0; i < s.arity; ++i) {
        const Field& f = s.fields[i];
        if (values[i] < f.low || values[i] > f.high) {
            return std::string(f.name) + ": " + std::to_string(values[i]) + " is out of range " +
                   std::to_string(f.low) + ".." + std::to_string(f.high);
        }
    }
    if (s.ordered && values[0] > values[1]) {
        return std::string(s.fields[0].name) + " " + std::to_string(values[0]) + " is above " + s.fields[1].name + " " +
               std::to_string(values[1]);
    }
    return "";
}

const Setting& StorageSetting() {
    static const Setting* const storage = FindSetting("storage");
    return *storage;
}

}  // namespace trax::client

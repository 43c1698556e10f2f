#include "Settings.h"

#include <trax.h>

#include "Cli.h"

namespace traxctl {

namespace {

// The rows come from tools/settings.tsv, which the Python package reads too,
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

std::vector<int> ParseSettingValues(const Setting& s, const std::vector<std::string>& words) {
    if (words.size() != static_cast<size_t>(s.arity)) {
        std::string names;
        for (int i = 0; i < s.arity; ++i) names += std::string(i ? " " : "") + s.fields[i].name;
        throw UsageError{std::string(s.name) + " takes " + std::to_string(s.arity) + " value" +
                         (s.arity > 1 ? "s" : "") + " (" + names + "), got " + std::to_string(words.size())};
    }
    std::vector<int> values;
    for (int i = 0; i < s.arity; ++i) {
        const Field& f = s.fields[i];
        std::string what = s.arity == 1 ? std::string(s.name) : std::string(s.name) + " " + f.name;
        values.push_back(ParseInt(words[static_cast<size_t>(i)], f.low, f.high, what));
    }
    if (s.ordered && values[0] > values[1]) {
        throw UsageError{std::string(s.name) + ": " + s.fields[0].name + " " + std::to_string(values[0]) +
                         " is above " + s.fields[1].name + " " + std::to_string(values[1])};
    }
    return values;
}

}  // namespace traxctl

// Every setting of the controller as one table: the name a person types,
// whether it belongs to a head or to the whole controller, its values with
// their accepted ranges, and the library's setter and getter. traxctl, the
// settings files and the server all read this one table.
#pragma once

#include <string>
#include <vector>

namespace trax::client {

struct Field {
    const char* name;
    int low;
    int high;
};

enum class Scope { Head, Controller };

struct Setting {
    const char* name;
    Scope scope;
    int arity;  // number of values, 1..4
    Field fields[4];
    // Library functions, by name for messages; a setting without a getter is write-only.
    const char* setterName;
    const char* getterName;
    // head is 0 or 1 for Scope::Head and ignored for Scope::Controller.
    int (*set)(int head, const int* values);
    int (*get)(int head, int* values);
    const char* about;
    // The first value must not exceed the second (Able min and max).
    bool ordered;

    bool Readable() const { return get != nullptr; }
};

const std::vector<Setting>& SettingTable();
// Null when there is no setting of that name.
const Setting* FindSetting(const std::string& name);
// The "storage" row (target, count, cycle with their ranges), which the
// storage set-up of traxctl and of the server checks its values against.
const Setting& StorageSetting();

// Why `values` cannot be written to `s` ("min: 100 is out of range 1..99",
// "min 50 is above max 10"), or "" when they can. The count must be s.arity.
std::string ValuesProblem(const Setting& s, const std::vector<int>& values);

}  // namespace trax::client

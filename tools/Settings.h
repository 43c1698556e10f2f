// Every setting traxctl can write and read, as one table: the name a person
// types, whether it belongs to a head or to the whole controller, its values
// with their accepted ranges, and the library's setter and getter.
#pragma once

#include <string>
#include <vector>

namespace traxctl {

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
};

const std::vector<Setting>& SettingTable();
// Null when there is no setting of that name.
const Setting* FindSetting(const std::string& name);

// Checks values against the ranges; throws UsageError naming the field.
std::vector<int> ParseSettingValues(const Setting& s, const std::vector<std::string>& words);

}  // namespace traxctl

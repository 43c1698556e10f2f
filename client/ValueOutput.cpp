#include "client/ValueOutput.h"

#include <cstdlib>

#include "client/Heads.h"

namespace trax::client {

using json = Json;

namespace {

// nlohmann writes a double with the fewest digits that read it back, so the
// float's shortest text stays as it is ("1.235", not float noise). NaN and
// infinities have no JSON number: null.
json FloatJson(float value) {
    const std::string text = ValueText(value, -1);
    if (text == "nan" || text == "inf" || text == "-inf") return nullptr;
    return std::strtod(text.c_str(), nullptr);
}

}  // namespace

std::string FormatValue(const FloatValue& v, const DisplayUnit& unit) {
    switch (v.status) {
    case TRAX_VALUE_VALID:
        return ValueText(v.value, unit.decimals);
    case TRAX_VALUE_OVER_POSITIVE:
        return "over+";
    case TRAX_VALUE_OVER_NEGATIVE:
        return "over-";
    default:
        return "invalid";
    }
}

std::string CsvCells(const FloatValue& v, const DisplayUnit& unit) {
    return StatusName(v.status) + "," + (v.status == TRAX_VALUE_VALID ? FormatValue(v, unit) : "") + "," + unit.name;
}

std::string StorageCsv(int head, const DisplayUnit& unit, const std::vector<FloatValue>& values,
                       const std::string& start, const std::string& stop, const std::string& samplingCycle) {
    auto known = [](const std::string& text) { return text.empty() ? std::string("not known") : text; };
    std::string text = std::string("# head: ") + HeadName(head) + "\n# unit: " + known(unit.name) +
                       "\n# count: " + std::to_string(values.size()) + "\n# start: " + known(start) +
                       "\n# stop: " + known(stop) + "\n# sampling-cycle: " + known(samplingCycle) +
                       "\nindex,status,value,unit\n";
    for (size_t i = 0; i < values.size(); ++i) text += std::to_string(i) + "," + CsvCells(values[i], unit) + "\n";
    return text;
}

json UnitJson(const DisplayUnit& unit) { return unit.name.empty() ? json(nullptr) : json(unit.name); }

json ValueJson(const FloatValue& v, const DisplayUnit& unit, bool withUnit) {
    json out = {{"status", StatusName(v.status)}, {"value", nullptr}};
    if (v.status == TRAX_VALUE_VALID) out["value"] = FloatJson(v.value);
    if (withUnit) out["unit"] = UnitJson(unit);
    return out;
}

json BothHeadsJson(const Controller::BothHeads& values, const DisplayUnit& unitA, const DisplayUnit& unitB) {
    return {{"A", ValueJson(values.a, unitA, true)}, {"B", ValueJson(values.b, unitB, true)}};
}

json FigureJson(int head, const FigureData& figure, const DisplayUnit& unit) {
    json values = json::array(), integers = json::array();
    for (const FloatValue& v : figure.values) values.push_back(ValueJson(v, unit, false));
    for (int n : figure.integers) integers.push_back(n);
    return {{"head", HeadName(head)}, {"unit", UnitJson(unit)}, {"values", values}, {"integers", integers}};
}

json LightJson(int head, int selector, const Controller::LightProfile& light) {
    json figures = json::array(), points = json::array();
    for (int v : light.light.values) figures.push_back(v);
    for (unsigned char p : light.profile) points.push_back(p);
    return {{"head", HeadName(head)},
            {"selector", selector},
            {"light", figures},
            {"extra", light.extra},
            {"profile", points}};
}

json StorageJson(int head, const DisplayUnit& unit, const std::vector<FloatValue>& values) {
    json list = json::array();
    for (const FloatValue& v : values) list.push_back(ValueJson(v, unit, false));
    return {{"head", HeadName(head)}, {"unit", UnitJson(unit)}, {"count", values.size()}, {"values", list}};
}

json NamedValuesJson(const Setting& s, const std::vector<int>* values) {
    if (values == nullptr) return nullptr;
    json out = json::object();
    for (int i = 0; i < s.arity && static_cast<size_t>(i) < values->size(); ++i)
        out[s.fields[i].name] = (*values)[static_cast<size_t>(i)];
    return out;
}

json SettingRefJson(const SettingRef& ref) {
    return {{"setting", ref.setting->name},
            {"head", ref.setting->scope == Scope::Head ? json(HeadName(ref.head)) : json(nullptr)}};
}

json SettingJson(const SettingRef& ref, const std::vector<int>& values) {
    json out = SettingRefJson(ref);
    out["values"] = NamedValuesJson(*ref.setting, &values);
    return out;
}

std::string JsonText(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

}  // namespace trax::client

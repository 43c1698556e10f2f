#include "sim/SettingStore.h"

#include <cstdio>
#include <cstdlib>

#include "sim/WireFormat.h"

namespace trax::sim {
namespace {

constexpr TextField kTwoDigits{2, false, false, 1, 99};
constexpr TextField kThreeDigits{3, false, false, 0, 999};
constexpr TextField kStoreCount{5, false, false, 1, 65536};
constexpr TextField kSigned7{7, true, true, -999999, 999999};
// Five digits and a sign; read back seven wide, so no sixth digit fits.
constexpr TextField kSigned6{6, true, true, -99999, 99999};
constexpr TextField kUnsigned6{6, false, true, 0, 999999};
constexpr TextField kNone{0, false, false, 0, 0};

constexpr Scope H = Scope::PerHead;
constexpr Scope C = Scope::Controller;

#define BYTE_ITEM(cat, item, scope, low, high, def)                                           \
    {                                                                                         \
        cat, item, scope, low, high, {kNone, kNone, kNone, kNone}, 0, false, { def, 0, 0, 0 } \
    }

const ItemSpec kItems[] = {
    // Category 0: head settings.
    BYTE_ITEM(0, 0, H, 0, 1, 0),                                                       // Able mode
    {0, 1, H, 0, 0, {kTwoDigits, kTwoDigits, kNone, kNone}, 2, true, {90, 10, 0, 0}},  // Able max, min
    BYTE_ITEM(0, 4, H, 0, 4, 0),                                                       // measure mode
    {0, 5, H, 0, 0, {kThreeDigits, kNone, kNone, kNone}, 1, false, {7, 0, 0, 0}},      // alarm count
    BYTE_ITEM(0, 6, H, 0, 9, 0),                                                       // alarm level
    BYTE_ITEM(0, 10, H, 0, 1, 0),                                                      // reflection mode
    // Category 1: output settings.
    BYTE_ITEM(1, 0, H, 0, 5, 0),                                                                  // calculation method
    BYTE_ITEM(1, 1, H, 0, 9, 0),                                                                  // its parameter
    {1, 2, H, 0, 0, {kSigned7, kSigned7, kSigned7, kSigned7}, 4, false, {0, 0, 100000, 100000}},  // scaling 1
    {1, 3, H, 0, 0, {kSigned7, kSigned7, kSigned7, kSigned7}, 4, false, {0, 0, 100000, 100000}},  // scaling 2
    BYTE_ITEM(1, 4, H, 0, 2, 0),                                                                  // filter mode
    BYTE_ITEM(1, 5, H, 0, 9, 4),                                                                  // averaging
    BYTE_ITEM(1, 6, H, 0, 8, 0),                                                                  // cut-off frequency
    BYTE_ITEM(1, 7, H, 0, 5, 0),                                                                  // calculation mode
    BYTE_ITEM(1, 8, H, 0, 1, 0),                                                                  // trigger mode
    {1, 9, H, 0, 0, {kSigned7, kNone, kNone, kNone}, 1, false, {0, 0, 0, 0}},                     // offset
    BYTE_ITEM(1, 10, H, 0, 5, 1),                                                                 // display unit
    {1, 11, H, 0, 0, {kSigned7, kSigned6, kSigned7, kSigned6}, 4, false, {-500000, -10000, 500000, 10000}},
    BYTE_ITEM(1, 12, H, 0, 1, 0),                                                             // analog through
    {1, 13, H, 0, 0, {kSigned7, kSigned7, kNone, kNone}, 2, false, {100000, -100000, 0, 0}},  // tolerance limits
    {1, 14, H, 0, 0, {kUnsigned6, kNone, kNone, kNone}, 1, false, {0, 0, 0, 0}},              // tolerance hysteresis
    // Category 2: system settings and data storage.
    BYTE_ITEM(2, 0, C, 0, 5, 2),                                                     // sampling cycle
    BYTE_ITEM(2, 1, C, 0, 1, 0),                                                     // mutual interference prevention
    BYTE_ITEM(2, 2, C, 0, 1, 0),                                                     // timing synchronisation
    BYTE_ITEM(2, 3, C, 0, 2, 0),                                                     // comparator output format
    BYTE_ITEM(2, 4, C, 0, 3, 0),                                                     // strobe time
    BYTE_ITEM(2, 5, C, 0, 3, 0),                                                     // storage target
    {2, 6, C, 0, 0, {kStoreCount, kNone, kNone, kNone}, 1, false, {1000, 0, 0, 0}},  // storage count
    BYTE_ITEM(2, 7, C, 0, 9, 0),                                                     // storage cycle
    BYTE_ITEM(3, 5, C, 0, 1, 0),                                                     // panel lock
    BYTE_ITEM(4, 0, C, 0, 7, 0),                                                     // program number
};

#undef BYTE_ITEM

constexpr size_t kItemCount = sizeof kItems / sizeof kItems[0];

size_t IndexOf(const ItemSpec& layout) { return static_cast<size_t>(&layout - kItems); }

bool HeadAccepted(const ItemSpec& layout, uint8_t head) {
    if (layout.scope == Scope::PerHead) return head <= 1;
    return head == 0 || head == setting::kNoHead;  // the head byte means nothing here
}

size_t WrittenLength(const ItemSpec& layout) {
    if (layout.fieldCount == 0) return 1;
    size_t length = layout.fieldCount - 1u;  // separators
    for (int i = 0; i < layout.fieldCount; ++i) length += layout.fields[i].width;
    return length;
}

}  // namespace

SettingStore::SettingStore() : slots_(kItemCount * 2) { RestoreDefaults(); }

void SettingStore::RestoreDefaults() {
    for (size_t i = 0; i < kItemCount; ++i) {
        for (size_t head = 0; head < 2; ++head) {
            for (int f = 0; f < 4; ++f) slots_[i * 2 + head].values[f] = kItems[i].defaults[f];
        }
    }
}

const ItemSpec* SettingStore::Find(uint8_t category, uint8_t item) {
    for (const ItemSpec& layout : kItems) {
        if (layout.category == category && layout.item == item) return &layout;
    }
    return nullptr;
}

size_t SettingStore::ItemCount() { return kItemCount; }

const ItemSpec& SettingStore::Item(size_t index) { return kItems[index]; }

const SettingStore::Slot* SettingStore::Locate(const ItemSpec& layout, uint8_t head) const {
    size_t headSlot = layout.scope == Scope::PerHead ? head : 0;
    return &slots_[IndexOf(layout) * 2 + headSlot];
}

SettingStore::Slot* SettingStore::Locate(const ItemSpec& layout, uint8_t head) {
    return const_cast<Slot*>(static_cast<const SettingStore*>(this)->Locate(layout, head));
}

std::string SettingStore::FormatWritten(const TextField& field, int32_t value) {
    char text[32];
    if (field.sign) {
        std::snprintf(text, sizeof text, "%+0*d", static_cast<int>(field.width), static_cast<int>(value));
    } else {
        std::snprintf(text, sizeof text, "%0*d", static_cast<int>(field.width), static_cast<int>(value));
    }
    return text;
}

std::string SettingStore::FormatReadBack(const TextField& field, int32_t value) {
    std::string text = FormatWritten(field, value);
    if (field.point) text.insert(text.size() - 3, 1, '.');
    return text;
}

bool SettingStore::ParseWritten(const TextField& field, const char* text, int32_t* value) {
    int pos = 0;
    bool negative = false;
    if (field.sign) {
        if (text[0] != '+' && text[0] != '-') return false;
        negative = text[0] == '-';
        pos = 1;
    }
    if (pos >= field.width) return false;
    int64_t magnitude = 0;
    for (; pos < field.width; ++pos) {
        if (text[pos] < '0' || text[pos] > '9') return false;
        magnitude = magnitude * 10 + (text[pos] - '0');
    }
    *value = static_cast<int32_t>(negative ? -magnitude : magnitude);
    return true;
}

uint8_t SettingStore::Write(uint8_t category, uint8_t head, uint8_t item, const uint8_t* data, size_t length) {
    const ItemSpec* layout = Find(category, item);
    if (layout == nullptr || !HeadAccepted(*layout, head)) return error::kSettingAddress;
    if (length != WrittenLength(*layout)) return error::kSettingLength;

    int32_t parsed[4] = {0, 0, 0, 0};
    if (layout->fieldCount == 0) {
        parsed[0] = data[0];
        if (parsed[0] < layout->low || parsed[0] > layout->high) return error::kSettingValue;
    } else {
        const char* text = reinterpret_cast<const char*>(data);
        size_t pos = 0;
        for (int f = 0; f < layout->fieldCount; ++f) {
            if (f != 0) {
                if (text[pos] != ',') return error::kSettingLength;
                ++pos;
            }
            const TextField& field = layout->fields[f];
            if (!ParseWritten(field, text + pos, &parsed[f])) return error::kSettingLength;
            if (parsed[f] < field.low || parsed[f] > field.high) return error::kSettingValue;
            pos += field.width;
        }
        if (layout->firstNotBelowSecond && parsed[0] < parsed[1]) return error::kSettingValue;
    }
    Slot* slot = Locate(*layout, head);
    for (int f = 0; f < 4; ++f) slot->values[f] = parsed[f];
    return 0;
}

uint8_t SettingStore::Read(uint8_t category, uint8_t head, uint8_t item, std::vector<uint8_t>* data) const {
    const ItemSpec* layout = Find(category, item);
    if (layout == nullptr || !HeadAccepted(*layout, head)) return error::kSettingAddress;
    const Slot* slot = Locate(*layout, head);
    data->clear();
    if (layout->fieldCount == 0) {
        data->push_back(static_cast<uint8_t>(slot->values[0]));
        return 0;
    }
    std::string text;
    for (int f = 0; f < layout->fieldCount; ++f) {
        if (f != 0) text.push_back(',');
        text += FormatReadBack(layout->fields[f], slot->values[f]);
    }
    data->assign(text.begin(), text.end());
    data->push_back(0);  // end of the text: readers terminate each field at its end character
    return 0;
}

int32_t SettingStore::Value(uint8_t category, uint8_t head, uint8_t item, int field) const {
    const ItemSpec* layout = Find(category, item);
    if (layout == nullptr || field < 0 || field > 3) return 0;
    return Locate(*layout, head > 1 ? 0 : head)->values[field];
}

}  // namespace trax::sim

// The controller's settings, addressed by category, head and item.
//
// Each item has one encoding:
// - one byte, with an inclusive range;
// - fixed-width decimal text: one or more fields separated by ',', each either
//   signed ('+' or '-' then digits) or unsigned digits, exactly as wide as the
//   host writes them;
// Read-back: signed fields and the 6-digit unsigned field come back one
// character wider, with a decimal point before their last three digits
// ("+001234" reads back "+001.234", "001234" reads back "001.234": the
// controller shows these settings with three decimals). The narrow unsigned
// fields (2, 3 and 5 digits) come back exactly as written. Read-back text ends
// with a NUL byte, so every field is followed by one end character (',' or NUL).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace trax::sim {

struct TextField {
    uint8_t width;  // characters as written by the host, sign included
    bool sign;      // leads with '+' or '-'
    bool point;     // read back one wider with a decimal point
    int32_t low;
    int32_t high;
};

enum class Scope : uint8_t { PerHead, Controller };

struct ItemSpec {
    uint8_t category;
    uint8_t item;
    Scope scope;
    // Byte items: fieldCount 0 and [low, high]. Text items: fields[0..fieldCount).
    int32_t low;
    int32_t high;
    TextField fields[4];
    uint8_t fieldCount;
    // Text items whose first field must not be smaller than the second (Able max, min).
    bool firstNotBelowSecond;
    int32_t defaults[4];
};

// Well-known addresses the controller itself looks at.
namespace setting {
constexpr uint8_t kHeadCategory = 0;
constexpr uint8_t kAbleStart = 7;
constexpr uint8_t kAbleStop = 8;
constexpr uint8_t kAbleCancel = 9;
constexpr uint8_t kOutputCategory = 1;
constexpr uint8_t kOffset = 9;
constexpr uint8_t kDisplayUnit = 10;
constexpr uint8_t kSystemCategory = 2;
constexpr uint8_t kSamplingCycle = 0;
constexpr uint8_t kStorageTarget = 5;
constexpr uint8_t kStorageCount = 6;
constexpr uint8_t kStorageCycle = 7;
constexpr uint8_t kPanelLockCategory = 3;
constexpr uint8_t kPanelLock = 5;
constexpr uint8_t kProgramCategory = 4;
constexpr uint8_t kProgramNo = 0;
constexpr uint8_t kNoHead = 255;
}  // namespace setting

class SettingStore {
public:
    SettingStore();

    // 0 or an error number (error::kSettingAddress, kSettingLength, kSettingValue).
    // A refused write changes nothing.
    uint8_t Write(uint8_t category, uint8_t head, uint8_t item, const uint8_t* data, size_t length);
    // 0 and the read-back bytes, or an error number.
    uint8_t Read(uint8_t category, uint8_t head, uint8_t item, std::vector<uint8_t>* data) const;

    // Field `field` of an item as a number, for the controller's own use; the
    // address must exist (head 0 for controller-wide items).
    int32_t Value(uint8_t category, uint8_t head, uint8_t item, int field = 0) const;

    void RestoreDefaults();

    static const ItemSpec* Find(uint8_t category, uint8_t item);
    // Every item, in a fixed order: Item(0) .. Item(ItemCount() - 1).
    static size_t ItemCount();
    static const ItemSpec& Item(size_t index);
    // Text of one field as the host writes it, and as the controller reads it back.
    static std::string FormatWritten(const TextField& field, int32_t value);
    static std::string FormatReadBack(const TextField& field, int32_t value);
    // Parses exactly field.width characters; false when the layout is wrong.
    static bool ParseWritten(const TextField& field, const char* text, int32_t* value);

private:
    struct Slot {
        int32_t values[4];
    };
    const Slot* Locate(const ItemSpec& layout, uint8_t head) const;
    Slot* Locate(const ItemSpec& layout, uint8_t head);

    // Two slots per item: head A and head B; controller-wide items use the first.
    std::vector<Slot> slots_;
};

}  // namespace trax::sim

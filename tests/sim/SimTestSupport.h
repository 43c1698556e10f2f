// Packet building and reply reading for the simulated-controller tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "sim/SimController.h"

namespace trax::sim::test {

inline std::vector<uint8_t> Packet(uint8_t code, std::initializer_list<uint8_t> args = {}) {
    std::vector<uint8_t> p = {0, static_cast<uint8_t>(4 + args.size()), 7, code};
    p.insert(p.end(), args.begin(), args.end());
    return p;
}

inline std::vector<uint8_t> WritePacket(uint8_t category, uint8_t head, uint8_t item, const std::string& data) {
    std::vector<uint8_t> p = {0, static_cast<uint8_t>(7 + data.size()), 7, 8, category, head, item};
    p.insert(p.end(), data.begin(), data.end());
    return p;
}

inline std::vector<uint8_t> ReadPacket(uint8_t category, uint8_t head, uint8_t item) {
    return {0, 8, 7, 10, category, head, item, 0};
}

inline int32_t At32(const std::vector<uint8_t>& r, size_t i) {
    return static_cast<int32_t>((uint32_t(r[i]) << 24) | (uint32_t(r[i + 1]) << 16) | (uint32_t(r[i + 2]) << 8) |
                                r[i + 3]);
}

inline uint16_t At16(const std::vector<uint8_t>& r, size_t i) { return static_cast<uint16_t>((r[i] << 8) | r[i + 1]); }

// The setting text of a read reply, with its NUL end byte; "" when there is none.
inline std::string DataText(const std::vector<uint8_t>& r) {
    if (r.size() < 10 || r.back() != 0) return "";
    return std::string(r.begin() + 8, r.end() - 1);
}

inline void EnterSettingMode(SimController& c) { c.Exchange(Packet(6)); }

// A setting write bracketed by the mode switches, as the host does it.
inline std::vector<uint8_t> WriteInSettingMode(SimController& c, uint8_t cat, uint8_t head, uint8_t item,
                                               const std::string& data) {
    c.Exchange(Packet(6));
    std::vector<uint8_t> reply = c.Exchange(WritePacket(cat, head, item, data));
    c.Exchange(Packet(4));
    return reply;
}

inline int32_t CalcValue(SimController& c, int head) {
    std::vector<uint8_t> r = c.Exchange(Packet(20, {0, 255}));
    return At32(r, head == 0 ? 12 : 16);
}

}  // namespace trax::sim::test

// Byte-level helpers for the controller's side of the wire: every multi-byte
// number travels big-endian, and every reply starts with the same 8-byte header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace trax::sim {

constexpr uint8_t kMarker = 7;
constexpr size_t kHeaderLength = 8;  // reply header: length, marker, code, error, 3 spare
constexpr size_t kRequestHeaderLength = 4;
// The most data bytes one setting write carries after category, head and item.
constexpr size_t kMaxSettingData = 64;
constexpr uint8_t kReplyCodeBusy = 68;
constexpr uint8_t kReplyCodeError = 255;

// The controller's error numbers. 5 has a fixed meaning for the host: the
// command belongs to the other operating mode. The first four come in an error
// reply (code 255); the others in the error byte of the expected reply.
namespace error {
constexpr uint8_t kLengthField = 1;     // the length field differs from the bytes received
constexpr uint8_t kMarker = 2;          // byte 2 is not the marker 7
constexpr uint8_t kUnknownCommand = 3;  // no such command code
constexpr uint8_t kRequestLength = 4;   // wrong request length for this command
constexpr uint8_t kWrongMode = 5;       // not accepted in the current operating mode
constexpr uint8_t kParameter = 6;       // a head, flag or selector byte out of range
constexpr uint8_t kSettingAddress = 7;  // no such category / head / item
constexpr uint8_t kSettingLength = 8;   // setting data of the wrong length or layout
constexpr uint8_t kSettingValue = 9;    // setting value outside the controller's range
constexpr uint8_t kState = 10;          // not possible now (e.g. the Able adjustment is running)
}  // namespace error

inline uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

inline uint32_t Get32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

inline void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

inline void Put32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

inline void PutSigned32(uint8_t* p, int32_t v) { Put32(p, static_cast<uint32_t>(v)); }

// A reply of `total` bytes (at least the header), zero-filled, with the header
// written. The length field holds the low 16 bits of the total: only the
// storage read can be longer than that, and its reader does not compare them.
inline std::vector<uint8_t> MakeReply(uint8_t code, uint8_t error, size_t total) {
    if (total < kHeaderLength) total = kHeaderLength;
    std::vector<uint8_t> reply(total, 0);
    Put16(reply.data(), static_cast<uint16_t>(total & 0xFFFFu));
    reply[2] = kMarker;
    reply[3] = code;
    reply[4] = error;
    return reply;
}

}  // namespace trax::sim

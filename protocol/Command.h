// The controller's command protocol: request packets, reply records, the
// request/reply transaction with its waits and busy handling, the operating
// mode switch and the generic setting write and read.
//
// Wire format. A request is a 4-byte header (16-bit big-endian total length,
// marker 7, command code) followed by its argument bytes. A reply starts with
// its 16-bit big-endian length, one unexamined byte, the reply code and the
// error byte at 4; its payload starts at byte 8, with big-endian numbers.
#pragma once

#include <cstdint>

#include "session/DeviceSession.h"

namespace trax::protocol {

constexpr int32_t kReplyRecordSize = 1056;
// The most data bytes one setting write carries after its address.
constexpr int32_t kMaxSettingData = 64;

// A reply that carries its error byte and nothing this library reads beyond it.
constexpr int32_t kErrorByteReplyLength = 5;

enum CommandCode : uint8_t {
    CmdMeasureMode = 4,
    CmdSettingMode = 6,
    CmdWriteSetting = 8,
    CmdReadSetting = 10,
    CmdZero = 12,
    CmdTiming = 14,
    CmdReset = 16,
    CmdCalcData = 20,
    CmdPanel = 22,
    CmdLight = 24,
    CmdProbeSettingMode = 26,
    CmdStorageInit = 34,
    CmdStorageData = 36,
    CmdStorageStart = 38,
    CmdStorageStop = 40,
    CmdStatus = 42,
    CmdFigureClear = 44,
    CmdFigureData = 46,
};

// A reply record: caller-owned bytes plus how many of them the last reply
// filled. Decoders read only bytes that arrived with the current reply.
struct Reply {
    uint8_t* data;
    int32_t size;
    int32_t received;

    bool Has(int32_t length) const { return received >= length; }
    // The error byte, or a value that is neither "accepted" nor "other mode"
    // when the reply was too short to carry one.
    uint8_t ErrorByte() const { return received >= 5 ? data[4] : 0xFF; }
    uint8_t Byte(int32_t offset) const { return data[offset]; }
    uint16_t U16(int32_t offset) const;
    uint32_t U32(int32_t offset) const;
};

// A reply record with its own storage, for mode switches on the caller's stack.
struct LocalReply {
    uint8_t bytes[kReplyRecordSize];
    Reply reply{bytes, kReplyRecordSize, 0};
    LocalReply() = default;
    ~LocalReply();
    LocalReply(const LocalReply&) = delete;
    LocalReply& operator=(const LocalReply&) = delete;
};

// The shared reply record of the exported functions, and the storage read's.
Reply& ReplyBuffer() TRAX_REQUIRES(session::callLock);
Reply& StorageReply() TRAX_REQUIRES(session::callLock);

uint16_t Swap16(uint16_t value);
uint32_t Swap32(uint32_t value);
// In-place conversion of big-endian fields after a successful command.
void SwapField16(Reply& reply, int32_t offset);
void SwapField32(Reply& reply, int32_t offset);
void BuildHeader(uint8_t* packet, uint8_t code, uint16_t length);
uint8_t HeadToWire(int32_t head);

// The engine's clock and limits. The shipped values are the monotonic clock
// and 10000 ms for both the reply wait and the busy limit; tests replace them.
struct EngineTiming {
    uint64_t (*now)();
    uint32_t replyWaitMs;
    uint32_t busyLimitMs;
};
EngineTiming DefaultEngineTiming();
void SetEngineTiming(const EngineTiming& timing);

// One request/reply exchange on the open session: sends command `code` with
// its argument bytes and waits for the reply, with the reply maximum and
// length check of the command's row. Returns 1 when a reply with the expected
// code arrived (its error byte is the caller's to examine).
[[nodiscard]] int RunCommand(session::DeviceSession& session, uint8_t code, const uint8_t* arguments,
                             int32_t argumentCount, Reply& reply);
// The common success test: the transaction succeeded, the reply carries at
// least `minLength` bytes and its error byte is 0.
[[nodiscard]] bool Accepted(int transactionResult, const Reply& reply, int32_t minLength);

// Operating mode and setting access.
enum ControllerMode { ModeMeasure = 0, ModeSetting = 1, ModeUndetermined = 2 };

[[nodiscard]] int WriteSetting(session::DeviceSession& session, Reply& reply, uint8_t category, uint8_t head,
                               uint8_t item, const uint8_t* data, int32_t length);
[[nodiscard]] int ReadSetting(session::DeviceSession& session, Reply& reply, uint8_t category, uint8_t head,
                              uint8_t item);
[[nodiscard]] int ReadStatus(session::DeviceSession& session, Reply& reply);
// Switches the controller to `mode`. When switching to setting mode,
// *settingRequested (if given) becomes true once the request to enter setting
// mode has gone out, and false again when the controller answers that it did
// not get there (it refused the request, or its status still says measurement
// mode) or when every exchange after the request got an answer, so that a caller whose switch failed knows whether the
// controller may have entered setting mode all the same.
[[nodiscard]] int SwitchMode(session::DeviceSession& session, int mode, bool* settingRequested = nullptr);

// Byte positions of the status reply.
constexpr int32_t kStatusCountA = 8;
constexpr int32_t kStatusCountB = 12;
constexpr int32_t kStatusStoring = 16;
constexpr int32_t kStatusReplyLength = 17;
// Setting data starts here in a setting read's reply; byte 8 of a write's
// reply is its result.
constexpr int32_t kSettingData = 8;

}  // namespace trax::protocol

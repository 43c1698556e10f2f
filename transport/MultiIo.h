// The channel selector: the one object through which the command layer sends
// requests and takes replies, whatever the physical channel. It owns the
// channel and turns the channel's completion into a call of its owner's
// callback. Only the USB kind has a channel in this library.
#pragma once

#include <cstdint>

#include "transport/AsyncUSB.h"

namespace trax::transport {

enum ChannelType : int32_t {
    ChannelSerial = 0,
    ChannelUsb = 1,
    ChannelReserved = 2,
    ChannelNone = 3,
};

struct ChannelParams {
    int32_t sendCapacity;
    int32_t receiveCapacity;
    uint8_t serialSettings[252];
};
static_assert(sizeof(ChannelParams) == 260, "ChannelParams is 260 bytes");

struct ChannelStatus {
    int32_t status;  // 1: an answer was queued; 0 (or kStatusCut): the exchange failed, the I/O thread ended
    int32_t reserved1;
    int32_t reserved2;
    uint8_t reserved[256];
};
static_assert(sizeof(ChannelStatus) == 268, "ChannelStatus is 268 bytes");

class MultiIo;
// Runs on the channel's I/O thread.
using OwnerCallback = void (*)(int32_t channelType, ChannelStatus* status, MultiIo* source);

class MultiIo {
public:
    MultiIo();
    ~MultiIo() { Destroy(); }
    MultiIo(const MultiIo&) = delete;
    MultiIo& operator=(const MultiIo&) = delete;

    [[nodiscard]] int Create(ChannelType kind, const ChannelParams* params, OwnerCallback callback);
    int Exists() const;
    // 1 while the channel exists and its I/O thread still takes requests; 0
    // once an exchange failed and the thread ended (or it never started).
    int Alive() const;
    [[nodiscard]] int Send(const uint8_t* bytes, int32_t length);
    // A peek flag of 1 leaves the bytes queued; any other value consumes them.
    [[nodiscard]] int Receive(uint8_t* destination, int32_t maximum, int32_t peek, uint32_t* count);
    [[nodiscard]] int ClearErrors();
    [[nodiscard]] int Purge();
    // Stops and frees the channel; returns only after its I/O thread ended.
    void Destroy();

    static void OnUsbEvent(int32_t status, void* owner);

protected:
    ChannelType channelType;
    ChannelParams channelParams;
    AsyncUSB* usbChannel;
    void* serialChannel;  // never present: the serial kind is not built
    ChannelStatus channelStatus;
    OwnerCallback ownerCallback;
};

}  // namespace trax::transport

#include "transport/MultiIo.h"

#include <cstring>
#include <new>

namespace trax::transport {

MultiIo::MultiIo() : channelType(ChannelNone), usbChannel(nullptr), serialChannel(nullptr), ownerCallback(nullptr) {
    std::memset(&channelParams, 0, sizeof channelParams);
    std::memset(&channelStatus, 0, sizeof channelStatus);
}

int MultiIo::Create(ChannelType kind, const ChannelParams* params, OwnerCallback callback) {
    channelType = kind;
    std::memcpy(&channelParams, params, sizeof channelParams);
    ownerCallback = callback;
    if (kind != ChannelUsb) {
        TRAX_ASSERT_FAILED();
        return 1;
    }
    if (usbChannel != nullptr) {
        TRAX_ASSERT_FAILED();
        return 1;
    }
    usbChannel = new (std::nothrow) AsyncUSB();
    if (usbChannel == nullptr) return 0;
    // On failure the half-made channel stays; the owner's close destroys it.
    return usbChannel->Create(channelParams.sendCapacity, channelParams.receiveCapacity, &MultiIo::OnUsbEvent, this);
}

int MultiIo::Exists() const { return (usbChannel != nullptr || serialChannel != nullptr) ? 1 : 0; }

int MultiIo::Alive() const { return (usbChannel != nullptr && !usbChannel->ThreadDone()) ? 1 : 0; }

void MultiIo::OnUsbEvent(int32_t status, void* owner) {
    auto* self = static_cast<MultiIo*>(owner);
    self->channelStatus.status = status;
    if (self->ownerCallback != nullptr) self->ownerCallback(self->channelType, &self->channelStatus, self);
}

int MultiIo::Send(const uint8_t* bytes, int32_t length) {
    if (channelType == ChannelUsb && usbChannel != nullptr) return usbChannel->Send(bytes, length);
    TRAX_ASSERT_FAILED();
    return 0;
}

int MultiIo::Receive(uint8_t* destination, int32_t maximum, int32_t peek, uint32_t* count) {
    *count = 0;
    if (channelType == ChannelUsb && usbChannel != nullptr) {
        return peek == 1 ? usbChannel->Peek(destination, maximum, count)
                         : usbChannel->Receive(destination, maximum, count);
    }
    // No channel to read from (the USB kind without its object, or a kind
    // without a channel): nothing arrives.
    if (channelType != ChannelUsb) TRAX_ASSERT_FAILED();
    return 0;
}

int MultiIo::ClearErrors() {
    if (channelType == ChannelUsb) return 1;
    TRAX_ASSERT_FAILED();
    return 0;
}

int MultiIo::Purge() {
    if (channelType == ChannelUsb) {
        if (usbChannel == nullptr) return 0;
        usbChannel->Purge();
        return 1;
    }
    TRAX_ASSERT_FAILED();
    return 0;
}

void MultiIo::Destroy() {
    if (usbChannel != nullptr) {
        usbChannel->Shutdown();
        delete usbChannel;
        usbChannel = nullptr;
    }
    serialChannel = nullptr;
    channelType = ChannelNone;
}

}  // namespace trax::transport

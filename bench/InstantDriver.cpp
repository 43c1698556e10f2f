// Driver entry points that answer from prepared replies without any delay,
// within the contract of driver/QelUsbDrv.h: a reply that does not fit the
// caller's buffer fails the exchange instead of being cut short.
#include "bench/InstantDriver.h"

#include <cstring>

#include "driver/QelUsbDrv.h"
#include "driver/ReadyStartup.h"

namespace trax::bench {

namespace {

std::vector<uint8_t> calcReply;
std::vector<uint8_t> storageReply;
std::vector<uint8_t> acceptReply;
// The controller's operating mode as the mode switches leave it, so that a
// setting call finds measurement mode, switches and sees setting mode. Only
// the I/O thread of the one open session touches it.
bool settingMode = false;
constexpr uint8_t kOtherModeError = 5;

void PutBE32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

std::vector<uint8_t> Header(uint8_t code, size_t length) {
    std::vector<uint8_t> reply(length, 0);
    reply[0] = static_cast<uint8_t>((length >> 8) & 0xFF);
    reply[1] = static_cast<uint8_t>(length & 0xFF);
    reply[2] = 7;
    reply[3] = code;
    return reply;
}

}  // namespace

void PrepareReplies(uint32_t storedCount) {
    calcReply = Header(21, 20);
    calcReply[10] = 0x15;
    PutBE32(calcReply, 12, 123456);
    PutBE32(calcReply, 16, static_cast<uint32_t>(-98765));

    // Metric column 1, values spread over the display range and its markers.
    storageReply = Header(37, 16 + 4 * static_cast<size_t>(storedCount));
    storageReply[8] = 1;
    PutBE32(storageReply, 12, storedCount);
    for (uint32_t i = 0; i < storedCount; ++i) {
        const int32_t raw = (i % 97 == 0) ? 0x7FFFFFFF : static_cast<int32_t>(i * 1531) - 50000000;
        PutBE32(storageReply, 16 + 4 * static_cast<size_t>(i), static_cast<uint32_t>(raw));
    }
    acceptReply = Header(0, 12);
    settingMode = false;
}

}  // namespace trax::bench

using namespace trax::bench;

extern "C" {
unsigned long QelUsbPtrIoPtr(unsigned char* request, unsigned long requestLength, unsigned char* reply,
                             unsigned long* replyLength) {
    if (requestLength < 4) return 0;
    const std::vector<uint8_t>* answer = &acceptReply;
    if (request[3] == 20) answer = &calcReply;
    if (request[3] == 36) answer = &storageReply;
    if (answer->size() > *replyLength) return 0;
    std::memcpy(reply, answer->data(), answer->size());
    if (answer == &acceptReply) {
        reply[3] = static_cast<unsigned char>(request[3] + 1);
        if (request[3] == 4) settingMode = false;
        if (request[3] == 6) settingMode = true;
        // The status read answers "other mode" in setting mode; the probe
        // then succeeds.
        if (request[3] == 42 && settingMode) reply[4] = kOtherModeError;
    }
    *replyLength = static_cast<unsigned long>(answer->size());
    return 1;
}
}

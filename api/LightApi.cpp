#include <cstring>

#include "api/CallFrame.h"
#include "api/MeasureCommands.h"

namespace trax::api {

namespace {

constexpr int32_t kLightExtra = 10;
constexpr int32_t kLightFigures = 14;
constexpr int32_t kLightFigureCount = 4;
constexpr int32_t kLightProfile = 22;
constexpr int32_t kLightProfileLength = 1024;
constexpr int32_t kLightReplyLength = kLightProfile + kLightProfileLength;
constexpr int kLightAttempts = 3;

}  // namespace

int ReadLightProfile(session::DeviceSession& session, protocol::Reply& reply, uint8_t head, uint8_t selector) {
    const uint8_t arguments[2] = {head, selector};
    for (int attempt = 0; attempt < kLightAttempts; ++attempt) {
        // Each attempt is a whole transaction with its own busy handling and
        // limits; an earlier failure shows only as its error notification.
        const int sent = protocol::RunCommand(session, protocol::CmdLight, arguments, 2, reply);
        if (!protocol::Accepted(sent, reply, kLightReplyLength)) continue;
        // Byte 12 is not handed out, but it is a 16-bit field like its
        // neighbours and is turned with them.
        for (int32_t offset = kLightExtra; offset < kLightProfile; offset += 2) {
            protocol::SwapField16(reply, offset);
        }
        return 1;
    }
    return 0;
}

}  // namespace trax::api

using namespace trax;

TRAX_EXPORT TRAX_GetLight(int head, int selector, LightData* data, int* extraValue, unsigned char* profile) {
    TRAX_TRACE_CALL(head, selector, data, extraValue, profile);
    if (!api::InRange(head, 0, 1) || !api::InRange(selector, 0, 3)) return 0;
    if (!api::Required(data, "data") || !api::Required(profile, "profile")) return 0;
    return api::WithSession([&](session::DeviceSession& s) TRAX_IN_CALL {
        protocol::Reply& reply = protocol::ReplyBuffer();
        if (api::ReadLightProfile(s, reply, protocol::HeadToWire(head), static_cast<uint8_t>(selector)) != 1) {
            return 0;
        }
        for (int32_t i = 0; i < api::kLightFigureCount; ++i) {
            data->values[i] = reply.U16(api::kLightFigures + 2 * i);
        }
        if (extraValue != nullptr) *extraValue = reply.U16(api::kLightExtra);
        std::memcpy(profile, reply.data + api::kLightProfile, api::kLightProfileLength);
        return 1;
    });
}

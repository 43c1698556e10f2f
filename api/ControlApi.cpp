// Control actions: zero, timing input, reset, panel selection, panel lock,
// program number and the Able adjustment.
#include "api/CallFrame.h"
#include "api/MeasureCommands.h"
#include "api/SettingTable.h"

namespace trax::api {
namespace {

using protocol::Reply;
using protocol::ReplyBuffer;

constexpr int32_t kResultByte = 8;  // 0 = done, in the replies of 12, 14 and 16
constexpr int32_t kPanelByte = 9;   // bits 3..2 carry the panel code
constexpr int32_t kPanelNumbers = 12;
constexpr int32_t kPanelReplyLength = kPanelNumbers + 16;

constexpr uint8_t kAbleCategory = 0;
constexpr uint8_t kAbleStartItem = 7;
constexpr uint8_t kAbleStopItem = 8;
constexpr uint8_t kAbleCancelItem = 9;

// The controller reports the action's outcome in byte 8; a reply that ends
// before it has reported nothing.
int RunAction(session::DeviceSession& s, uint8_t code, const uint8_t* arguments, int32_t count) TRAX_IN_CALL {
    Reply& reply = ReplyBuffer();
    const int sent = protocol::RunCommand(s, code, arguments, count, reply);
    if (!protocol::Accepted(sent, reply, kResultByte + 1)) return 0;
    if (reply.Byte(kResultByte) == 0) return 1;
    trace::Note(trace::Reason::Refused, "action result %u, command %u", reply.Byte(kResultByte), code);
    return 0;
}

int RequestZero(session::DeviceSession& s, uint8_t onOff, uint8_t wireHead) TRAX_IN_CALL {
    const uint8_t arguments[2] = {onOff, wireHead};
    return RunAction(s, protocol::CmdZero, arguments, 2);
}

int RequestTiming(session::DeviceSession& s, uint8_t onOff, uint8_t wireHead) TRAX_IN_CALL {
    const uint8_t arguments[2] = {onOff, wireHead};
    return RunAction(s, protocol::CmdTiming, arguments, 2);
}

int RequestReset(session::DeviceSession& s, uint8_t wireHead) TRAX_IN_CALL {
    return RunAction(s, protocol::CmdReset, &wireHead, 1);
}

int ReadPanel(session::DeviceSession& s, Reply& reply) {
    const int sent = protocol::RunCommand(s, protocol::CmdPanel, nullptr, 0, reply);
    if (!protocol::Accepted(sent, reply, kPanelReplyLength)) return 0;
    for (int32_t i = 0; i < 4; ++i) protocol::SwapField32(reply, kPanelNumbers + 4 * i);
    return 1;
}

int WriteAbleItem(session::DeviceSession& s, uint8_t head, uint8_t item) TRAX_IN_CALL {
    return protocol::WriteSetting(s, ReplyBuffer(), kAbleCategory, head, item, nullptr, 0);
}

// Stop and cancel end an adjustment that left the controller in setting mode,
// so they switch back whatever their own write gave.
int EndAble(uint8_t item) {
    return WithSession([item](session::DeviceSession& s) TRAX_IN_CALL {
        const int written = WriteAbleItem(s, 0, item);
        const int back = ReturnToMeasurement(s);
        return (written == 1 && back == 1) ? 1 : 0;
    });
}

}  // namespace
}  // namespace trax::api

using namespace trax;
using api::InRange;

TRAX_EXPORT TRAX_SetZero(int head, int onOff) {
    TRAX_TRACE_CALL(head, onOff);
    if (!InRange(head, 0, 2) || !InRange(onOff, 0, 1)) return 0;
    return api::WithSession([&](session::DeviceSession& s) TRAX_IN_CALL {
        return api::RequestZero(s, static_cast<uint8_t>(onOff), protocol::HeadToWire(head));
    });
}

TRAX_EXPORT TRAX_SetTiming(int head, int onOff) {
    TRAX_TRACE_CALL(head, onOff);
    if (!InRange(head, 0, 2) || !InRange(onOff, 0, 1)) return 0;
    return api::WithSession([&](session::DeviceSession& s) TRAX_IN_CALL {
        const uint8_t wireHead = protocol::HeadToWire(head);
        // Off is always an on followed by an off, the off only once the on is done.
        const int on = api::RequestTiming(s, 1, wireHead);
        if (on != 1 || onOff == 1) return on;
        return api::RequestTiming(s, 0, wireHead);
    });
}

TRAX_EXPORT TRAX_SetReset(int head) {
    TRAX_TRACE_CALL(head);
    if (!InRange(head, 0, 2)) return 0;
    return api::WithSession([&](session::DeviceSession& s)
                                TRAX_IN_CALL { return api::RequestReset(s, protocol::HeadToWire(head)); });
}

TRAX_EXPORT TRAX_SetPanel(int panel) {
    TRAX_TRACE_CALL(panel);
    if (!InRange(panel, 0, 2)) return 0;
    return api::WithSession([&](session::DeviceSession& s) TRAX_IN_CALL {
        return api::RequestCalcData(s, protocol::ReplyBuffer(), api::kCalcPanelChange, protocol::HeadToWire(panel));
    });
}

TRAX_EXPORT TRAX_GetPanel(int* panel) {
    TRAX_TRACE_CALL(panel);
    if (!api::Required(panel, "panel")) return 0;
    return api::WithSession([&](session::DeviceSession& s) TRAX_IN_CALL {
        protocol::Reply& reply = protocol::ReplyBuffer();
        if (api::ReadPanel(s, reply) != 1) return 0;
        const int code = (reply.Byte(api::kPanelByte) >> 2) & 3;
        if (code == 0) {
            trace::Note(trace::Reason::MalformedReply, "panel code 0 in byte %d", api::kPanelByte);
            return 0;
        }
        *panel = code - 1;
        return 1;
    });
}

TRAX_EXPORT TRAX_SetPanelLock(int locked) {
    TRAX_TRACE_CALL(locked);
    return api::SetSetting(api::Setting::PanelLock, locked);
}
TRAX_EXPORT TRAX_SetProgramNo(int programNo) {
    TRAX_TRACE_CALL(programNo);
    return api::SetSetting(api::Setting::ProgramNo, programNo);
}
TRAX_EXPORT TRAX_GetProgramNo(int* programNo) {
    TRAX_TRACE_CALL(programNo);
    return api::GetSetting(api::Setting::ProgramNo, programNo);
}

TRAX_EXPORT TRAX_AbleStart(int head) {
    TRAX_TRACE_CALL(head);
    if (!InRange(head, 0, 1)) return 0;
    return api::WithSession([&](session::DeviceSession& s) TRAX_IN_CALL {
        if (api::EnterSettingMode(s) != 1) return 0;
        if (api::WriteAbleItem(s, static_cast<uint8_t>(head), api::kAbleStartItem) == 1) return 1;
        // The start failed either way; the switch back only tidies up.
        (void)api::ReturnToMeasurement(s);
        return 0;
    });
}

TRAX_EXPORT TRAX_AbleStop(void) {
    TRAX_TRACE_CALL();
    return api::EndAble(api::kAbleStopItem);
}
TRAX_EXPORT TRAX_AbleCancel(void) {
    TRAX_TRACE_CALL();
    return api::EndAble(api::kAbleCancelItem);
}

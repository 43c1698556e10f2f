// Command operations of the measurement readers: measured values (also used
// by the panel change), figure data, data storage and the light profile.
//
// Each one runs its command on the open session and, when the controller
// accepted it with a reply long enough for every field that its reader
// decodes, converts those fields to host order in place and returns 1.
// Otherwise it returns 0 and converts nothing; the reply is then not to be
// decoded at all.
#pragma once

#include <cstdint>

#include "protocol/Command.h"
#include "session/DeviceSession.h"
#include "trace/Trace.h"

namespace trax::api {

// Command 20. panelFlag 0 reads the measured values, 1 changes the panel;
// headByte is already in wire form (255 = both heads).
constexpr uint8_t kCalcReadValues = 0;
constexpr uint8_t kCalcPanelChange = 1;
constexpr int32_t kCalcUnitCodes = 10;  // bits 7..4 head A, 3..0 head B
constexpr int32_t kCalcUnitSystem = 11;
constexpr int32_t kCalcValueA = 12;
constexpr int32_t kCalcValueB = 16;
constexpr int32_t kCalcReplyLength = 20;

// Only metric (0) and inch (1) have display units the readers may select.
inline bool KnownUnitSystem(uint8_t system) {
    if (system == 0 || system == 1) return true;
    trace::Note(trace::Reason::MalformedReply, "unit system %u is neither metric (0) nor inch (1)", system);
    return false;
}
[[nodiscard]] int RequestCalcData(session::DeviceSession& session, protocol::Reply& reply, uint8_t panelFlag,
                                  uint8_t headByte);

[[nodiscard]] int RequestFigureData(session::DeviceSession& session, protocol::Reply& reply, uint8_t head);
[[nodiscard]] int RequestFigureClear(session::DeviceSession& session, protocol::Reply& reply);

// StorageStart answers with the transaction's result only; its caller judges
// the error byte. The other three also require it to be 0.
[[nodiscard]] int StorageInit(session::DeviceSession& session, protocol::Reply& reply);
[[nodiscard]] int StorageStart(session::DeviceSession& session, protocol::Reply& reply);
[[nodiscard]] int StorageStop(session::DeviceSession& session, protocol::Reply& reply);
// Reads one head's stored values into `reply` (StorageReply). On success the
// count at byte 12 and every value slot that arrived are in host order, and
// the reply holds at least as many slots as the count says.
[[nodiscard]] int StorageReadData(session::DeviceSession& session, protocol::Reply& reply, uint8_t head);

// Up to three attempts of command 24; 1 as soon as one is accepted.
[[nodiscard]] int ReadLightProfile(session::DeviceSession& session, protocol::Reply& reply, uint8_t head,
                                   uint8_t selector);

}  // namespace trax::api

#include "api/CallFrame.h"

namespace trax::api {

int EnterSettingMode(session::DeviceSession& s) {
    bool mayBeThere = false;
    if (protocol::SwitchMode(s, protocol::ModeSetting, &mayBeThere) == 1) return 1;
    // Where the controller answered that it stayed in measurement mode, the
    // switch back would be a packet the call does not list.
    if (mayBeThere) (void)ReturnToMeasurement(s);
    return 0;
}

int ReturnToMeasurement(session::DeviceSession& s) {
    if (s.Alive() != 1 && s.RenewChannel(session::SessionOpenParams) != 1) return 0;
    const uint32_t unanswered = s.UnansweredExchanges();
    if (protocol::SwitchMode(s, protocol::ModeMeasure) == 1) return 1;
    // The failed switch back fails the call all the same. When it got no
    // answer, one more attempt (on a fresh channel when the exchange was
    // lost) keeps a single lost exchange from leaving the controller in
    // setting mode; a controller that answered with a refusal is asked once.
    if (s.UnansweredExchanges() != unanswered && (s.Alive() == 1 || s.RenewChannel(session::SessionOpenParams) == 1)) {
        (void)protocol::SwitchMode(s, protocol::ModeMeasure);
    }
    return 0;
}

}  // namespace trax::api

using namespace trax;

TRAX_EXPORT TRAX_SetMode(int mode) {
    TRAX_TRACE_CALL(mode);
    if (!api::InRange(mode, 0, 1)) return 0;
    return api::WithSession([mode](session::DeviceSession& s) TRAX_IN_CALL {
        return mode == protocol::ModeSetting ? api::EnterSettingMode(s) : protocol::SwitchMode(s, mode);
    });
}

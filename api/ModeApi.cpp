#include "api/CallFrame.h"

namespace trax::api {

platform::ExclusiveLock& CallLock() {
    static platform::ExclusiveLock lock;
    return lock;
}

int EnterSettingMode(session::DeviceSession& s) {
    bool requested = false;
    if (protocol::SwitchMode(s, protocol::ModeSetting, &requested) == 1) return 1;
    if (requested) ReturnToMeasurement(s);
    return 0;
}

int ReturnToMeasurement(session::DeviceSession& s) {
    if (s.Alive() != 1 && s.RenewChannel(session::SessionOpenParams) != 1) return 0;
    if (protocol::SwitchMode(s, protocol::ModeMeasure) == 1) return 1;
    // The failed switch back fails the call all the same; one more attempt,
    // on a fresh channel when the exchange was lost, keeps a single lost or
    // refused exchange from leaving the controller in setting mode.
    if (s.Alive() == 1 || s.RenewChannel(session::SessionOpenParams) == 1) {
        protocol::SwitchMode(s, protocol::ModeMeasure);
    }
    return 0;
}

}  // namespace trax::api

using namespace trax;

extern "C" TRAX_API int TRAX_CALL TRAX_SetMode(int mode) {
    TRAX_TRACE_CALL(mode);
    if (!api::InRange(mode, 0, 1)) return 0;
    return api::WithSession([mode](session::DeviceSession& s) {
        return mode == protocol::ModeSetting ? api::EnterSettingMode(s) : protocol::SwitchMode(s, mode);
    });
}

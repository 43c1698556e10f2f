#include "api/CallFrame.h"

namespace trax::api {

platform::RecursiveLock& CallLock() {
    static platform::RecursiveLock lock;
    return lock;
}

}  // namespace trax::api

using namespace trax;

extern "C" TRAX_API int TRAX_CALL TRAX_SetMode(int mode) {
    TRAX_TRACE_CALL(mode);
    if (!api::InRange(mode, 0, 1)) return 0;
    return api::WithSession([mode](session::DeviceSession& s) { return protocol::SwitchMode(s, mode); });
}

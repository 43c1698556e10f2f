// The common frame of every exported call: the library must have started its
// driver, whole calls are serialised by one process-wide recursive lock, and
// the device session is opened and closed around the body. Setting functions
// add the switch to setting mode before and back to measurement mode after.
//
// The trace log hears from here why a call ends early (library unusable, no
// channel, an argument out of range) and the result of the session.
//
// Lock order: the call lock is taken first and held for the whole call; the
// session's transaction lock is taken inside it, per transaction. The call
// lock is recursive because setting functions call TRAX_SetMode from inside.
#pragma once

#include "platform/Platform.h"
#include "protocol/Command.h"
#include "session/DeviceSession.h"
#include "trace/Trace.h"
#include "trax.h"

namespace trax::api {

platform::RecursiveLock& CallLock();

// Opens the session, runs body(session) and closes the session. The caller
// has already checked the arguments: an out-of-range call never gets here.
template <typename Body>
int WithSession(Body&& body) {
    if (!session::LibraryUsable()) {
        trace::Note(trace::Reason::LibraryUnusable, nullptr);
        return 0;
    }
    platform::RecursiveGuard guard(CallLock());
    session::DeviceSession& s = session::TheSession();
    if (s.Open(session::SessionOpenParams) != 1) {
        trace::Note(trace::Reason::ChannelNotCreated, nullptr);
        return 0;
    }
    const int result = body(s);
    s.Close();
    trace::NoteResult(result);
    return result;
}

// As WithSession, inside a switch to setting mode and back. When the switch
// to setting mode fails, nothing is sent and no switch back is made; when the
// switch back fails, the result is 0 though the body's outputs stay written.
template <typename Body>
int WithSettingMode(Body&& body) {
    return WithSession([&](session::DeviceSession& s) {
        if (TRAX_SetMode(1) != 1) return 0;
        int result = body(s);
        if (TRAX_SetMode(0) != 1) result = 0;
        return result;
    });
}

// The argument check of the exported functions; a failure is the call's
// first reason in the trace log.
inline bool InRange(int value, int low, int high) {
    if (value >= low && value <= high) return true;
    trace::NoteArgument(value, low, high);
    return false;
}

}  // namespace trax::api

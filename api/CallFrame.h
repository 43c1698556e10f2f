// The common frame of every exported call: the library must have started its
// driver, whole calls are serialised by one process-wide plain lock, and
// the device session is opened and closed around the body. Setting functions
// add the switch to setting mode before and back to measurement mode after.
//
// The trace log hears from here why a call ends early (library unusable, no
// channel, an argument out of range) and the result of the session.
//
// Lock order: the call lock is taken first and held for the whole call; the
// session's transaction lock is taken inside it, per transaction. No exported
// function calls another: the setting bracket and the Able actions use the
// protocol's mode switch directly, so the call lock is never taken twice by
// one thread.
#pragma once

#include "platform/Platform.h"
#include "protocol/Command.h"
#include "session/DeviceSession.h"
#include "trace/Trace.h"
#include "trax.h"

// The definition of an exported function: C linkage, exported, the calling
// convention of the header, and the 1/0 result.
#define TRAX_EXPORT extern "C" TRAX_API int TRAX_CALL

// Marks code that runs only inside an exported call, holding the call lock:
// the bodies given to WithSession and the helpers that use the shared reply
// record. The compiler (clang, -Wthread-safety) checks that it is held there.
#define TRAX_IN_CALL TRAX_REQUIRES(::trax::session::callLock)

namespace trax::api {

// Opens the session, runs body(session) and closes the session. The caller
// has already checked the arguments: an out-of-range call never gets here.
template <typename Body>
int WithSession(Body&& body) {
    if (!session::LibraryUsable()) {
        trace::Note(trace::Reason::LibraryUnusable, nullptr);
        return 0;
    }
    // Made before the lock and so ended after it: reports of this call are
    // shown once the lock is free.
    const platform::DeferAssertions deferred;
    platform::ExclusiveGuard guard(session::CallLock());
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

// Switches the controller to setting mode. When the switch fails after the
// request to enter setting mode went out and an exchange from there on got no
// answer, the controller may be there all the same, so it is switched back.
[[nodiscard]] int EnterSettingMode(session::DeviceSession& s);

// Switches the controller back to measurement mode. A lost exchange earlier in
// the call has ended the channel's I/O thread; the switch is then made on a
// fresh channel. A switch that fails returns 0; when it got no answer it is
// made once more, so one lost exchange cannot leave the controller in setting
// mode. A refusal is an answer: it is not asked again.
[[nodiscard]] int ReturnToMeasurement(session::DeviceSession& s);

// As WithSession, inside a switch to setting mode and back. When the switch
// to setting mode fails, the body is not run; when the switch back fails, the
// result is 0 though the body's outputs stay written. The switch back is made
// whether the body succeeded or not.
template <typename Body>
int WithSettingMode(Body&& body) {
    return WithSession([&](session::DeviceSession& s) TRAX_IN_CALL {
        if (EnterSettingMode(s) != 1) return 0;
        int result = body(s);
        if (ReturnToMeasurement(s) != 1) result = 0;
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

// The check of an output that must not be null; a null one fails the call
// before anything is sent, like an argument out of range.
inline bool Required(const void* output, const char* name) {
    if (output != nullptr) return true;
    trace::Note(trace::Reason::ArgumentOutOfRange, "%s is NULL", name);
    return false;
}

}  // namespace trax::api

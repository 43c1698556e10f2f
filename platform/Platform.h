// The operating-system services the library uses, behind one small interface.
// Two backends implement it: Platform_win32.cpp on the real Windows services and
// Platform_posix.cpp on the C++ standard library. Nothing above this header knows
// which one it runs on.
//
// Contract of every backend:
// - Handles are opaque and typed: an event, a lock and a thread are different
//   types, so one cannot be passed where another belongs. A null handle means
//   "not created". Every Create* either returns a usable handle or null, and
//   every handle is released by CloseHandle (a thread's by JoinThread).
// - Events are auto-reset: one SignalEvent releases exactly one wait; a signal
//   with nobody waiting stays set until the next wait consumes it.
// - A lock is a semaphore with one count: TakeLock/ReleaseLock, never recursive.
// - WaitEither reports the lower index when both events are set and resets only
//   that one, so the other stays signalled for the next wait.
// - NowMilliseconds is monotonic: a change of the computer's clock never moves it.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/ThreadSafety.h"

namespace trax::platform {

// Each backend defines these its own way; above this header they are only
// ever pointed to.
struct EventObject;
struct TRAX_CAPABILITY("lock") LockObject;
struct ThreadObject;
using EventHandle = EventObject*;
using LockHandle = LockObject*;
using ThreadHandle = ThreadObject*;

constexpr uint32_t kInfinite = 0xFFFFFFFFu;

enum class WaitResult { Signalled0, Signalled1, Timeout, Failed };

// Auto-reset event, initially not signalled.
EventHandle CreateAutoEvent();
bool SignalEvent(EventHandle event);
WaitResult WaitOne(EventHandle event, uint32_t timeoutMs);
WaitResult WaitEither(EventHandle first, EventHandle second, uint32_t timeoutMs);

// Semaphore with initial and maximum count 1, used as a lock. TakeLock waits
// without a time limit and is false only for a handle that is not a lock;
// TryTakeLock takes it only when it is free at once.
LockHandle CreateOneCountLock();
[[nodiscard]] bool TakeLock(LockHandle lock) TRAX_TRY_ACQUIRE(true, lock);
[[nodiscard]] bool TryTakeLock(LockHandle lock) TRAX_TRY_ACQUIRE(true, lock);
// False when the lock was not taken (its count is already at its maximum).
bool ReleaseLock(LockHandle lock) TRAX_RELEASE(lock);

// Closes an event or a lock; a null handle is ignored.
void CloseHandle(EventHandle event);
void CloseHandle(LockHandle lock);

// Thread start; null when the thread could not be started. JoinThread waits
// until the thread has ended and releases its handle.
using ThreadRoutine = void (*)(void* argument);
ThreadHandle StartThread(ThreadRoutine routine, void* argument);
void JoinThread(ThreadHandle thread);

void SleepMilliseconds(uint32_t ms);
uint64_t NowMilliseconds();

// A plain (not recursive) lock for whole exported calls; it lives for the
// whole process. Taking it again on the thread that holds it is an error:
// no exported function calls another.
class TRAX_CAPABILITY("lock") ExclusiveLock {
public:
    ExclusiveLock();
    ~ExclusiveLock();
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;
    void Lock() TRAX_ACQUIRE();
    void Unlock() TRAX_RELEASE();

private:
    alignas(16) unsigned char storage[64];
};

class TRAX_SCOPED_CAPABILITY ExclusiveGuard {
public:
    explicit ExclusiveGuard(ExclusiveLock& guarded) TRAX_ACQUIRE(guarded) : lock(guarded) { lock.Lock(); }
    ~ExclusiveGuard() TRAX_RELEASE() { lock.Unlock(); }
    ExclusiveGuard(const ExclusiveGuard&) = delete;
    ExclusiveGuard& operator=(const ExclusiveGuard&) = delete;

private:
    ExclusiveLock& lock;
};

// Handlers run around fork() (POSIX; Windows has no fork, and there this does
// nothing): `prepare` in the forking thread before the fork, `parent` and
// `child` in each process after it.
using ForkHandler = void (*)();
void OnFork(ForkHandler prepare, ForkHandler parent, ForkHandler child);

// The error-reply notification: on Windows PostMessageA to the window (null:
// the calling thread's own queue); on POSIX a queue per thread.
void PostNotification(void* window, uint32_t message, uintptr_t first, intptr_t second);

struct Notification {
    uint32_t message;
    uintptr_t first;
    intptr_t second;
};
// Takes the oldest notification queued for the calling thread; false when none.
bool TakeNotification(Notification* out);

// Assertion routine: "Fatal error" / "assert[<module>][<line>]". The module is
// the source file name without directory and extension, derived from the path.
void ReportAssertion(const char* sourcePath, int line);

// Diagnostics for tests: number of assertion reports so far, and a hook that
// is called (instead of showing anything) with the module name and line.
using AssertionHook = void (*)(const char* module, int line);
uint64_t AssertionCount();
// Returns the hook it replaces, so that a test can put it back.
AssertionHook SetAssertionHook(AssertionHook hook);

// Where a report goes when no hook is set: null shows it the backend's way
// (a message box on a Windows desktop, standard error otherwise); a sink
// takes it instead (TRAX_ASSERT=log: the trace log).
using AssertionSink = void (*)(const char* module, int line);
void SetAssertionSink(AssertionSink sink);

// While one of these lives on a thread, that thread's reports are kept and
// shown only when the outermost one ends. The call frame makes one before it
// takes the call lock: a message box waits for a click and runs a message
// loop, which must never happen while the lock is held (a window procedure
// that calls the library from that loop would wait for itself). A few
// reports are kept; more are only counted.
class DeferAssertions {
public:
    DeferAssertions();
    ~DeferAssertions();
    DeferAssertions(const DeferAssertions&) = delete;
    DeferAssertions& operator=(const DeferAssertions&) = delete;
};

// Diagnostics for tests: events, locks and threads that exist right now.
int LiveHandleCount();

// Extracts "RingBuffer" from ".../transport/RingBuffer.cpp".
void ModuleNameFromPath(const char* path, char* out, int outSize);

// Output of the opt-in trace log (Log_posix.cpp, Log_win32.cpp).
// WriteDebugOutput hands one whole line (ending in '\n', NUL-terminated) to
// the system's debug channel: standard error on POSIX, OutputDebugStringA on
// Windows. It never fails the caller; a write error is dropped.
void WriteDebugOutput(const char* line, int length);
// The value of environment variable `name`, copied into buffer (cut to
// size - 1 characters); false when it is not set. On Windows it is the
// process's own environment, which a host that sets a variable just before
// loading the library (Python, .NET, VBA) changes; the C run-time's copy may
// have been taken before.
bool EnvironmentValue(const char* name, char* buffer, int size);
// Opens `path` for appending, creating it when it is not there, for the trace
// log's reason tap; null when it cannot be opened. Not inherited by child
// processes. On Windows the file is shared for reading, writing and deletion,
// so that the tool that made it can hold it with delete-on-close and it goes
// when the last handle closes, however the process ends.
std::FILE* OpenForAppending(const char* path);
// A number that tells the calling thread from every other running thread.
uint32_t CurrentThreadId();
uint32_t CurrentProcessId();
// Monotonic like NowMilliseconds, in microseconds.
uint64_t NowMicroseconds();
// "linux", "windows"; "x86_64", "x86", "aarch64", ...
const char* PlatformName();
const char* ArchitectureName();
// The address of export `exportName` of the loaded module that holds
// `functionInModule` (POSIX) or is named `moduleFileName` (Windows); null
// when there is no such module or export. Loads nothing and keeps no reference.
void* FindExportBeside(const void* functionInModule, const char* moduleFileName, const char* exportName);
// The file of that same module, copied into buffer (cut to size - 1
// characters); false when it is not known.
bool ModuleFileBeside(const void* functionInModule, const char* moduleFileName, char* buffer, int size);

}  // namespace trax::platform

#define TRAX_ASSERT_FAILED() ::trax::platform::ReportAssertion(__FILE__, __LINE__)

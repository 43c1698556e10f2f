// The operating-system services the library uses, behind one small interface.
// Two backends implement it: Platform_win32.cpp on the real Windows services and
// Platform_posix.cpp on the C++ standard library. Nothing above this header knows
// which one it runs on.
//
// Contract of every backend:
// - Handles are opaque; a null handle means "not created". Every Create* either
//   returns a usable handle or null, and every handle is released by CloseHandle.
// - Events are auto-reset: one SignalEvent releases exactly one wait; a signal
//   with nobody waiting stays set until the next wait consumes it.
// - A lock is a semaphore with one count: TakeLock/ReleaseLock, never recursive.
// - WaitEither reports the lower index when both events are set and resets only
//   that one, so the other stays signalled for the next wait.
// - NowMilliseconds is monotonic: a change of the computer's clock never moves it.
#pragma once

#include <cstdint>

namespace trax::platform {

using Handle = void*;

constexpr uint32_t kInfinite = 0xFFFFFFFFu;

enum class WaitResult { Signalled0, Signalled1, Timeout, Failed };

// Auto-reset event, initially not signalled.
Handle CreateAutoEvent();
bool SignalEvent(Handle event);
WaitResult WaitOne(Handle waitable, uint32_t timeoutMs);
WaitResult WaitEither(Handle first, Handle second, uint32_t timeoutMs);

// Semaphore with initial and maximum count 1, used as a lock.
Handle CreateOneCountLock();
bool ReleaseLock(Handle lock);

// Closes an event, a lock or a thread handle.
void CloseHandle(Handle handle);

// Thread start; null when the thread could not be started. JoinThread waits
// until the thread has ended and releases its handle.
using ThreadRoutine = void (*)(void* argument);
Handle StartThread(ThreadRoutine routine, void* argument);
void JoinThread(Handle thread);

void SleepMilliseconds(uint32_t ms);
uint64_t NowMilliseconds();

// A plain (not recursive) lock for whole exported calls; it lives for the
// whole process. Taking it again on the thread that holds it is an error:
// no exported function calls another.
class ExclusiveLock {
public:
    ExclusiveLock();
    ~ExclusiveLock();
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;
    void Lock();
    void Unlock();

private:
    alignas(16) unsigned char storage[64];
};

class ExclusiveGuard {
public:
    explicit ExclusiveGuard(ExclusiveLock& guarded) : lock(guarded) { lock.Lock(); }
    ~ExclusiveGuard() { lock.Unlock(); }
    ExclusiveGuard(const ExclusiveGuard&) = delete;
    ExclusiveGuard& operator=(const ExclusiveGuard&) = delete;

private:
    ExclusiveLock& lock;
};

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
void SetAssertionHook(AssertionHook hook);

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

}  // namespace trax::platform

#define TRAX_ASSERT_FAILED() ::trax::platform::ReportAssertion(__FILE__, __LINE__)

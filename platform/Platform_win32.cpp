// Win32 backend of the platform layer: every handle is a kernel handle, the
// notification is a posted window message and the assertion report is a
// message box. Counters, the assertion hook and the module name live in
// PlatformCommon.cpp, shared with the POSIX backend.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include "platform/PlatformCommon.h"

#include <windows.h>

#include <cstdio>
#include <new>

namespace trax::platform {

namespace {

// Every handle type is a kernel handle underneath.
template <typename TypedHandle>
HANDLE AsHandle(TypedHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}
template <typename TypedHandle>
TypedHandle FromHandle(HANDLE handle) {
    return reinterpret_cast<TypedHandle>(handle);
}

void CloseKernelHandle(HANDLE handle) {
    if (handle == nullptr) return;
    ::CloseHandle(handle);
    CountHandleClosed();
}

WaitResult FromWaitCode(DWORD code) {
    switch (code) {
    case WAIT_OBJECT_0:
        return WaitResult::Signalled0;
    case WAIT_OBJECT_0 + 1:
        return WaitResult::Signalled1;
    case WAIT_TIMEOUT:
        return WaitResult::Timeout;
    default:
        return WaitResult::Failed;
    }
}

// What a new thread runs first. The start record is allocated by the starting
// thread and freed by the new one, so neither has to wait for the other.
struct ThreadStart {
    ThreadRoutine routine;
    void* argument;
};

DWORD WINAPI ThreadEntry(LPVOID parameter) {
    ThreadStart start = *static_cast<ThreadStart*>(parameter);
    delete static_cast<ThreadStart*>(parameter);
    start.routine(start.argument);
    return 0;
}

SRWLOCK* AsSrwLock(unsigned char* storage) { return reinterpret_cast<SRWLOCK*>(storage); }

}  // namespace

EventHandle CreateAutoEvent() {
    // Auto-reset, not signalled, unnamed.
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (event == nullptr) return nullptr;
    CountHandleCreated();
    return FromHandle<EventHandle>(event);
}

bool SignalEvent(EventHandle event) {
    if (event == nullptr) return false;
    return SetEvent(AsHandle(event)) != FALSE;
}

WaitResult WaitOne(EventHandle event, uint32_t timeoutMs) {
    if (event == nullptr) return WaitResult::Failed;
    // kInfinite is INFINITE, so the time-out passes through unchanged.
    return FromWaitCode(WaitForSingleObject(AsHandle(event), timeoutMs));
}

WaitResult WaitEither(EventHandle first, EventHandle second, uint32_t timeoutMs) {
    if (first == nullptr || second == nullptr) return WaitResult::Failed;
    // WaitForMultipleObjects refuses a handle listed twice; waiting on one
    // event twice is just a wait on that event.
    if (first == second) return WaitOne(first, timeoutMs);
    // bWaitAll FALSE: the lowest signalled index is reported, and only that
    // object's auto-reset is consumed.
    const HANDLE handles[2] = {AsHandle(first), AsHandle(second)};
    return FromWaitCode(WaitForMultipleObjects(2, handles, FALSE, timeoutMs));
}

LockHandle CreateOneCountLock() {
    HANDLE semaphore = CreateSemaphoreA(nullptr, 1, 1, nullptr);
    if (semaphore == nullptr) return nullptr;
    CountHandleCreated();
    return FromHandle<LockHandle>(semaphore);
}

// The count is what the analysis cannot see: it follows the results.
bool TakeLock(LockHandle lock) TRAX_NO_THREAD_SAFETY_ANALYSIS {
    if (lock == nullptr) return false;
    return WaitForSingleObject(AsHandle(lock), INFINITE) == WAIT_OBJECT_0;
}

bool TryTakeLock(LockHandle lock) TRAX_NO_THREAD_SAFETY_ANALYSIS {
    if (lock == nullptr) return false;
    return WaitForSingleObject(AsHandle(lock), 0) == WAIT_OBJECT_0;
}

bool ReleaseLock(LockHandle lock) TRAX_NO_THREAD_SAFETY_ANALYSIS {
    if (lock == nullptr) return false;
    // Fails when the count is already at its maximum of one.
    return ReleaseSemaphore(AsHandle(lock), 1, nullptr) != FALSE;
}

void CloseHandle(EventHandle event) { CloseKernelHandle(AsHandle(event)); }
void CloseHandle(LockHandle lock) { CloseKernelHandle(AsHandle(lock)); }

ThreadHandle StartThread(ThreadRoutine routine, void* argument) {
    auto* start = new (std::nothrow) ThreadStart{routine, argument};
    if (start == nullptr) return nullptr;
    HANDLE thread = CreateThread(nullptr, 0, ThreadEntry, start, 0, nullptr);
    if (thread == nullptr) {
        delete start;
        return nullptr;
    }
    CountHandleCreated();
    return FromHandle<ThreadHandle>(thread);
}

void JoinThread(ThreadHandle thread) {
    if (thread == nullptr) return;
    WaitForSingleObject(AsHandle(thread), INFINITE);
    CloseKernelHandle(AsHandle(thread));
}

void SleepMilliseconds(uint32_t ms) { Sleep(ms); }

uint64_t NowMilliseconds() {
    // Ticks since boot: unaffected by changes of the wall clock, and 64 bits
    // wide, so no wrap after 49.7 days as with GetTickCount.
    return GetTickCount64();
}

ExclusiveLock::ExclusiveLock() {
    static_assert(sizeof(SRWLOCK) <= sizeof(storage), "lock storage too small");
    static_assert(alignof(SRWLOCK) <= alignof(ExclusiveLock), "lock storage misaligned");
    // A slim reader/writer lock taken exclusively: unlike a critical section,
    // it cannot be entered twice by its owner, and it needs no deletion.
    InitializeSRWLock(new (storage) SRWLOCK);
}
ExclusiveLock::~ExclusiveLock() = default;
void ExclusiveLock::Lock() { AcquireSRWLockExclusive(AsSrwLock(storage)); }
void ExclusiveLock::Unlock() { ReleaseSRWLockExclusive(AsSrwLock(storage)); }

void OnFork(ForkHandler /*prepare*/, ForkHandler /*parent*/, ForkHandler /*child*/) {}

void PostNotification(void* window, uint32_t message, uintptr_t first, intptr_t second) {
    // A null window posts to the calling thread's own queue.
    PostMessageA(static_cast<HWND>(window), message, static_cast<WPARAM>(first), static_cast<LPARAM>(second));
}

bool TakeNotification(Notification* out) {
    MSG msg;
    if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) == FALSE) return false;
    out->message = msg.message;
    out->first = static_cast<uintptr_t>(msg.wParam);
    out->second = static_cast<intptr_t>(msg.lParam);
    return true;
}

namespace {

// A service, or a program started by one, has no desktop that anybody sees:
// a message box there waits for a click that never comes.
bool OnVisibleDesktop() {
    HWINSTA station = GetProcessWindowStation();
    if (station == nullptr) return false;
    USEROBJECTFLAGS flags{};
    DWORD needed = 0;
    if (!GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, &needed)) return false;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

}  // namespace

void ShowAssertion(const char* module, int line) {
    char text[128];
    std::snprintf(text, sizeof text, "assert[%s][%d]", module, line);
    if (!OnVisibleDesktop()) {
        char debugLine[160];
        std::snprintf(debugLine, sizeof debugLine, "Fatal error: %s\n", text);
        OutputDebugStringA(debugLine);
        return;
    }
    MessageBoxA(nullptr, text, "Fatal error", MB_ICONERROR);
}

}  // namespace trax::platform

// POSIX backend of the platform layer, on the C++ standard library. Every
// handle points to a Waitable; threads are std::thread objects joined by
// JoinThread.
#include "platform/PlatformCommon.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <new>
#include <thread>

namespace trax::platform {

namespace {

enum class Kind { Event, Lock, Thread };

// Events and one-count locks share one shape: a count of 0 or 1 under a mutex.
// An event is "signalled" at count 1; a lock is "free" at count 1. A wait takes
// the count back to 0, which gives both the auto-reset and the lock semantics.
// WaitEither waits on the condition variable shared by all waitables, since a
// wait may span two of them.
std::mutex& SharedMutex() {
    static std::mutex mutex;
    return mutex;
}
std::condition_variable& SharedCondition() {
    static std::condition_variable condition;
    return condition;
}

struct Object {
    Kind kind;
    int count = 0;
    std::thread thread;
};

Object* AsObject(Handle handle) { return static_cast<Object*>(handle); }

Handle MakeWaitable(Kind kind, int initialCount) {
    auto* object = new (std::nothrow) Object{kind, initialCount, {}};
    if (object != nullptr) CountHandleCreated();
    return object;
}

bool Post(Handle handle) {
    Object* object = AsObject(handle);
    if (object == nullptr || object->kind == Kind::Thread) return false;
    {
        std::lock_guard<std::mutex> guard(SharedMutex());
        if (object->kind == Kind::Lock && object->count >= 1) return false;  // maximum count 1
        object->count = 1;
    }
    SharedCondition().notify_all();
    return true;
}

constexpr size_t kNotificationQueueLimit = 10000;
thread_local std::deque<Notification> notificationQueue;

}  // namespace

Handle CreateAutoEvent() { return MakeWaitable(Kind::Event, 0); }

bool SignalEvent(Handle event) { return Post(event); }

Handle CreateOneCountLock() { return MakeWaitable(Kind::Lock, 1); }

bool ReleaseLock(Handle lock) { return Post(lock); }

WaitResult WaitOne(Handle waitable, uint32_t timeoutMs) {
    Object* object = AsObject(waitable);
    if (object == nullptr || object->kind == Kind::Thread) return WaitResult::Failed;
    std::unique_lock<std::mutex> lock(SharedMutex());
    auto ready = [object] { return object->count > 0; };
    if (timeoutMs == kInfinite) {
        SharedCondition().wait(lock, ready);
    } else if (!SharedCondition().wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
        return WaitResult::Timeout;
    }
    object->count = 0;
    return WaitResult::Signalled0;
}

WaitResult WaitEither(Handle first, Handle second, uint32_t timeoutMs) {
    Object* a = AsObject(first);
    Object* b = AsObject(second);
    if (a == nullptr || b == nullptr || a->kind == Kind::Thread || b->kind == Kind::Thread) {
        return WaitResult::Failed;
    }
    std::unique_lock<std::mutex> lock(SharedMutex());
    auto ready = [a, b] { return a->count > 0 || b->count > 0; };
    if (timeoutMs == kInfinite) {
        SharedCondition().wait(lock, ready);
    } else if (!SharedCondition().wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
        return WaitResult::Timeout;
    }
    // The lower index wins and only its signal is consumed.
    if (a->count > 0) {
        a->count = 0;
        return WaitResult::Signalled0;
    }
    b->count = 0;
    return WaitResult::Signalled1;
}

void CloseHandle(Handle handle) {
    Object* object = AsObject(handle);
    if (object == nullptr) return;
    if (object->thread.joinable()) object->thread.detach();
    delete object;
    CountHandleClosed();
}

Handle StartThread(ThreadRoutine routine, void* argument) {
    auto* object = new (std::nothrow) Object{Kind::Thread, 0, {}};
    if (object == nullptr) return nullptr;
    try {
        object->thread = std::thread(routine, argument);
    } catch (...) {
        delete object;
        return nullptr;
    }
    CountHandleCreated();
    return object;
}

void JoinThread(Handle thread) {
    Object* object = AsObject(thread);
    if (object == nullptr || object->kind != Kind::Thread) return;
    if (object->thread.joinable()) object->thread.join();
    CloseHandle(thread);
}

void SleepMilliseconds(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

uint64_t NowMilliseconds() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

ExclusiveLock::ExclusiveLock() {
    static_assert(sizeof(std::mutex) <= sizeof(storage_), "lock storage too small");
    new (storage_) std::mutex();
}
ExclusiveLock::~ExclusiveLock() { reinterpret_cast<std::mutex*>(storage_)->~mutex(); }
void ExclusiveLock::Lock() { reinterpret_cast<std::mutex*>(storage_)->lock(); }
void ExclusiveLock::Unlock() { reinterpret_cast<std::mutex*>(storage_)->unlock(); }

void PostNotification(void* /*window*/, uint32_t message, uintptr_t first, intptr_t second) {
    // Like a full Windows message queue, a full queue refuses the post, so a
    // thread that never reads it cannot make it grow without bound.
    if (notificationQueue.size() >= kNotificationQueueLimit) return;
    notificationQueue.push_back(Notification{message, first, second});
}

bool TakeNotification(Notification* out) {
    if (notificationQueue.empty()) return false;
    *out = notificationQueue.front();
    notificationQueue.pop_front();
    return true;
}

void ShowAssertion(const char* module, int line) {
    std::fprintf(stderr, "Fatal error: assert[%s][%d]\n", module, line);
}

}  // namespace trax::platform

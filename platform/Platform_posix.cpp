// POSIX backend of the platform layer, on the C++ standard library and, on
// Linux, the futex for putting a waiting thread to sleep. Every handle points
// to an Object; threads are std::thread objects joined by JoinThread.
#include "platform/PlatformCommon.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <new>
#include <thread>

#include <pthread.h>

#if defined(__linux__)
#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>
#endif

namespace trax::platform {

namespace {

enum class Kind { Event, Lock, Thread };

// A thread that has to sleep in a wait parks on a Parker of its own, which
// lives in the wait's stack frame. It hangs a WaitNode into the waiter list of
// each object it waits on, so a wait may span two objects, and a signal wakes
// only the threads parked on that object. A signal or release with nobody
// parked only takes the object's guard, which costs no system call unless
// another thread holds it at that very moment.
//
// Parker: a wake-up flag that one thread sleeps on and others set. Park
// returns true when woken (the flag is consumed), false at the deadline.
// Several wakes before a Park count as one. A wake is two steps: SetWoken,
// while the parker surely exists (under the guard of the object it waits on),
// and, when SetWoken says so, WakeSleeper with the parker's Key after the
// guard is released, so that the woken thread does not run into that guard.
#if defined(__linux__)
// On Linux the flag is a futex word, so that a hand-off costs exactly one
// system call on each side, and none when the wake comes before the sleep:
// 0 idle, 1 woken, -1 a thread sleeps on it (or is about to).
class Parker {
public:
    using Key = std::atomic<int32_t>*;

    // True when the parked thread sleeps and needs WakeSleeper(KeyOf()).
    bool SetWoken() { return state.exchange(1, std::memory_order_acq_rel) == -1; }
    Key KeyOf() { return &state; }

    // Only the system call: by now the parker may be gone (its thread saw the
    // flag on its own and left the wait). A futex wake on a word that nobody
    // sleeps on does nothing, and every futex waiter, this one and the C
    // library's, takes a stray wake-up as "look again".
    static void WakeSleeper(Key key) { Futex(key, FUTEX_WAKE_PRIVATE, 1, nullptr); }

    bool Park(bool timed, std::chrono::steady_clock::time_point deadline) {
        timespec limit{};
        if (timed) {
            // steady_clock is CLOCK_MONOTONIC, the clock FUTEX_WAIT_BITSET measures by default.
            const auto since = deadline.time_since_epoch();
            const auto secs = std::chrono::duration_cast<std::chrono::seconds>(since);
            limit.tv_sec = static_cast<time_t>(secs.count());
            limit.tv_nsec =
                static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(since - secs).count());
        }
        for (;;) {
            int32_t expected = 1;
            if (state.compare_exchange_strong(expected, 0, std::memory_order_acq_rel)) return true;
            // expected is now 0 or -1; announce the sleep unless a wake came in between.
            if (expected == 0 && !state.compare_exchange_strong(expected, -1, std::memory_order_acq_rel)) continue;
            const long rc = Futex(&state, FUTEX_WAIT_BITSET_PRIVATE, -1, timed ? &limit : nullptr);
            if (rc != 0 && errno == ETIMEDOUT) {
                expected = -1;
                if (state.compare_exchange_strong(expected, 0, std::memory_order_acq_rel)) return false;
                // The wake came just at the deadline: it counts.
                state.store(0, std::memory_order_release);
                return true;
            }
            // Woken, interrupted or the word changed before the sleep: look again.
        }
    }

private:
    static long Futex(Key key, int operation, int32_t value, const timespec* limit) {
        static_assert(sizeof(std::atomic<int32_t>) == sizeof(int32_t), "the futex word is a plain 32-bit integer");
        return syscall(SYS_futex, reinterpret_cast<int32_t*>(key), operation, value, limit, nullptr,
                       FUTEX_BITSET_MATCH_ANY);
    }

    std::atomic<int32_t> state{0};
};
#else
class Parker {
public:
    using Key = Parker*;

    // Wakes the sleeper right away, under the caller's guard.
    bool SetWoken() {
        {
            std::lock_guard<std::mutex> hold(mutex);
            woken = true;
        }
        condition.notify_one();
        return false;
    }
    Key KeyOf() { return this; }
    static void WakeSleeper(Key) {}

    bool Park(bool timed, std::chrono::steady_clock::time_point deadline) {
        std::unique_lock<std::mutex> hold(mutex);
        auto woken = [this] { return woken; };
        if (!timed) {
            condition.wait(hold, woken);
        } else if (!condition.wait_until(hold, deadline, woken)) {
            return false;
        }
        woken = false;
        return true;
    }

private:
    std::mutex mutex;
    std::condition_variable condition;
    bool woken = false;  // guarded by mutex
};
#endif

struct WaitNode {
    Parker* parker = nullptr;
    WaitNode* previous = nullptr;
    WaitNode* next = nullptr;
};

// Events and one-count locks share one shape: a count of 0 or 1. An event is
// "signalled" at count 1; a lock is "free" at count 1. A wait takes the count
// back to 0, which gives both the auto-reset and the lock semantics.
//
// Lock order: an object's guard before a parker's mutex; a wait on two objects
// takes both guards at once (std::lock), so no order between objects is needed.
// A parked thread unhooks its nodes only under the guards, so a signaller that
// holds an object's guard may still touch the parkers listed there.
struct Object {
    explicit Object(Kind k, int initialCount) : kind(k), count(initialCount) {}
    const Kind kind;
    std::mutex guard;
    int count;                    // guarded by guard
    WaitNode* waiters = nullptr;  // guarded by guard
    std::thread thread;
};

// Every handle type points to an Object; the kind says which one it is.
template <typename TypedHandle>
Object* AsObject(TypedHandle handle) {
    return reinterpret_cast<Object*>(handle);
}
template <typename TypedHandle>
TypedHandle AsHandle(Object* object) {
    return reinterpret_cast<TypedHandle>(object);
}

bool IsWaitable(const Object* object) { return object != nullptr && object->kind != Kind::Thread; }

Object* MakeWaitable(Kind kind, int initialCount) {
    auto* object = new (std::nothrow) Object(kind, initialCount);
    if (object != nullptr) CountHandleCreated();
    return object;
}

bool Post(Object* object) {
    if (!IsWaitable(object)) return false;
    // Sleepers to wake once the guard is released; beyond this many (never in
    // this library) they are woken under the guard.
    constexpr int kDeferred = 4;
    Parker::Key sleepers[kDeferred];
    int deferred = 0;
    {
        std::lock_guard<std::mutex> hold(object->guard);
        if (object->kind == Kind::Lock && object->count >= 1) return false;  // maximum count 1
        object->count = 1;
        // Every thread parked here is woken, not just one: a thread parked on
        // two objects may take the other one, and then this count must still
        // find a taker. In this library an object has at most one thread
        // parked on it.
        for (WaitNode* node = object->waiters; node != nullptr; node = node->next) {
            if (!node->parker->SetWoken()) continue;
            if (deferred < kDeferred) {
                sleepers[deferred++] = node->parker->KeyOf();
            } else {
                Parker::WakeSleeper(node->parker->KeyOf());
            }
        }
    }
    for (int i = 0; i < deferred; ++i) Parker::WakeSleeper(sleepers[i]);
    return true;
}

void Hook(Object* object, WaitNode* node) {
    node->previous = nullptr;
    node->next = object->waiters;
    if (object->waiters != nullptr) object->waiters->previous = node;
    object->waiters = node;
}

void Unhook(Object* object, WaitNode* node) {
    if (node->previous != nullptr) {
        node->previous->next = node->next;
    } else {
        object->waiters = node->next;
    }
    if (node->next != nullptr) node->next->previous = node->previous;
}

// The guards of one or two distinct objects, taken together.
class Guards {
public:
    Guards(Object* one, Object* other) : first(one), second(other) { Lock(); }
    ~Guards() {
        if (held) Unlock();
    }
    Guards(const Guards&) = delete;
    Guards& operator=(const Guards&) = delete;
    void Lock() {
        if (second != nullptr) {
            std::lock(first->guard, second->guard);
        } else {
            first->guard.lock();
        }
        held = true;
    }
    void Unlock() {
        first->guard.unlock();
        if (second != nullptr) second->guard.unlock();
        held = false;
    }

private:
    Object* first;
    Object* second;
    bool held = false;
};

// Takes the count of the lower-index object that has one; -1 when neither has.
// The caller holds the guards.
int TakeCount(Object* const objects[], int n) {
    for (int i = 0; i < n; ++i) {
        if (objects[i]->count > 0) {
            objects[i]->count = 0;
            return i;
        }
    }
    return -1;
}

WaitResult Signalled(int index) { return index == 0 ? WaitResult::Signalled0 : WaitResult::Signalled1; }

// Waits until one of n (1 or 2, distinct) objects has its count, takes it and
// reports its index; the lower index wins when both have one.
WaitResult WaitFor(Object* const objects[], int n, uint32_t timeoutMs) {
    Guards guards(objects[0], n == 2 ? objects[1] : nullptr);
    int taken = TakeCount(objects, n);
    if (taken >= 0) return Signalled(taken);
    if (timeoutMs == 0) return WaitResult::Timeout;

    Parker parker;
    WaitNode nodes[2];
    for (int i = 0; i < n; ++i) {
        nodes[i].parker = &parker;
        Hook(objects[i], &nodes[i]);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        guards.Unlock();
        const bool woken = parker.Park(timeoutMs != kInfinite, deadline);
        guards.Lock();
        // Another thread may have taken the count between the wake and here;
        // then this one parks again (its nodes are still hooked in).
        taken = TakeCount(objects, n);
        if (taken >= 0 || !woken) break;
    }
    for (int i = 0; i < n; ++i) Unhook(objects[i], &nodes[i]);
    return taken >= 0 ? Signalled(taken) : WaitResult::Timeout;
}

constexpr size_t kNotificationQueueLimit = 10000;
thread_local std::deque<Notification> notificationQueue;

void Close(Object* object) {
    if (object == nullptr) return;
    if (object->thread.joinable()) object->thread.detach();
    delete object;
    CountHandleClosed();
}

WaitResult WaitOneObject(Object* object, uint32_t timeoutMs) {
    if (!IsWaitable(object)) return WaitResult::Failed;
    Object* const objects[1] = {object};
    return WaitFor(objects, 1, timeoutMs);
}

}  // namespace

EventHandle CreateAutoEvent() { return AsHandle<EventHandle>(MakeWaitable(Kind::Event, 0)); }

bool SignalEvent(EventHandle event) { return Post(AsObject(event)); }

LockHandle CreateOneCountLock() { return AsHandle<LockHandle>(MakeWaitable(Kind::Lock, 1)); }

// The count is what the analysis cannot see: it follows the results.
bool TakeLock(LockHandle lock) TRAX_NO_THREAD_SAFETY_ANALYSIS {
    return WaitOneObject(AsObject(lock), kInfinite) == WaitResult::Signalled0;
}

bool TryTakeLock(LockHandle lock) TRAX_NO_THREAD_SAFETY_ANALYSIS {
    return WaitOneObject(AsObject(lock), 0) == WaitResult::Signalled0;
}

bool ReleaseLock(LockHandle lock) TRAX_NO_THREAD_SAFETY_ANALYSIS { return Post(AsObject(lock)); }

WaitResult WaitOne(EventHandle event, uint32_t timeoutMs) { return WaitOneObject(AsObject(event), timeoutMs); }

WaitResult WaitEither(EventHandle first, EventHandle second, uint32_t timeoutMs) {
    Object* a = AsObject(first);
    Object* b = AsObject(second);
    if (!IsWaitable(a) || !IsWaitable(b)) return WaitResult::Failed;
    Object* const objects[2] = {a, b};
    // The same object twice is a wait on that one object.
    return WaitFor(objects, a == b ? 1 : 2, timeoutMs);
}

void CloseHandle(EventHandle event) { Close(AsObject(event)); }
void CloseHandle(LockHandle lock) { Close(AsObject(lock)); }

ThreadHandle StartThread(ThreadRoutine routine, void* argument) {
    auto* object = new (std::nothrow) Object(Kind::Thread, 0);
    if (object == nullptr) return nullptr;
    try {
        object->thread = std::thread(routine, argument);
    } catch (...) {
        delete object;
        return nullptr;
    }
    CountHandleCreated();
    return AsHandle<ThreadHandle>(object);
}

void JoinThread(ThreadHandle thread) {
    Object* object = AsObject(thread);
    if (object == nullptr || object->kind != Kind::Thread) return;
    if (object->thread.joinable()) object->thread.join();
    Close(object);
}

void SleepMilliseconds(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

uint64_t NowMilliseconds() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

ExclusiveLock::ExclusiveLock() {
    static_assert(sizeof(std::mutex) <= sizeof(storage), "lock storage too small");
    new (storage) std::mutex();
}
ExclusiveLock::~ExclusiveLock() { reinterpret_cast<std::mutex*>(storage)->~mutex(); }
void ExclusiveLock::Lock() { reinterpret_cast<std::mutex*>(storage)->lock(); }
void ExclusiveLock::Unlock() { reinterpret_cast<std::mutex*>(storage)->unlock(); }

void OnFork(ForkHandler prepare, ForkHandler parent, ForkHandler child) {
    // Fails only without memory for the handler table; the library then
    // stays as fork-unsafe as it would be without it.
    (void)pthread_atfork(prepare, parent, child);
}

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

#include "transport/RingBuffer.h"

#include <cstdlib>
#include <cstring>

namespace trax::transport {

namespace {

// One spare storage block kept from a destroyed ring for the next ring of the
// same capacity. Every exported call creates and destroys a 1 MiB receive
// ring, and zeroing a fresh 1 MiB block costs more than the rest of a short
// call; the spare goes back zeroed at the price of the bytes that were written,
// usually a few dozen. Small rings are cheap to allocate and are not kept.
// Constant-initialised, so it outlives every ring, the session's at exit too.
constexpr int32_t kSpareMinimumCapacity = 64 * 1024;
platform::ExclusiveLock spareMutex;
uint8_t* spareStorage TRAX_GUARDED_BY(spareMutex) = nullptr;  // zeroed
int32_t spareCapacity TRAX_GUARDED_BY(spareMutex) = 0;

uint8_t* TakeZeroedStorage(int32_t capacity) {
    if (capacity >= kSpareMinimumCapacity) {
        platform::ExclusiveGuard hold(spareMutex);
        if (spareStorage != nullptr && spareCapacity == capacity) {
            uint8_t* block = spareStorage;
            spareStorage = nullptr;
            spareCapacity = 0;
            return block;
        }
    }
    return static_cast<uint8_t*>(std::calloc(static_cast<size_t>(capacity), 1));
}

// Takes a block whose first `touched` bytes may hold data; the rest is zero.
void GiveBackStorage(uint8_t* block, int32_t capacity, int32_t touched) {
    if (capacity >= kSpareMinimumCapacity) {
        platform::ExclusiveGuard hold(spareMutex);
        if (spareStorage == nullptr) {
            std::memset(block, 0, static_cast<size_t>(touched));
            spareStorage = block;
            spareCapacity = capacity;
            return;
        }
    }
    std::free(block);
}

}  // namespace

// Held from one fork handler to the other, which the analysis cannot follow.
void LockSpareStorage() TRAX_NO_THREAD_SAFETY_ANALYSIS { spareMutex.Lock(); }
void UnlockSpareStorage() TRAX_NO_THREAD_SAFETY_ANALYSIS { spareMutex.Unlock(); }

int RingBuffer::Create(int32_t newCapacity) {
    if (storage != nullptr || lock != nullptr) {
        // Nothing in the library creates a ring twice; if it happens, the old
        // block and lock go so that nothing leaks.
        TRAX_ASSERT_FAILED();
        Destroy();
        readPos = 0;
        writePos = 0;
        fillCount = 0;
    }
    // Set only after the old block went back under its own capacity.
    capacity = newCapacity;
    if (newCapacity <= 0) return 0;
    storage = TakeZeroedStorage(newCapacity);
    if (storage == nullptr) return 0;
    touchedEnd = 0;
    lock = platform::CreateOneCountLock();
    return lock != nullptr ? 1 : 0;
}

int RingBuffer::Write(const uint8_t* source, int32_t length) {
    if (!platform::TakeLock(lock)) return 0;
    int result = 0;
    // A write that does not fit is refused without a report: an answer too
    // long for the receive ring is the controller's doing, and the I/O thread
    // fails that exchange; the send side reports its own overflow.
    if (length >= 0 && length <= capacity - fillCount) {
        if (writePos + length > capacity) {
            const int32_t head = capacity - writePos;
            std::memcpy(storage + writePos, source, static_cast<size_t>(head));
            touchedEnd = capacity;
            fillCount += head;
            source += head;
            length -= head;
            writePos = 0;
        }
        if (length > 0) {
            std::memcpy(storage + writePos, source, static_cast<size_t>(length));
            if (writePos + length > touchedEnd) touchedEnd = writePos + length;
            fillCount += length;
            writePos = (writePos + length) % capacity;
        }
        result = 1;
    }
    platform::ReleaseLock(lock);
    return result;
}

int32_t RingBuffer::Read(uint8_t* destination, int32_t maximum, int32_t consume) {
    if (!platform::TakeLock(lock)) return 0;
    int32_t n = maximum < fillCount ? maximum : fillCount;
    int32_t position = readPos;
    int32_t remaining = fillCount;
    int32_t copied = 0;
    if (n > 0) {
        if (position + n > capacity) {
            const int32_t head = capacity - position;
            std::memcpy(destination, storage + position, static_cast<size_t>(head));
            copied = head;
            remaining -= head;
            n -= head;
            destination += head;
            position = 0;
        }
        if (n > 0) {
            std::memcpy(destination, storage + position, static_cast<size_t>(n));
            remaining -= n;
            copied += n;
            position = (position + n) % capacity;
        }
    }
    if (consume == 1) {
        readPos = position;
        fillCount = remaining;
    }
    platform::ReleaseLock(lock);
    return copied;
}

void RingBuffer::Reset() {
    if (!platform::TakeLock(lock)) return;
    readPos = 0;
    writePos = 0;
    fillCount = 0;
    platform::ReleaseLock(lock);
}

void RingBuffer::Destroy() {
    if (storage != nullptr) {
        GiveBackStorage(storage, capacity, touchedEnd);
        storage = nullptr;
        touchedEnd = 0;
    }
    if (lock != nullptr) {
        platform::CloseHandle(lock);
        lock = nullptr;
    }
}

}  // namespace trax::transport

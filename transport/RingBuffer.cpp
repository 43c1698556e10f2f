#include "transport/RingBuffer.h"

#include <cstdlib>
#include <cstring>

namespace trax::transport {

int RingBuffer::Create(int32_t newCapacity) {
    capacity = newCapacity;
    if (storage != nullptr || lock != nullptr) {
        // Nothing in the library creates a ring twice; if it happens, the old
        // block and lock go so that nothing leaks.
        TRAX_ASSERT_FAILED();
        Destroy();
        readPos = 0;
        writePos = 0;
        fillCount = 0;
    }
    if (newCapacity <= 0) return 0;
    // A zeroing allocation instead of a fill: fresh pages come zeroed for free,
    // which keeps a 1 MiB receive ring cheap to create on every exported call.
    storage = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(newCapacity), 1));
    if (storage == nullptr) return 0;
    lock = platform::CreateOneCountLock();
    return lock != nullptr ? 1 : 0;
}

int RingBuffer::Write(const uint8_t* source, int32_t length) {
    if (platform::WaitOne(lock, platform::kInfinite) != platform::WaitResult::Signalled0) return 0;
    int result = 0;
    if (length < 0 || length > capacity - fillCount) {
        TRAX_ASSERT_FAILED();
    } else {
        if (writePos + length > capacity) {
            const int32_t head = capacity - writePos;
            std::memcpy(storage + writePos, source, static_cast<size_t>(head));
            fillCount += head;
            source += head;
            length -= head;
            writePos = 0;
        }
        if (length > 0) {
            std::memcpy(storage + writePos, source, static_cast<size_t>(length));
            fillCount += length;
            writePos = (writePos + length) % capacity;
        }
        result = 1;
    }
    platform::ReleaseLock(lock);
    return result;
}

int32_t RingBuffer::Read(uint8_t* destination, int32_t maximum, int32_t consume) {
    if (platform::WaitOne(lock, platform::kInfinite) != platform::WaitResult::Signalled0) return 0;
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
    if (platform::WaitOne(lock, platform::kInfinite) != platform::WaitResult::Signalled0) return;
    readPos = 0;
    writePos = 0;
    fillCount = 0;
    platform::ReleaseLock(lock);
}

void RingBuffer::Destroy() {
    if (storage != nullptr) {
        std::free(storage);
        storage = nullptr;
    }
    if (lock != nullptr) {
        platform::CloseHandle(lock);
        lock = nullptr;
    }
}

}  // namespace trax::transport

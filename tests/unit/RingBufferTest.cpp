#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <vector>

#include "platform/Platform.h"
#include "transport/RingBuffer.h"

namespace trax::test {
namespace {

using transport::RingBuffer;

std::vector<uint8_t> Sequence(int count, uint8_t first = 1) {
    std::vector<uint8_t> bytes(static_cast<size_t>(count));
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class RingBufferTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(ring.Create(8), 1);
        previousHook = platform::SetAssertionHook([](const char*, int) {});
    }
    // The hook is process-wide: a test after this one must find its own.
    void TearDown() override { platform::SetAssertionHook(previousHook); }
    // Takes everything queued.
    std::vector<uint8_t> Drain() {
        std::vector<uint8_t> out(64);
        out.resize(static_cast<size_t>(ring.Read(out.data(), 64, 1)));
        return out;
    }

    RingBuffer ring;
    platform::AssertionHook previousHook = nullptr;
};

TEST_F(RingBufferTest, ExactFillSucceedsAndOneByteMoreIsRefusedWhole) {
    EXPECT_EQ(ring.Write(Sequence(5).data(), 5), 1);
    EXPECT_EQ(ring.Write(Sequence(4, 20).data(), 4), 0);  // one byte too many
    EXPECT_EQ(ring.Write(Sequence(3, 30).data(), 3), 1);  // exactly full
    EXPECT_EQ(ring.Write(Sequence(1, 40).data(), 1), 0);
    EXPECT_EQ(Drain(), Concat(Sequence(5), Sequence(3, 30)));
}

TEST_F(RingBufferTest, ZeroLengthWriteSucceedsAndChangesNothing) {
    EXPECT_EQ(ring.Write(nullptr, 0), 1);
    EXPECT_TRUE(Drain().empty());
    EXPECT_EQ(ring.Write(Sequence(8).data(), 8), 1);
}

TEST_F(RingBufferTest, WrappedWriteAndReadKeepByteOrder) {
    ASSERT_EQ(ring.Write(Sequence(6).data(), 6), 1);
    ASSERT_EQ(Drain().size(), 6u);
    const auto data = Sequence(7, 10);
    ASSERT_EQ(ring.Write(data.data(), 7), 1);  // 2 bytes at the end, 5 from index 0
    EXPECT_EQ(Drain(), data);
}

TEST_F(RingBufferTest, PeekThenConsumeYieldsSameBytesAndOnlyConsumeMoves) {
    ASSERT_EQ(ring.Write(Sequence(4).data(), 4), 1);
    uint8_t first[4] = {}, second[4] = {};
    EXPECT_EQ(ring.Read(first, 4, 0), 4);
    EXPECT_EQ(ring.Read(second, 4, 2), 4);  // any flag but 1 is a peek
    EXPECT_EQ(std::vector<uint8_t>(first, first + 4), std::vector<uint8_t>(second, second + 4));
    EXPECT_EQ(Drain(), Sequence(4));
    EXPECT_TRUE(Drain().empty());
}

TEST_F(RingBufferTest, ReadsNeverExceedWhatIsThere) {
    uint8_t out[16];
    EXPECT_EQ(ring.Read(out, 16, 1), 0);  // empty
    ASSERT_EQ(ring.Write(Sequence(3).data(), 3), 1);
    EXPECT_EQ(ring.Read(out, 0, 1), 0);   // maximum 0
    EXPECT_EQ(ring.Read(out, 16, 1), 3);  // maximum above the fill count
}

TEST_F(RingBufferTest, ResetEmptiesAndFreesTheWholeCapacity) {
    ASSERT_EQ(ring.Write(Sequence(5).data(), 5), 1);
    ring.Reset();
    EXPECT_TRUE(Drain().empty());
    ASSERT_EQ(ring.Write(Sequence(8, 50).data(), 8), 1);
    EXPECT_EQ(Drain(), Sequence(8, 50));
}

TEST_F(RingBufferTest, SecondCreateReplacesStorageWithoutLeakAndDestroyIsIdempotent) {
    const int handles = platform::LiveHandleCount();
    ASSERT_EQ(ring.Write(Sequence(3).data(), 3), 1);
    EXPECT_EQ(ring.Create(16), 1);
    EXPECT_EQ(platform::LiveHandleCount(), handles);        // old lock closed, new one made
    EXPECT_EQ(ring.Write(Sequence(16, 60).data(), 16), 1);  // empty, with the new capacity
    EXPECT_EQ(Drain(), Sequence(16, 60));
    ring.Destroy();
    ring.Destroy();
    EXPECT_EQ(platform::LiveHandleCount(), handles - 1);
}

// A large ring's block outlives the ring for the next one of its size; that
// ring, and one of another size, must still start zeroed, whatever was written
// before (at both ends of the block after a wrap, or only at its start).
TEST(RingBufferStorageTest, EveryNewRingStartsZeroed) {
    constexpr int32_t kLarge = 0x100000;
    const std::vector<uint8_t> fill(70000, 0xA5);
    struct Case {
        int32_t firstCapacity;
        int32_t skip;  // bytes written and consumed first, to move the wrap point
        int32_t nextCapacity;
    };
    for (const Case& c : {Case{kLarge, 0, kLarge}, Case{kLarge, kLarge - 1000, kLarge}, Case{kLarge, 0, kLarge / 2},
                          Case{kLarge / 2, 0, kLarge}}) {
        RingBuffer first;
        ASSERT_EQ(first.Create(c.firstCapacity), 1);
        std::vector<uint8_t> scratch(static_cast<size_t>(c.skip));
        for (int32_t done = 0; done < c.skip;) {
            const int32_t n = std::min<int32_t>(c.skip - done, static_cast<int32_t>(fill.size()));
            ASSERT_EQ(first.Write(fill.data(), n), 1);
            ASSERT_EQ(first.Read(scratch.data(), n, 1), n);
            done += n;
        }
        ASSERT_EQ(first.Write(fill.data(), static_cast<int32_t>(fill.size())), 1);
        first.Destroy();

        RingBuffer next;
        ASSERT_EQ(next.Create(c.nextCapacity), 1);
        const uint8_t* bytes = next.Storage();
        EXPECT_EQ(std::count(bytes, bytes + c.nextCapacity, 0), c.nextCapacity)
            << "capacities " << c.firstCapacity << " then " << c.nextCapacity << ", skip " << c.skip;
        // The whole capacity is there to fill.
        const std::vector<uint8_t> full(static_cast<size_t>(c.nextCapacity), 1);
        EXPECT_EQ(next.Write(full.data(), c.nextCapacity), 1);
    }
}

}  // namespace
}  // namespace trax::test

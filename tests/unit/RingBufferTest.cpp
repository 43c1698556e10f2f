#include <gtest/gtest.h>

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

class RingBufferTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(ring.Create(8), 1);
        assertionsBefore = platform::AssertionCount();
        platform::SetAssertionHook([](const char*, int) {});
    }
    uint64_t NewAssertions() const { return platform::AssertionCount() - assertionsBefore; }

    RingBuffer ring;
    uint64_t assertionsBefore = 0;
};

TEST_F(RingBufferTest, ExactFillSucceedsAndOneByteMoreIsRefusedWhole) {
    EXPECT_EQ(ring.Write(Sequence(5).data(), 5), 1);
    EXPECT_EQ(ring.Write(Sequence(4).data(), 4), 0);  // one byte too many
    EXPECT_EQ(NewAssertions(), 1u);
    EXPECT_EQ(ring.FillCount(), 5);
    EXPECT_EQ(ring.Write(Sequence(3).data(), 3), 1);  // exactly full
    EXPECT_EQ(ring.FillCount(), 8);
    EXPECT_EQ(ring.WritePos(), 0);
}

TEST_F(RingBufferTest, ZeroLengthWriteSucceedsAndChangesNothing) {
    EXPECT_EQ(ring.Write(nullptr, 0), 1);
    EXPECT_EQ(ring.FillCount(), 0);
    EXPECT_EQ(ring.WritePos(), 0);
    EXPECT_EQ(NewAssertions(), 0u);
}

TEST_F(RingBufferTest, WrappedWriteAndReadKeepByteOrder) {
    uint8_t scratch[8];
    ASSERT_EQ(ring.Write(Sequence(6).data(), 6), 1);
    ASSERT_EQ(ring.Read(scratch, 6, 1), 6);
    const auto data = Sequence(5, 10);
    ASSERT_EQ(ring.Write(data.data(), 5), 1);  // 2 bytes at the end, 3 from index 0
    EXPECT_EQ(ring.WritePos(), 3);
    uint8_t out[8] = {};
    EXPECT_EQ(ring.Read(out, 8, 1), 5);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 5), data);
    EXPECT_EQ(ring.FillCount(), 0);
}

TEST_F(RingBufferTest, PeekThenConsumeYieldsSameBytesAndOnlyConsumeMoves) {
    ASSERT_EQ(ring.Write(Sequence(4).data(), 4), 1);
    uint8_t first[4] = {}, second[4] = {};
    EXPECT_EQ(ring.Read(first, 4, 0), 4);
    EXPECT_EQ(ring.FillCount(), 4);
    EXPECT_EQ(ring.ReadPos(), 0);
    EXPECT_EQ(ring.Read(second, 4, 2), 4);  // any flag but 1 is a peek
    EXPECT_EQ(ring.FillCount(), 4);
    EXPECT_EQ(ring.Read(second, 4, 1), 4);
    EXPECT_EQ(std::vector<uint8_t>(first, first + 4), std::vector<uint8_t>(second, second + 4));
    EXPECT_EQ(ring.FillCount(), 0);
    EXPECT_EQ(ring.ReadPos(), 4);
}

TEST_F(RingBufferTest, ReadsNeverExceedWhatIsThere) {
    uint8_t out[16];
    EXPECT_EQ(ring.Read(out, 16, 1), 0);  // empty
    ASSERT_EQ(ring.Write(Sequence(3).data(), 3), 1);
    EXPECT_EQ(ring.Read(out, 0, 1), 0);   // maximum 0
    EXPECT_EQ(ring.Read(out, 16, 1), 3);  // maximum above the fill count
}

TEST_F(RingBufferTest, ResetEmptiesAndNextWriteStartsAtZero) {
    ASSERT_EQ(ring.Write(Sequence(5).data(), 5), 1);
    ring.Reset();
    uint8_t out[8];
    EXPECT_EQ(ring.Read(out, 8, 1), 0);
    ASSERT_EQ(ring.Write(Sequence(2, 50).data(), 2), 1);
    EXPECT_EQ(ring.ReadPos(), 0);
    EXPECT_EQ(ring.WritePos(), 2);
}

TEST_F(RingBufferTest, SecondCreateReplacesStorageWithoutLeakAndDestroyIsIdempotent) {
    const int handles = platform::LiveHandleCount();
    ASSERT_EQ(ring.Write(Sequence(3).data(), 3), 1);
    EXPECT_EQ(ring.Create(16), 1);
    EXPECT_EQ(NewAssertions(), 1u);
    EXPECT_EQ(platform::LiveHandleCount(), handles);  // old lock closed, new one made
    EXPECT_EQ(ring.FillCount(), 0);
    EXPECT_EQ(ring.Capacity(), 16);
    ring.Destroy();
    ring.Destroy();
    EXPECT_FALSE(ring.HasStorage());
    EXPECT_EQ(platform::LiveHandleCount(), handles - 1);
}

}  // namespace
}  // namespace trax::test

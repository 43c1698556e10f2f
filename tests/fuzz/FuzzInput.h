// How the fuzzer's input is read. The first bytes choose the call and its
// arguments; everything after them answers the call's exchanges in turn.
//
//   [function] [null mask] [argument]... [answer]...
//
// An argument is one byte b: b < 0x80 stands for b - 8 (so -8..119, where
// nearly every range lies); otherwise the next four bytes are a raw
// big-endian int. Bit i of the null mask passes output i as NULL.
//
// An answer starts with a selector byte s (taken modulo 4):
//   0  the exchange is lost;
//   1  raw: a 16-bit big-endian length n, then n reply bytes;
//   2  framed: error byte, 16-bit payload length, payload; the header (length,
//      marker, reply code = request code + 1) is made to fit;
//   3  framed with its own reply code: code, error byte, payload length, payload.
// When the input runs out, every further exchange is lost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace trax::fuzz {

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool Empty() const { return position_ >= size_; }
    size_t Position() const { return position_; }
    uint8_t Byte() { return Empty() ? 0 : data_[position_++]; }
    uint16_t Word() {
        const uint16_t high = Byte();
        return static_cast<uint16_t>((high << 8) | Byte());
    }
    int32_t Int() {
        const uint8_t b = Byte();
        if (b < 0x80) return static_cast<int32_t>(b) - 8;
        uint32_t raw = 0;
        for (int i = 0; i < 4; ++i) raw = (raw << 8) | Byte();
        return static_cast<int32_t>(raw);
    }
    // Up to n further bytes, fewer when the input ends first.
    std::vector<uint8_t> Bytes(size_t n) {
        const size_t available = Empty() ? 0 : size_ - position_;
        const size_t taken = n < available ? n : available;
        std::vector<uint8_t> out(data_ + position_, data_ + position_ + taken);
        position_ += taken;
        return out;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

enum AnswerKind : uint8_t { AnswerLost = 0, AnswerRaw = 1, AnswerFramed = 2, AnswerCoded = 3 };

}  // namespace trax::fuzz

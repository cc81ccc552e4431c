#pragma once
// Reads a fuzz input as a stream of little-endian values; past the end every
// read gives 0, so any input, however short, drives a whole run.

#include <cstddef>
#include <cstdint>
#include <cstring>

class ByteReader {
  public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool AtEnd() const { return pos_ >= size_; }
    uint8_t U8() { return pos_ < size_ ? data_[pos_++] : 0; }
    // The operands of | are unsequenced, so each low part is read first into
    // a variable of its own.
    uint16_t U16() {
        const uint16_t low = U8();
        return static_cast<uint16_t>(low | (U8() << 8));
    }
    uint32_t U32() {
        const uint32_t low = U16();
        return low | (uint32_t{U16()} << 16);
    }
    uint64_t U64() {
        const uint64_t low = U32();
        return low | (uint64_t{U32()} << 32);
    }
    // Any double at all: NaN, infinities, subnormals, huge values.
    double AnyDouble() {
        const uint64_t bits = U64();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

#pragma once
// Helpers for the report record codec tests: exact-size heap copies (so the
// address sanitizer sees a read past the end) and output buffers with guard
// bytes behind them.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace derazud_test {

using Bytes = std::vector<uint8_t>;

inline Bytes FromHex(const std::string& hex) {
    Bytes bytes;
    std::string digits;
    for (char c : hex) {
        if (c != ' ') {
            digits += c;
        }
    }
    for (size_t i = 0; i + 1 < digits.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// A heap block of exactly the given bytes.
class ExactCopy {
  public:
    ExactCopy(const Bytes& bytes, size_t length)
        : data_(new uint8_t[length == 0 ? 1 : length]), length_(static_cast<int>(length)) {
        std::memcpy(data_.get(), bytes.data(), length);
    }
    const uint8_t* data() const { return data_.get(); }
    int length() const { return length_; }

  private:
    std::unique_ptr<uint8_t[]> data_;
    int length_;
};

// Every strict prefix of a valid encoding must be refused with -1.
template <typename Decode>
void ExpectEveryTruncationRefused(const Bytes& encoded, Decode decode) {
    for (size_t n = 0; n < encoded.size(); ++n) {
        ExactCopy copy(encoded, n);
        EXPECT_EQ(decode(copy.data(), copy.length()), -1) << "prefix of " << n << " bytes";
    }
}

// Every strict prefix of a list record is refused and leaves the record with
// count 0 and no array.
template <typename Record, typename Item, typename Count>
void ExpectListTruncationsLeaveRecordClean(const Bytes& encoded, int (*decode)(Record*, const uint8_t*, int),
                                           Item* Record::*items, Count Record::*count) {
    ExpectEveryTruncationRefused(encoded, [&](const uint8_t* buffer, int length) {
        Record truncated{};
        const int result = decode(&truncated, buffer, length);
        EXPECT_EQ(truncated.*items, nullptr);
        EXPECT_EQ(truncated.*count, 0);
        return result;
    });
}

// An output buffer of `size` bytes pre-filled with 0xCD, followed by guard bytes.
class GuardedBuffer {
  public:
    static constexpr uint8_t kFill = 0xCD;
    static constexpr size_t kGuard = 16;

    explicit GuardedBuffer(size_t size) : bytes_(size + kGuard, kFill), size_(size) {}
    uint8_t* data() { return bytes_.data(); }
    int size() const { return static_cast<int>(size_); }
    bool GuardIntact() const {
        for (size_t i = size_; i < bytes_.size(); ++i) {
            if (bytes_[i] != kFill) {
                return false;
            }
        }
        return true;
    }
    bool Untouched() const {
        for (uint8_t byte : bytes_) {
            if (byte != kFill) {
                return false;
            }
        }
        return true;
    }
    Bytes Contents() const { return Bytes(bytes_.begin(), bytes_.begin() + static_cast<long>(size_)); }

  private:
    Bytes bytes_;
    size_t size_;
};

}  // namespace derazud_test

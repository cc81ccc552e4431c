#pragma once
// One Vuv data item: a 16-bit type, a 16-bit payload size and the payload.
// Items never change after construction, so packets in several threads may
// share one item through a shared pointer.

#include <cstdint>
#include <vector>

class VexDataItem {
  public:
    // Bytes of the item framing in front of the payload: type and size.
    static constexpr uint32_t kHeaderSize = 4;

    VexDataItem();
    // Copies `size` bytes from `data`. A null `data` with a non-zero size
    // gives a payload of `size` zero bytes, so the item stays well formed.
    VexDataItem(uint16_t type, uint16_t size, const void* data);
    // Builds the item from its wire form (type, size, payload, little-endian).
    // The caller has checked that the whole item lies inside its buffer.
    explicit VexDataItem(const uint8_t* wire);
    VexDataItem(const VexDataItem& other) = default;
    VexDataItem& operator=(const VexDataItem&) = delete;

    uint16_t GetType() const { return type_; }
    uint16_t GetDataSize() const { return size_; }
    uint32_t GetSize() const { return static_cast<uint32_t>(size_) + kHeaderSize; }
    // Null when the payload is empty; valid as long as the item lives.
    const uint8_t* GetData() const { return data_.empty() ? nullptr : data_.data(); }

    // Writes the wire form at `dest` and returns the bytes written (size + 4).
    uint32_t WriteToBuffer(uint8_t* dest) const;

  private:
    uint16_t type_;
    uint16_t size_;
    std::vector<uint8_t> data_;
};

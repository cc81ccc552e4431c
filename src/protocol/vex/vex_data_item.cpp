#include "protocol/vex/vex_data_item.h"

#include <cstring>

#include "base/byte_order.h"

VexDataItem::VexDataItem() : type_(0xFFFF), size_(0) {}

VexDataItem::VexDataItem(uint16_t type, uint16_t size, const void* data) : type_(type), size_(size) {
    if (data == nullptr) {
        data_.assign(size, 0);
    } else {
        const auto* bytes = static_cast<const uint8_t*>(data);
        data_.assign(bytes, bytes + size);
    }
}

VexDataItem::VexDataItem(const uint8_t* wire)
    : type_(wire::read_le16(wire)), size_(wire::read_le16(wire + 2)) {
    data_.assign(wire + kHeaderSize, wire + kHeaderSize + size_);
}

uint32_t VexDataItem::WriteToBuffer(uint8_t* dest) const {
    wire::write_le16(dest, type_);
    wire::write_le16(dest + 2, size_);
    if (size_ != 0) {
        std::memcpy(dest + kHeaderSize, data_.data(), size_);
    }
    return GetSize();
}

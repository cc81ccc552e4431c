#include "protocol/vex/vex_packet.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "base/byte_order.h"
#include "base/thread_annotations.h"

namespace {

constexpr uint8_t kMagic[4] = {'L', 'C', '0', '2'};
// The tag's terminating zero is part of the comparison.
constexpr uint8_t kProtocolTag[8] = {'V', 'E', 'X', '0', '0', '0', '2', 0};

constexpr size_t kSequenceOffset = 4;
constexpr size_t kTagOffset = 8;
constexpr size_t kSerialOffset = 16;

}  // namespace

VexPacket::VexPacket(uint32_t serial) : serial_number_(serial), sequence_(0), items_size_(0) {}

VexPacket::VexPacket(const VexPacket& other) : serial_number_(0), sequence_(0), items_size_(0) {
    _CopyVexPacket(other);
}

VexPacket& VexPacket::operator=(const VexPacket& other) {
    // Clearing first would lose the items of a packet assigned to itself.
    if (this != &other) {
        _CopyVexPacket(other);
    }
    return *this;
}

VexPacket::~VexPacket() {
    ClearDataItems();
}

void VexPacket::_CopyVexPacket(const VexPacket& other) {
    ClearDataItems();
    serial_number_ = other.serial_number_;
    sequence_.store(other.GetSequence(), std::memory_order_relaxed);
    VexDataItemList items = other.items_;
    const uint32_t items_size = other.items_size_;
    AnnotatedMutexLocker lock(&mutex_);
    items_ = std::move(items);
    items_size_ = items_size;
}

bool VexPacket::AppendItem(std::shared_ptr<const VexDataItem> item) {
    {
        AnnotatedMutexLocker lock(&mutex_);
        if (kHeaderSize + items_size_ + item->GetSize() <= kMaxPacketSize) {
            items_size_ += item->GetSize();
            items_.push_back(std::move(item));
            return true;
        }
    }
    std::printf("VexPacket: item of type 0x%04X refused, the packet would exceed %u bytes\n",
                static_cast<unsigned>(item->GetType()), static_cast<unsigned>(kMaxPacketSize));
    std::fflush(stdout);
    return false;
}

bool VexPacket::AddDataItem(VexDataItem* item) {
    if (item == nullptr) {
        return false;
    }
    return AppendItem(std::shared_ptr<const VexDataItem>(item));
}

bool VexPacket::AddDataItem(uint16_t type, uint16_t size, const void* data) {
    return AppendItem(std::make_shared<const VexDataItem>(type, size, data));
}

void VexPacket::ClearDataItems() {
    AnnotatedMutexLocker lock(&mutex_);
    items_.clear();
    items_size_ = 0;
}

VexDataItemList VexPacket::GetDataItems() const {
    return items_;
}

uint32_t VexPacket::GetPacketSize() const {
    AnnotatedMutexLocker lock(&mutex_);
    return kHeaderSize + items_size_;
}

uint8_t* VexPacket::CreateBufferWithSequenceNumber(uint32_t sequence, uint16_t* size) {
    sequence_.store(sequence, std::memory_order_relaxed);
    // Size and items are taken under one hold of the mutex, so an item added
    // by another thread meanwhile cannot overrun the buffer.
    AnnotatedMutexLocker lock(&mutex_);
    const uint32_t packet_size = kHeaderSize + items_size_;
    auto* buffer = new uint8_t[packet_size];
    std::memcpy(buffer, kMagic, sizeof(kMagic));
    wire::write_le32(buffer + kSequenceOffset, sequence);
    std::memcpy(buffer + kTagOffset, kProtocolTag, sizeof(kProtocolTag));
    wire::write_le32(buffer + kSerialOffset, serial_number_);
    uint32_t offset = kHeaderSize;
    for (const auto& item : items_) {
        offset += item->WriteToBuffer(buffer + offset);
    }
    if (size != nullptr) {
        *size = static_cast<uint16_t>(packet_size);
    }
    return buffer;
}

bool VexPacket::HasValidHeader(const uint8_t* buffer) {
    return std::memcmp(buffer, kMagic, sizeof(kMagic)) == 0 &&
           std::memcmp(buffer + kTagOffset, kProtocolTag, sizeof(kProtocolTag)) == 0;
}

bool VexPacket::IsValidPacketBuffer(const uint8_t* buffer, size_t length) {
    if (buffer == nullptr || length < kHeaderSize || length > kMaxPacketSize || !HasValidHeader(buffer)) {
        return false;
    }
    size_t offset = kHeaderSize;
    while (offset < length) {
        if (length - offset < VexDataItem::kHeaderSize) {
            return false;
        }
        const size_t payload_size = wire::read_le16(buffer + offset + 2);
        offset += VexDataItem::kHeaderSize;
        if (length - offset < payload_size) {
            return false;
        }
        offset += payload_size;
    }
    return true;
}

bool VexPacket::ConvertPacketBuffer(const uint8_t* buffer, uint16_t length) {
    if (!IsValidPacketBuffer(buffer, length)) {
        return false;
    }
    VexDataItemList decoded;
    for (size_t offset = kHeaderSize; offset < length;) {
        auto item = std::make_shared<const VexDataItem>(buffer + offset);
        offset += item->GetSize();
        decoded.push_back(std::move(item));
    }
    AnnotatedMutexLocker lock(&mutex_);
    // Appending to a packet that already holds items must not take it past
    // the 16-bit limit either.
    if (items_size_ + (length - kHeaderSize) + kHeaderSize > kMaxPacketSize) {
        return false;
    }
    serial_number_ = wire::read_le32(buffer + kSerialOffset);
    sequence_.store(wire::read_le32(buffer + kSequenceOffset), std::memory_order_relaxed);
    items_size_ += length - kHeaderSize;
    for (auto& item : decoded) {
        items_.push_back(std::move(item));
    }
    return true;
}

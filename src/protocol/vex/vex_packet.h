#pragma once
// One Vuv datagram: a 20-byte little-endian header ("LC02", sequence,
// "VEX0002" and a zero byte, serial number) followed by the items back to
// back, each as type, size and payload.

#include <QMutex>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>

#include "protocol/vex/vex_data_item.h"

using VexDataItemList = std::deque<std::shared_ptr<const VexDataItem>>;

class VexPacket {
  public:
    static constexpr uint32_t kHeaderSize = 20;
    // The whole encoded packet, header included, is counted in 16 bits.
    static constexpr uint32_t kMaxPacketSize = 0xFFFF;

    explicit VexPacket(uint32_t serial);
    // Copies share the source's items (they are immutable). The source's item
    // queue is read without its mutex: a caller that copies a packet another
    // thread may be adding to keeps the two apart.
    VexPacket(const VexPacket& other);
    VexPacket& operator=(const VexPacket& other);
    ~VexPacket();

    void SetSerialNumber(uint32_t serial) { serial_number_ = serial; }
    uint32_t GetSerialNumber() const { return serial_number_; }
    // The number the packet was last encoded with or decoded from.
    uint32_t GetSequence() const { return sequence_.load(std::memory_order_relaxed); }

    // Both forms refuse an item that would take the packet past 65535 bytes:
    // they return false, print one line and leave the packet as it was (the
    // item handed over by pointer is freed, since the packet owns it).
    bool AddDataItem(VexDataItem* item);
    bool AddDataItem(uint16_t type, uint16_t size, const void* data);
    void ClearDataItems();
    VexDataItemList GetDataItems() const;
    uint32_t GetPacketSize() const;

    // Encodes the packet, stamping `sequence` into it and into the header.
    // Returns a heap array the caller frees with delete[]; its length, taken
    // under the same hold of the packet mutex as the encoding, goes to `size`
    // when given (it equals GetPacketSize() unless another thread adds items).
    uint8_t* CreateBufferWithSequenceNumber(uint32_t sequence, uint16_t* size = nullptr);

    // Magic and protocol tag of a buffer of at least 16 bytes.
    static bool HasValidHeader(const uint8_t* buffer);
    // The whole-datagram check: at least a header, the right magic and tag,
    // and every item's framing and payload inside the datagram with nothing
    // left over.
    static bool IsValidPacketBuffer(const uint8_t* buffer, size_t length);
    // Validates the datagram, then takes serial number and sequence from it
    // and appends its items. A datagram that fails validation changes nothing
    // and gives false, so it is taken whole or not at all.
    bool ConvertPacketBuffer(const uint8_t* buffer, uint16_t length);

  private:
    void _CopyVexPacket(const VexPacket& other);
    bool AppendItem(std::shared_ptr<const VexDataItem> item);

    uint32_t serial_number_;
    // Atomic because a packet published from two threads at once is stamped by both.
    std::atomic<uint32_t> sequence_;
    VexDataItemList items_;
    // Sum of the items' wire sizes, kept so adding an item checks the limit at once.
    uint32_t items_size_;
    // Guards items_ and items_size_; taken by whichever thread adds, clears,
    // sizes or encodes this packet (producers, the receiver thread, publishers).
    mutable QMutex mutex_;
};

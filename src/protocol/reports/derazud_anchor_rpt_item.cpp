#include "protocol/reports/derazud_anchor_rpt_item.h"

#include <cstring>

#include "base/byte_order.h"
#include "protocol/packets/device_protocol.h"

namespace {

constexpr int kHeaderSize = device_protocol::kPacketRfReportItemHeaderSize;
static_assert(kDerAzudAnchorRptItemHeadSize == kHeaderSize + 4, "item header and u32 serial number");

// The payload length the header announces, or -1 when it does not fit.
int PayloadLength(int header_length, int length) {
    if (length < kDerAzudAnchorRptItemHeadSize || header_length < kHeaderSize + 1) {
        return -1;
    }
    const int payload_length = header_length - kHeaderSize;
    if (payload_length > length - kDerAzudAnchorRptItemHeadSize ||
        payload_length > kDerAzudAnchorRptItemPayloadCapacity) {
        return -1;
    }
    return payload_length;
}

}  // namespace

int DerAzudAnchorRptItem_FromBuff(derazud_anchor_rpt_item_t* record, const uint8_t* buffer, int length) {
    if (length < kDerAzudAnchorRptItemHeadSize) {
        return -1;
    }
    rf_packet_report_item_header_t header;
    PacketRfReportItemHeader_FromBuff(buffer, &header);
    const int payload_length = PayloadLength(header.length, length);
    if (payload_length < 0) {
        return -1;
    }
    record->header = header;
    record->serial_number = wire::read_be32(buffer + kHeaderSize);
    std::memcpy(record->payload, buffer + kDerAzudAnchorRptItemHeadSize, static_cast<size_t>(payload_length));
    return kDerAzudAnchorRptItemHeadSize + payload_length;
}

int DerAzudAnchorRptItem_ToBuff(uint8_t* buffer, int length, const derazud_anchor_rpt_item_t* record) {
    const int payload_length = PayloadLength(record->header.length, length);
    if (payload_length < 0) {
        return -1;
    }
    PacketRfReportItemHeader_ToBuff(buffer, &record->header);
    wire::write_be32(buffer + kHeaderSize, record->serial_number);
    std::memcpy(buffer + kDerAzudAnchorRptItemHeadSize, record->payload, static_cast<size_t>(payload_length));
    return kDerAzudAnchorRptItemHeadSize + payload_length;
}

void DerAzudAnchorRptItem_Cleanup(derazud_anchor_rpt_item_t*) {}

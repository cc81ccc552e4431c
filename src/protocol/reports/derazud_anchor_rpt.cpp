#include "protocol/reports/derazud_anchor_rpt.h"

#include <cstring>

#include "base/byte_order.h"
#include "protocol/packets/device_protocol.h"

namespace {

constexpr int kPacketSize = device_protocol::kPacketAnchorReportSize;
static_assert(kDerAzudAnchorRptHeadSize == kPacketSize + 4 + 2,
              "head, u32 serial number, u16 payload length");

bool Fits(int payload_length, int length) {
    return length >= kDerAzudAnchorRptHeadSize && payload_length > 0 &&
           payload_length <= kDerAzudAnchorRptPayloadCapacity &&
           payload_length <= length - kDerAzudAnchorRptHeadSize;
}

}  // namespace

int DerAzudAnchorRpt_FromBuff(derazud_anchor_rpt_t* record, const uint8_t* buffer, int length) {
    if (length < kDerAzudAnchorRptHeadSize) {
        return -1;
    }
    const uint16_t payload_length = wire::read_be16(buffer + kPacketSize + 4);
    if (!Fits(payload_length, length)) {
        return -1;
    }
    PacketAnchorReport_FromBuff(buffer, &record->report);
    record->serial_number = wire::read_be32(buffer + kPacketSize);
    record->payload_length = payload_length;
    std::memcpy(record->payload, buffer + kDerAzudAnchorRptHeadSize, payload_length);
    return kDerAzudAnchorRptHeadSize + payload_length;
}

int DerAzudAnchorRpt_ToBuff(uint8_t* buffer, const derazud_anchor_rpt_t* record, int length) {
    if (!Fits(record->payload_length, length)) {
        return -1;
    }
    PacketAnchorReport_ToBuff(buffer, &record->report);
    wire::write_be32(buffer + kPacketSize, record->serial_number);
    wire::write_be16(buffer + kPacketSize + 4, record->payload_length);
    std::memcpy(buffer + kDerAzudAnchorRptHeadSize, record->payload, record->payload_length);
    return kDerAzudAnchorRptHeadSize + record->payload_length;
}

void DerAzudAnchorRpt_Cleanup(derazud_anchor_rpt_t*) {}

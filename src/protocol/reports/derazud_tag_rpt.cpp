#include "protocol/reports/derazud_tag_rpt.h"

#include <cstring>

#include "base/byte_order.h"
#include "protocol/packets/device_protocol.h"

namespace {

constexpr int kPacketSize = device_protocol::kPacketRtlsTagReportSize;
static_assert(kDerAzudTagRptHeadSize == kPacketSize + 4, "head and u32 serial number");

bool Fits(int payload_length, int length) {
    return length >= kDerAzudTagRptHeadSize && payload_length <= kDerAzudTagRptPayloadCapacity &&
           payload_length <= length - kDerAzudTagRptHeadSize;
}

}  // namespace

int DerAzudTagRpt_FromBuff(derazud_tag_rpt_t* record, const uint8_t* buffer, int length) {
    if (length < kDerAzudTagRptHeadSize) {
        return -1;
    }
    packet_rtls_tag_report_t report;
    PacketRtlsTagReport_FromBuff(buffer, &report);
    if (!Fits(report.payload_length, length)) {
        return -1;
    }
    record->report = report;
    record->serial_number = wire::read_be32(buffer + kPacketSize);
    std::memcpy(record->payload, buffer + kDerAzudTagRptHeadSize, report.payload_length);
    return kDerAzudTagRptHeadSize + report.payload_length;
}

int DerAzudTagRpt_ToBuff(uint8_t* buffer, int length, const derazud_tag_rpt_t* record) {
    const int payload_length = record->report.payload_length;
    if (!Fits(payload_length, length)) {
        return -1;
    }
    PacketRtlsTagReport_ToBuff(buffer, &record->report);
    wire::write_be32(buffer + kPacketSize, record->serial_number);
    std::memcpy(buffer + kDerAzudTagRptHeadSize, record->payload, static_cast<size_t>(payload_length));
    return kDerAzudTagRptHeadSize + payload_length;
}

void DerAzudTagRpt_Cleanup(derazud_tag_rpt_t*) {}

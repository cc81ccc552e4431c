#include "protocol/reports/derazud_compact_anchor_item.h"

#include "protocol/packets/device_protocol.h"

int DerAzudCompactAnchorItem_FromDerAzudAnchorRptItem(derazud_compact_anchor_item_t* compact,
                                                      const derazud_anchor_rpt_item_t* item) {
    constexpr int kBodySize = device_protocol::kPacketRfReportItemAnchorCompactSize;
    if (static_cast<int>(item->header.length) - device_protocol::kPacketRfReportItemHeaderSize < kBodySize) {
        return -1;
    }
    compact->header = item->header;
    compact->serial_number = item->serial_number;
    return PacketRfReportItemAnchorCompact_FromBuff(item->payload, &compact->compact);
}

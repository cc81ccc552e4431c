#pragma once
// A compact anchor report item taken apart: the item's header and serial
// number with the compact body decoded from its payload.

#include <cstdint>

#include "protocol/reports/derazud_anchor_rpt_item.h"
#include "protocol/packets/rf_report_item_anchor_compact_packet.h"
#include "protocol/packets/rf_report_item_header_packet.h"

struct derazud_compact_anchor_item_t {
    rf_packet_report_item_header_t header;
    uint32_t serial_number;
    rf_packet_report_item_anchor_compact_t compact;
};

// Returns 10, the bytes of payload decoded; -1 when the item's header does
// not announce at least 10 payload bytes (the rest of the array would be
// stale bytes of an earlier item).
int DerAzudCompactAnchorItem_FromDerAzudAnchorRptItem(derazud_compact_anchor_item_t* compact,
                                                      const derazud_anchor_rpt_item_t* item);

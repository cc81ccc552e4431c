#pragma once
// An anchor report with the details of its reception by the link's device.

#include <cstdint>

#include "protocol/reports/derazud_anchor_rpt.h"
#include "protocol/packets/signal_strength.h"

constexpr int kDerAzudUsbAnchorRptReceptionSize = 21;

struct derazud_usb_anchor_rpt_t {
    derazud_anchor_rpt_t anchor_rpt;
    uint64_t receive_time;  // 40-bit device time
    signal_strength_t signal_strength;
    uint32_t network_time;
};

// Both return the anchor report's size + 21, or -1 when the anchor report is
// refused or fewer than 21 bytes are left after it.
int DerAzudUsbAnchorRpt_FromBuff(derazud_usb_anchor_rpt_t* record, const uint8_t* buffer, int length);
int DerAzudUsbAnchorRpt_ToBuff(uint8_t* buffer, const derazud_usb_anchor_rpt_t* record, int length);
void DerAzudUsbAnchorRpt_Cleanup(derazud_usb_anchor_rpt_t* record);

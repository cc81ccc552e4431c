#pragma once
// A tag report with the details of its reception by the link's device.

#include <cstdint>

#include "protocol/reports/derazud_tag_rpt.h"
#include "protocol/packets/signal_strength.h"

// 40-bit time, three skipped bytes, six u16, u32.
constexpr int kDerAzudUsbTagRptReceptionSize = 24;

struct derazud_usb_tag_rpt_t {
    derazud_tag_rpt_t tag_rpt;
    uint64_t receive_time;  // 40-bit device time
    signal_strength_t signal_strength;
    uint32_t network_time;
};

// Both return the tag report's size + 24, or -1 when the tag report is
// refused or fewer than 24 bytes are left after it. The three bytes after the
// receive time are neither read nor written.
int DerAzudUsbTagRpt_FromBuff(derazud_usb_tag_rpt_t* record, const uint8_t* buffer, int length);
int DerAzudUsbTagRpt_ToBuff(uint8_t* buffer, int length, const derazud_usb_tag_rpt_t* record);
void DerAzudUsbTagRpt_Cleanup(derazud_usb_tag_rpt_t* record);

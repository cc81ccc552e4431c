#pragma once
// The two-way-ranging snoop tag report has the layout of the link's anchor
// report; its codecs forward to those, and DerAzudUsbAnchorRpt_Cleanup serves.

#include <cstdint>

#include "protocol/reports/derazud_usb_anchor_rpt.h"

using derazud_atwr_snoop_tag_rpt_t = derazud_usb_anchor_rpt_t;

int DerazudAtwrSnoopTagRpt_FromBuff(derazud_atwr_snoop_tag_rpt_t* record, const uint8_t* buffer, int length);
int DerazudAtwrSnoopTagRpt_ToBuff(uint8_t* buffer, const derazud_atwr_snoop_tag_rpt_t* record, int length);

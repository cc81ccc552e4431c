#pragma once
// Device command 0x1A: the size of an anchor report in bytes.

#include <cstdint>

struct cmd_set_anchor_report_size_t {
    uint8_t type;  // 0x1A
    uint8_t len;   // 4
    uint16_t report_size;
};

int CmdSetAnchorReportSize_FromBuff(const uint8_t* buffer, cmd_set_anchor_report_size_t* record);
int CmdSetAnchorReportSize_ToBuff(uint8_t* buffer, const cmd_set_anchor_report_size_t* record);
int CmdSetAnchorReportSize_Size();

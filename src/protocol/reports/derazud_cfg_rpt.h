#pragma once
// The whole configuration report: a head, then the serial, backlink,
// location engine and network configuration reports.

#include <cstdint>

#include "protocol/reports/derazud_cfg_backlink_rpt.h"
#include "protocol/reports/derazud_cfg_dpu_rpt.h"
#include "protocol/reports/derazud_cfg_network_rpt.h"
#include "protocol/reports/derazud_cfg_serial_rpt.h"

struct derazud_cfg_rpt_t {
    uint64_t creation_time;
    uint16_t version;
    uint8_t flags;
    uint8_t mode;
    derazud_cfg_serial_rpt_t serial;
    derazud_cfg_backlink_rpt_t backlink;
    derazud_cfg_dpu_rpt_t dpu;
    derazud_cfg_network_rpt_t network;
};

constexpr int kDerAzudCfgRptHeadSize = 12;

// Returns the bytes read; -1 when any part would run past length; 0 when
// memory runs out. On -1 and 0 every heap part is freed and the texts and
// the node array are null. Decode into a clean or cleaned record.
int DerAzudCfgRpt_FromBuff(derazud_cfg_rpt_t* record, const uint8_t* buffer, int length);
// The buffer must hold DerAzudCfgRpt_EncodedSize(record) bytes.
int DerAzudCfgRpt_ToBuff(uint8_t* buffer, const derazud_cfg_rpt_t* record);
int DerAzudCfgRpt_EncodedSize(const derazud_cfg_rpt_t* record);
// Frees the texts of the serial and backlink parts and the node array.
void DerAzudCfgRpt_Cleanup(derazud_cfg_rpt_t* record);

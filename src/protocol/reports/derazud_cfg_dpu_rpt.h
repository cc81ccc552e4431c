#pragma once
// Configuration report of the location engine: five flag bytes and six u32
// settings.

#include <cstdint>

constexpr int kDerAzudCfgDpuFlagCount = 5;
constexpr int kDerAzudCfgDpuValueCount = 6;
constexpr int kDerAzudCfgDpuRptSize = 29;

struct derazud_cfg_dpu_rpt_t {
    uint8_t flags[kDerAzudCfgDpuFlagCount];
    uint32_t values[kDerAzudCfgDpuValueCount];
};

// Fixed size: the caller guarantees 29 bytes. Both return 29.
int DerAzudCfgDpuRpt_FromBuff(derazud_cfg_dpu_rpt_t* record, const uint8_t* buffer);
int DerAzudCfgDpuRpt_ToBuff(uint8_t* buffer, const derazud_cfg_dpu_rpt_t* record);
void DerAzudCfgDpuRpt_Cleanup(derazud_cfg_dpu_rpt_t* record);

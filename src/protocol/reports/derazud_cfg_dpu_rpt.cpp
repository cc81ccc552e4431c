#include "protocol/reports/derazud_cfg_dpu_rpt.h"

#include <cstring>

#include "base/byte_order.h"

static_assert(kDerAzudCfgDpuFlagCount + 4 * kDerAzudCfgDpuValueCount == kDerAzudCfgDpuRptSize,
              "five bytes and six u32");

int DerAzudCfgDpuRpt_FromBuff(derazud_cfg_dpu_rpt_t* record, const uint8_t* buffer) {
    std::memcpy(record->flags, buffer, kDerAzudCfgDpuFlagCount);
    for (int i = 0; i < kDerAzudCfgDpuValueCount; ++i) {
        record->values[i] = wire::read_be32(buffer + kDerAzudCfgDpuFlagCount + 4 * i);
    }
    return kDerAzudCfgDpuRptSize;
}

int DerAzudCfgDpuRpt_ToBuff(uint8_t* buffer, const derazud_cfg_dpu_rpt_t* record) {
    std::memcpy(buffer, record->flags, kDerAzudCfgDpuFlagCount);
    for (int i = 0; i < kDerAzudCfgDpuValueCount; ++i) {
        wire::write_be32(buffer + kDerAzudCfgDpuFlagCount + 4 * i, record->values[i]);
    }
    return kDerAzudCfgDpuRptSize;
}

void DerAzudCfgDpuRpt_Cleanup(derazud_cfg_dpu_rpt_t*) {}

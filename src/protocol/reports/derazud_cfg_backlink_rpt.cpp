#include "protocol/reports/derazud_cfg_backlink_rpt.h"

#include <cstring>

#include "protocol/reports/derazud_codec.h"

int DerAzudCfgBacklinkRpt_FromBuff(derazud_cfg_backlink_rpt_t* record, const uint8_t* buffer, int length) {
    const int text = derazud_codec::ReadText(buffer, length, &record->interface_name);
    if (text < 0) {
        return text == derazud_codec::kNoMemory ? 0 : -1;
    }
    if (length - text < kDerAzudCfgBacklinkValueCount) {
        derazud_codec::FreeText(&record->interface_name);
        return -1;
    }
    std::memcpy(record->values, buffer + text, kDerAzudCfgBacklinkValueCount);
    return text + kDerAzudCfgBacklinkValueCount;
}

int DerAzudCfgBacklinkRpt_ToBuff(uint8_t* buffer, const derazud_cfg_backlink_rpt_t* record) {
    const int text = derazud_codec::WriteText(buffer, record->interface_name);
    std::memcpy(buffer + text, record->values, kDerAzudCfgBacklinkValueCount);
    return text + kDerAzudCfgBacklinkValueCount;
}

int DerAzudCfgBacklinkRpt_EncodedSize(const derazud_cfg_backlink_rpt_t* record) {
    return derazud_codec::TextSize(record->interface_name) + kDerAzudCfgBacklinkValueCount;
}

void DerAzudCfgBacklinkRpt_Cleanup(derazud_cfg_backlink_rpt_t* record) {
    derazud_codec::FreeText(&record->interface_name);
}

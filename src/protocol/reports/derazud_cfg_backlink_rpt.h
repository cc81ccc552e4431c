#pragma once
// Configuration report of the backlink: an interface text and seven bytes of
// settings.

#include <cstdint>

constexpr int kDerAzudCfgBacklinkValueCount = 7;

struct derazud_cfg_backlink_rpt_t {
    char* interface_name;  // heap text, owned
    uint8_t values[kDerAzudCfgBacklinkValueCount];
};

// Returns the bytes read (strlen + 11); -1 when the text has no zero with its
// three trailing bytes inside length or the seven bytes would run past it; 0
// when memory runs out. On -1 and 0 the text is null. Decode into a clean or
// cleaned record.
int DerAzudCfgBacklinkRpt_FromBuff(derazud_cfg_backlink_rpt_t* record, const uint8_t* buffer, int length);
// The buffer must hold DerAzudCfgBacklinkRpt_EncodedSize(record) bytes; the
// three bytes after the text's zero are left as they are.
int DerAzudCfgBacklinkRpt_ToBuff(uint8_t* buffer, const derazud_cfg_backlink_rpt_t* record);
int DerAzudCfgBacklinkRpt_EncodedSize(const derazud_cfg_backlink_rpt_t* record);
void DerAzudCfgBacklinkRpt_Cleanup(derazud_cfg_backlink_rpt_t* record);

#include "protocol/reports/derazud_atwr_snoop_tag_rpt.h"

int DerazudAtwrSnoopTagRpt_FromBuff(derazud_atwr_snoop_tag_rpt_t* record, const uint8_t* buffer, int length) {
    return DerAzudUsbAnchorRpt_FromBuff(record, buffer, length);
}

int DerazudAtwrSnoopTagRpt_ToBuff(uint8_t* buffer, const derazud_atwr_snoop_tag_rpt_t* record, int length) {
    return DerAzudUsbAnchorRpt_ToBuff(buffer, record, length);
}

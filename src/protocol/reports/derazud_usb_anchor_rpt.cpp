#include "protocol/reports/derazud_usb_anchor_rpt.h"

#include "protocol/reports/derazud_codec.h"

static_assert(kDerAzudUsbAnchorRptReceptionSize == 21, "40-bit time, six u16, u32");

int DerAzudUsbAnchorRpt_FromBuff(derazud_usb_anchor_rpt_t* record, const uint8_t* buffer, int length) {
    const int report = DerAzudAnchorRpt_FromBuff(&record->anchor_rpt, buffer, length);
    if (report < 0 || length - report < derazud_codec::ReceptionSize(0)) {
        return -1;
    }
    return report + derazud_codec::ReadReception(buffer + report, 0, &record->receive_time,
                                                 &record->signal_strength, &record->network_time);
}

int DerAzudUsbAnchorRpt_ToBuff(uint8_t* buffer, const derazud_usb_anchor_rpt_t* record, int length) {
    // Checked before anything is written, so a refused call leaves the buffer alone.
    const int payload_length = record->anchor_rpt.payload_length;
    if (length - kDerAzudAnchorRptHeadSize - payload_length < derazud_codec::ReceptionSize(0)) {
        return -1;
    }
    const int report = DerAzudAnchorRpt_ToBuff(buffer, &record->anchor_rpt, length);
    if (report < 0) {
        return -1;
    }
    return report + derazud_codec::WriteReception(buffer + report, 0, record->receive_time,
                                                  &record->signal_strength, record->network_time);
}

void DerAzudUsbAnchorRpt_Cleanup(derazud_usb_anchor_rpt_t* record) {
    DerAzudAnchorRpt_Cleanup(&record->anchor_rpt);
}

#include "protocol/reports/derazud_usb_tag_rpt.h"

#include "protocol/reports/derazud_codec.h"

namespace {

constexpr int kSkipped = 3;
static_assert(kDerAzudUsbTagRptReceptionSize == 5 + kSkipped + 12 + 4, "reception layout");

}  // namespace

int DerAzudUsbTagRpt_FromBuff(derazud_usb_tag_rpt_t* record, const uint8_t* buffer, int length) {
    const int report = DerAzudTagRpt_FromBuff(&record->tag_rpt, buffer, length);
    if (report < 0 || length - report < kDerAzudUsbTagRptReceptionSize) {
        return -1;
    }
    return report + derazud_codec::ReadReception(buffer + report, kSkipped, &record->receive_time,
                                                 &record->signal_strength, &record->network_time);
}

int DerAzudUsbTagRpt_ToBuff(uint8_t* buffer, int length, const derazud_usb_tag_rpt_t* record) {
    // Checked before anything is written, so a refused call leaves the buffer alone.
    const int payload_length = record->tag_rpt.report.payload_length;
    if (length - kDerAzudTagRptHeadSize - payload_length < kDerAzudUsbTagRptReceptionSize) {
        return -1;
    }
    const int report = DerAzudTagRpt_ToBuff(buffer, length, &record->tag_rpt);
    if (report < 0) {
        return -1;
    }
    return report + derazud_codec::WriteReception(buffer + report, kSkipped, record->receive_time,
                                                  &record->signal_strength, record->network_time);
}

void DerAzudUsbTagRpt_Cleanup(derazud_usb_tag_rpt_t* record) {
    DerAzudTagRpt_Cleanup(&record->tag_rpt);
}

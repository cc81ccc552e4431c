#include "protocol/reports/derazud_usb_time_transfer.h"

#include "protocol/reports/derazud_codec.h"

namespace {

constexpr int kSkipped = 3;
static_assert(kDerAzudUsbTimeTransferSize == kDerAzudTimeTransferSize + 5 + kSkipped + 12 + 4, "layout");

}  // namespace

int DerAzudUsbTimeTransfer_FromBuff(derazud_usb_time_transfer_t* record, const uint8_t* buffer) {
    const int head = DerAzudTimeTransfer_FromBuff(&record->time_transfer, buffer);
    return head + derazud_codec::ReadReception(buffer + head, kSkipped, &record->receive_time,
                                               &record->signal_strength, &record->network_time);
}

int DerAzudUsbTimeTransfer_ToBuff(uint8_t* buffer, const derazud_usb_time_transfer_t* record) {
    const int head = DerAzudTimeTransfer_ToBuff(buffer, &record->time_transfer);
    return head + derazud_codec::WriteReception(buffer + head, kSkipped, record->receive_time,
                                                &record->signal_strength, record->network_time);
}

void DerAzudUsbTimeTransfer_Cleanup(derazud_usb_time_transfer_t*) {}

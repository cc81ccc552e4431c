#pragma once
// A time transfer with the details of its reception by the link's device.

#include <cstdint>

#include "protocol/reports/derazud_time_transfer.h"
#include "protocol/packets/signal_strength.h"

constexpr int kDerAzudUsbTimeTransferSize = 35;

struct derazud_usb_time_transfer_t {
    derazud_time_transfer_t time_transfer;
    uint64_t receive_time;  // 40-bit device time
    signal_strength_t signal_strength;
    uint32_t network_time;
};

// Fixed size: the caller guarantees 35 bytes. Both return 35. The three
// bytes after the receive time are neither read nor written.
int DerAzudUsbTimeTransfer_FromBuff(derazud_usb_time_transfer_t* record, const uint8_t* buffer);
int DerAzudUsbTimeTransfer_ToBuff(uint8_t* buffer, const derazud_usb_time_transfer_t* record);
void DerAzudUsbTimeTransfer_Cleanup(derazud_usb_time_transfer_t* record);

#pragma once
// A time transfer: the location tag report head (with no payload after it)
// and a u32.

#include <cstdint>

#include "protocol/packets/rtls_tag_report_packet.h"

constexpr int kDerAzudTimeTransferSize = 11;

struct derazud_time_transfer_t {
    packet_rtls_tag_report_t report;
    uint32_t serial_number;
};

// Fixed size: the caller guarantees 11 bytes. Both return 11.
int DerAzudTimeTransfer_FromBuff(derazud_time_transfer_t* record, const uint8_t* buffer);
int DerAzudTimeTransfer_ToBuff(uint8_t* buffer, const derazud_time_transfer_t* record);
void DerAzudTimeTransfer_Cleanup(derazud_time_transfer_t* record);

#include "protocol/packets/signal_strength_packet.h"

#include "base/byte_order.h"
#include "protocol/packets/device_protocol.h"

int SignalStrength_FromBuff(const uint8_t* buffer, signal_strength_t* record) {
    record->first_path_amplitude_1 = wire::read_be16(buffer);
    record->first_path_amplitude_2 = wire::read_be16(buffer + 2);
    record->first_path_amplitude_3 = wire::read_be16(buffer + 4);
    record->preamble_accumulation_count = wire::read_be16(buffer + 6);
    record->channel_impulse_response_power = wire::read_be16(buffer + 8);
    record->reserved = wire::read_be16(buffer + 10);
    return device_protocol::kSignalStrengthSize;
}

int SignalStrength_ToBuff(uint8_t* buffer, const signal_strength_t* record) {
    wire::write_be16(buffer, record->first_path_amplitude_1);
    wire::write_be16(buffer + 2, record->first_path_amplitude_2);
    wire::write_be16(buffer + 4, record->first_path_amplitude_3);
    wire::write_be16(buffer + 6, record->preamble_accumulation_count);
    wire::write_be16(buffer + 8, record->channel_impulse_response_power);
    wire::write_be16(buffer + 10, record->reserved);
    return device_protocol::kSignalStrengthSize;
}

int SignalStrength_Size() {
    return device_protocol::kSignalStrengthSize;
}

#include "protocol/packets/rx_passthrough_data_packet.h"

#include "base/byte_order.h"
#include "protocol/packets/device_protocol.h"
#include "protocol/packets/signal_strength_packet.h"

int SspCmdSetRxPassthrough_Data_FromBuff(const uint8_t* buffer, ssp_cmd_set_rx_passthrough_data_t* record) {
    record->type = buffer[0];
    record->byte_1 = buffer[1];
    record->receive_time = wire::read_be40(buffer + 2);
    SignalStrength_FromBuff(buffer + 7, &record->signal_strength);
    record->rf_packet_length = wire::read_be16(buffer + 19);
    return device_protocol::kSspCmdSetRxPassthroughDataSize;
}

int SspCmdSetRxPassthrough_Data_ToBuff(uint8_t* buffer, const ssp_cmd_set_rx_passthrough_data_t* record) {
    buffer[0] = record->type;
    buffer[1] = record->byte_1;
    wire::write_be40(buffer + 2, record->receive_time);
    SignalStrength_ToBuff(buffer + 7, &record->signal_strength);
    wire::write_be16(buffer + 19, record->rf_packet_length);
    return device_protocol::kSspCmdSetRxPassthroughDataSize;
}

int SspCmdSetRxPassthrough_Data_Size() {
    return device_protocol::kSspCmdSetRxPassthroughDataSize;
}

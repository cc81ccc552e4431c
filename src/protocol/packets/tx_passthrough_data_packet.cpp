#include "protocol/packets/tx_passthrough_data_packet.h"

#include "base/byte_order.h"
#include "protocol/packets/device_protocol.h"

int SspCmdSetTxPassthrough_Data_FromBuff(const uint8_t* buffer, ssp_cmd_set_tx_passthrough_data_t* record) {
    record->type = buffer[0];
    record->byte_1 = buffer[1];
    record->rf_packet_length = wire::read_be16(buffer + 2);
    return device_protocol::kSspCmdSetTxPassthroughDataSize;
}

int SspCmdSetTxPassthrough_Data_ToBuff(uint8_t* buffer, const ssp_cmd_set_tx_passthrough_data_t* record) {
    buffer[0] = record->type;
    buffer[1] = record->byte_1;
    wire::write_be16(buffer + 2, record->rf_packet_length);
    return device_protocol::kSspCmdSetTxPassthroughDataSize;
}

int SspCmdSetTxPassthrough_Data_Size() {
    return device_protocol::kSspCmdSetTxPassthroughDataSize;
}

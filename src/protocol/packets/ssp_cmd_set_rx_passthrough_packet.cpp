#include "protocol/packets/ssp_cmd_set_rx_passthrough_packet.h"

#include "protocol/packets/device_protocol.h"

int SspCmdSetRxPassthrough_FromBuff(const uint8_t* buffer, ssp_cmd_set_rx_passthrough_t* record) {
    record->type = buffer[0];
    record->sub_id = buffer[1];
    record->enable = buffer[2];
    return device_protocol::kSspCmdSetRxPassthroughSize;
}

int SspCmdSetRxPassthrough_ToBuff(uint8_t* buffer, const ssp_cmd_set_rx_passthrough_t* record) {
    buffer[0] = record->type;
    buffer[1] = record->sub_id;
    buffer[2] = record->enable;
    return device_protocol::kSspCmdSetRxPassthroughSize;
}

int SspCmdSetRxPassthrough_Size() {
    return device_protocol::kSspCmdSetRxPassthroughSize;
}

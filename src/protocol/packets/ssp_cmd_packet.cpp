#include "protocol/packets/ssp_cmd_packet.h"

#include "protocol/packets/device_protocol.h"

int SspCmd_FromBuff(const uint8_t* buffer, ssp_cmd_t* record) {
    record->type = buffer[0];
    record->sub_id = buffer[1];
    return device_protocol::kSspCmdSize;
}

int SspCmd_ToBuff(uint8_t* buffer, const ssp_cmd_t* record) {
    buffer[0] = record->type;
    buffer[1] = record->sub_id;
    return device_protocol::kSspCmdSize;
}

int SspCmd_Size() {
    return device_protocol::kSspCmdSize;
}

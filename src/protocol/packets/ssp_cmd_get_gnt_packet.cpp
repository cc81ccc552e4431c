#include "protocol/packets/ssp_cmd_get_gnt_packet.h"

#include "base/byte_order.h"
#include "protocol/packets/device_protocol.h"

int SspCmdGetGnt_FromBuff(const uint8_t* buffer, ssp_cmd_get_gnt_t* record) {
    record->type = buffer[0];
    record->sub_id = buffer[1];
    record->network_time = wire::read_be32(buffer + 2);
    return device_protocol::kSspCmdGetGntSize;
}

int SspCmdGetGnt_ToBuff(uint8_t* buffer, const ssp_cmd_get_gnt_t* record) {
    buffer[0] = record->type;
    buffer[1] = record->sub_id;
    wire::write_be32(buffer + 2, record->network_time);
    return device_protocol::kSspCmdGetGntSize;
}

int SspCmdGetGnt_Size() {
    return device_protocol::kSspCmdGetGntSize;
}

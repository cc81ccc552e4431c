#include "protocol/packets/announce_request_packet.h"

#include "base/byte_order.h"
#include "protocol/packets/device_protocol.h"

int CmdAnnounceRequest_FromBuff(const uint8_t* buffer, cmd_announce_request_t* record) {
    record->type = buffer[0];
    record->byte_1 = buffer[1];
    record->byte_2 = buffer[2];
    record->field_3 = wire::read_be32(buffer + 3);
    return device_protocol::kCmdAnnounceRequestSize;
}

int CmdAnnounceRequest_ToBuff(uint8_t* buffer, const cmd_announce_request_t* record) {
    buffer[0] = record->type;
    buffer[1] = record->byte_1;
    buffer[2] = record->byte_2;
    wire::write_be32(buffer + 3, record->field_3);
    return device_protocol::kCmdAnnounceRequestSize;
}

int CmdAnnounceRequest_Size() {
    return device_protocol::kCmdAnnounceRequestSize;
}

#include "protocol/packets/announce_response_packet.h"

#include "base/byte_order.h"
#include "protocol/packets/device_protocol.h"

int PacketAnnounceResponse_FromBuff(const uint8_t* buffer, packet_announce_response_t* record) {
    record->type = buffer[0];
    record->serial_number = wire::read_be32(buffer + 1);
    return device_protocol::kPacketAnnounceResponseSize;
}

int PacketAnnounceResponse_ToBuff(uint8_t* buffer, const packet_announce_response_t* record) {
    buffer[0] = record->type;
    wire::write_be32(buffer + 1, record->serial_number);
    return device_protocol::kPacketAnnounceResponseSize;
}

int PacketAnnounceResponse_Size() {
    return device_protocol::kPacketAnnounceResponseSize;
}

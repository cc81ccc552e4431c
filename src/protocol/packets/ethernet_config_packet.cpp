#include "protocol/packets/ethernet_config_packet.h"

#include "base/byte_order.h"
#include "protocol/packets/device_protocol.h"

int EthernetConfigPacket_FromBuff(const uint8_t* buffer, ethernet_config_packet_t* record) {
    record->type = buffer[0];
    record->ipv4_address = wire::read_be32(buffer + 1);
    record->port = wire::read_be16(buffer + 5);
    record->byte_7 = buffer[7];
    return device_protocol::kEthernetConfigPacketSize;
}

int EthernetConfigPacket_ToBuff(uint8_t* buffer, const ethernet_config_packet_t* record) {
    buffer[0] = record->type;
    wire::write_be32(buffer + 1, record->ipv4_address);
    wire::write_be16(buffer + 5, record->port);
    buffer[7] = record->byte_7;
    return device_protocol::kEthernetConfigPacketSize;
}

int EthernetConfigPacket_Size() {
    return device_protocol::kEthernetConfigPacketSize;
}

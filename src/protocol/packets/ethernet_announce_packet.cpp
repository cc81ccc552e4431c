#include "protocol/packets/ethernet_announce_packet.h"

#include "base/byte_order.h"
#include "protocol/packets/device_protocol.h"

int EthernetAnnouncePacket_FromBuff(const uint8_t* buffer, ethernet_announce_t* record) {
    record->type = buffer[0];
    record->serial_number = wire::read_be32(buffer + 1);
    record->host_ipv4_address = wire::read_be32(buffer + 5);
    record->host_port = wire::read_be16(buffer + 9);
    record->vlan_id = buffer[11];
    return device_protocol::kEthernetAnnouncePacketSize;
}

int EthernetAnnouncePacket_ToBuff(uint8_t* buffer, const ethernet_announce_t* record) {
    buffer[0] = record->type;
    wire::write_be32(buffer + 1, record->serial_number);
    wire::write_be32(buffer + 5, record->host_ipv4_address);
    wire::write_be16(buffer + 9, record->host_port);
    buffer[11] = record->vlan_id;
    return device_protocol::kEthernetAnnouncePacketSize;
}

int EthernetAnnouncePacket_Size() {
    return device_protocol::kEthernetAnnouncePacketSize;
}

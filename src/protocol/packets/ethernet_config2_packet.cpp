#include "protocol/packets/ethernet_config2_packet.h"

#include "base/byte_order.h"
#include "protocol/packets/device_protocol.h"

int EthernetConfigPacket2_FromBuff(const uint8_t* buffer, ethernet_config_packet2_t* record) {
    record->type = buffer[0];
    record->version = buffer[1];
    record->host_ipv4_address = wire::read_be32(buffer + 2);
    record->host_port = wire::read_be16(buffer + 6);
    record->vlan_id = buffer[8];
    return device_protocol::kEthernetConfigPacket2Size;
}

int EthernetConfigPacket2_ToBuff(uint8_t* buffer, const ethernet_config_packet2_t* record) {
    buffer[0] = record->type;
    buffer[1] = record->version;
    wire::write_be32(buffer + 2, record->host_ipv4_address);
    wire::write_be16(buffer + 6, record->host_port);
    buffer[8] = record->vlan_id;
    return device_protocol::kEthernetConfigPacket2Size;
}

int EthernetConfigPacket2_Size() {
    return device_protocol::kEthernetConfigPacket2Size;
}

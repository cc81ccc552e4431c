#include "protocol/packets/set_collector_packets_packet.h"

int CmdSetCollectorPackets_FromBuff(const uint8_t* buffer, cmd_set_collector_packets_t* record) {
    return CmdSelectDeviceAddr_FromBuff(buffer, record);
}

int CmdSetCollectorPackets_ToBuff(uint8_t* buffer, const cmd_set_collector_packets_t* record) {
    return CmdSelectDeviceAddr_ToBuff(buffer, record);
}

int CmdSetCollectorPackets_Size() {
    return CmdSelectDeviceAddr_Size();
}

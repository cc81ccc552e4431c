#include "protocol/packets/ssp_cmd_stop_sync_packet.h"

int SspCmdStopSync_FromBuff(const uint8_t* buffer, ssp_cmd_stop_sync_t* record) {
    return SspCmd_FromBuff(buffer, record);
}

int SspCmdStopSync_ToBuff(uint8_t* buffer, const ssp_cmd_stop_sync_t* record) {
    return SspCmd_ToBuff(buffer, record);
}

int SspCmdStopSync_Size() {
    return SspCmd_Size();
}

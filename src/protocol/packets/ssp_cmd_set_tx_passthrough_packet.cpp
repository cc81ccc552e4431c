#include "protocol/packets/ssp_cmd_set_tx_passthrough_packet.h"

int SspCmdSetTxPassthrough_FromBuff(const uint8_t* buffer, ssp_cmd_set_tx_passthrough_t* record) {
    return SspCmdSetRxPassthrough_FromBuff(buffer, record);
}

int SspCmdSetTxPassthrough_ToBuff(uint8_t* buffer, const ssp_cmd_set_tx_passthrough_t* record) {
    return SspCmdSetRxPassthrough_ToBuff(buffer, record);
}

int SspCmdSetTxPassthrough_Size() {
    return SspCmdSetRxPassthrough_Size();
}

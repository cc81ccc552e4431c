#include "protocol/packets/set_anchor_report_size_packet.h"

#include "base/byte_order.h"
#include "protocol/packets/device_protocol.h"

int CmdSetAnchorReportSize_FromBuff(const uint8_t* buffer, cmd_set_anchor_report_size_t* record) {
    record->type = buffer[0];
    record->len = buffer[1];
    record->report_size = wire::read_be16(buffer + 2);
    return device_protocol::kCmdSetAnchorReportSizeSize;
}

int CmdSetAnchorReportSize_ToBuff(uint8_t* buffer, const cmd_set_anchor_report_size_t* record) {
    buffer[0] = record->type;
    buffer[1] = record->len;
    wire::write_be16(buffer + 2, record->report_size);
    return device_protocol::kCmdSetAnchorReportSizeSize;
}

int CmdSetAnchorReportSize_Size() {
    return device_protocol::kCmdSetAnchorReportSizeSize;
}

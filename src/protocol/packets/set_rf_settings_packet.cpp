#include "protocol/packets/set_rf_settings_packet.h"

#include "base/byte_order.h"
#include "protocol/packets/device_protocol.h"

int CmdSetRfSettings_FromBuff(const uint8_t* buffer, cmd_set_rf_settings_t* record) {
    record->type = buffer[0];
    record->len = buffer[1];
    record->execution_time = wire::read_be32(buffer + 2);
    record->timed_flag = buffer[6];
    record->channel_number = buffer[7];
    record->prf_flag = buffer[8];
    record->preamble_length_code = buffer[9];
    record->second_preamble_code = buffer[10];
    record->transmit_preamble_code = buffer[11];
    record->receive_preamble_code = buffer[12];
    record->setting_byte_7 = buffer[13];
    record->bit_rate_code = buffer[14];
    record->setting_byte_9 = buffer[15];
    record->transmit_power_code = wire::read_be32(buffer + 16);
    return device_protocol::kCmdSetRfSettingsSize;
}

int CmdSetRfSettings_ToBuff(uint8_t* buffer, const cmd_set_rf_settings_t* record) {
    buffer[0] = record->type;
    buffer[1] = record->len;
    wire::write_be32(buffer + 2, record->execution_time);
    buffer[6] = record->timed_flag;
    buffer[7] = record->channel_number;
    buffer[8] = record->prf_flag;
    buffer[9] = record->preamble_length_code;
    buffer[10] = record->second_preamble_code;
    buffer[11] = record->transmit_preamble_code;
    buffer[12] = record->receive_preamble_code;
    buffer[13] = record->setting_byte_7;
    buffer[14] = record->bit_rate_code;
    buffer[15] = record->setting_byte_9;
    wire::write_be32(buffer + 16, record->transmit_power_code);
    return device_protocol::kCmdSetRfSettingsSize;
}

int CmdSetRfSettings_Size() {
    return device_protocol::kCmdSetRfSettingsSize;
}

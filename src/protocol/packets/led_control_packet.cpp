#include "protocol/packets/led_control_packet.h"

#include "base/byte_order.h"
#include "protocol/packets/device_protocol.h"

int CmdLedControl_FromBuff(const uint8_t* buffer, cmd_led_control_t* record) {
    record->type = buffer[0];
    record->len = buffer[1];
    record->execution_time = wire::read_be32(buffer + 2);
    record->duration = wire::read_be32(buffer + 6);
    record->led_operation = buffer[10];
    return device_protocol::kCmdLedControlSize;
}

int CmdLedControl_ToBuff(uint8_t* buffer, const cmd_led_control_t* record) {
    buffer[0] = record->type;
    buffer[1] = record->len;
    wire::write_be32(buffer + 2, record->execution_time);
    wire::write_be32(buffer + 6, record->duration);
    buffer[10] = record->led_operation;
    return device_protocol::kCmdLedControlSize;
}

int CmdLedControl_Size() {
    return device_protocol::kCmdLedControlSize;
}

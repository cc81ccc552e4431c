#include "protocol/packets/sensor_data_bar_packet.h"

#include "base/byte_order.h"
#include "protocol/packets/device_protocol.h"

int SensorDataBar_FromBuff(const uint8_t* buffer, sensor_data_bar_t* record) {
    const int offset = SensorDataHeader_FromBuff(buffer, &record->header);
    record->partial_time = wire::read_be16(buffer + offset);
    record->pressure = wire::read_be32(buffer + offset + 2);
    return offset + 6;
}

int SensorDataBar_ToBuff(uint8_t* buffer, const sensor_data_bar_t* record) {
    const int offset = SensorDataHeader_ToBuff(buffer, &record->header);
    wire::write_be16(buffer + offset, record->partial_time);
    wire::write_be32(buffer + offset + 2, record->pressure);
    return offset + 6;
}

int SensorDataBar_Size() {
    return device_protocol::kSensorDataBarSize;
}

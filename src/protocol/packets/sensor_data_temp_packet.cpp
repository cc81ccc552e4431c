#include "protocol/packets/sensor_data_temp_packet.h"

#include "base/byte_order.h"
#include "protocol/packets/device_protocol.h"

int SensorDataTemp_FromBuff(const uint8_t* buffer, sensor_data_temp_t* record) {
    const int offset = SensorDataHeader_FromBuff(buffer, &record->header);
    record->partial_time = wire::read_be16(buffer + offset);
    record->temperature = wire::read_be16(buffer + offset + 2);
    return offset + 4;
}

int SensorDataTemp_ToBuff(uint8_t* buffer, const sensor_data_temp_t* record) {
    const int offset = SensorDataHeader_ToBuff(buffer, &record->header);
    wire::write_be16(buffer + offset, record->partial_time);
    wire::write_be16(buffer + offset + 2, record->temperature);
    return offset + 4;
}

int SensorDataTemp_Size() {
    return device_protocol::kSensorDataTempSize;
}

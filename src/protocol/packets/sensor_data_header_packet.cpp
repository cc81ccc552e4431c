#include "protocol/packets/sensor_data_header_packet.h"

#include "protocol/packets/device_protocol.h"

int SensorDataHeader_FromBuff(const uint8_t* buffer, sensor_data_header_t* record) {
    record->record_length = buffer[0];
    record->sensor_kind = buffer[1];
    return device_protocol::kSensorDataHeaderSize;
}

int SensorDataHeader_ToBuff(uint8_t* buffer, const sensor_data_header_t* record) {
    buffer[0] = record->record_length;
    buffer[1] = record->sensor_kind;
    return device_protocol::kSensorDataHeaderSize;
}

int SensorDataHeader_Size() {
    return device_protocol::kSensorDataHeaderSize;
}

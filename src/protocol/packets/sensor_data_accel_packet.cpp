#include "protocol/packets/sensor_data_accel_packet.h"

#include "base/byte_order.h"
#include "protocol/packets/device_protocol.h"

// Decoded little-endian field by field rather than by memcpy, so that the
// values are right whatever the host byte order.
int SensorDataAccel_FromBuff(const uint8_t* buffer, sensor_data_accel_t* record) {
    const int offset = SensorDataHeader_FromBuff(buffer, &record->header);
    record->partial_time = wire::read_le16(buffer + offset);
    record->x = static_cast<int16_t>(wire::read_le16(buffer + offset + 2));
    record->y = static_cast<int16_t>(wire::read_le16(buffer + offset + 4));
    record->z = static_cast<int16_t>(wire::read_le16(buffer + offset + 6));
    return device_protocol::kSensorDataAccelSize;
}

int SensorDataAccel_ToBuff(uint8_t* buffer, const sensor_data_accel_t* record) {
    const int offset = SensorDataHeader_ToBuff(buffer, &record->header);
    wire::write_le16(buffer + offset, record->partial_time);
    wire::write_le16(buffer + offset + 2, static_cast<uint16_t>(record->x));
    wire::write_le16(buffer + offset + 4, static_cast<uint16_t>(record->y));
    wire::write_le16(buffer + offset + 6, static_cast<uint16_t>(record->z));
    return device_protocol::kSensorDataAccelSize;
}

int SensorDataAccel_Size() {
    return device_protocol::kSensorDataAccelSize;
}

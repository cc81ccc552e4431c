#include "protocol/packets/sensor_data_quaternion_packet.h"

#include "base/byte_order.h"
#include "protocol/packets/device_protocol.h"

// Little-endian field by field, so that the values are right on any host.
int SensorDataQuaternion_FromBuff(const uint8_t* buffer, sensor_data_quaternion_t* record) {
    const int offset = SensorDataHeader_FromBuff(buffer, &record->header);
    record->partial_time = wire::read_le16(buffer + offset);
    for (int i = 0; i < 4; ++i) {
        record->components[i] = static_cast<int32_t>(wire::read_le32(buffer + offset + 2 + 4 * i));
    }
    return device_protocol::kSensorDataQuaternionSize;
}

int SensorDataQuaternion_ToBuff(uint8_t* buffer, const sensor_data_quaternion_t* record) {
    const int offset = SensorDataHeader_ToBuff(buffer, &record->header);
    wire::write_le16(buffer + offset, record->partial_time);
    for (int i = 0; i < 4; ++i) {
        wire::write_le32(buffer + offset + 2 + 4 * i, static_cast<uint32_t>(record->components[i]));
    }
    return device_protocol::kSensorDataQuaternionSize;
}

int SensorDataQuaternion_Size() {
    return device_protocol::kSensorDataQuaternionSize;
}

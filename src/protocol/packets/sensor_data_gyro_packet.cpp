#include "protocol/packets/sensor_data_gyro_packet.h"

int SensorDataGyro_FromBuff(const uint8_t* buffer, sensor_data_gyro_t* record) {
    return SensorDataAccel_FromBuff(buffer, record);
}

int SensorDataGyro_ToBuff(uint8_t* buffer, const sensor_data_gyro_t* record) {
    return SensorDataAccel_ToBuff(buffer, record);
}

int SensorDataGyro_Size() {
    return SensorDataAccel_Size();
}

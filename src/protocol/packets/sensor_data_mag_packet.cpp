#include "protocol/packets/sensor_data_mag_packet.h"

int SensorDataMag_FromBuff(const uint8_t* buffer, sensor_data_mag_t* record) {
    return SensorDataAccel_FromBuff(buffer, record);
}

int SensorDataMag_ToBuff(uint8_t* buffer, const sensor_data_mag_t* record) {
    return SensorDataAccel_ToBuff(buffer, record);
}

int SensorDataMag_Size() {
    return SensorDataAccel_Size();
}

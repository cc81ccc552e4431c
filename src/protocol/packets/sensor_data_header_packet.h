#pragma once
// Head of every trickled tag sensor record: its length (the trickle
// message's length byte) and the sensor kind.

#include <cstdint>

struct sensor_data_header_t {
    uint8_t record_length;
    uint8_t sensor_kind;  // 1 accelerometer ... 6 temperature
};

int SensorDataHeader_FromBuff(const uint8_t* buffer, sensor_data_header_t* record);
int SensorDataHeader_ToBuff(uint8_t* buffer, const sensor_data_header_t* record);
int SensorDataHeader_Size();

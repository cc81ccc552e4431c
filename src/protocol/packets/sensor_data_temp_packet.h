#pragma once
// Temperature sample of a tag (sensor kind 6), big-endian.

#include <cstdint>

#include "protocol/packets/sensor_data_header_packet.h"

struct sensor_data_temp_t {
    sensor_data_header_t header;
    uint16_t partial_time;
    uint16_t temperature;
};

int SensorDataTemp_FromBuff(const uint8_t* buffer, sensor_data_temp_t* record);
int SensorDataTemp_ToBuff(uint8_t* buffer, const sensor_data_temp_t* record);
int SensorDataTemp_Size();

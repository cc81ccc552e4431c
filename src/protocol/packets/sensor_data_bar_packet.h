#pragma once
// Barometer sample of a tag (sensor kind 5), big-endian.

#include <cstdint>

#include "protocol/packets/sensor_data_header_packet.h"

struct sensor_data_bar_t {
    sensor_data_header_t header;
    uint16_t partial_time;
    uint32_t pressure;
};

int SensorDataBar_FromBuff(const uint8_t* buffer, sensor_data_bar_t* record);
int SensorDataBar_ToBuff(uint8_t* buffer, const sensor_data_bar_t* record);
int SensorDataBar_Size();

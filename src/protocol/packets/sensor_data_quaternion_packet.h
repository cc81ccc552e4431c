#pragma once
// Orientation quaternion of a tag (sensor kind 4). Copied as bytes by the
// tag, so partial time and components are little-endian; on a little-endian
// host the record's memory is the exact copy of the 20 wire bytes.

#include <cstddef>
#include <cstdint>

#include "protocol/packets/sensor_data_header_packet.h"

struct sensor_data_quaternion_t {
    sensor_data_header_t header;
    uint16_t partial_time;
    int32_t components[4];  // in the order the tag sends them, 2^30 stands for 1.0
};

static_assert(sizeof(sensor_data_quaternion_t) == 20, "sensor_data_quaternion_t mirrors its 20 wire bytes");
static_assert(offsetof(sensor_data_quaternion_t, components) == 4,
              "sensor_data_quaternion_t fields sit at their wire offsets");

int SensorDataQuaternion_FromBuff(const uint8_t* buffer, sensor_data_quaternion_t* record);
int SensorDataQuaternion_ToBuff(uint8_t* buffer, const sensor_data_quaternion_t* record);
int SensorDataQuaternion_Size();

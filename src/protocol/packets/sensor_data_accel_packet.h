#pragma once
// Three-axis sample of a tag (accelerometer, and with the same layout the
// gyroscope and magnetometer). The tag copies these records as bytes from
// its own memory, so partial time and axes are little-endian, unlike the
// rest of the device protocol. On a little-endian host the record's memory
// is the exact copy of the 10 wire bytes.

#include <cstddef>
#include <cstdint>

#include "protocol/packets/sensor_data_header_packet.h"

struct sensor_data_accel_t {
    sensor_data_header_t header;
    uint16_t partial_time;
    int16_t x;
    int16_t y;
    int16_t z;
};

static_assert(sizeof(sensor_data_accel_t) == 10, "sensor_data_accel_t mirrors its 10 wire bytes");
static_assert(offsetof(sensor_data_accel_t, partial_time) == 2 && offsetof(sensor_data_accel_t, x) == 4 &&
                  offsetof(sensor_data_accel_t, z) == 8,
              "sensor_data_accel_t fields sit at their wire offsets");

int SensorDataAccel_FromBuff(const uint8_t* buffer, sensor_data_accel_t* record);
int SensorDataAccel_ToBuff(uint8_t* buffer, const sensor_data_accel_t* record);
int SensorDataAccel_Size();

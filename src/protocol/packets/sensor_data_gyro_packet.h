#pragma once
// Gyroscope (sensor kind 2) sample of a tag: laid out as the accelerometer sample,
// little-endian.

#include <cstdint>

#include "protocol/packets/sensor_data_accel_packet.h"

using sensor_data_gyro_t = sensor_data_accel_t;

int SensorDataGyro_FromBuff(const uint8_t* buffer, sensor_data_gyro_t* record);
int SensorDataGyro_ToBuff(uint8_t* buffer, const sensor_data_gyro_t* record);
int SensorDataGyro_Size();

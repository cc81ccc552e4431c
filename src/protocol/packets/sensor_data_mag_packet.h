#pragma once
// Magnetometer (sensor kind 3) sample of a tag: laid out as the accelerometer sample,
// little-endian.

#include <cstdint>

#include "protocol/packets/sensor_data_accel_packet.h"

using sensor_data_mag_t = sensor_data_accel_t;

int SensorDataMag_FromBuff(const uint8_t* buffer, sensor_data_mag_t* record);
int SensorDataMag_ToBuff(uint8_t* buffer, const sensor_data_mag_t* record);
int SensorDataMag_Size();

#pragma once
// Device command 0x1B: the tag sensor (inertial unit and barometer)
// configuration. The four codes are packed two to a byte on the wire.

#include <cstdint>

struct sensors_config_t {
    uint8_t enable_flags;
    uint32_t gyroscope_scale_code;
    uint32_t gyroscope_filter_code;
    uint32_t accelerometer_scale_code;
    uint32_t accelerometer_filter_code;
    uint8_t sample_rate_divisor;
    uint8_t subsample_rate_divisor;
    // Not part of the command: it sizes the tag payload on the server side.
    // 16 bits, as the configuration file holds it: a byte would lose
    // headrooms above 255 between loading and writing the file.
    uint16_t payload_headroom;
};

struct cmd_set_mpu_config_t {
    uint8_t type;  // 0x1B
    uint8_t len;   // 7
    sensors_config_t sensors_config;
};

// Decoding leaves payload_headroom at 0.
int CmdSetMpuConfig_FromBuff(const uint8_t* buffer, cmd_set_mpu_config_t* record);
// Only bits 1-0 of the scale codes and bits 2-0 of the filter codes are sent.
int CmdSetMpuConfig_ToBuff(uint8_t* buffer, const cmd_set_mpu_config_t* record);
int CmdSetMpuConfig_Size();

#include "protocol/packets/set_mpu_config_packet.h"

#include "protocol/packets/device_protocol.h"

namespace {

// Scale code in bits 4-3, filter code in bits 2-0.
uint8_t PackCodes(uint32_t scale_code, uint32_t filter_code) {
    return static_cast<uint8_t>(((scale_code & 3u) << 3) | (filter_code & 7u));
}

uint32_t ScaleCode(uint8_t packed) {
    return (packed >> 3) & 3u;
}
uint32_t FilterCode(uint8_t packed) {
    return packed & 7u;
}

}  // namespace

int CmdSetMpuConfig_FromBuff(const uint8_t* buffer, cmd_set_mpu_config_t* record) {
    record->type = buffer[0];
    record->len = buffer[1];
    sensors_config_t& config = record->sensors_config;
    config.enable_flags = buffer[2];
    config.gyroscope_scale_code = ScaleCode(buffer[3]);
    config.gyroscope_filter_code = FilterCode(buffer[3]);
    config.accelerometer_scale_code = ScaleCode(buffer[4]);
    config.accelerometer_filter_code = FilterCode(buffer[4]);
    config.sample_rate_divisor = buffer[5];
    config.subsample_rate_divisor = buffer[6];
    config.payload_headroom = 0;
    return device_protocol::kCmdSetMpuConfigSize;
}

int CmdSetMpuConfig_ToBuff(uint8_t* buffer, const cmd_set_mpu_config_t* record) {
    const sensors_config_t& config = record->sensors_config;
    buffer[0] = record->type;
    buffer[1] = record->len;
    buffer[2] = config.enable_flags;
    buffer[3] = PackCodes(config.gyroscope_scale_code, config.gyroscope_filter_code);
    buffer[4] = PackCodes(config.accelerometer_scale_code, config.accelerometer_filter_code);
    buffer[5] = config.sample_rate_divisor;
    buffer[6] = config.subsample_rate_divisor;
    return device_protocol::kCmdSetMpuConfigSize;
}

int CmdSetMpuConfig_Size() {
    return device_protocol::kCmdSetMpuConfigSize;
}

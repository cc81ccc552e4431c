#pragma once
// Codes of the tag sensor configuration as the configuration file names them: the
// enable flags and the low-pass filter settings of the inertial unit. Shared by the
// reader and the writer of the file so that both use one table.

#include <cstdint>

namespace tag_payload {

constexpr uint8_t kSendAccelerometer = 0x01;
constexpr uint8_t kSendGyroscope = 0x02;
constexpr uint8_t kSendMagnetometer = 0x04;
constexpr uint8_t kSendQuaternion = 0x08;
constexpr uint8_t kSendPressure = 0x10;
constexpr uint8_t kSendTemperature = 0x20;

struct filter_setting_t {
    uint32_t code;
    int32_t hertz;
};

// The gyroscope has no code 0 (460 Hz is the accelerometer's alone).
constexpr filter_setting_t kFilterSettings[] = {{0, 460}, {1, 184}, {2, 92}, {3, 41}, {4, 20}, {5, 10}};
// Any bandwidth not in the table reads as code 6; any code not in it writes as 5 Hz.
constexpr uint32_t kOtherFilterCode = 6;
constexpr int32_t kOtherFilterHertz = 5;

inline uint32_t FilterCodeOfHertz(int32_t hertz, bool is_gyroscope) {
    for (const filter_setting_t& setting : kFilterSettings) {
        if (setting.hertz == hertz && !(is_gyroscope && setting.code == 0))
            return setting.code;
    }
    return kOtherFilterCode;
}

inline int32_t FilterHertzOfCode(uint32_t code, bool is_gyroscope) {
    for (const filter_setting_t& setting : kFilterSettings) {
        if (setting.code == code && !(is_gyroscope && setting.code == 0))
            return setting.hertz;
    }
    return kOtherFilterHertz;
}

}  // namespace tag_payload

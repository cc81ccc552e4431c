#include "simulator/sim_tag_payload.h"

#include <algorithm>
#include <cmath>

#include "protocol/packets/device_protocol.h"
#include "protocol/packets/sensor_data_accel_packet.h"
#include "protocol/packets/sensor_data_bar_packet.h"
#include "protocol/packets/sensor_data_quaternion_packet.h"
#include "protocol/packets/sensor_data_temp_packet.h"
#include "protocol/trickle/trickle_buffer_consumer.h"

namespace dp = device_protocol;

namespace {

constexpr double kStandardGravity = 9.80665;
constexpr double kPi = 3.14159265358979323846;
// A tag does not hoard: beyond this many bytes waiting, new samples are not taken.
constexpr size_t kMaxPendingBytes = 4096;
// Sensors in the order of their enable bits.
enum SensorIndex { kAccelerometer, kGyroscope, kMagnetometer, kQuaternion, kPressure, kTemperature };

int16_t Saturate16(double value) {
    if (std::isnan(value))
        return 0;
    return static_cast<int16_t>(std::clamp(value, -32768.0, 32767.0));
}

Coordinates Acceleration(const sim_device_t& tag, double t) {
    constexpr double h = 0.005;
    const Coordinates before = SimDevicePosition(tag, t - h);
    const Coordinates now = SimDevicePosition(tag, t);
    const Coordinates after = SimDevicePosition(tag, t + h);
    return (after + before - now * 2.0) * (1.0 / (h * h));
}

// Turn rate about the vertical axis, degrees per second.
double YawRate(const sim_device_t& tag) {
    if (tag.motion.kind != SimMotionKind::kCircle)
        return 0.0;
    return 360.0 / tag.motion.period_s;
}

double Yaw(const sim_device_t& tag, double t) {
    return tag.motion.kind == SimMotionKind::kCircle ? 2.0 * kPi * t / tag.motion.period_s + kPi / 2.0 : 0.0;
}

}  // namespace

void SimTagPayload::Queue(const uint8_t* record, size_t length) {
    if (pending_.size() + length > kMaxPendingBytes)
        return;
    pending_.insert(pending_.end(), record, record + length);
}

void SimTagPayload::Sample(const sim_device_t& tag, const sensors_config_t& sensors, double from_s,
                           double to_s, uint32_t from_network_time, uint32_t to_network_time, bool restart) {
    const double rate_divisor = sensors.sample_rate_divisor + 1.0;
    const double subsample = std::max<double>(sensors.subsample_rate_divisor, 1.0);
    // The rates the server's payload budget assumes for each sensor (records per second).
    const double rates[6] = {1000.0 / (rate_divisor * subsample),
                             1000.0 / (rate_divisor * subsample),
                             8.0,
                             1000.0 / (rate_divisor * subsample),
                             12.5,
                             12.5};
    const double span = to_s - from_s;
    if (restart || span <= 0.0) {
        std::fill(std::begin(due_), std::end(due_), 0.0);
        if (span <= 0.0)
            return;
    }
    const double network_span =
        static_cast<double>(static_cast<uint32_t>(to_network_time - from_network_time));
    for (int sensor = 0; sensor < 6; ++sensor) {
        if ((sensors.enable_flags & (1u << sensor)) == 0)
            continue;
        due_[sensor] += rates[sensor] * span;
        // The small allowance keeps sums such as ten times 0.8 from falling just short of a sample.
        const int count = static_cast<int>(due_[sensor] + 1e-9);
        due_[sensor] -= count;
        for (int k = 1; k <= count; ++k) {
            const double fraction = static_cast<double>(k) / count;
            const double t = from_s + span * fraction;
            const uint32_t network_time = from_network_time + static_cast<uint32_t>(network_span * fraction);
            // The partial time carries bits 23-8 of the sample's network time.
            const uint16_t partial_time = static_cast<uint16_t>(network_time >> 8);
            const Coordinates position = SimDevicePosition(tag, t);
            uint8_t record[dp::kSensorDataQuaternionSize];
            switch (sensor) {
                case kAccelerometer:
                case kGyroscope:
                case kMagnetometer: {
                    sensor_data_accel_t sample{};
                    sample.header.record_length = dp::kSensorDataAccelSize;
                    sample.partial_time = partial_time;
                    if (sensor == kAccelerometer) {
                        sample.header.sensor_kind = dp::kSensorAccelerometer;
                        const double full_scale =
                            static_cast<double>(2u << (sensors.accelerometer_scale_code & 3));
                        const Coordinates a = Acceleration(tag, t) * (1.0 / kStandardGravity);
                        sample.x = Saturate16(a.GetX() / full_scale * 32768.0);
                        sample.y = Saturate16(a.GetY() / full_scale * 32768.0);
                        sample.z = Saturate16((a.GetZ() + 1.0) / full_scale * 32768.0);
                    } else if (sensor == kGyroscope) {
                        sample.header.sensor_kind = dp::kSensorGyroscope;
                        const double full_scale =
                            static_cast<double>(250u << (sensors.gyroscope_scale_code & 3));
                        sample.z = Saturate16(YawRate(tag) / full_scale * 32768.0);
                    } else {
                        sample.header.sensor_kind = dp::kSensorMagnetometer;
                        // The earth's field, turned with the tag's heading.
                        const double yaw = Yaw(tag, t);
                        sample.x = Saturate16(200.0 * std::cos(yaw));
                        sample.y = Saturate16(-200.0 * std::sin(yaw));
                        sample.z = -400;
                    }
                    Queue(record, static_cast<size_t>(SensorDataAccel_ToBuff(record, &sample)));
                    break;
                }
                case kQuaternion: {
                    sensor_data_quaternion_t sample{};
                    sample.header = {static_cast<uint8_t>(dp::kSensorDataQuaternionSize),
                                     dp::kSensorQuaternion};
                    sample.partial_time = partial_time;
                    const double half_yaw = Yaw(tag, t) / 2.0;
                    sample.components[0] = static_cast<int32_t>(std::cos(half_yaw) * 1073741823.0);
                    sample.components[3] = static_cast<int32_t>(std::sin(half_yaw) * 1073741823.0);
                    Queue(record, static_cast<size_t>(SensorDataQuaternion_ToBuff(record, &sample)));
                    break;
                }
                case kPressure: {
                    sensor_data_bar_t sample{};
                    sample.header = {static_cast<uint8_t>(dp::kSensorDataBarSize), dp::kSensorPressure};
                    sample.partial_time = partial_time;
                    // Standard atmosphere, 4096 counts per hPa.
                    const double hpa = 1013.25 * std::pow(1.0 - 2.25577e-5 * position.GetZ(), 5.25588);
                    sample.pressure = static_cast<uint32_t>(hpa * 4096.0);
                    Queue(record, static_cast<size_t>(SensorDataBar_ToBuff(record, &sample)));
                    break;
                }
                case kTemperature: {
                    sensor_data_temp_t sample{};
                    sample.header = {static_cast<uint8_t>(dp::kSensorDataTempSize), dp::kSensorTemperature};
                    sample.partial_time = partial_time;
                    // 22 degrees: 42.5 + raw / 480 for this barometer.
                    sample.temperature = static_cast<uint16_t>(static_cast<int16_t>((22.0 - 42.5) * 480.0));
                    Queue(record, static_cast<size_t>(SensorDataTemp_ToBuff(record, &sample)));
                    break;
                }
                default:
                    break;
            }
        }
    }
}

std::vector<uint8_t> SimTagPayload::NextChunk(uint16_t capacity) {
    const size_t room = std::min<size_t>(capacity, kTrickleMaxMessageLength);
    std::vector<uint8_t> chunk;
    if (pending_.empty() || room < 3)
        return chunk;
    if (continued_ > 0) {
        const size_t take = std::min(continued_, room - 2);
        continued_ -= take;
        // The index of the next new message, or past the chunk when the message runs on.
        chunk.push_back(continued_ == 0 ? static_cast<uint8_t>(2 + take) : static_cast<uint8_t>(room));
        chunk.push_back(kTrickleContinuationMarker);
        chunk.insert(chunk.end(), pending_.begin(), pending_.begin() + static_cast<long>(take));
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(take));
    }
    while (chunk.size() < room && !pending_.empty()) {
        const size_t length = pending_.front();
        const size_t take = std::min(length, room - chunk.size());
        chunk.insert(chunk.end(), pending_.begin(), pending_.begin() + static_cast<long>(take));
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(take));
        if (take < length) {
            continued_ = length - take;
            break;
        }
    }
    return chunk;
}

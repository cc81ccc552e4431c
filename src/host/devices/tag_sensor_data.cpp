#include "host/devices/tag_sensor_data.h"

#include <cmath>
#include <cstdio>

#include "base/saturating_conversion.h"
#include "protocol/packets/device_protocol.h"
#include "protocol/packets/sensor_data_accel_packet.h"
#include "protocol/packets/sensor_data_bar_packet.h"
#include "protocol/packets/sensor_data_quaternion_packet.h"
#include "protocol/packets/sensor_data_temp_packet.h"
#include "protocol/vex/vex_data_types.h"

namespace {

// Record size of each sensor kind; 0 for a kind the tags do not send.
int RecordSize(uint8_t kind) {
    switch (kind) {
        case device_protocol::kSensorAccelerometer:
            return device_protocol::kSensorDataAccelSize;
        case device_protocol::kSensorGyroscope:
            return device_protocol::kSensorDataGyroSize;
        case device_protocol::kSensorMagnetometer:
            return device_protocol::kSensorDataMagSize;
        case device_protocol::kSensorQuaternion:
            return device_protocol::kSensorDataQuaternionSize;
        case device_protocol::kSensorPressure:
            return device_protocol::kSensorDataBarSize;
        case device_protocol::kSensorTemperature:
            return device_protocol::kSensorDataTempSize;
        default:
            return 0;
    }
}

// The accelerometer, gyroscope and magnetometer share one record layout.
bool AddThreeAxisItem(const uint8_t* record_bytes, uint8_t kind, uint32_t now,
                      const sensors_config_t& sensors, VexPacket& packet) {
    sensor_data_accel_t record;
    SensorDataAccel_FromBuff(record_bytes, &record);
    const uint32_t sample_time = VexData_SensorSampleTime(record.partial_time, now);
    if (kind == device_protocol::kSensorAccelerometer) {
        vex_data_mpu9250_accelerometer_t item{
            record.x,
            record.y,
            record.z,
            sample_time,
            VexData_AccelerometerFullScale(sensors.accelerometer_scale_code),
            VexData_AccelerometerBandwidth(sensors.accelerometer_filter_code)};
        return VexData_Add(packet, item);
    }
    if (kind == device_protocol::kSensorGyroscope) {
        vex_data_mpu9250_gyroscope_t item{record.x,
                                          record.y,
                                          record.z,
                                          sample_time,
                                          VexData_GyroscopeFullScale(sensors.gyroscope_scale_code),
                                          VexData_GyroscopeBandwidth(sensors.gyroscope_filter_code)};
        return VexData_Add(packet, item);
    }
    vex_data_mpu9250_magnetometer_t item{record.x, record.y, record.z, sample_time};
    return VexData_Add(packet, item);
}

bool AddRecordItem(const uint8_t* record_bytes, uint8_t kind, uint32_t now, const sensors_config_t& sensors,
                   VexPacket& packet) {
    switch (kind) {
        case device_protocol::kSensorQuaternion: {
            sensor_data_quaternion_t record;
            SensorDataQuaternion_FromBuff(record_bytes, &record);
            vex_data_mpu9250_quaternion_t item{};
            for (int i = 0; i < 4; ++i) {
                item.components[i] = record.components[i];
            }
            TagSensorData_RenormaliseQuaternion(item.components);
            item.sample_time = VexData_SensorSampleTime(record.partial_time, now);
            return VexData_Add(packet, item);
        }
        case device_protocol::kSensorPressure: {
            sensor_data_bar_t record;
            SensorDataBar_FromBuff(record_bytes, &record);
            const vex_data_lps25h_pressure_t item{record.pressure,
                                                  VexData_SensorSampleTime(record.partial_time, now)};
            return VexData_Add(packet, item);
        }
        case device_protocol::kSensorTemperature: {
            sensor_data_temp_t record;
            SensorDataTemp_FromBuff(record_bytes, &record);
            // The raw reading is carried bit for bit.
            const vex_data_lps25h_temperature_t item{static_cast<int16_t>(record.temperature),
                                                     VexData_SensorSampleTime(record.partial_time, now)};
            return VexData_Add(packet, item);
        }
        default:
            return AddThreeAxisItem(record_bytes, kind, now, sensors, packet);
    }
}

}  // namespace

void TagSensorData_RenormaliseQuaternion(int32_t components[4]) {
    double squares = 0.0;
    for (int i = 0; i < 4; ++i) {
        const double component = components[i];
        squares += component * component;
    }
    const double norm = std::sqrt(squares) / kQuaternionUnit;
    const double norm_squared = norm * norm;
    if (norm_squared >= 0.9999 && norm_squared <= 1.0001) {
        return;
    }
    // All four components 0: nothing to scale, and no division by zero.
    if (!(norm > 0.0) || !std::isfinite(norm)) {
        return;
    }
    for (int i = 0; i < 4; ++i) {
        components[i] = TruncateToInt32(components[i] / norm);
    }
}

bool TagSensorData_AddRecordItem(const uint8_t* bytes, int& offset, int& remaining, uint32_t now,
                                 const sensors_config_t& sensors, VexPacket& packet) {
    if (remaining < device_protocol::kSensorDataHeaderSize) {
        return false;
    }
    const uint8_t* record_bytes = bytes + offset;
    const uint8_t length = record_bytes[0];
    const uint8_t kind = record_bytes[1];
    const int size = RecordSize(kind);
    if (size == 0) {
        std::printf("Received sensor data with unrecognized type %02x\n", static_cast<unsigned>(kind));
        std::fflush(stdout);
        return false;
    }
    if (length != size || remaining < size) {
        return false;
    }
    if (!AddRecordItem(record_bytes, kind, now, sensors, packet)) {
        return false;
    }
    offset += size;
    remaining -= size;
    return true;
}

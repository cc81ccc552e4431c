#include "host/devices/tag_sensor_data.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "protocol/packets/device_protocol.h"
#include "protocol/packets/sensor_data_accel_packet.h"
#include "protocol/packets/sensor_data_bar_packet.h"
#include "protocol/packets/sensor_data_quaternion_packet.h"
#include "protocol/packets/sensor_data_temp_packet.h"
#include "protocol/vex/vex_data_types.h"
#include "support/stdout_capture.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int32_t kUnit = 1 << 30;
constexpr uint32_t kNow = 0x12345678;

Bytes ThreeAxisRecord(uint8_t kind, uint16_t partial_time, int16_t x, int16_t y, int16_t z) {
    sensor_data_accel_t record{{device_protocol::kSensorDataAccelSize, kind}, partial_time, x, y, z};
    Bytes bytes(device_protocol::kSensorDataAccelSize);
    SensorDataAccel_ToBuff(bytes.data(), &record);
    return bytes;
}

Bytes QuaternionRecord(uint16_t partial_time, int32_t w, int32_t x, int32_t y, int32_t z) {
    sensor_data_quaternion_t record{
        {device_protocol::kSensorDataQuaternionSize, device_protocol::kSensorQuaternion},
        partial_time,
        {w, x, y, z}};
    Bytes bytes(device_protocol::kSensorDataQuaternionSize);
    SensorDataQuaternion_ToBuff(bytes.data(), &record);
    return bytes;
}

Bytes PressureRecord(uint16_t partial_time, uint32_t pressure) {
    sensor_data_bar_t record{
        {device_protocol::kSensorDataBarSize, device_protocol::kSensorPressure}, partial_time, pressure};
    Bytes bytes(device_protocol::kSensorDataBarSize);
    SensorDataBar_ToBuff(bytes.data(), &record);
    return bytes;
}

Bytes TemperatureRecord(uint16_t partial_time, uint16_t temperature) {
    sensor_data_temp_t record{{device_protocol::kSensorDataTempSize, device_protocol::kSensorTemperature},
                              partial_time,
                              temperature};
    Bytes bytes(device_protocol::kSensorDataTempSize);
    SensorDataTemp_ToBuff(bytes.data(), &record);
    return bytes;
}

sensors_config_t Sensors(uint32_t accel_scale, uint32_t accel_filter, uint32_t gyro_scale,
                         uint32_t gyro_filter) {
    sensors_config_t sensors{};
    sensors.accelerometer_scale_code = accel_scale;
    sensors.accelerometer_filter_code = accel_filter;
    sensors.gyroscope_scale_code = gyro_scale;
    sensors.gyroscope_filter_code = gyro_filter;
    return sensors;
}

// Runs one record through the decoder; expects it consumed whole.
VexPacket DecodeOne(const Bytes& bytes, const sensors_config_t& sensors = Sensors(0, 0, 0, 0)) {
    VexPacket packet(0);
    int offset = 0;
    int remaining = static_cast<int>(bytes.size());
    EXPECT_TRUE(TagSensorData_AddRecordItem(bytes.data(), offset, remaining, kNow, sensors, packet));
    EXPECT_EQ(offset, static_cast<int>(bytes.size()));
    EXPECT_EQ(remaining, 0);
    EXPECT_EQ(packet.GetDataItems().size(), 1u);
    return packet;
}

template <typename Record>
Record OnlyItem(const VexPacket& packet) {
    Record record{};
    const auto items = packet.GetDataItems();
    EXPECT_EQ(items.size(), 1u);
    if (!items.empty()) {
        EXPECT_TRUE(VexData_Read(*items.front(), &record));
    }
    return record;
}

// The Vuv records are packed: their fields are compared as values (unary +),
// never bound to references.
TEST(TagSensorRecords, EachKindBecomesItsItem) {
    const uint32_t sample_time = VexData_SensorSampleTime(0x3400, kNow);
    ASSERT_EQ(sample_time, 0x12340000u);

    const auto accel = OnlyItem<vex_data_mpu9250_accelerometer_t>(
        DecodeOne(ThreeAxisRecord(device_protocol::kSensorAccelerometer, 0x3400, -1, 2, -300)));
    EXPECT_EQ(+accel.x, -1);
    EXPECT_EQ(+accel.y, 2);
    EXPECT_EQ(+accel.z, -300);
    EXPECT_EQ(+accel.sample_time, sample_time);
    EXPECT_EQ(+accel.full_scale, 2);
    EXPECT_EQ(+accel.bandwidth, 460);

    const auto gyro = OnlyItem<vex_data_mpu9250_gyroscope_t>(
        DecodeOne(ThreeAxisRecord(device_protocol::kSensorGyroscope, 0x3400, 7, -8, 9), Sensors(0, 0, 3, 1)));
    EXPECT_EQ(+gyro.x, 7);
    EXPECT_EQ(+gyro.y, -8);
    EXPECT_EQ(+gyro.z, 9);
    EXPECT_EQ(+gyro.sample_time, sample_time);
    EXPECT_EQ(+gyro.full_scale, 2000);
    EXPECT_EQ(+gyro.bandwidth, 184);

    const auto magnetometer = OnlyItem<vex_data_mpu9250_magnetometer_t>(
        DecodeOne(ThreeAxisRecord(device_protocol::kSensorMagnetometer, 0x3400, 32767, -32768, 0)));
    EXPECT_EQ(+magnetometer.x, 32767);
    EXPECT_EQ(+magnetometer.y, -32768);
    EXPECT_EQ(+magnetometer.z, 0);
    EXPECT_EQ(+magnetometer.sample_time, sample_time);

    const auto pressure = OnlyItem<vex_data_lps25h_pressure_t>(DecodeOne(PressureRecord(0x3400, 0xDEADBEEF)));
    EXPECT_EQ(+pressure.pressure, 0xDEADBEEFu);
    EXPECT_EQ(+pressure.sample_time, sample_time);

    const auto temperature =
        OnlyItem<vex_data_lps25h_temperature_t>(DecodeOne(TemperatureRecord(0x3400, 0xFFFE)));
    EXPECT_EQ(+temperature.temperature, -2);  // bit for bit
    EXPECT_EQ(+temperature.sample_time, sample_time);

    const auto quaternion =
        OnlyItem<vex_data_mpu9250_quaternion_t>(DecodeOne(QuaternionRecord(0x3400, kUnit, 0, 0, 0)));
    EXPECT_EQ(+quaternion.components[0], kUnit);
    EXPECT_EQ(+quaternion.components[1], 0);
    EXPECT_EQ(+quaternion.sample_time, sample_time);
}

TEST(TagSensorRecords, SampleTimeAheadOfNowIsPlacedOneWrapEarlier) {
    // now = 0x12345678: the partial 0x5700 rebuilds 0x12570000, ahead of now.
    const auto pressure = OnlyItem<vex_data_lps25h_pressure_t>(DecodeOne(PressureRecord(0x5700, 1)));
    EXPECT_EQ(+pressure.sample_time, 0x11570000u);
}

TEST(TagSensorRecords, WalksConsecutiveRecordsOneAtATime) {
    Bytes message = TemperatureRecord(1, 2);
    const Bytes accel = ThreeAxisRecord(device_protocol::kSensorAccelerometer, 3, 4, 5, 6);
    message.insert(message.end(), accel.begin(), accel.end());
    VexPacket packet(0);
    int offset = 0;
    int remaining = static_cast<int>(message.size());
    const sensors_config_t sensors = Sensors(0, 0, 0, 0);
    ASSERT_TRUE(TagSensorData_AddRecordItem(message.data(), offset, remaining, kNow, sensors, packet));
    EXPECT_EQ(offset, 6);
    EXPECT_EQ(remaining, 10);
    ASSERT_TRUE(TagSensorData_AddRecordItem(message.data(), offset, remaining, kNow, sensors, packet));
    EXPECT_EQ(offset, 16);
    EXPECT_EQ(remaining, 0);
    const auto items = packet.GetDataItems();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0]->GetType(), VexType::kLps25hTemperature);
    EXPECT_EQ(items[1]->GetType(), VexType::kMpu9250Accelerometer);
    // Nothing left: a further call fails without touching anything.
    EXPECT_FALSE(TagSensorData_AddRecordItem(message.data(), offset, remaining, kNow, sensors, packet));
    EXPECT_EQ(offset, 16);
}

// Refusals leave offset, remaining and packet as they were, and never read
// past the bytes offered (each case is an exact-size heap copy for ASan).
void ExpectRefused(const Bytes& bytes, int remaining_given) {
    const sensors_config_t sensors = Sensors(0, 0, 0, 0);
    std::vector<uint8_t> copy(bytes.begin(), bytes.begin() + remaining_given);
    VexPacket packet(0);
    int offset = 0;
    int remaining = remaining_given;
    EXPECT_FALSE(TagSensorData_AddRecordItem(copy.data(), offset, remaining, kNow, sensors, packet));
    EXPECT_EQ(offset, 0);
    EXPECT_EQ(remaining, remaining_given);
    EXPECT_TRUE(packet.GetDataItems().empty());
}

TEST(TagSensorRecords, EveryTruncationIsRefused) {
    const std::vector<Bytes> records = {
        ThreeAxisRecord(device_protocol::kSensorAccelerometer, 1, 2, 3, 4),
        ThreeAxisRecord(device_protocol::kSensorGyroscope, 1, 2, 3, 4),
        ThreeAxisRecord(device_protocol::kSensorMagnetometer, 1, 2, 3, 4),
        QuaternionRecord(1, kUnit, 0, 0, 0),
        PressureRecord(1, 2),
        TemperatureRecord(1, 2),
    };
    for (const Bytes& record : records) {
        for (size_t cut = 0; cut < record.size(); ++cut) {
            SCOPED_TRACE(testing::Message() << "kind " << int{record[1]} << " cut " << cut);
            ExpectRefused(record, static_cast<int>(cut));
        }
    }
}

TEST(TagSensorRecords, LengthByteOtherThanTheKindsSizeIsRefused) {
    // A temperature record claiming 7 bytes, and one claiming 5: either would
    // put the next record's start in the wrong place.
    for (uint8_t claimed : {uint8_t{0}, uint8_t{1}, uint8_t{5}, uint8_t{7}, uint8_t{10}, uint8_t{255}}) {
        Bytes record = TemperatureRecord(1, 2);
        record[0] = claimed;
        record.resize(12, 0);
        ExpectRefused(record, static_cast<int>(record.size()));
    }
}

TEST(TagSensorRecords, UnknownKindsAreNamedAndRefused) {
    for (uint8_t kind : {uint8_t{0}, uint8_t{7}, uint8_t{0xAB}}) {
        Bytes record = {10, kind, 0, 0, 0, 0, 0, 0, 0, 0};
        StdoutCapture capture;
        ExpectRefused(record, static_cast<int>(record.size()));
        char expected[64];
        std::snprintf(expected, sizeof(expected), "Received sensor data with unrecognized type %02x\n", kind);
        EXPECT_EQ(capture.Stop(), expected);
    }
}

std::vector<int32_t> Renormalised(int32_t w, int32_t x, int32_t y, int32_t z) {
    int32_t components[4] = {w, x, y, z};
    TagSensorData_RenormaliseQuaternion(components);
    return {components[0], components[1], components[2], components[3]};
}

double SquaredNorm(const std::vector<int32_t>& q) {
    double sum = 0.0;
    for (int32_t c : q) {
        sum += static_cast<double>(c) * c;
    }
    return sum / (static_cast<double>(kUnit) * kUnit);
}

TEST(QuaternionRenormalisation, LeavesUnitAndNearUnitQuaternionsAlone) {
    EXPECT_EQ(Renormalised(kUnit, 0, 0, 0), (std::vector<int32_t>{kUnit, 0, 0, 0}));
    EXPECT_EQ(Renormalised(0, -kUnit, 0, 0), (std::vector<int32_t>{0, -kUnit, 0, 0}));
    // Squared norm 1.00008: inside the tolerance, so untouched.
    const int32_t near = static_cast<int32_t>(kUnit * std::sqrt(1.00008));
    EXPECT_EQ(Renormalised(near, 0, 0, 0), (std::vector<int32_t>{near, 0, 0, 0}));
}

TEST(QuaternionRenormalisation, ScalesOthersBackToUnitLength) {
    EXPECT_EQ(Renormalised(kUnit / 2, 0, 0, 0), (std::vector<int32_t>{kUnit, 0, 0, 0}));
    EXPECT_EQ(Renormalised(0, 0, 0, -kUnit / 4), (std::vector<int32_t>{0, 0, 0, -kUnit}));
    // Every component at its extreme: norm 4, and no overflow on the way.
    const int32_t low = std::numeric_limits<int32_t>::min();
    EXPECT_EQ(Renormalised(low, low, low, low),
              (std::vector<int32_t>{-kUnit / 2, -kUnit / 2, -kUnit / 2, -kUnit / 2}));

    std::mt19937 random(7);
    std::uniform_int_distribution<int32_t> any(std::numeric_limits<int32_t>::min(),
                                               std::numeric_limits<int32_t>::max());
    for (int trial = 0; trial < 2000; ++trial) {
        const std::vector<int32_t> before = {any(random), any(random), any(random) / 1000, any(random) / 7};
        const std::vector<int32_t> after = Renormalised(before[0], before[1], before[2], before[3]);
        EXPECT_NEAR(SquaredNorm(after), 1.0, 1e-6);
        // Same direction: each component keeps its sign and its share.
        const double scale = std::sqrt(SquaredNorm(before));
        for (int i = 0; i < 4; ++i) {
            EXPECT_NEAR(after[i], before[i] / scale, 1.0);
        }
    }
}

TEST(QuaternionRenormalisation, ZeroQuaternionStaysZero) {
    EXPECT_EQ(Renormalised(0, 0, 0, 0), (std::vector<int32_t>{0, 0, 0, 0}));
    const auto item = OnlyItem<vex_data_mpu9250_quaternion_t>(DecodeOne(QuaternionRecord(0, 0, 0, 0, 0)));
    EXPECT_EQ(+item.components[0], 0);
    EXPECT_EQ(+item.components[3], 0);
}

}  // namespace

// A tag's trickled sensor data, cut into chunks of every size a ping may
// carry, reassembles through the server's own trickle consumer into exactly
// the records sampled: each a valid record of an enabled sensor, with values
// that match the tag's motion and height.
#include "simulator/sim_tag_payload.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "protocol/packets/device_protocol.h"
#include "protocol/packets/sensor_data_accel_packet.h"
#include "protocol/packets/sensor_data_bar_packet.h"
#include "protocol/packets/sensor_data_quaternion_packet.h"
#include "protocol/packets/sensor_data_temp_packet.h"
#include "protocol/trickle/trickle_buffer_consumer.h"

namespace {

namespace dp = device_protocol;

constexpr uint8_t kAllSensors = 0x3F;

sim_device_t StandingTag(double height) {
    sim_device_t tag;
    tag.serial_number = 0x01010021;
    tag.position = Coordinates(2, 3, height);
    return tag;
}

// Record size of each sensor kind.
const std::map<uint8_t, int> kRecordSize = {
    {dp::kSensorAccelerometer, dp::kSensorDataAccelSize},
    {dp::kSensorGyroscope, dp::kSensorDataGyroSize},
    {dp::kSensorMagnetometer, dp::kSensorDataMagSize},
    {dp::kSensorQuaternion, dp::kSensorDataQuaternionSize},
    {dp::kSensorPressure, dp::kSensorDataBarSize},
    {dp::kSensorTemperature, dp::kSensorDataTempSize},
};

class SimTagPayloadTest : public ::testing::TestWithParam<uint16_t> {};

TEST_P(SimTagPayloadTest, ChunksReassembleIntoTheSampledRecords) {
    const uint16_t capacity = GetParam();
    const sim_device_t tag = StandingTag(1.2);
    sensors_config_t sensors{};
    sensors.enable_flags = kAllSensors;
    sensors.sample_rate_divisor = 19;  // 1000 / 20 = 50 samples per second for the inertial sensors
    sensors.subsample_rate_divisor = 1;
    SimTagPayload payload;
    trickle_buffer_consumer_t consumer;
    TrickleBuffer_InitConsumer(&consumer);
    std::map<uint8_t, int> counts;
    // One second of pings at 10 Hz (less than the tag keeps waiting), then as many
    // pings as it takes to send the rest.
    for (int ping = 0; ping < 10 || payload.PendingBytes() > 0; ++ping) {
        ASSERT_LT(ping, 100000);
        if (ping < 10)
            payload.Sample(tag, sensors, ping * 0.1, (ping + 1) * 0.1, ping * 97500u, (ping + 1) * 97500u,
                           false);
        const std::vector<uint8_t> chunk = payload.NextChunk(capacity);
        ASSERT_LE(chunk.size(), std::min<size_t>(capacity, 255));
        if (chunk.empty())
            continue;
        uint16_t total = 0;
        uint8_t* messages =
            TrickleBuffer_Consume(&consumer, chunk.data(), static_cast<uint16_t>(chunk.size()), &total);
        for (uint16_t offset = 0; offset < total;) {
            const uint8_t length = messages[offset];
            ASSERT_GE(total - offset, 2);
            const uint8_t kind = messages[offset + 1];
            ASSERT_EQ(kRecordSize.count(kind), 1u) << int(kind);
            ASSERT_EQ(length, kRecordSize.at(kind));
            const uint8_t* record = messages + offset;
            if (kind == dp::kSensorPressure) {
                sensor_data_bar_t bar;
                SensorDataBar_FromBuff(record, &bar);
                EXPECT_NEAR(bar.pressure / 4096.0, 1013.25 * std::pow(1.0 - 2.25577e-5 * 1.2, 5.25588), 0.01);
            } else if (kind == dp::kSensorAccelerometer) {
                sensor_data_accel_t accel;
                SensorDataAccel_FromBuff(record, &accel);
                // Standing still: gravity alone, 1 g of a 2 g full scale.
                EXPECT_EQ(accel.x, 0);
                EXPECT_EQ(accel.z, 16384);
            } else if (kind == dp::kSensorQuaternion) {
                sensor_data_quaternion_t quaternion;
                SensorDataQuaternion_FromBuff(record, &quaternion);
                EXPECT_NEAR(quaternion.components[0], 1 << 30, 2);
            }
            ++counts[kind];
            offset = static_cast<uint16_t>(offset + length);
        }
        free(messages);
    }
    // One second at 50, 50, 8, 50, 12.5 and 12.5 records per second.
    EXPECT_EQ(counts[dp::kSensorAccelerometer], 50);
    EXPECT_EQ(counts[dp::kSensorGyroscope], 50);
    EXPECT_EQ(counts[dp::kSensorMagnetometer], 8);
    EXPECT_EQ(counts[dp::kSensorQuaternion], 50);
    EXPECT_EQ(counts[dp::kSensorPressure], 12);
    EXPECT_EQ(counts[dp::kSensorTemperature], 12);
}

INSTANTIATE_TEST_SUITE_P(ChunkSizes, SimTagPayloadTest, ::testing::Values(3, 4, 7, 11, 16, 108, 255, 1000));

TEST(SimTagPayload, NothingSampledSendsNothingAndTooSmallAChunkWaits) {
    SimTagPayload payload;
    sensors_config_t sensors{};
    payload.Sample(StandingTag(1.0), sensors, 0.0, 1.0, 0, 975000, false);
    EXPECT_TRUE(payload.NextChunk(100).empty());
    sensors.enable_flags = 1u << 4;
    payload.Sample(StandingTag(1.0), sensors, 1.0, 2.0, 975000, 1950000, false);
    EXPECT_GT(payload.PendingBytes(), 0u);
    EXPECT_TRUE(payload.NextChunk(2).empty());
    EXPECT_EQ(payload.NextChunk(8).size(), 8u);
    // A tag whose pings carry too little keeps a bounded backlog, not an ever longer one.
    sensors.enable_flags = kAllSensors;
    for (int second = 2; second < 60; ++second)
        payload.Sample(StandingTag(1.0), sensors, second, second + 1.0, 0, 0, false);
    EXPECT_LE(payload.PendingBytes(), 4096u);
}

}  // namespace

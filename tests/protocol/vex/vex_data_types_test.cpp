// Payload records of the Vuv item catalogue: their bytes on the wire, the
// helpers that add and read them, the sensor tables and the sample-time rule.
#include "protocol/vex/vex_data_types.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonObject>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/byte_order.h"
#include "support/stdout_capture.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A packed field as a plain value: gtest binds its arguments to references,
// which a misaligned field cannot take.
template <typename T>
T Value(T field) {
    return field;
}

// The payload bytes of the only item of a packet, taken from its encoding.
Bytes OnlyItemOnTheWire(VexPacket& packet, uint16_t expected_type) {
    uint16_t size = 0;
    const std::unique_ptr<uint8_t[]> buffer(packet.CreateBufferWithSequenceNumber(0, &size));
    EXPECT_GE(size, 24);
    EXPECT_EQ(wire::read_le16(buffer.get() + 20), expected_type);
    EXPECT_EQ(wire::read_le16(buffer.get() + 22), size - 24);
    return Bytes(buffer.get() + 24, buffer.get() + size);
}

TEST(VexDataRecordsTest, PositionTravelsLittleEndianInFieldOrder) {
    vex_data_position_t position{};
    position.x = -2;
    position.y = 0x01020304;
    position.z = 1000;
    position.error = 14;
    position.smoothing_count = 3;
    position.sequence = 0xBEEF;
    position.network_time = 0xA0B0C0D0;
    VexPacket packet(0x01030005);
    ASSERT_TRUE(VexData_Add(packet, position));
    const Bytes expected = {0xFE, 0xFF, 0xFF, 0xFF, 0x04, 0x03, 0x02, 0x01, 0xE8, 0x03, 0x00, 0x00,
                            0x0E, 0x00, 0x00, 0x00, 0x03, 0x00, 0xEF, 0xBE, 0xD0, 0xC0, 0xB0, 0xA0};
    EXPECT_EQ(OnlyItemOnTheWire(packet, 0x0100), expected);
}

TEST(VexDataRecordsTest, TickIsTheSyncPacketRepackedWithDeviceTimeAt23) {
    // A sync packet on the wire, big-endian, each field holding distinct bytes.
    const uint8_t wire_sync[25] = {16,   0x11, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,
                                   0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11,
                                   0x12, 0x12, 0x34, 0x56, 0x78, 0x9A, 0x18};
    packet_sync_t sync{};
    ASSERT_EQ(PacketSync_FromBuff(wire_sync, &sync), 25);
    const vex_data_tick_t tick = VexDataTick_FromSyncPacket(sync, 0x01000007);
    VexPacket packet(0x01000007);
    ASSERT_TRUE(VexData_Add(packet, tick));
    const Bytes expected = {0x11, 0x07, 0x00, 0x00, 0x01, 0x03, 0x02, 0x07, 0x06, 0x05, 0x04,
                            0x08, 0x0C, 0x0B, 0x0A, 0x09, 0x0D, 0x0E, 0x18, 0x12, 0x11, 0x10,
                            0x0F, 0x9A, 0x78, 0x56, 0x34, 0x12, 0x00, 0x00, 0x00};
    EXPECT_EQ(OnlyItemOnTheWire(packet, 0x8000), expected);
}

TEST(VexDataRecordsTest, TickKeepsOnlyFortyBitsOfDeviceTime) {
    packet_sync_t sync{};
    sync.transmit_time = 0xFFFF123456789AULL;
    EXPECT_EQ(Value(VexDataTick_FromSyncPacket(sync, 1).transmit_time), 0x123456789AULL);
}

TEST(VexDataRecordsTest, SensorRecordsPlaceScaleAndBandwidthAsTabled) {
    vex_data_mpu9250_accelerometer_t accelerometer{};
    accelerometer.x = -1;
    accelerometer.sample_time = 0x01020304;
    accelerometer.full_scale = 16;
    accelerometer.bandwidth = 460;
    VexPacket accelerometer_packet(1);
    VexData_Add(accelerometer_packet, accelerometer);
    EXPECT_EQ(OnlyItemOnTheWire(accelerometer_packet, 0x0008),
              (Bytes{0xFF, 0xFF, 0, 0, 0, 0, 0x04, 0x03, 0x02, 0x01, 16, 0xCC, 0x01}));

    vex_data_mpu9250_gyroscope_t gyroscope{};
    gyroscope.z = 2;
    gyroscope.full_scale = 2000;
    gyroscope.bandwidth = 184;
    VexPacket gyroscope_packet(1);
    VexData_Add(gyroscope_packet, gyroscope);
    EXPECT_EQ(OnlyItemOnTheWire(gyroscope_packet, 0x0009),
              (Bytes{0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0xD0, 0x07, 184}));
}

TEST(VexDataRecordsTest, TimedRxCarriesSignalStrengthAtItsEnd) {
    vex_data_timed_rx_t rx{};
    rx.sequence = 5;
    rx.serial_number = 0x01020304;
    rx.network_id = 7;
    rx.packet_type = kVexRxPacketAnchorReport;
    rx.tx_time = 0xFFFFFFFFFF;
    rx.rx_time = 1;
    rx.signal_strength = {1, 2, 3, 4, 5, 0xABCD};
    VexPacket packet(9);
    VexData_Add(packet, rx);
    const Bytes wire_bytes = OnlyItemOnTheWire(packet, 0x8001);
    ASSERT_EQ(wire_bytes.size(), 36u);
    EXPECT_EQ(wire_bytes[7], 19);
    EXPECT_EQ(Bytes(wire_bytes.begin() + 8, wire_bytes.begin() + 16),
              (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0}));
    EXPECT_EQ(Bytes(wire_bytes.begin() + 24, wire_bytes.end()),
              (Bytes{1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 0xCD, 0xAB}));
}

TEST(VexDataRecordsTest, InfrastructureAndDiscoveryFieldsInTabledOrder) {
    vex_data_infrastructure_t node{kVexInfrastructureAnchor, 0x01020304, -1, 2, 0x10000};
    VexPacket infrastructure(0);
    VexData_Add(infrastructure, node);
    EXPECT_EQ(OnlyItemOnTheWire(infrastructure, 0x0102),
              (Bytes{2, 0x04, 0x03, 0x02, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 2, 0, 0, 0, 0, 0, 1, 0}));

    vex_data_discovery_t discovery{};
    discovery.serial_number = 0x0A0B0C0D;
    discovery.rx_time = 0x0102030405;
    discovery.signal_strength = {1, 2, 3, 4, 5, 6};
    VexPacket reported(1);
    VexData_Add(reported, discovery);
    EXPECT_EQ(OnlyItemOnTheWire(reported, 0x8003),
              (Bytes{0x0D, 0x0C, 0x0B, 0x0A, 0x05, 0x04, 0x03, 0x02, 0x01, 0, 0, 0,
                     1,    0,    2,    0,    3,    0,    4,    0,    5,    0, 6, 0}));
}

TEST(VexDataRecordsTest, SolverDiagnosticsFieldsInTabledOrder) {
    VexPacket packet(0x01030005);
    VexData_Add(packet, vex_data_toa_anchor_t{0x01020304, 0x0A0B0C0D0E, -2, 300});
    VexData_Add(packet, vex_data_toa_solution_t{1, -1, 0x01000000, 101});
    const VexDataItemList items = packet.GetDataItems();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0]->GetType(), 0x8008);
    EXPECT_EQ(Bytes(items[0]->GetData(), items[0]->GetData() + items[0]->GetDataSize()),
              (Bytes{0x04, 0x03, 0x02, 0x01, 0x0E, 0x0D, 0x0C, 0x0B, 0x0A, 0,
                     0,    0,    0xFE, 0xFF, 0xFF, 0xFF, 0x2C, 0x01, 0,    0}));
    EXPECT_EQ(items[1]->GetType(), 0x8007);
    EXPECT_EQ(Bytes(items[1]->GetData(), items[1]->GetData() + items[1]->GetDataSize()),
              (Bytes{1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 1, 101, 0}));
}

TEST(VexDataRecordsTest, SmallSensorAndStatusRecordsInTabledOrder) {
    VexPacket packet(0x01030005);
    VexData_Add(packet, vex_data_mpu9250_magnetometer_t{-1, 2, -3, 0x01020304});
    VexData_Add(packet, vex_data_lps25h_pressure_t{0x0A0B0C0D, 0x01020304});
    VexData_Add(packet, vex_data_lps25h_temperature_t{-2, 0x01020304});
    VexData_Add(packet, vex_data_mpu9250_quaternion_t{{1 << 30, -1, 0, 2}, 0x01020304});
    VexData_Add(packet, vex_data_anchor_status_t{0x01020304, 3});
    VexData_Add(packet, vex_data_time_reservation_t{0x01020304, kVexAdmissionNoRoomInAnchorReport});
    VexData_Add(packet, vex_data_ssp_response_t{0x42});
    const std::vector<std::pair<uint16_t, Bytes>> expected = {
        {0x0003, {0xFF, 0xFF, 2, 0, 0xFD, 0xFF, 4, 3, 2, 1}},
        {0x0005, {0x0D, 0x0C, 0x0B, 0x0A, 4, 3, 2, 1}},
        {0x0006, {0xFE, 0xFF, 4, 3, 2, 1}},
        {0x000A, {0, 0, 0, 0x40, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 2, 0, 0, 0, 4, 3, 2, 1}},
        {0x0103, {4, 3, 2, 1, 3}},
        {0x0104, {4, 3, 2, 1, 7}},
        {0x8004, {0x42}},
    };
    const VexDataItemList items = packet.GetDataItems();
    ASSERT_EQ(items.size(), expected.size());
    for (size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(items[i]->GetType(), expected[i].first) << i;
        EXPECT_EQ(Bytes(items[i]->GetData(), items[i]->GetData() + items[i]->GetDataSize()),
                  expected[i].second)
            << i;
    }
}

TEST(VexDataRecordsTest, ReadGivesBackTheRecordAndRefusesOtherTypesAndSizes) {
    vex_data_toa_anchor_t anchor{};
    anchor.anchor_serial_number = 0x01020000;
    anchor.time_of_arrival = 0x00000012345678FF;
    anchor.weight = 250000;
    anchor.correction = -12;
    VexPacket packet(1);
    VexData_Add(packet, anchor);
    const VexDataItem& item = *packet.GetDataItems().front();

    vex_data_toa_anchor_t read{};
    ASSERT_TRUE(VexData_Read(item, &read));
    EXPECT_EQ(Value(read.anchor_serial_number), Value(anchor.anchor_serial_number));
    EXPECT_EQ(Value(read.time_of_arrival), Value(anchor.time_of_arrival));
    EXPECT_EQ(Value(read.weight), 250000);
    EXPECT_EQ(Value(read.correction), -12);

    vex_data_toa_solution_t wrong_type{};
    EXPECT_FALSE(VexData_Read(item, &wrong_type));
    const uint8_t short_payload[19] = {};
    EXPECT_FALSE(VexData_Read(VexDataItem(VexType::kToaAnchor, sizeof(short_payload), short_payload), &read));
    const uint8_t long_payload[21] = {};
    EXPECT_FALSE(VexData_Read(VexDataItem(VexType::kToaAnchor, sizeof(long_payload), long_payload), &read));
    EXPECT_EQ(Value(read.correction), -12);
}

TEST(VexDataRecordsTest, SmoothingFactorCommandOfTheUserInterface) {
    vex_data_smoothing_factor_t command{kVexHostIdUserInterface, kVexHostIdEveryHost, 12};
    VexPacket packet(0);
    VexData_Add(packet, command);
    EXPECT_EQ(OnlyItemOnTheWire(packet, 0x8005), (Bytes{0, 0, 0, 0, 12, 0, 0, 0}));
}

TEST(VexDataRecordsTest, StreamOfEachType) {
    EXPECT_FALSE(VexType::IsInternalStreamType(VexType::kPosition));
    EXPECT_FALSE(VexType::IsInternalStreamType(VexType::kMpu9250Magnetometer));
    EXPECT_TRUE(VexType::IsInternalStreamType(VexType::kTick));
    EXPECT_TRUE(VexType::IsInternalStreamType(VexType::kConfig));
    EXPECT_FALSE(VexType::IsInternalStreamType(VexType::kToaSolution));
    EXPECT_FALSE(VexType::IsInternalStreamType(VexType::kToaAnchor));
}

TEST(VexDataPingTest, PingWithoutUserDataIs28Bytes) {
    vex_data_ping_t ping{};
    ping.sequence = 3;
    ping.serial_number = 0x01030001;
    VexPacket packet(1);
    ASSERT_TRUE(VexDataPing_Add(packet, ping, nullptr, 0));
    const VexDataItem& item = *packet.GetDataItems().front();
    EXPECT_EQ(item.GetDataSize(), 28);

    vex_data_ping_t read{};
    const uint8_t* user_data = reinterpret_cast<const uint8_t*>(&read);
    uint16_t user_data_size = 99;
    ASSERT_TRUE(VexDataPing_Read(item, &read, &user_data, &user_data_size));
    EXPECT_EQ(Value(read.serial_number), 0x01030001u);
    EXPECT_EQ(user_data, nullptr);
    EXPECT_EQ(user_data_size, 0);
}

TEST(VexDataPingTest, UserDataFollowsTheFixedPart) {
    vex_data_ping_t ping{};
    ping.network_id = 0x0102;
    const uint8_t user[] = {6, 1, 0x10, 0, 0x22, 0};
    VexPacket packet(1);
    ASSERT_TRUE(VexDataPing_Add(packet, ping, user, sizeof(user)));
    const VexDataItem& item = *packet.GetDataItems().front();
    ASSERT_EQ(item.GetDataSize(), 34);
    EXPECT_EQ(item.GetData()[5], 0x02);
    EXPECT_EQ(item.GetData()[28], 6);

    vex_data_ping_t read{};
    const uint8_t* user_data = nullptr;
    uint16_t user_data_size = 0;
    ASSERT_TRUE(VexDataPing_Read(item, &read, &user_data, &user_data_size));
    EXPECT_EQ(Bytes(user_data, user_data + user_data_size), Bytes(user, user + sizeof(user)));

    const uint8_t short_ping[27] = {};
    EXPECT_FALSE(VexDataPing_Read(VexDataItem(VexType::kPing, sizeof(short_ping), short_ping), &read,
                                  &user_data, &user_data_size));
    EXPECT_FALSE(VexDataPing_Add(packet, ping, nullptr, 1));
}

TEST(VexDataConfigTest, RoundTripsThroughThePayload) {
    QJsonObject config;
    config["vsn"] = 3;
    config["host"] = QJsonObject{{"smoothing factor", 12}};
    config["network"] = QJsonArray{1, 2, 3};
    VexPacket packet(0);
    ASSERT_TRUE(VexDataConfig_Add(packet, config));
    const VexDataItem& item = *packet.GetDataItems().front();
    // QDataStream's byte array: 32-bit big-endian length, then the bytes.
    ASSERT_GE(item.GetDataSize(), 4);
    EXPECT_EQ(wire::read_be32(item.GetData()), item.GetDataSize() - 4u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(item.GetData()) + 4, 4), "qbjs");

    QJsonObject read;
    ASSERT_TRUE(VexDataConfig_Read(item, &read));
    EXPECT_EQ(read, config);
}

TEST(VexDataConfigTest, RefusesBrokenPayloads) {
    QJsonObject config{{"vsn", 3}};
    QByteArray payload;
    ASSERT_TRUE(VexDataConfig_Encode(config, &payload));
    QJsonObject read;
    for (int length = 0; length < payload.size(); ++length) {
        EXPECT_FALSE(VexDataConfig_Read(
            VexDataItem(VexType::kConfig, static_cast<uint16_t>(length), payload.constData()), &read))
            << "length " << length;
    }
    QByteArray garbage = payload;
    garbage[6] = 'X';  // breaks the binary JSON tag
    EXPECT_FALSE(VexDataConfig_Read(
        VexDataItem(VexType::kConfig, static_cast<uint16_t>(garbage.size()), garbage.constData()), &read));
    EXPECT_FALSE(VexDataConfig_Read(
        VexDataItem(VexType::kPosition, static_cast<uint16_t>(payload.size()), payload.constData()), &read));
}

TEST(VexDataConfigTest, ConfigurationTooLargeForAnItemIsRefused) {
    QJsonObject config;
    config["text"] = QString(70000, QChar('a'));
    VexPacket packet(0);
    StdoutCapture capture;
    EXPECT_FALSE(VexDataConfig_Add(packet, config));
    EXPECT_NE(capture.Stop().find("does not fit"), std::string::npos);
    EXPECT_TRUE(packet.GetDataItems().empty());
    QByteArray payload("left over");
    EXPECT_FALSE(VexDataConfig_Encode(config, &payload));
    EXPECT_TRUE(payload.isEmpty());
}

struct ScaleCase {
    uint32_t code;
    unsigned accelerometer_full_scale;
    unsigned gyroscope_full_scale;
};

class VexSensorScaleTest : public ::testing::TestWithParam<ScaleCase> {};

TEST_P(VexSensorScaleTest, FullScaleFromCode) {
    EXPECT_EQ(VexData_AccelerometerFullScale(GetParam().code), GetParam().accelerometer_full_scale);
    EXPECT_EQ(VexData_GyroscopeFullScale(GetParam().code), GetParam().gyroscope_full_scale);
}

// Codes past 3 give what the device runs with: it keeps the low two bits.
INSTANTIATE_TEST_SUITE_P(Codes, VexSensorScaleTest,
                         ::testing::Values(ScaleCase{0, 2, 250}, ScaleCase{1, 4, 500}, ScaleCase{2, 8, 1000},
                                           ScaleCase{3, 16, 2000}, ScaleCase{5, 4, 500},
                                           ScaleCase{0xFFFFFFFF, 16, 2000}));

struct BandwidthCase {
    uint32_t code;
    unsigned accelerometer;
    unsigned gyroscope;
};

class VexSensorBandwidthTest : public ::testing::TestWithParam<BandwidthCase> {};

TEST_P(VexSensorBandwidthTest, BandwidthFromLowPassCode) {
    EXPECT_EQ(VexData_AccelerometerBandwidth(GetParam().code), GetParam().accelerometer);
    EXPECT_EQ(VexData_GyroscopeBandwidth(GetParam().code), GetParam().gyroscope);
}

INSTANTIATE_TEST_SUITE_P(Codes, VexSensorBandwidthTest,
                         ::testing::Values(BandwidthCase{0, 460, 184}, BandwidthCase{1, 184, 184},
                                           BandwidthCase{2, 92, 92}, BandwidthCase{3, 41, 41},
                                           BandwidthCase{4, 20, 20}, BandwidthCase{5, 10, 10},
                                           BandwidthCase{6, 5, 5}, BandwidthCase{7, 460, 184},
                                           BandwidthCase{1000, 460, 184}));

TEST(VexSensorSampleTimeTest, PartialTimeBehindNowStaysInTheSameBlock) {
    EXPECT_EQ(VexData_SensorSampleTime(0x1234, 0x05200000), 0x05123400u);
    EXPECT_EQ(VexData_SensorSampleTime(0x2000, 0x05200000), 0x05200000u);
}

TEST(VexSensorSampleTimeTest, PartialTimeAheadOfNowIsPlacedOneBlockEarlier) {
    EXPECT_EQ(VexData_SensorSampleTime(0x2001, 0x05200000), 0x04200100u);
    EXPECT_EQ(VexData_SensorSampleTime(0xFFFF, 0x05000000), 0x04FFFF00u);
}

TEST(VexSensorSampleTimeTest, StepBackWrapsBelowZero) {
    EXPECT_EQ(VexData_SensorSampleTime(0x0100, 0x00000050), 0xFF010000u);
}

TEST(VexMillimetresTest, TruncatesTowardZero) {
    EXPECT_EQ(VexData_MetresToMillimetres(1.2349), 1234);
    EXPECT_EQ(VexData_MetresToMillimetres(-1.2349), -1234);
    EXPECT_EQ(VexData_MetresToMillimetresRounded(1.2346), 1235);
    EXPECT_EQ(VexData_MetresToMillimetresRounded(1.2344), 1234);
}

TEST(VexMillimetresTest, SaturatesOutOfRangeAndNaN) {
    EXPECT_EQ(VexData_MetresToMillimetres(1e10), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(VexData_MetresToMillimetres(-1e10), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(VexData_MetresToMillimetres(std::numeric_limits<double>::infinity()),
              std::numeric_limits<int32_t>::max());
    EXPECT_EQ(VexData_MetresToMillimetres(std::nan("")), 0);
}

}  // namespace

// The user interface's Vuv receiver over loopback multicast: every subscribed
// item type is emitted once, in the GUI thread, whether the two streams have
// connections of their own or share one; other types are not; the
// configuration item comes back as settings without validation.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonObject>
#include <QThread>
#include <map>
#include <set>
#include <vector>

#include "config/settings.h"
#include "gui/data_transport.h"
#include "protocol/vex/vex_connection.h"
#include "protocol/vex/vex_data_types.h"
#include "support/loopback_streams.h"
#include "support/stream_settings.h"

namespace {

const std::set<uint16_t> kExternalTypes = {0x0003, 0x0005, 0x0006, 0x0008, 0x0009, 0x000A, 0x0100, 0x0102};
const std::set<uint16_t> kInternalTypes = {0x8000, 0x8001, 0x8003, 0x8006};
const uint32_t kSerial = 0x01030007;
const uint32_t kSentinelSerial = 0x0103FFFF;

struct Emitted {
    uint32_t serial;
    uint16_t type;
    QThread* thread;
};

// A configuration that the validator would refuse (no network section), with a
// host value to recognise.
QJsonObject UnvalidatedConfig() {
    QJsonObject host;
    host.insert("smoothing factor", 9);
    host.insert("serial ports", QJsonArray{"ttyUSB7"});
    QJsonObject config;
    config.insert("vsn", 3);
    config.insert("host", host);
    return config;
}

// One item of each External type the user interface subscribes to, plus types it
// does not subscribe to on that stream.
VexPacket ExternalPacket(uint32_t serial) {
    VexPacket packet(serial);
    VexData_Add(packet, vex_data_mpu9250_magnetometer_t{});
    VexData_Add(packet, vex_data_lps25h_pressure_t{});
    VexData_Add(packet, vex_data_lps25h_temperature_t{});
    VexData_Add(packet, vex_data_mpu9250_accelerometer_t{});
    VexData_Add(packet, vex_data_mpu9250_gyroscope_t{});
    VexData_Add(packet, vex_data_mpu9250_quaternion_t{});
    vex_data_position_t position = {};
    position.x = 1500;
    position.y = -2500;
    position.z = 700;
    VexData_Add(packet, position);
    vex_data_infrastructure_t anchor = {};
    anchor.kind = kVexInfrastructureAnchor;
    anchor.serial_number = 0x01000011;
    anchor.x = 10000;
    VexData_Add(packet, anchor);
    VexData_Add(packet, vex_data_anchor_status_t{});
    VexData_Add(packet, vex_data_toa_anchor_t{});
    return packet;
}

VexPacket InternalPacket(uint32_t serial) {
    VexPacket packet(serial);
    VexData_Add(packet, vex_data_tick_t{});
    VexData_Add(packet, vex_data_timed_rx_t{});
    VexData_Add(packet, vex_data_discovery_t{});
    VexDataConfig_Add(packet, UnvalidatedConfig());
    VexDataPing_Add(packet, vex_data_ping_t{}, nullptr, 0);
    VexData_Add(packet, vex_data_smoothing_factor_t{});
    VexData_Add(packet, vex_data_ssp_response_t{});
    return packet;
}

class Recorder {
  public:
    explicit Recorder(DataTransport* transport) {
        QObject::connect(transport, &DataTransport::ItemReceived,
                         [this](quint32 serial, quint16 type, QByteArray) {
                             emitted_.push_back({serial, type, QThread::currentThread()});
                         });
        QObject::connect(transport, &DataTransport::PositionReceived,
                         [this](quint32, vex_data_position_t position) { positions_.push_back(position); });
        QObject::connect(transport, &DataTransport::InfrastructureReceived,
                         [this](vex_data_infrastructure_t node) { nodes_.push_back(node); });
        QObject::connect(transport, &DataTransport::ConfigurationReceived,
                         [this](QSharedPointer<Settings> settings) { settings_.push_back(settings); });
    }

    bool Saw(uint32_t serial, uint16_t type) const {
        for (const Emitted& item : emitted_) {
            if (item.serial == serial && item.type == type)
                return true;
        }
        return false;
    }

    // Types emitted for `serial`, with how often each came.
    std::map<uint16_t, int> TypesOf(uint32_t serial) const {
        std::map<uint16_t, int> types;
        for (const Emitted& item : emitted_) {
            if (item.serial == serial)
                ++types[item.type];
        }
        return types;
    }

    std::vector<Emitted> emitted_;
    std::vector<vex_data_position_t> positions_;
    std::vector<vex_data_infrastructure_t> nodes_;
    std::vector<QSharedPointer<Settings>> settings_;
};

std::map<uint16_t, int> OnceEach(const std::set<uint16_t>& external, const std::set<uint16_t>& internal) {
    std::map<uint16_t, int> expected;
    for (uint16_t type : external)
        expected[type] = 1;
    for (uint16_t type : internal)
        expected[type] = 1;
    return expected;
}

void ExpectDecodedForms(const Recorder& recorder) {
    // Fields of packed records are copied out before they are compared.
    ASSERT_EQ(recorder.positions_.size(), 1u);
    const vex_data_position_t position = recorder.positions_[0];
    EXPECT_EQ(int32_t{position.x}, 1500);
    EXPECT_EQ(int32_t{position.y}, -2500);
    EXPECT_EQ(int32_t{position.z}, 700);
    ASSERT_EQ(recorder.nodes_.size(), 1u);
    const vex_data_infrastructure_t node = recorder.nodes_[0];
    EXPECT_EQ(uint32_t{node.serial_number}, 0x01000011u);
    EXPECT_EQ(int32_t{node.x}, 10000);
    ASSERT_EQ(recorder.settings_.size(), 1u);
    Settings* received = recorder.settings_[0].data();
    EXPECT_EQ(received->GetHostSettingsReference()->GetSmoothingFactor(), 9u);
    EXPECT_EQ(received->GetHostSettingsReference()->GetSerialPorts(), std::vector<std::string>{"ttyUSB7"});
    // A fresh object, not the process-wide settings.
    EXPECT_NE(received, Settings::GlobalSettings());
}

TEST(DataTransportTest, EachSubscribedTypeArrivesOnceInTheGuiThreadOnTwoStreams) {
    Settings settings = StreamSettings(44200, 44201);
    DataTransport transport(&settings);
    Recorder recorder(&transport);
    VexConnection external(LoopbackStream(44200));
    VexConnection internal(LoopbackStream(44201));

    VexPacket external_packet = ExternalPacket(kSerial);
    // Internal types on the External stream are not the user interface's.
    VexData_Add(external_packet, vex_data_tick_t{});
    external.Publish(external_packet);
    VexPacket internal_packet = InternalPacket(kSerial);
    VexData_Add(internal_packet, vex_data_position_t{});
    internal.Publish(internal_packet);
    // Later packets on both streams: whatever the first ones gave has come by then.
    VexPacket external_sentinel(kSentinelSerial);
    VexData_Add(external_sentinel, vex_data_position_t{});
    external.Publish(external_sentinel);
    VexPacket internal_sentinel(kSentinelSerial);
    VexData_Add(internal_sentinel, vex_data_tick_t{});
    internal.Publish(internal_sentinel);

    ASSERT_TRUE(SpinUntil([&] {
        return recorder.Saw(kSentinelSerial, VexType::kPosition) &&
               recorder.Saw(kSentinelSerial, VexType::kTick);
    }));
    EXPECT_EQ(recorder.TypesOf(kSerial), OnceEach(kExternalTypes, kInternalTypes));
    for (const Emitted& item : recorder.emitted_)
        EXPECT_EQ(item.thread, QCoreApplication::instance()->thread()) << item.type;
    // The sentinel position counts too.
    recorder.positions_.pop_back();
    ExpectDecodedForms(recorder);
}

TEST(DataTransportTest, EachSubscribedTypeArrivesOnceWhenTheStreamsShareOneConnection) {
    Settings settings = StreamSettings(44202, 44202);
    DataTransport transport(&settings);
    Recorder recorder(&transport);
    VexConnection stream(LoopbackStream(44202));

    VexPacket packet = ExternalPacket(kSerial);
    const VexPacket internal_part = InternalPacket(kSerial);
    for (const auto& item : internal_part.GetDataItems())
        packet.AddDataItem(item->GetType(), item->GetDataSize(), item->GetData());
    stream.Publish(packet);
    VexPacket sentinel(kSentinelSerial);
    VexData_Add(sentinel, vex_data_tick_t{});
    stream.Publish(sentinel);

    ASSERT_TRUE(SpinUntil([&] { return recorder.Saw(kSentinelSerial, VexType::kTick); }));
    EXPECT_EQ(recorder.TypesOf(kSerial), OnceEach(kExternalTypes, kInternalTypes));
    ExpectDecodedForms(recorder);
}

TEST(DataTransportTest, PublishesEachKindOfItemOnItsOwnStream) {
    Settings settings = StreamSettings(44203, 44204);
    DataTransport transport(&settings);
    DatagramReader external(44203);
    DatagramReader internal(44204);
    ASSERT_TRUE(external.IsReady() && internal.IsReady());

    VexPacket command(0);
    VexData_Add(command, vex_data_smoothing_factor_t{0, 0, 5});
    transport.PublishInternal(command);
    VexPacket distance(kSerial);
    VexData_Add(distance, vex_data_distance_t{});
    transport.PublishExternal(distance);

    VexPacket on_internal(0xFFFFFFFF);
    ASSERT_TRUE(internal.Next(&on_internal));
    ASSERT_EQ(on_internal.GetDataItems().size(), 1u);
    EXPECT_EQ(on_internal.GetDataItems()[0]->GetType(), VexType::kSmoothingFactor);
    VexPacket on_external(0xFFFFFFFF);
    ASSERT_TRUE(external.Next(&on_external));
    ASSERT_EQ(on_external.GetDataItems().size(), 1u);
    EXPECT_EQ(on_external.GetDataItems()[0]->GetType(), VexType::kDistance);
    EXPECT_EQ(on_external.GetSerialNumber(), kSerial);
}

}  // namespace

#include "host/devices/dw_node.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDateTime>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "base/thread_annotations.h"
#include "config/flat_settings_interface.h"
#include "config/settings.h"
#include "support/stdout_capture.h"

// Reaches the node's locks and output packet as the report and payload paths do.
class DwNodeTestPeer {
  public:
    static QMutex& PositionLock(DwNode& node) { return node.position_mutex_; }
    static void AddItem(DwNode& node, uint16_t type, uint8_t value) {
        AnnotatedMutexLocker lock(&node.packet_mutex_);
        node.vex_packet_.AddDataItem(type, 1, &value);
    }
    static bool HasToaStorage(DwNode& node) { return node.toa_rpt_.toas != nullptr; }
    static bool PrepareToaReport(DwNode& node) {
        AnnotatedMutexLocker lock(&node.report_mutex_);
        return node.PrepareToaReport();
    }
    static derazud_toa_t* Toas(DwNode& node) { return node.toa_rpt_.toas; }
    static uint32_t CorrectedGnt(uint16_t partial, uint32_t now) {
        return DwNode::_GetCorrectedGnt(partial, now);
    }
};

namespace {

constexpr uint32_t kMasterSerial = 0x01020001;
constexpr uint32_t kAnchorSerial = 0x01030002;
constexpr uint32_t kTagSerial = 0x01040003;

class NodeLinkProbe : public NodeLink {
  public:
    NodeLinkProbe() {
        connect(
            this, &NodeLink::DataToPublish, this, [this](QByteArray data) { sent.push_back(data); },
            Qt::DirectConnection);
    }
    std::vector<QByteArray> sent;

    // No port: what the node hands over is caught at DataToPublish above.
    std::string GetPortName() const override { return "probe"; }
    bool WaitForBytesWritten(int) override { return false; }
    bool WaitForReadyRead(int) override { return false; }
    void PublishData(QByteArray) override {}
};

QByteArray Bytes(std::initializer_list<int> values) {
    QByteArray bytes;
    for (int value : values)
        bytes.append(static_cast<char>(value));
    return bytes;
}

derazud_pos3_t Position(float x, float y, float z, int64_t timeMs, float quality = 0.0f) {
    derazud_pos3_t position{};
    position.data_tag.type = 0x0100;
    position.data_tag.length = 0x0020;
    position.serial_number = kTagSerial;
    position.x = x;
    position.y = y;
    position.z = z;
    position.quality = quality;
    position.sequence = static_cast<uint16_t>(timeMs);
    position.network_time = static_cast<uint32_t>(timeMs * 10);
    position.creation_time = timeMs;
    return position;
}

std::shared_ptr<DwTag> MakeTag(uint32_t syncPeriodMs) {
    TagSettings settings;
    settings.SetSerialNumber(kTagSerial);
    settings.SetAntennaDelay(16442);
    auto tag = std::make_shared<DwTag>(settings, 9, syncPeriodMs);
    tag->SetInitialPosition(1.5, -2.25, 0.7);
    return tag;
}

class DwNodeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Settings defaults;
        Settings::GlobalSettings()->CopyFromOtherSettings(&defaults);
    }
    void SetSmoothingFactor(uint32_t factor) {
        FlatSettingsInterface(Settings::GlobalSettings()).SetSmoothingFactor(factor);
    }
};

TEST_F(DwNodeTest, EachKindAnswersItsKindAndPosition) {
    MasterSettings master_settings;
    master_settings.SetSerialNumber(kMasterSerial);
    master_settings.SetX(1.0);
    master_settings.SetY(2.0);
    master_settings.SetZ(3.0);
    AnchorSettings anchor_settings;
    anchor_settings.SetSerialNumber(kAnchorSerial);
    anchor_settings.SetX(-4.5);
    anchor_settings.SetY(5.5);
    anchor_settings.SetZ(6.5);
    anchor_settings.SetBackhaulType("uwb");
    anchor_settings.SetAntennaDelay(16400);
    cmd_set_rf_settings_t rf{};
    rf.channel_number = 5;
    const DwMaster master(master_settings, 1, 100);
    const DwAnchor anchor(anchor_settings, 2, 100);
    const DwNullNode null_node(0x0BADBEEF);
    const DwAlienNode alien(AlienNodeSettings(0x0A0B0C0D, rf));
    const auto tag = MakeTag(100);

    struct expected_t {
        const DwNode* node;
        uint32_t serial;
        bool master, anchor, tag, null, alien;
        double x, y, z;
        uint16_t network_id;
        bool enabled;
    };
    const expected_t table[] = {
        {&master, kMasterSerial, true, false, false, false, false, 1.0, 2.0, 3.0, 1, true},
        {&anchor, kAnchorSerial, false, true, false, false, false, -4.5, 5.5, 6.5, 2, true},
        {tag.get(), kTagSerial, false, false, true, false, false, 1.5, -2.25, 0.7, 9, true},
        {&null_node, 0x0BADBEEF, false, false, false, true, false, 0.0, 0.0, 0.0, 0x7FFF, false},
        {&alien, 0x0A0B0C0D, false, false, false, false, true, 0.0, 0.0, 0.0, 0x07FE, false},
    };
    for (const expected_t& e : table) {
        SCOPED_TRACE(e.serial);
        EXPECT_EQ(e.node->GetSerialNumber(), e.serial);
        EXPECT_EQ(e.node->IsMasterNode(), e.master);
        EXPECT_EQ(e.node->IsAnchorNode(), e.anchor);
        EXPECT_EQ(e.node->IsTagNode(), e.tag);
        EXPECT_EQ(e.node->IsNullNode(), e.null);
        EXPECT_EQ(e.node->IsAlienNode(), e.alien);
        EXPECT_EQ(e.node->GetX(), e.x);
        EXPECT_EQ(e.node->GetY(), e.y);
        EXPECT_EQ(e.node->GetZ(), e.z);
        EXPECT_EQ(e.node->GetNetworkId(), e.network_id);
        EXPECT_EQ(e.node->IsEnabled(), e.enabled);
    }
    EXPECT_EQ(anchor.GetAntennaDelay(), 16400u);
    EXPECT_EQ(tag->GetAntennaDelay(), 16442u);
    EXPECT_TRUE(anchor.IsWireless());
    EXPECT_EQ(anchor.GetBackhaulType(), "uwb");
    EXPECT_EQ(alien.GetRfSettings().channel_number, 5);
    EXPECT_EQ(DwTag().GetSerialNumber(), 0u);
}

TEST_F(DwNodeTest, ConfiguredPositionsCarryTheKindMarker) {
    MasterSettings master_settings;
    master_settings.SetSerialNumber(kMasterSerial);
    master_settings.SetX(10.25);
    AnchorSettings anchor_settings;
    anchor_settings.SetSerialNumber(kAnchorSerial);
    anchor_settings.SetZ(-3.5);
    const DwMaster master(master_settings, 1, 100);
    const DwAnchor anchor(anchor_settings, 2, 100);
    const auto tag = MakeTag(100);

    const derazud_pos3_t m = master.GetCurrentPos3();
    EXPECT_EQ(m.data_tag.type, 0x0100);
    EXPECT_EQ(m.data_tag.length, 0x0020);
    EXPECT_EQ(m.serial_number, kMasterSerial);
    EXPECT_EQ(m.x, 10.25f);
    EXPECT_EQ(m.quality, -2.0f);
    const derazud_pos3_t a = anchor.GetCurrentPos3();
    EXPECT_EQ(a.serial_number, kAnchorSerial);
    EXPECT_EQ(a.z, -3.5f);
    EXPECT_EQ(a.quality, -4.0f);
    const derazud_pos3_t t = tag->GetCurrentPos3();
    EXPECT_EQ(t.serial_number, kTagSerial);
    EXPECT_EQ(t.y, -2.25f);
    EXPECT_EQ(t.quality, -1.0f);
    EXPECT_EQ(t.smoothing_count, 0);
    EXPECT_EQ(t.creation_time, 0);

    derazud_pos3_t zero{};
    const derazud_pos3_t n = DwNullNode(5).GetCurrentPos3();
    EXPECT_EQ(std::memcmp(&n, &zero, sizeof(zero)), 0);
}

TEST_F(DwNodeTest, SetInitialPos3KeepsTheFirst24BytesAndClearsTheRest) {
    auto tag = MakeTag(100);
    derazud_pos3_t position = Position(4.0f, 5.0f, 6.0f, 777, -7.0f);
    position.smoothing_count = 3;
    tag->SetInitialPos3(position);
    const derazud_pos3_t stored = tag->GetCurrentPos3();
    EXPECT_EQ(stored.x, 4.0f);
    EXPECT_EQ(stored.quality, -7.0f);
    EXPECT_EQ(stored.serial_number, kTagSerial);
    EXPECT_EQ(stored.smoothing_count, 0);
    EXPECT_EQ(stored.sequence, 0);
    EXPECT_EQ(stored.network_time, 0u);
    EXPECT_EQ(stored.creation_time, 0);
}

TEST_F(DwNodeTest, BeforeAnySolveTheItemIsTheInitialPosition) {
    const auto tag = MakeTag(100);
    const vex_data_position_t item = tag->GetSmoothedPositionData();
    EXPECT_EQ(item.x, 1500);
    EXPECT_EQ(item.y, -2250);
    // 0.7f x 1000 in float is 700; a double product would truncate to 699.
    EXPECT_EQ(item.z, 700);
    EXPECT_EQ(item.error, -1);
    EXPECT_EQ(item.smoothing_count, 0);
    const derazud_pos3_t smoothed = tag->GetSmoothedPos3();
    EXPECT_EQ(smoothed.quality, -1.0f);
    EXPECT_EQ(smoothed.x, 1.5f);
}

TEST_F(DwNodeTest, FactorTwoAveragesThreePositionsInsideTheWindow) {
    SetSmoothingFactor(2);
    auto tag = MakeTag(100);
    tag->SetCurrentPos3(Position(1.0f, 10.0f, 0.0f, 0, 3.7f));
    tag->SetCurrentPos3(Position(2.0f, 20.0f, 0.0f, 100, 4.2f));
    tag->SetCurrentPos3(Position(3.0f, 30.0f, 0.5f, 200, 5.9f));

    const vex_data_position_t item = tag->GetSmoothedPositionData();
    EXPECT_EQ(item.smoothing_count, 2);  // cut-off 200 - 200.5 truncates to 0: all three
    EXPECT_EQ(item.x, 2000);
    EXPECT_EQ(item.y, 20000);
    EXPECT_EQ(item.z, 166);
    // Qualities summed as whole numbers: 3, 7, 12; divided by 3.
    EXPECT_EQ(item.error, 4);
    EXPECT_EQ(item.sequence, 200);
    EXPECT_EQ(item.network_time, 2000u);

    const derazud_pos3_t smoothed = tag->GetSmoothedPos3();
    EXPECT_EQ(smoothed.data_tag.type, 0x0100);
    EXPECT_EQ(smoothed.serial_number, kTagSerial);
    EXPECT_FLOAT_EQ(smoothed.x, 2.0f);
    EXPECT_FLOAT_EQ(smoothed.y, 20.0f);
    EXPECT_EQ(smoothed.quality, 4.0f);
    EXPECT_EQ(smoothed.smoothing_count, 2);
    EXPECT_EQ(smoothed.sequence, 200);
    EXPECT_EQ(smoothed.creation_time, 200);

    // A fourth position pushes the oldest out: at most factor + 1 are kept.
    tag->SetCurrentPos3(Position(4.0f, 40.0f, 0.0f, 300, 0.0f));
    EXPECT_EQ(tag->GetSmoothedPositionData().smoothing_count, 2);
    EXPECT_EQ(tag->GetSmoothedPositionData().x, 3000);
}

TEST_F(DwNodeTest, PositionsStampedBeforeTheCutOffAreLeftOut) {
    SetSmoothingFactor(2);
    auto tag = MakeTag(50);  // cut-off 200 - 100.5 -> 99
    tag->SetCurrentPos3(Position(100.0f, 0.0f, 0.0f, 0));
    tag->SetCurrentPos3(Position(2.0f, 0.0f, 0.0f, 99));
    tag->SetCurrentPos3(Position(4.0f, 0.0f, 0.0f, 200));
    EXPECT_EQ(tag->GetSmoothedPositionData().smoothing_count, 1);
    EXPECT_EQ(tag->GetSmoothedPositionData().x, 3000);
    EXPECT_EQ(tag->GetSmoothedPos3().smoothing_count, 1);
    EXPECT_FLOAT_EQ(tag->GetSmoothedPos3().x, 3.0f);

    // The walk stops at the first old entry even when an older one is newer
    // again (a position stamped out of order).
    auto other = MakeTag(50);
    other->SetCurrentPos3(Position(8.0f, 0.0f, 0.0f, 200));
    other->SetCurrentPos3(Position(100.0f, 0.0f, 0.0f, 10));
    other->SetCurrentPos3(Position(6.0f, 0.0f, 0.0f, 200));
    EXPECT_EQ(other->GetSmoothedPositionData().smoothing_count, 0);
    EXPECT_EQ(other->GetSmoothedPositionData().x, 6000);
}

TEST_F(DwNodeTest, FactorZeroGivesTheNewestPositionUnchanged) {
    SetSmoothingFactor(0);
    auto tag = MakeTag(100);
    tag->SetCurrentPos3(Position(9.0f, 9.0f, 9.0f, 0));
    derazud_pos3_t newest = Position(0.7f, -1.234f, 2.0f, 100, 12.9f);
    newest.smoothing_count = 5;
    tag->SetCurrentPos3(newest);
    const vex_data_position_t item = tag->GetSmoothedPositionData();
    EXPECT_EQ(item.x, 700);
    EXPECT_EQ(item.y, -1234);
    EXPECT_EQ(item.z, 2000);
    EXPECT_EQ(item.error, 12);
    EXPECT_EQ(item.smoothing_count, 5);
    EXPECT_EQ(item.sequence, 100);
    const derazud_pos3_t smoothed = tag->GetSmoothedPos3();
    EXPECT_EQ(std::memcmp(&smoothed, &newest, sizeof(newest)), 0);
    const derazud_pos3_t current = tag->GetCurrentPos3();
    EXPECT_EQ(std::memcmp(&current, &newest, sizeof(newest)), 0);
}

TEST_F(DwNodeTest, HugeFactorKeepsTheHistoryBounded) {
    // Factor + 1 computed in 32 bits would wrap to 0 and empty the history.
    SetSmoothingFactor(0xFFFFFFFF);
    auto tag = MakeTag(100);
    const uint64_t stores = DwNode::kMaxPositionHistory + 10;
    for (uint64_t i = 0; i < stores; ++i)
        tag->SetCurrentPos3(Position(static_cast<float>(i), 0.0f, 0.0f, 1000));
    const vex_data_position_t item = tag->GetSmoothedPositionData();
    EXPECT_EQ(item.smoothing_count, DwNode::kMaxPositionHistory - 1);
    // The oldest ten are gone: the mean of 10 .. 1033 is 521.5 m.
    EXPECT_EQ(item.x, 521500);
    EXPECT_EQ(tag->GetSmoothedPos3().smoothing_count, DwNode::kMaxPositionHistory - 1);
}

TEST_F(DwNodeTest, ConversionsSaturateAndMapNotANumberToZero) {
    SetSmoothingFactor(0);
    auto tag = MakeTag(100);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    tag->SetCurrentPos3(Position(nan, 1e10f, -1e10f, 0, std::numeric_limits<float>::infinity()));
    const vex_data_position_t item = tag->GetSmoothedPositionData();
    EXPECT_EQ(item.x, 0);
    EXPECT_EQ(item.y, std::numeric_limits<int32_t>::max());
    EXPECT_EQ(item.z, std::numeric_limits<int32_t>::min());
    EXPECT_EQ(item.error, std::numeric_limits<int32_t>::max());

    SetSmoothingFactor(3);
    tag->SetCurrentPos3(Position(1.0f, 1e10f, 0.0f, 0, -1.0f));
    tag->SetCurrentPos3(Position(1.0f, 1e10f, 0.0f, 0, -1.0f));
    const vex_data_position_t averaged = tag->GetSmoothedPositionData();
    EXPECT_EQ(averaged.y, std::numeric_limits<int32_t>::max());
    // A NaN and an infinite quality saturate; the NaN x makes the mean NaN.
    EXPECT_EQ(averaged.x, 0);
}

TEST_F(DwNodeTest, NegativeQualitiesAverageAsSignedNumbers) {
    SetSmoothingFactor(2);
    auto tag = MakeTag(100);
    for (int i = 0; i < 3; ++i)
        tag->SetCurrentPos3(Position(0.0f, 0.0f, 0.0f, 100 * i, -1.0f));
    EXPECT_EQ(tag->GetSmoothedPositionData().error, -1);
    EXPECT_EQ(tag->GetSmoothedPos3().quality, -1.0f);
}

TEST_F(DwNodeTest, BusyPositionLockDropsTheStoreAndServesTheConfiguredPosition) {
    SetSmoothingFactor(0);
    auto tag = MakeTag(2);  // 1 ms try-locks
    tag->SetCurrentPos3(Position(5.0f, 5.0f, 5.0f, 0));
    QMutex& lock = DwNodeTestPeer::PositionLock(*tag);
    lock.lock();
    StdoutCapture capture;
    tag->SetCurrentPos3(Position(6.0f, 6.0f, 6.0f, 100));
    const vex_data_position_t item = tag->GetSmoothedPositionData();
    const std::string printed = capture.Stop();
    lock.unlock();
    EXPECT_EQ(printed,
              "Could not set current pos3; could not get the list lock!\n"
              "Could not lock the Pos3 List!\n");
    EXPECT_EQ(item.x, 1500);
    EXPECT_EQ(item.error, -1);
    EXPECT_EQ(tag->GetCurrentPos3().x, 5.0f);
    EXPECT_EQ(tag->GetSmoothedPositionData().x, 5000);
}

anchor_report_item_queue_t QueuedItem(uint8_t sequence) {
    anchor_report_item_queue_t entry{};
    entry.item.serial_number = 100u + sequence;
    entry.sequence = sequence;
    entry.reception_time = 1000 + sequence;
    return entry;
}

TEST_F(DwNodeTest, FullAnchorReportQueueDropsItsOldestEntryWithOneMessage) {
    AnchorSettings settings;
    settings.SetSerialNumber(0x0103ABCD);
    DwAnchor anchor(settings, 2, 100);
    StdoutCapture quiet;
    for (uint8_t s = 1; s <= 4; ++s) {
        const anchor_report_item_queue_t e = QueuedItem(s);
        anchor.QueueAnchorReportItem(e.item, e.sequence, 4, e.reception_time);
    }
    EXPECT_EQ(quiet.Stop(), "");
    StdoutCapture capture;
    const anchor_report_item_queue_t fifth = QueuedItem(5);
    anchor.QueueAnchorReportItem(fifth.item, fifth.sequence, 4, fifth.reception_time);
    EXPECT_EQ(capture.Stop(), "dwnode: Anchor 01:03:ABCD discarding an anchor report item...\n");
    const auto& queue = anchor.GetAnchorReportItemQueue();
    ASSERT_EQ(queue.size(), 4u);
    for (size_t i = 0; i < queue.size(); ++i) {
        EXPECT_EQ(queue[i].sequence, i + 2);
        EXPECT_EQ(queue[i].item.serial_number, 102u + i);
        EXPECT_EQ(queue[i].reception_time, static_cast<int64_t>(1002 + i));
    }
    anchor.GetAnchorReportItemQueue().clear();
    EXPECT_TRUE(anchor.GetAnchorReportItemQueue().empty());
}

TEST_F(DwNodeTest, ForwardedPingBecomesAnAnchorReportItem) {
    AnchorSettings settings;
    settings.SetSerialNumber(kAnchorSerial);
    DwAnchor anchor(settings, 2, 100);
    vex_data_ping_t ping{};
    ping.sequence = 77;
    ping.serial_number = kTagSerial;
    ping.network_id = 9;
    ping.rx_time = 0xAB123456789Aull;  // bits above 40 are not a device time
    ping.signal_strength = signal_strength_t{1, 2, 3, 4, 5, 6};
    const int64_t before = QDateTime::currentMSecsSinceEpoch();
    anchor.QueueUsbBackhaulPing(ping, 10);
    const int64_t after = QDateTime::currentMSecsSinceEpoch();
    const auto& queue = anchor.GetAnchorReportItemQueue();
    ASSERT_EQ(queue.size(), 1u);
    const anchor_report_item_queue_t& entry = queue.front();
    EXPECT_EQ(entry.item.header.item_type, 21);
    EXPECT_EQ(entry.item.header.length, 0);
    EXPECT_EQ(entry.item.header.receive_time, 0x123456789Aull);
    EXPECT_EQ(entry.item.header.signal_strength.first_path_amplitude_1, 1);
    EXPECT_EQ(entry.item.header.signal_strength.channel_impulse_response_power, 5);
    EXPECT_EQ(entry.item.header.signal_strength.reserved, 6);
    EXPECT_EQ(entry.item.serial_number, kTagSerial);
    EXPECT_EQ(entry.sequence, 77);
    EXPECT_GE(entry.reception_time, before);
    EXPECT_LE(entry.reception_time, after);
}

TEST_F(DwNodeTest, VexPacketHandsOverEachItemOnceWithTheNodeSerialNumber) {
    auto tag = MakeTag(100);
    DwNodeTestPeer::AddItem(*tag, 0x0103, 1);
    DwNodeTestPeer::AddItem(*tag, 0x0005, 2);
    const std::shared_ptr<VexPacket> first = tag->GetVexPacket();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->GetSerialNumber(), kTagSerial);
    const VexDataItemList items = first->GetDataItems();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0]->GetType(), 0x0103);
    EXPECT_EQ(items[0]->GetData()[0], 1);
    EXPECT_EQ(items[1]->GetType(), 0x0005);
    EXPECT_TRUE(tag->GetVexPacket()->GetDataItems().empty());
}

TEST_F(DwNodeTest, PublishGoesThroughALiveLinkOnly) {
    auto tag = MakeTag(100);
    const uint8_t payload[] = {1, 2, 3};
    tag->Publish(payload, sizeof(payload));  // no link: nothing happens
    EXPECT_TRUE(tag->GetNodeLink().isNull());

    auto* link = new NodeLinkProbe;
    tag->SetNodeLink(link);
    EXPECT_EQ(tag->GetNodeLink().data(), link);
    tag->Publish(payload, sizeof(payload));
    ASSERT_EQ(link->sent.size(), 1u);
    EXPECT_EQ(link->sent[0], Bytes({1, 2, 3}));

    tag->SetNodeLink(nullptr);
    tag->Publish(payload, sizeof(payload));
    EXPECT_EQ(link->sent.size(), 1u);

    tag->SetNodeLink(link);
    delete link;
    EXPECT_TRUE(tag->GetNodeLink().isNull());
    tag->Publish(payload, sizeof(payload));
}

TEST_F(DwNodeTest, WiredBackhaulSetupSendsRfSettingsThenThreePassthroughCommands) {
    AnchorSettings settings;
    settings.SetSerialNumber(kAnchorSerial);
    settings.SetBackhaulType("wired");
    DwAnchor anchor(settings, 2, 100);
    NodeLinkProbe link;
    anchor.SetNodeLink(&link);
    cmd_set_rf_settings_t rf{};
    rf.type = 0x16;
    rf.len = 20;
    rf.execution_time = 0x01020304;
    rf.timed_flag = 0;
    rf.channel_number = 5;
    rf.prf_flag = 1;
    rf.preamble_length_code = 4;
    rf.second_preamble_code = 2;
    rf.transmit_preamble_code = 9;
    rf.receive_preamble_code = 9;
    rf.setting_byte_7 = 1;
    rf.bit_rate_code = 2;
    rf.setting_byte_9 = 1;
    rf.transmit_power_code = 0x0E082848;
    anchor.SetupAsWiredBackhaulAnchor(rf);
    ASSERT_EQ(link.sent.size(), 4u);
    EXPECT_EQ(link.sent[0], Bytes({0x11, 0x05, 0x00, 0x14, 0x01,  // exec sync commands, 20 bytes, 1 command
                                   0x16, 0x14, 0x01, 0x02, 0x03, 0x04, 0x00, 0x05, 0x01, 0x04,
                                   0x02, 0x09, 0x09, 0x01, 0x02, 0x01, 0x0E, 0x08, 0x28, 0x48}));
    for (int i = 1; i < 4; ++i)
        EXPECT_EQ(link.sent[i], Bytes({0x11, 0x02, 0x01}));

    // Without a link nothing is sent and nothing fails.
    DwAnchor unlinked(settings, 3, 100);
    unlinked.SetupAsWiredBackhaulAnchor(rf);
}

TEST_F(DwNodeTest, OnlyNodesThatAssembleReportsAllocateTheResponseArray) {
    DwNullNode null_node(42);
    EXPECT_FALSE(DwNodeTestPeer::HasToaStorage(null_node));
    auto tag = MakeTag(100);
    EXPECT_FALSE(DwNodeTestPeer::HasToaStorage(*tag));
    ASSERT_TRUE(DwNodeTestPeer::PrepareToaReport(*tag));
    derazud_toa_t* toas = DwNodeTestPeer::Toas(*tag);
    ASSERT_NE(toas, nullptr);
    EXPECT_EQ(toas[DwNode::kMaxToaResponses - 1].toa, 0);
    ASSERT_TRUE(DwNodeTestPeer::PrepareToaReport(*tag));
    EXPECT_EQ(DwNodeTestPeer::Toas(*tag), toas);
}

TEST_F(DwNodeTest, PartialSensorTimesWidenToTheLatestNetworkTime) {
    EXPECT_EQ(DwNodeTestPeer::CorrectedGnt(0x1234, 0x05123456), 0x05123400u);
    // Later than now: one 2^24 step back.
    EXPECT_EQ(DwNodeTestPeer::CorrectedGnt(0x1235, 0x05123456), 0x04123500u);
    EXPECT_EQ(DwNodeTestPeer::CorrectedGnt(0xFFFF, 0x00000000), 0xFFFFFF00u);
}

}  // namespace

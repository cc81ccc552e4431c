#include "host/devices/node_manager.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "config/flat_settings_interface.h"
#include "config/settings.h"
#include "support/stdout_capture.h"

namespace {

constexpr uint32_t kMaster = 0x01020001;
constexpr uint32_t kSecondMaster = 0x01020000;  // lower serial number, later in the list
constexpr uint32_t kA1 = 0x01030001;
constexpr uint32_t kA2 = 0x01030002;
constexpr uint32_t kA3 = 0x01030003;
constexpr uint32_t kT1 = 0x01040001;
constexpr uint32_t kT2 = 0x01040002;
constexpr uint32_t kAlien = 0x0A0B0C0D;
constexpr uint32_t kSyncPeriodMs = 100;

MasterSettings Master(uint32_t serial, double x, double y, double z, bool enabled = true) {
    MasterSettings master;
    master.SetSerialNumber(serial);
    master.SetX(x);
    master.SetY(y);
    master.SetZ(z);
    master.SetEnabled(enabled);
    return master;
}

AnchorSettings Anchor(uint32_t serial, double x, double y, double z, const std::string& backhaul = "wired",
                      bool enabled = true) {
    AnchorSettings anchor;
    anchor.SetSerialNumber(serial);
    anchor.SetX(x);
    anchor.SetY(y);
    anchor.SetZ(z);
    anchor.SetBackhaulType(backhaul);
    anchor.SetEnabled(enabled);
    return anchor;
}

TagSettings Tag(uint32_t serial, bool enabled = true) {
    TagSettings tag;
    tag.SetSerialNumber(serial);
    tag.SetEnabled(enabled);
    return tag;
}

BoundingBox Box(const Coordinates& minimum, const Coordinates& maximum) {
    BoundingBox box;
    box.SetMinCoordinates(minimum);
    box.SetMaxCoordinates(maximum);
    return box;
}

class NodeManagerTest : public ::testing::Test {
  protected:
    NodeManagerTest() {
        rf()->SetMasters({Master(kMaster, 0.0, 0.0, 0.0)});
        rf()->SetAnchors({Anchor(kA1, 1.0, 1.0, 1.0, "wired", false), Anchor(kA2, 4.0, 0.0, 2.0),
                          Anchor(kA3, 8.0, 6.0, 1.0, "uwb")});
        rf()->SetTags({Tag(kT1), Tag(kT2)});
        cmd_set_rf_settings_t alien_rf{};
        alien_rf.channel_number = 7;
        settings_.SetAlienNodeList({AlienNodeSettings(kAlien, alien_rf)});
        FlatSettingsInterface(&settings_).SetTagBounds(Box({-50000, -50000, -50000}, {50000, 50000, 50000}));
    }

    RfNetworkSettings* rf() { return settings_.GetRfNetworkSettingsReference(); }
    void Init() { registry_.Init(&settings_, kSyncPeriodMs); }
    derazud_pos3_t TagStart(uint32_t serial) {
        return registry_.FindTagBySerialNumber(serial)->GetCurrentPos3();
    }

    Settings settings_;
    NodeManager registry_;
};

TEST_F(NodeManagerTest, IdsAreDenseOverEnabledNodesInConfigurationOrder) {
    Init();
    const uint32_t by_id[] = {0, kMaster, kA2, kA3, kT1, kT2};
    for (uint16_t id = 1; id <= 5; ++id) {
        SCOPED_TRACE(id);
        EXPECT_EQ(registry_.GetNodeSerialNumberFromId(id), by_id[id]);
        const std::shared_ptr<DwNode> node = registry_.FindNodeById(id);
        ASSERT_TRUE(node);
        EXPECT_EQ(node->GetSerialNumber(), by_id[id]);
        EXPECT_EQ(node->GetNetworkId(), id);
        EXPECT_FALSE(node->IsNullNode());
    }
    EXPECT_TRUE(registry_.FindNodeById(1)->IsMasterNode());
    EXPECT_TRUE(registry_.FindNodeById(2)->IsAnchorNode());
    EXPECT_TRUE(registry_.FindNodeById(5)->IsTagNode());
    for (uint16_t id : {0, 6, 0x07FE, 0x7FFF, 0xFFFF}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(registry_.GetNodeSerialNumberFromId(id), 0u);
        EXPECT_FALSE(registry_.FindNodeById(id));
    }
    EXPECT_EQ(registry_.GetNumberOfTags(), 2u);
    EXPECT_EQ(registry_.GetNumberOfAnchors(), 2u);
    EXPECT_EQ(registry_.GetPrimaryMaster()->GetSerialNumber(), kMaster);
    const DwNodeMap anchors = registry_.GetAnchors();
    ASSERT_EQ(anchors.size(), 2u);
    EXPECT_EQ(anchors.begin()->first, kA2);
    EXPECT_EQ(anchors.rbegin()->second->GetSerialNumber(), kA3);
}

TEST_F(NodeManagerTest, FailedLookupsReturnTheirFailureValues) {
    Init();
    // A disabled anchor is unknown: a null node carrying its serial number.
    const std::shared_ptr<DwNode> a1 = registry_.FindNodeBySerialNumber(kA1);
    ASSERT_TRUE(a1);
    EXPECT_TRUE(a1->IsNullNode());
    EXPECT_EQ(a1->GetSerialNumber(), kA1);
    EXPECT_EQ(a1->GetNetworkId(), 0x7FFF);
    EXPECT_FALSE(a1->IsEnabled());

    // Lookups of one kind do not find a node of another.
    struct case_t {
        std::shared_ptr<DwNode> node;
        uint32_t serial;
        bool null;
    };
    const case_t cases[] = {
        {registry_.FindTagBySerialNumber(kT2), kT2, false},
        {registry_.FindTagBySerialNumber(kA2), kA2, true},
        {registry_.FindAnchorBySerialNumber(kA3), kA3, false},
        {registry_.FindAnchorBySerialNumber(kMaster), kMaster, true},
        {registry_.FindMasterBySerialNumber(kMaster), kMaster, false},
        {registry_.FindMasterBySerialNumber(kT1), kT1, true},
        {registry_.FindAlienNodeBySerialNumber(kAlien), kAlien, false},
        {registry_.FindAlienNodeBySerialNumber(kT1), kT1, true},
        {registry_.FindAnchorById(2), kA2, false},
        {registry_.FindAnchorById(4), kT1, true},  // the id's serial number, not 0
        {registry_.FindAnchorById(0), 0, true},
        {registry_.FindAnchorById(6), 0, true},
        {registry_.FindTagById(5), kT2, false},
        {registry_.FindTagById(1), kMaster, true},
        {registry_.FindTagById(0x7FFF), 0, true},
        {registry_.FindMasterById(1), kMaster, false},
        {registry_.FindMasterById(3), kA3, true},
        {registry_.FindMasterById(0x07FE), 0, true},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(cases[i].node);
        EXPECT_EQ(cases[i].node->GetSerialNumber(), cases[i].serial);
        EXPECT_EQ(cases[i].node->IsNullNode(), cases[i].null);
    }
}

TEST_F(NodeManagerTest, AlienNodesAreFoundBySerialNumberOnlyWithTheirFixedId) {
    Init();
    const std::shared_ptr<DwNode> alien = registry_.FindNodeBySerialNumber(kAlien);
    ASSERT_TRUE(alien->IsAlienNode());
    EXPECT_EQ(alien->GetNetworkId(), 0x07FE);
    EXPECT_EQ(std::static_pointer_cast<DwAlienNode>(alien)->GetRfSettings().channel_number, 7);
    EXPECT_FALSE(registry_.FindNodeById(0x07FE));
    // Disabled alien nodes are registered too.
    cmd_set_rf_settings_t rf{};
    AlienNodeSettings disabled(0x0A0B0C0E, rf);
    disabled.SetEnabled(false);
    settings_.SetAlienNodeList({disabled});
    NodeManager other;
    other.Init(&settings_, kSyncPeriodMs);
    EXPECT_TRUE(other.FindAlienNodeBySerialNumber(0x0A0B0C0E)->IsAlienNode());
}

TEST_F(NodeManagerTest, OnlyTheFirstEnabledMasterIsRegistered) {
    rf()->SetMasters(
        {Master(0x01020009, 0, 0, 0, false), Master(kMaster, 0, 0, 0), Master(kSecondMaster, 0, 0, 0)});
    Init();
    EXPECT_EQ(registry_.GetNodeSerialNumberFromId(1), kMaster);
    EXPECT_EQ(registry_.GetPrimaryMaster()->GetSerialNumber(), kMaster);
    EXPECT_TRUE(registry_.FindNodeBySerialNumber(kSecondMaster)->IsNullNode());
    EXPECT_EQ(registry_.GetNodeSerialNumberFromId(2), kA2);
}

TEST_F(NodeManagerTest, WithoutAMasterTheFirstAnchorGetsIdOne) {
    rf()->SetMasters({Master(kMaster, 0, 0, 0, false)});
    Init();
    EXPECT_FALSE(registry_.GetPrimaryMaster());
    EXPECT_EQ(registry_.GetNodeSerialNumberFromId(1), kA2);
    EXPECT_EQ(registry_.GetNodeSerialNumberFromId(4), kT2);
    EXPECT_EQ(registry_.GetNodeSerialNumberFromId(5), 0u);
    // No master to measure from: the clock offset keeps its initial value.
    auto anchor = registry_.FindAnchorBySerialNumber(kA2);
    EXPECT_EQ(anchor->GetClock().GetMasterDistTickOffset(), 0);
}

TEST_F(NodeManagerTest, AnchorClocksAreOffsetByTheirDistanceToTheMaster) {
    Init();
    const double speed = FlatSettingsInterface(Settings::GlobalSettings()).GetSpeedOfLight();
    // A2 at (4, 0, 2): sqrt(20) m from the master at the origin.
    EXPECT_EQ(registry_.FindAnchorBySerialNumber(kA2)->GetClock().GetMasterDistTickOffset(),
              DwClock::DistanceToTicks(std::sqrt(4000.0 * 4000.0 + 2000.0 * 2000.0) / 1000.0, speed));
    EXPECT_GT(registry_.FindAnchorBySerialNumber(kA3)->GetClock().GetMasterDistTickOffset(), 0);
}

TEST_F(NodeManagerTest, WiredAndWirelessAnchorsAreCounted) {
    rf()->SetAnchors({Anchor(kA1, 0, 0, 0, "uwb"), Anchor(kA2, 0, 0, 0, "wired"),
                      Anchor(kA3, 0, 0, 0, "wired"), Anchor(0x01030004, 0, 0, 0, "uwb", false)});
    Init();
    EXPECT_EQ(registry_.GetNumberOfAnchors(), 3u);
    EXPECT_EQ(registry_.GetNumberOfWirelessAnchors(), 1u);
    EXPECT_EQ(registry_.GetNumberOfWiredAnchors(), 2u);
}

TEST_F(NodeManagerTest, RepeatedSerialNumbersKeepTheFirstNodeAndAreReportedOnce) {
    rf()->SetAnchors({Anchor(kA2, 4.0, 0.0, 0.0, "uwb"), Anchor(kA2, 400.0, 0.0, 0.0, "uwb"),
                      Anchor(kA3, 8.0, 0.0, 0.0, "wired")});
    rf()->SetTags({Tag(kT1), Tag(kT1), Tag(kT2)});
    StdoutCapture capture;
    Init();
    EXPECT_EQ(capture.Stop(),
              "NodeManager: anchor 01:03:0002 is configured more than once; only the first is registered\n"
              "NodeManager: tag 01:04:0001 is configured more than once; only the first is registered\n");
    EXPECT_EQ(registry_.GetNumberOfAnchors(), 2u);
    EXPECT_EQ(registry_.GetNumberOfWirelessAnchors(), 1u);
    EXPECT_EQ(registry_.GetNumberOfWiredAnchors(), 1u);
    EXPECT_EQ(registry_.FindAnchorBySerialNumber(kA2)->GetX(), 4.0);
    // Each repeat takes its id in list order (3 and 6), naming nothing: the
    // ids after it are the list's.
    const uint32_t by_id[] = {0, kMaster, kA2, 0, kA3, kT1, 0, kT2, 0};
    for (uint16_t id = 1; id <= 8; ++id) {
        SCOPED_TRACE(id);
        EXPECT_EQ(registry_.GetNodeSerialNumberFromId(id), by_id[id]);
        const std::shared_ptr<DwNode> node = registry_.FindNodeById(id);
        EXPECT_EQ(node ? node->GetNetworkId() : 0, by_id[id] != 0 ? id : 0);
    }
    // The repeat does not pull the centroid: (0 + 4 + 8) / 3 m.
    EXPECT_FLOAT_EQ(TagStart(kT1).x, 4.0f);
}

// Ids end at 0x07FD: 0x07FE is every alien node's, so the nodes beyond are
// left out, with one message.
TEST_F(NodeManagerTest, IdsStopBelowTheAlienNodesId) {
    std::vector<TagSettings> tags;
    for (uint32_t i = 0; i < 0x0800; ++i) {
        tags.push_back(Tag(0x01050000 + i));
    }
    rf()->SetTags(tags);
    StdoutCapture capture;
    Init();
    EXPECT_EQ(capture.Stop(),
              "NodeManager: no network id left below 2046; further nodes are not registered\n");
    // Master 1, anchors 2 and 3, tags 4 to 0x07FD.
    EXPECT_EQ(registry_.GetNumberOfTags(), 0x07FDu - 3);
    EXPECT_EQ(registry_.GetNodeSerialNumberFromId(0x07FD), 0x01050000u + 0x07FD - 4);
    EXPECT_EQ(registry_.FindNodeById(0x07FD)->GetNetworkId(), 0x07FD);
    EXPECT_EQ(registry_.GetNodeSerialNumberFromId(0x07FE), 0u);
    EXPECT_TRUE(registry_.FindNodeBySerialNumber(0x01050000u + 0x07FD - 3)->IsNullNode());
    EXPECT_EQ(registry_.FindNodeBySerialNumber(kAlien)->GetNetworkId(), 0x07FE);
}

TEST_F(NodeManagerTest, TagsStartAtTheInfrastructureCentroidInsideTheBounds) {
    Init();
    // Master (0, 0, 0), A2 (4, 0, 2), A3 (8, 6, 1): mean (4, 2, 1).
    for (uint32_t serial : {kT1, kT2}) {
        const derazud_pos3_t start = TagStart(serial);
        EXPECT_FLOAT_EQ(start.x, 4.0f);
        EXPECT_FLOAT_EQ(start.y, 2.0f);
        EXPECT_FLOAT_EQ(start.z, 1.0f);
        EXPECT_EQ(start.quality, -1.0f);
        EXPECT_EQ(start.serial_number, serial);
    }
    EXPECT_DOUBLE_EQ(registry_.FindTagBySerialNumber(kT1)->GetX(), 4.0);

    // Bounds in millimetres clamp the centroid.
    FlatSettingsInterface(&settings_).SetTagBounds(Box({0, 2500, -1000}, {3000, 9000, 500}));
    NodeManager clamped;
    clamped.Init(&settings_, kSyncPeriodMs);
    const derazud_pos3_t start = clamped.FindTagBySerialNumber(kT1)->GetCurrentPos3();
    EXPECT_FLOAT_EQ(start.x, 3.0f);
    EXPECT_FLOAT_EQ(start.y, 2.5f);
    EXPECT_FLOAT_EQ(start.z, 0.5f);
}

TEST_F(NodeManagerTest, WithNothingToAverageTagsStartAtTheCentreOfTheBounds) {
    rf()->SetMasters({});
    rf()->SetAnchors({});
    FlatSettingsInterface(&settings_).SetTagBounds(Box({-2000, 0, 1000}, {6000, 4000, 3000}));
    Init();
    const derazud_pos3_t start = TagStart(kT1);
    EXPECT_FLOAT_EQ(start.x, 2.0f);
    EXPECT_FLOAT_EQ(start.y, 2.0f);
    EXPECT_FLOAT_EQ(start.z, 2.0f);
    EXPECT_EQ(registry_.GetNodeSerialNumberFromId(1), kT1);
}

// A box whose minimum lies above its maximum clamps as the solver clamps:
// a point above the maximum ends there, any other at the minimum.
TEST_F(NodeManagerTest, InvertedBoundsClampAsEverywhereAndUnusablePositionsFallBackToTheCentre) {
    FlatSettingsInterface(&settings_).SetTagBounds(Box({2000, -1000, -1000}, {1000, 1000, 1000}));
    rf()->SetAnchors({Anchor(kA2, std::numeric_limits<double>::quiet_NaN(), 0.0, 0.0)});
    Init();
    const derazud_pos3_t start = TagStart(kT1);
    EXPECT_FLOAT_EQ(start.x, 1.0f);  // NaN mean: the centre 1.5 m, above the maximum
    EXPECT_FLOAT_EQ(start.y, 0.0f);
    EXPECT_FLOAT_EQ(start.z, 0.0f);

    FlatSettingsInterface(&settings_).SetTagBounds(Box({2000, 0, 0}, {1000, 0, 0}));
    for (double x : {50.0, -50.0}) {
        rf()->SetAnchors({Anchor(kA2, x, 0.0, 0.0)});
        NodeManager registry;
        registry.Init(&settings_, kSyncPeriodMs);
        EXPECT_FLOAT_EQ(registry.FindTagBySerialNumber(kT1)->GetCurrentPos3().x, x > 0 ? 1.0f : 2.0f) << x;
    }
}

TEST_F(NodeManagerTest, CommandListsComeFromTheRegistrysGenerator) {
    const RfSchedulerSettings budget;
    // Before Init there is no generator; an empty pointer has no list.
    EXPECT_TRUE(registry_.GetCommandsForNode(std::make_shared<DwNullNode>(1), budget).empty());
    Init();
    EXPECT_TRUE(registry_.GetCommandsForNode(nullptr, budget).empty());
    EXPECT_EQ(registry_.GetCommandsForNode(registry_.FindNodeBySerialNumber(kT1), budget).size(), 6u);
    EXPECT_EQ(registry_.GetCommandsForNodeWithSerialNumber(kA2, budget).size(), 4u);  // wired
    EXPECT_EQ(registry_.GetCommandsForNodeWithSerialNumber(kA3, budget).size(), 7u);  // wireless
    EXPECT_EQ(registry_.GetCommandsForNodeWithSerialNumber(kMaster, budget).size(), 3u);
    EXPECT_EQ(registry_.GetCommandsForNodeWithSerialNumber(kAlien, budget).size(), 3u);

    // An unknown serial number: the address pair with 0x7FFF, then LED 0x0F.
    const DwCommandList unknown = registry_.GetCommandsForNodeWithSerialNumber(0x01FF0042, budget);
    ASSERT_EQ(unknown.size(), 3u);
    uint8_t bytes[8];
    ASSERT_EQ(unknown[0]->ToBuff(bytes, sizeof(bytes)), 8u);
    EXPECT_EQ(bytes[2], 0x01);
    EXPECT_EQ(bytes[5], 0x42);
    EXPECT_EQ(bytes[6], 0x7F);
    EXPECT_EQ(bytes[7], 0xFF);
    ASSERT_EQ(unknown[2]->ToBuff(bytes, 8), 0xFFFFFFFFu);
    uint8_t led[11];
    ASSERT_EQ(unknown[2]->ToBuff(led, sizeof(led)), 11u);
    EXPECT_EQ(led[10], 0x0F);
}

TEST_F(NodeManagerTest, AddAnchorCountsOnlyInsertedWirelessAnchors) {
    auto wireless = std::make_shared<DwAnchor>(Anchor(kA1, 0, 0, 0, "uwb"), 1, kSyncPeriodMs);
    auto same_serial = std::make_shared<DwAnchor>(Anchor(kA1, 9, 9, 9, "uwb"), 2, kSyncPeriodMs);
    EXPECT_TRUE(registry_.AddAnchor(wireless));
    EXPECT_FALSE(registry_.AddAnchor(same_serial));
    EXPECT_FALSE(registry_.AddAnchor(nullptr));
    EXPECT_EQ(registry_.GetNumberOfAnchors(), 1u);
    EXPECT_EQ(registry_.GetNumberOfWirelessAnchors(), 1u);
    EXPECT_EQ(registry_.FindAnchorBySerialNumber(kA1), wireless);
}

TEST_F(NodeManagerTest, EveryStartHandsOutIdsFromOneAgain) {
    Init();
    rf()->SetAnchors({Anchor(kA3, 0, 0, 0)});
    registry_.Init(&settings_, kSyncPeriodMs);
    EXPECT_EQ(registry_.GetNodeSerialNumberFromId(2), kA3);
    EXPECT_EQ(registry_.GetNodeSerialNumberFromId(5), 0u);
    EXPECT_TRUE(registry_.FindNodeBySerialNumber(kA2)->IsNullNode());
    EXPECT_EQ(registry_.GetNumberOfWirelessAnchors(), 0u);
}

}  // namespace

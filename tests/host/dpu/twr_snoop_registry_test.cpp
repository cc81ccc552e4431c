// The snoop engine on a real node registry: serial numbers of reports and
// items found from network ids, positions and antenna delays from the nodes,
// with the master (network id 1) as the responder.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "config/settings.h"
#include "host/devices/node_manager.h"
#include "host/dpu/twr_exchange_generator.h"
#include "host/dpu/twr_snoop_engine.h"
#include "protocol/vex/vex_data_types.h"
#include "protocol/vex/vex_packet.h"

namespace {

using twr_test::Point;
using twr_test::SimDevice;

constexpr uint32_t kMaster = 0x01020001;
constexpr uint32_t kAnchor1 = 0x01030001;
constexpr uint32_t kAnchor2 = 0x01030002;
constexpr uint32_t kAnchor3 = 0x01030003;
constexpr uint32_t kTag = 0x01040001;

NodeSettings* Configure(NodeSettings* node, uint32_t serial, uint32_t delay) {
    node->SetSerialNumber(serial);
    node->SetAntennaDelay(delay);
    return node;
}

TEST(TwrSnoopRegistry, LocatesATagAroundTheMasterFromRegistryNodes) {
    const Point master_at{1.0, 1.0, 2.5};
    const Point anchors_at[] = {{6.0, 1.0, 2.5}, {1.0, 7.0, 2.0}, {6.0, 7.0, 0.3}};
    const uint32_t anchor_serials[] = {kAnchor1, kAnchor2, kAnchor3};
    const Point tag_at{3.2, 4.1, 1.0};

    Settings settings;
    RfNetworkSettings* rf = settings.GetRfNetworkSettingsReference();
    MasterSettings master;
    Configure(&master, kMaster, 16410);
    master.SetX(master_at.x);
    master.SetY(master_at.y);
    master.SetZ(master_at.z);
    rf->SetMasters({master});
    std::vector<AnchorSettings> anchors;
    for (int i = 0; i < 3; ++i) {
        AnchorSettings anchor;
        Configure(&anchor, anchor_serials[i], 16420 + static_cast<uint32_t>(i));
        anchor.SetX(anchors_at[i].x);
        anchor.SetY(anchors_at[i].y);
        anchor.SetZ(anchors_at[i].z);
        anchor.SetBackhaulType("wired");
        anchors.push_back(anchor);
    }
    rf->SetAnchors(anchors);
    TagSettings tag;
    Configure(&tag, kTag, 16470);
    rf->SetTags({tag});
    auto registry = std::make_shared<NodeManager>();
    registry->Init(&settings, 100);

    // Network ids as the registry hands them out: master 1, anchors 2 to 4, tag 5.
    twr_test::ExchangeSetup setup;
    std::mt19937_64 random(77);
    std::uniform_real_distribution<double> ppm(-20.0, 20.0);
    setup.initiator = SimDevice{kTag, 5, tag_at, 16470, twr_test::kWrap - 2e7, ppm(random)};
    setup.responder = SimDevice{kMaster, 1, master_at, 16410, 3e11, ppm(random)};
    for (int i = 0; i < 3; ++i) {
        setup.snoops.push_back(SimDevice{anchor_serials[i], static_cast<uint16_t>(2 + i), anchors_at[i],
                                         16420 + i, 1e11 * (i + 1), ppm(random)});
    }
    setup.item_serials = false;
    std::vector<derazud_usb_anchor_rpt_t> reports = twr_test::Generate(setup).reports;
    for (auto& report : reports) {
        report.anchor_rpt.serial_number = 0;
    }

    TwrSnoopEngine engine;
    engine.SetNodeManager(registry);
    std::vector<vex_data_position_t> published;
    engine.AttachPublisher(std::make_shared<twr_test::OutputCallbackPublisher>([&](const VexPacket& packet) {
        EXPECT_EQ(packet.GetSerialNumber(), kTag);
        for (const auto& item : packet.GetDataItems()) {
            vex_data_position_t position;
            ASSERT_EQ(item->GetDataSize(), sizeof(position));
            std::memcpy(&position, item->GetData(), sizeof(position));
            published.push_back(position);
        }
    }));
    engine.AddTwrSnoopDevices(kTag, 16470, kMaster, 16410);
    for (size_t i = 0; i < reports.size(); ++i) {
        engine.AddData(&reports[i], 3, 1);
        if (i == 2) {
            // The tag's report on message 2, which the master sent.
            EXPECT_TRUE(engine.GetPairs().front()->from_network_id_1);
        }
    }
    engine.RunTwrSnoop(true);
    ASSERT_EQ(published.size(), 1u);
    const Point found{published[0].x / 1000.0, published[0].y / 1000.0, published[0].z / 1000.0};
    EXPECT_LT(twr_test::Distance(found, tag_at), 0.02);
    EXPECT_NEAR(engine.GetPairs().front()->distance, twr_test::Distance(tag_at, master_at), 0.006);

    // A serial number the registry does not know has no position.
    QVector3D position;
    EXPECT_FALSE(engine.GetAnchorPosition(0x01099999, &position));
    ASSERT_TRUE(engine.GetAnchorPosition(kAnchor2, &position));
    EXPECT_FLOAT_EQ(position.y(), 7.0f);
}

// The master's position is the first configured master's, enabled or not;
// the snoop's the registry's node's.
TEST(TwrSnoopRegistry, MasterToSnoopDistanceFromTheConfiguredMaster) {
    Settings* global = Settings::GlobalSettings();
    RfNetworkSettings* rf = global->GetRfNetworkSettingsReference();
    rf->SetMasters({});
    AnchorSettings anchor;
    Configure(&anchor, kAnchor1, 16420);
    anchor.SetX(4.0);
    anchor.SetY(6.0);
    anchor.SetZ(2.0);
    rf->SetAnchors({anchor});
    auto registry = std::make_shared<NodeManager>();
    registry->Init(global, 100);
    TwrSnoopEngine engine;
    engine.SetNodeManager(registry);

    QVector3D master_at;
    double distance = -1.0;
    EXPECT_FALSE(engine.GetMasterPosition(&master_at));
    EXPECT_FALSE(engine.CalculateMasterToSnoopDistance(kAnchor1, &distance));
    EXPECT_EQ(distance, -1.0);

    MasterSettings disabled;
    Configure(&disabled, kMaster, 16410);
    disabled.SetEnabled(false);
    disabled.SetX(1.0);
    disabled.SetY(2.0);
    disabled.SetZ(2.0);
    MasterSettings second = disabled;
    second.SetSerialNumber(kMaster + 1);
    second.SetEnabled(true);
    second.SetX(-30.0);
    rf->SetMasters({disabled, second});
    ASSERT_TRUE(engine.GetMasterPosition(&master_at));
    EXPECT_EQ(master_at, QVector3D(1.0f, 2.0f, 2.0f));
    ASSERT_TRUE(engine.CalculateMasterToSnoopDistance(kAnchor1, &distance));
    EXPECT_DOUBLE_EQ(distance, 5.0);  // 3 and 4 apart in x and y
    EXPECT_FALSE(engine.CalculateMasterToSnoopDistance(kAnchor2, &distance));
    rf->SetMasters({});
    rf->SetAnchors({});
}

}  // namespace

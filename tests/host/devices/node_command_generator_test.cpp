#include "host/devices/node_command_generator.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config/flat_settings_interface.h"
#include "config/settings.h"
#include "host/scheduling/rf_scheduler_settings.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kTagSerial = 0x01040003;
constexpr uint32_t kAnchorSerial = 0x01030002;
constexpr uint32_t kMasterSerial = 0x01020001;

void Append16(Bytes& bytes, uint32_t value) {
    bytes.push_back(static_cast<uint8_t>(value >> 8));
    bytes.push_back(static_cast<uint8_t>(value));
}

void Append32(Bytes& bytes, uint32_t value) {
    Append16(bytes, value >> 16);
    Append16(bytes, value & 0xFFFF);
}

// Every command of the list encoded one after the other, with its size byte
// checked against GetSize().
Bytes EncodeList(const DwCommandList& list) {
    Bytes bytes;
    for (const auto& command : list) {
        Bytes one(command->GetSize());
        EXPECT_EQ(command->ToBuff(one.data(), static_cast<uint32_t>(one.size())), command->GetSize());
        EXPECT_EQ(one[1], command->GetSize());
        bytes.insert(bytes.end(), one.begin(), one.end());
    }
    return bytes;
}

Bytes AddressPair(uint32_t serial, uint16_t networkId) {
    Bytes bytes{0x12, 0x08};
    Append32(bytes, serial);
    Append16(bytes, networkId);
    bytes.insert(bytes.end(), {0x13, 0x04});
    Append16(bytes, networkId);
    return bytes;
}

void AppendLed(Bytes& bytes, uint8_t operation) {
    bytes.insert(bytes.end(), {0x10, 0x0B, 0, 0, 0, 0, 0, 0, 0, 0, operation});
}

void AppendTransmit(Bytes& bytes, uint8_t type, uint32_t repeatRate) {
    bytes.insert(bytes.end(), {0x14, 0x0C, 0x00, type, 0, 0, 0, 0});
    Append32(bytes, repeatRate);
}

const Bytes kContinuousReceive{0x15, 0x0E, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

class NodeCommandGeneratorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The global settings give the tag's sensor command; the budget comes
        // from a settings object of its own, with another sync rate, so that a
        // list taking the cycle from the global settings would show.
        Settings defaults;
        Settings::GlobalSettings()->CopyFromOtherSettings(&defaults);
        sensors_config_t sensors{};
        sensors.enable_flags = 0x33;
        sensors.gyroscope_scale_code = 2;
        sensors.gyroscope_filter_code = 5;
        sensors.accelerometer_scale_code = 1;
        sensors.accelerometer_filter_code = 3;
        sensors.sample_rate_divisor = 9;
        sensors.subsample_rate_divisor = 2;
        Settings::GlobalSettings()->GetRfNetworkSettingsReference()->SetTagSensorConfig(sensors);
        Settings::GlobalSettings()->GetRfNetworkSettingsReference()->SetSyncRate(4.0);

        Settings budget_settings;
        RfNetworkSettings* rf = budget_settings.GetRfNetworkSettingsReference();
        cmd_set_rf_settings_t rf_settings{};
        rf_settings.prf_flag = 1;
        rf_settings.bit_rate_code = 2;
        rf->SetRfSettings(rf_settings);
        rf->SetSyncRate(10.0);
        rf->SetTagSensorConfig(sensors);
        AnchorSettings wireless;
        wireless.SetSerialNumber(kAnchorSerial);
        wireless.SetBackhaulType("uwb");
        rf->SetAnchors({wireless});
        TagSettings tag;
        tag.SetSerialNumber(kTagSerial);
        rf->SetTags({tag});
        budget_ = RfSchedulerSettings(&budget_settings);
        ASSERT_EQ(budget_.GetStatus(), RfSchedulerSettings::kStatusOk);
        ASSERT_NE(budget_.GetLocationCycle(),
                  RfSchedulerSettings(Settings::GlobalSettings()).GetLocationCycle());
        ASSERT_NE(budget_.GetBeaconPayloadSize(), 0);
        ASSERT_NE(budget_.GetAnchorReportPayloadSize(), 0);
    }

    std::shared_ptr<DwAnchor> Anchor(const std::string& backhaul) {
        AnchorSettings settings;
        settings.SetSerialNumber(kAnchorSerial);
        settings.SetBackhaulType(backhaul);
        return std::make_shared<DwAnchor>(settings, 2, 100);
    }

    std::shared_ptr<DwTag> Tag(bool enabled) {
        TagSettings settings;
        settings.SetSerialNumber(kTagSerial);
        settings.SetEnabled(enabled);
        return std::make_shared<DwTag>(settings, 4, 100);
    }

    VmlCommandGenerator generator_;
    RfSchedulerSettings budget_;
};

TEST_F(NodeCommandGeneratorTest, TagGetsSixCommandsWithTheBudgetPassedIn) {
    const DwCommandList list = generator_.GetCommandsForNode(Tag(true), budget_);
    ASSERT_EQ(list.size(), 6u);
    Bytes expected = AddressPair(kTagSerial, 4);
    AppendLed(expected, 0x30);
    AppendTransmit(expected, 3, budget_.GetLocationCycle());
    expected.insert(expected.end(), {0x1C, 0x04});
    Append16(expected, budget_.GetBeaconPayloadSize());
    // Flags, gyroscope scale 2 / filter 5, accelerometer scale 1 / filter 3, divisors.
    expected.insert(expected.end(), {0x1B, 0x07, 0x33, 0x15, 0x0B, 0x09, 0x02});
    EXPECT_EQ(EncodeList(list), expected);
}

TEST_F(NodeCommandGeneratorTest, WiredAnchorGetsFourCommandsAndNoTransmit) {
    const DwCommandList list = generator_.GetCommandsForNode(Anchor("wired"), budget_);
    ASSERT_EQ(list.size(), 4u);
    Bytes expected = AddressPair(kAnchorSerial, 2);
    AppendLed(expected, 0x0C);
    expected.insert(expected.end(), kContinuousReceive.begin(), kContinuousReceive.end());
    EXPECT_EQ(EncodeList(list), expected);
}

TEST_F(NodeCommandGeneratorTest, EveryOtherBackhaulGetsSevenCommandsWithReceiveLast) {
    for (const std::string backhaul : {"uwb", "", "ethernet", "Wired"}) {
        SCOPED_TRACE(backhaul);
        const DwCommandList list = generator_.GetCommandsForNode(Anchor(backhaul), budget_);
        ASSERT_EQ(list.size(), 7u);
        Bytes expected = AddressPair(kAnchorSerial, 2);
        AppendLed(expected, 0x0C);
        AppendTransmit(expected, 1, budget_.GetLocationCycle());
        expected.insert(expected.end(), {0x19, 0x06, 17, 16, 21, 18});
        expected.insert(expected.end(), {0x1A, 0x04});
        Append16(expected, budget_.GetAnchorReportPayloadSize());
        expected.insert(expected.end(), kContinuousReceive.begin(), kContinuousReceive.end());
        EXPECT_EQ(EncodeList(list), expected);
    }
}

TEST_F(NodeCommandGeneratorTest, MasterGetsTheAddressPairAndItsLed) {
    MasterSettings settings;
    settings.SetSerialNumber(kMasterSerial);
    const DwCommandList list =
        generator_.GetCommandsForNode(std::make_shared<DwMaster>(settings, 1, 100), budget_);
    Bytes expected = AddressPair(kMasterSerial, 1);
    AppendLed(expected, 0x33);
    EXPECT_EQ(list.size(), 3u);
    EXPECT_EQ(EncodeList(list), expected);
}

TEST_F(NodeCommandGeneratorTest, AlienNodeIsToldItsOwnNetworksRfSettings) {
    cmd_set_rf_settings_t rf{};
    rf.type = 0x16;
    rf.len = 20;
    rf.timed_flag = 1;
    rf.channel_number = 2;
    rf.transmit_power_code = 0xFF0808FF;
    auto alien = std::make_shared<DwAlienNode>(AlienNodeSettings(0x0A0B0C0D, rf));
    const DwCommandList list = generator_.GetCommandsForNode(alien, budget_);
    ASSERT_EQ(list.size(), 3u);
    Bytes expected = AddressPair(0x0A0B0C0D, 0x07FE);
    expected.insert(expected.end(),
                    {0x16, 0x14, 0, 0, 0, 0, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0x08, 0x08, 0xFF});
    EXPECT_EQ(EncodeList(list), expected);
}

TEST_F(NodeCommandGeneratorTest, DisabledAndUnknownDevicesOnlyBlink) {
    Bytes disabled = AddressPair(kTagSerial, 4);
    AppendLed(disabled, 0x0F);
    const DwCommandList disabled_list = generator_.GetCommandsForNode(Tag(false), budget_);
    EXPECT_EQ(disabled_list.size(), 3u);
    EXPECT_EQ(EncodeList(disabled_list), disabled);

    Bytes unknown = AddressPair(0x01FF0042, 0x7FFF);
    AppendLed(unknown, 0x0F);
    const DwCommandList unknown_list =
        generator_.GetCommandsForNode(std::make_shared<DwNullNode>(0x01FF0042), budget_);
    EXPECT_EQ(unknown_list.size(), 3u);
    EXPECT_EQ(EncodeList(unknown_list), unknown);

    EXPECT_TRUE(generator_.GetCommandsForNode(nullptr, budget_).empty());
}

}  // namespace

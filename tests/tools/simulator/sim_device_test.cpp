// One simulated device's command handling: what a command list heard in a
// sync does to the device it names and to the others, timed commands across
// the wrap of network time, the master's sync commands, and a reset.
#include "simulator/sim_device.h"

#include <gtest/gtest.h>

#include "base/byte_order.h"

namespace {

constexpr uint32_t kTag = 0x01010021;

SimDevice Tag() {
    sim_device_t config;
    config.serial_number = kTag;
    config.role = SimRole::kTag;
    return SimDevice(config, SimClock(0.0, 0.0));
}

// Address set (kTag -> 4), select 4, transmit type 3 at 5000 every 97500, user data 16 bytes.
const std::vector<uint8_t> kTagList = {0x12, 8,    0x01, 0x01, 0x00, 0x21, 0x00, 0x04, 0x13, 4,
                                       0x00, 0x04, 0x14, 12,   0x00, 0x03, 0x00, 0x00, 0x13, 0x88,
                                       0x00, 0x01, 0x7C, 0xDC, 0x1C, 4,    0x00, 0x10};

TEST(SimDeviceTest, HeardCommandsConcernTheSelectedDeviceOnly) {
    SimDevice tag = Tag();
    tag.ApplyCommands(kTagList.data(), kTagList.size(), false);
    EXPECT_TRUE(tag.addressed);
    EXPECT_EQ(tag.network_id, 4);
    EXPECT_TRUE(tag.transmitting);
    EXPECT_EQ(tag.transmission_type, 3);
    EXPECT_EQ(tag.transmit_time, 5000u);
    EXPECT_EQ(tag.transmit_rate, 97500u);
    EXPECT_EQ(tag.user_data_size, 16);

    // Another device's list: the address set names someone else, the select another id.
    SimDevice other = Tag();
    std::vector<uint8_t> list = kTagList;
    list[5] = 0x22;
    other.ApplyCommands(list.data(), list.size(), false);
    EXPECT_FALSE(other.addressed);
    EXPECT_FALSE(other.transmitting);
    EXPECT_EQ(other.user_data_size, 0);

    // A list cut inside a command keeps what came before the cut.
    SimDevice cut = Tag();
    cut.ApplyCommands(kTagList.data(), 20, false);
    EXPECT_TRUE(cut.addressed);
    EXPECT_FALSE(cut.transmitting);
}

TEST(SimDeviceTest, TimedCommandsWaitForTheirNetworkTimeAcrossTheWrap) {
    SimDevice tag = Tag();
    // RF settings on channel 2 at 0xFFFFFF00, then a reset at 0x100 (after the wrap).
    std::vector<uint8_t> list = {0x16, 20, 0xFF, 0xFF, 0xFF, 0x00, 0, 2, 1, 1, 2, 9, 9, 1, 2, 1, 0, 0, 0, 0};
    const std::vector<uint8_t> reset = {0x17, 6, 0x00, 0x00, 0x01, 0x00};
    list.insert(list.end(), reset.begin(), reset.end());
    tag.ApplyCommands(kTagList.data(), kTagList.size(), false);
    tag.ApplyCommands(list.data(), list.size(), false);
    EXPECT_TRUE(tag.TakeDueCommands(0xFFFFFE00u).empty());
    const auto first = tag.TakeDueCommands(0xFFFFFF80u);
    ASSERT_EQ(first.size(), 1u);
    tag.ExecuteTimedCommand(first[0]);
    EXPECT_EQ(tag.rf_settings.channel_number, 2);
    EXPECT_TRUE(tag.TakeDueCommands(0x80u).empty());
    const auto second = tag.TakeDueCommands(0x100u);
    ASSERT_EQ(second.size(), 1u);
    tag.ExecuteTimedCommand(second[0]);
    // The reset forgets the address and the schedule but not the channel.
    EXPECT_FALSE(tag.addressed);
    EXPECT_FALSE(tag.transmitting);
    EXPECT_EQ(tag.network_id, kSimUnassignedNetworkId);
    EXPECT_EQ(tag.rf_settings.channel_number, 2);
    EXPECT_EQ(tag.resets, 1u);
}

TEST(SimDeviceTest, MasterCarriesEverySetOfSyncCommandsSinceItsLastSync) {
    sim_device_t config;
    config.serial_number = 0x01000001;
    config.role = SimRole::kMaster;
    SimDevice master(config, SimClock(0.0, 0.0));
    const std::vector<uint8_t> first = {0x11, 0x04, 0x00, 0x04, 0x01, 0x13, 4, 0x00, 0x07};
    const std::vector<uint8_t> second = {0x11, 0x04, 0x00, 0x04, 0x01, 0x13, 4, 0x00, 0x08};
    EXPECT_EQ(master.HandleSspPayload(first.data(), first.size()).replies.at(0),
              (std::vector<uint8_t>{0x12, 0x04, 0x00, 0x04, 0x01}));
    master.HandleSspPayload(second.data(), second.size());
    EXPECT_EQ(master.sync_commands, (std::vector<uint8_t>{0x13, 4, 0x00, 0x07, 0x13, 4, 0x00, 0x08}));
    EXPECT_EQ(master.sync_command_count, 2);
    // A byte count beyond the payload takes only what is there.
    const std::vector<uint8_t> short_set = {0x11, 0x04, 0x01, 0x00, 0x01, 0x10};
    master.HandleSspPayload(short_set.data(), short_set.size());
    EXPECT_EQ(master.sync_commands.size(), 9u);
    // A stop drops what was waiting for the syncs of that run.
    const std::vector<uint8_t> stop = {0x11, 0x06};
    EXPECT_TRUE(master.HandleSspPayload(stop.data(), stop.size()).stop_sync);
    EXPECT_TRUE(master.sync_commands.empty());
    EXPECT_EQ(master.sync_command_count, 0);
    // Only a master starts or stops syncs.
    const std::vector<uint8_t> start = {0x11, 0x00, 0x00, 0x01, 0x7C, 0xDC, 1, 0, 0, 0, 0, 127, 2};
    const sim_ssp_outcome_t outcome = master.HandleSspPayload(start.data(), start.size());
    EXPECT_TRUE(outcome.start_sync);
    EXPECT_EQ(outcome.start.sync_period, 97500u);
    SimDevice tag = Tag();
    EXPECT_FALSE(tag.HandleSspPayload(start.data(), start.size()).start_sync);
    EXPECT_EQ(tag.HandleSspPayload(start.data(), start.size()).replies.at(0).size(), 13u);
}

}  // namespace

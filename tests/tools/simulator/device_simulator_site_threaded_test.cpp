// A whole simulated site driven from the server's side of its links, as the
// server would drive it: the master started, a tag and a wireless anchor
// admitted with the server's own command classes carried in the master's
// syncs. What comes back is checked against the geometry the simulator knows:
// every timestamp is the device's clock at the true time of arrival (time of
// flight included) within the configured noise, the signal values put the
// first path a few dB below the total, and the tag's trickled sensor data
// reassembles into the records it sampled.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>

#include "base/byte_order.h"
#include "base/device_time.h"
#include "host/devices/dw_command.h"
#include "protocol/packets/anchor_report_packet.h"
#include "protocol/packets/device_protocol.h"
#include "protocol/packets/rf_report_item_anchor_compact_packet.h"
#include "protocol/packets/rf_report_item_header_packet.h"
#include "protocol/packets/rtls_tag_report_packet.h"
#include "protocol/packets/rx_passthrough_data_packet.h"
#include "protocol/packets/sensor_data_bar_packet.h"
#include "protocol/packets/ssp_cmd_start_sync_packet.h"
#include "protocol/packets/sync_packet.h"
#include "protocol/trickle/trickle_buffer_consumer.h"
#include "protocol/vex/vex_data_types.h"
#include "server_side.h"
#include "simulator/device_simulator.h"

namespace {

namespace dp = device_protocol;

constexpr uint32_t kMaster = 0x01000001;
constexpr uint32_t kWiredAnchor = 0x01000011;
constexpr uint32_t kWirelessAnchor = 0x01000012;
constexpr uint32_t kTag = 0x01010021;
constexpr uint16_t kMasterId = 1;
constexpr uint16_t kWirelessId = 2;
constexpr uint16_t kWiredId = 3;
constexpr uint16_t kTagId = 4;
constexpr uint32_t kPeriod = 97500;  // 100 ms of network time
constexpr uint32_t kTagSlot = 1000;
constexpr uint32_t kReportSlot = 90000;
constexpr double kNoiseMetres = 0.01;
constexpr double kLight = 299792458.0;
constexpr uint8_t kPressureEnabled = 1u << 4;
constexpr uint16_t kTruthPort = 43100;

sim_device_t Device(uint32_t serial, SimRole role, Coordinates position, double offset, double drift_ppm) {
    sim_device_t device;
    device.serial_number = serial;
    device.role = role;
    device.position = position;
    // Small offsets: the counters do not wrap during the test, so a true time
    // can be read back from a timestamp.
    device.clock_offset_ticks = offset;
    device.clock_drift_ppm = drift_ppm;
    return device;
}

sim_site_t Site() {
    sim_site_t site;
    sim_device_t master = Device(kMaster, SimRole::kMaster, Coordinates(5, 0, 2), 1.0e9, 3.0);
    master.link = SimLinkKind::kUsb;
    master.usb_path = "/tmp/" + ProcessUnique("vorav-sim-site-master");
    sim_device_t wired = Device(kWiredAnchor, SimRole::kAnchor, Coordinates(0, 0, 2.5), 4.0e9, -4.0);
    wired.link = SimLinkKind::kUsb;
    wired.usb_path = "/tmp/" + ProcessUnique("vorav-sim-site-anchor");
    site.devices = {master, wired,
                    Device(kWirelessAnchor, SimRole::kAnchor, Coordinates(10, 8, 2.5), 7.0e9, 2.5),
                    Device(kTag, SimRole::kTag, Coordinates(3, 5, 1.2), 2.0e9, -1.0)};
    site.tof_noise_m = kNoiseMetres;
    site.speed_of_light = kLight;
    site.truth_csv_path = "/tmp/" + ProcessUnique("vorav-sim-truth") + ".csv";
    site.truth_group = ProcessGroup();
    site.truth_port = kTruthPort;
    return site;
}

// The device's clock reading at the true time of arrival of a packet sent at
// `sent_s` from `from` to `to`.
double ExpectedTicks(const sim_device_t& receiver, const Coordinates& from, double sent_s) {
    const double flight = receiver.position.CalculateDistanceBetween(from) / kLight;
    return receiver.clock_offset_ticks +
           (sent_s + flight) * kDeviceTicksPerSecond * (1.0 + receiver.clock_drift_ppm * 1e-6);
}

double SentAt(const sim_device_t& sender, uint64_t transmit_ticks) {
    return (static_cast<double>(transmit_ticks) - sender.clock_offset_ticks) /
           (kDeviceTicksPerSecond * (1.0 + sender.clock_drift_ppm * 1e-6));
}

// Six standard deviations of the timestamp noise, and the tick lost to truncation.
const double kTolerance = 6.0 * kNoiseMetres / kLight * kDeviceTicksPerSecond + 2.0;

// The Dpu's own way of encoding a command list, behind a set- or execute-sync-commands head.
Payload SyncCommands(uint8_t sub_id, const std::vector<std::shared_ptr<DwCommand>>& commands, uint32_t base,
                     int64_t counter) {
    Payload frame(5);
    uint16_t length = 0;
    for (const auto& command : commands) {
        command->UpdateTiming(base, counter, kPeriod);
        Payload bytes(command->GetSize());
        command->ToBuff(bytes.data(), static_cast<uint32_t>(bytes.size()));
        frame.insert(frame.end(), bytes.begin(), bytes.end());
        length = static_cast<uint16_t>(length + command->GetSize());
    }
    frame[0] = dp::kSspTypeCommand;
    frame[1] = sub_id;
    wire::write_be16(frame.data() + 2, length);
    frame[4] = static_cast<uint8_t>(commands.size());
    return frame;
}

std::vector<std::shared_ptr<DwCommand>> AddressPair(uint32_t serial, uint16_t id) {
    auto set = std::make_shared<DwAddressSetCommand>();
    set->SetSerialNumber(serial);
    set->SetNetworkAddress(id);
    auto select = std::make_shared<DwAddressSelectCommand>();
    select->SetNetworkAddress(id);
    return {set, select};
}

std::vector<std::shared_ptr<DwCommand>> TagCommands() {
    auto commands = AddressPair(kTag, kTagId);
    auto transmit = std::make_shared<DwTransmitCommand>();
    transmit->SetTransmissionType(3);
    commands.push_back(transmit);
    commands.push_back(std::make_shared<DwSetUserDataSizeCommand>(16));
    auto sensors = std::make_shared<DwSetSensorSettingsCommand>();
    sensors_config_t config{};
    config.enable_flags = kPressureEnabled;
    sensors->SetSensorConfig(config);
    commands.push_back(sensors);
    return commands;
}

std::vector<std::shared_ptr<DwCommand>> WirelessAnchorCommands() {
    auto commands = AddressPair(kWirelessAnchor, kWirelessId);
    auto transmit = std::make_shared<DwTransmitCommand>();
    transmit->SetTransmissionType(1);
    commands.push_back(transmit);
    auto collect = std::make_shared<DwSetCollectorPacketsCommand>();
    collect->AddCollectorSetting(17, 16);
    collect->AddCollectorSetting(21, 18);
    commands.push_back(collect);
    auto size = std::make_shared<DwSetAnchorReportSizeCommand>();
    size->SetAnchorReportSize(1007);
    commands.push_back(size);
    auto receive = std::make_shared<DwReceiveCommand>();
    receive->SetContinuous();
    commands.push_back(receive);
    return commands;
}

struct reception_t {
    uint64_t receive_time;
    signal_strength_t signal;
    Payload rf;
};

bool IsReception(const Payload& p, uint8_t rf_type) {
    return p.size() > static_cast<size_t>(dp::kSspCmdSetRxPassthroughDataSize) &&
           p[0] == dp::kSspTypeRxPassthrough && p[dp::kSspCmdSetRxPassthroughDataSize] == rf_type;
}

reception_t Reception(const Payload& p) {
    ssp_cmd_set_rx_passthrough_data_t header;
    SspCmdSetRxPassthrough_Data_FromBuff(p.data(), &header);
    return {header.receive_time, header.signal_strength,
            Payload(p.begin() + dp::kSspCmdSetRxPassthroughDataSize, p.end())};
}

// First-path minus total power (dB) from the receive-quality values, by the receiver's formulas.
double FirstPathGap(const signal_strength_t& s) {
    const double n2 = static_cast<double>(s.preamble_accumulation_count) * s.preamble_accumulation_count;
    const double first = 10.0 * std::log10((3.0 * s.first_path_amplitude_1 * s.first_path_amplitude_1) / n2);
    const double total = 10.0 * std::log10(s.channel_impulse_response_power * 131072.0 / n2);
    return total - first;
}

class SimulatorSiteTest : public ::testing::Test {
  protected:
    void SetUp() override {
        site_ = Site();
        simulator_ = std::make_unique<DeviceSimulator>(site_);
        std::string error;
        ASSERT_TRUE(simulator_->Start(&error)) << error;
        ASSERT_TRUE(truth_stream_.Open(kTruthPort, site_.truth_group));
        ASSERT_TRUE(master_.Open(site_.devices[0].usb_path));
        ASSERT_TRUE(anchor_.Open(site_.devices[1].usb_path));
    }
    void TearDown() override {
        simulator_->Stop();
        remove(site_.truth_csv_path.c_str());
    }

    // The master's next sync (from its transmit passthrough); its network time.
    bool NextSync(packet_sync_t* sync) {
        Payload payload;
        if (!master_.WaitFor([](const Payload& p) { return p[0] == dp::kSspTypeTxPassthrough; }, &payload))
            return false;
        PacketSync_FromBuff(payload.data() + dp::kSspCmdSetTxPassthroughDataSize, sync);
        return true;
    }

    // Admits a device the way the server does: its commands ride in the master's next sync.
    bool Admit(uint32_t serial, const std::vector<std::shared_ptr<DwCommand>>& commands, uint32_t slot) {
        Payload announce;
        const bool heard = master_.WaitFor(
            [serial](const Payload& p) {
                return IsReception(p, dp::kRfPacketAnnounceResponse) && p.size() == 21u + 5u &&
                       wire::read_be32(p.data() + 22) == serial;
            },
            &announce);
        packet_sync_t sync;
        if (!heard || !NextSync(&sync))
            return false;
        master_.Send(SyncCommands(dp::kSspCmdSetSyncCmds, commands, slot, sync.network_time));
        return true;
    }

    sim_site_t site_;
    std::unique_ptr<DeviceSimulator> simulator_;
    LoopbackSocket truth_stream_;
    PtyServerSide master_;
    PtyServerSide anchor_;
};

TEST_F(SimulatorSiteTest, AdmittedDevicesReportWhatTheyHearAtTheTimesTheGeometryGives) {
    // Bring-up as the server does it: passthroughs on, the master's address, the normal start.
    master_.Send({0x11, 0x02, 0x01});
    master_.Send({0x11, 0x03, 0x01});
    master_.Send(SyncCommands(dp::kSspCmdExecSyncCmds, AddressPair(kMaster, kMasterId), 0, 0));
    ssp_cmd_start_sync_t start{dp::kSspTypeCommand, dp::kSspCmdStartSync, kPeriod, 1, 558, 127, 2};
    Payload start_bytes(dp::kSspCmdStartSyncSize);
    SspCmdStartSync_ToBuff(start_bytes.data(), &start);
    master_.Send(start_bytes);
    anchor_.Send({0x11, 0x02, 0x01});
    ASSERT_TRUE(anchor_.WaitFor([](const Payload& p) { return p.size() == 3 && p[0] == 0x12; }, nullptr));
    anchor_.Send(SyncCommands(dp::kSspCmdExecSyncCmds, AddressPair(kWiredAnchor, kWiredId), 0, 0));

    ASSERT_TRUE(Admit(kTag, TagCommands(), kTagSlot));
    ASSERT_TRUE(Admit(kWirelessAnchor, WirelessAnchorCommands(), kReportSlot));

    // The wired anchor's own receptions: syncs and the tag's pings, each checked
    // against the sender's transmit time (syncs) or the simulator's truth (pings).
    const sim_device_t& master = site_.devices[0];
    const sim_device_t& wired = site_.devices[1];
    const sim_device_t& wireless = site_.devices[2];
    const sim_device_t& tag = site_.devices[3];
    std::map<uint8_t, reception_t> pings_at_wired;
    std::vector<Payload> chunks;
    int syncs_checked = 0;
    while (pings_at_wired.size() < 30) {
        Payload payload;
        ASSERT_TRUE(anchor_.WaitFor(
            [](const Payload& p) {
                return IsReception(p, dp::kRfPacketSync) || IsReception(p, dp::kRfPacketLocationTagReport);
            },
            &payload));
        const reception_t reception = Reception(payload);
        if (reception.rf[0] == dp::kRfPacketSync) {
            packet_sync_t sync;
            PacketSync_FromBuff(reception.rf.data(), &sync);
            EXPECT_EQ(sync.network_id, kMasterId);
            const double expected = ExpectedTicks(wired, master.position, SentAt(master, sync.transmit_time));
            EXPECT_NEAR(static_cast<double>(reception.receive_time), expected, kTolerance);
            ++syncs_checked;
        } else {
            packet_rtls_tag_report_t report;
            PacketRtlsTagReport_FromBuff(reception.rf.data(), &report);
            EXPECT_EQ(report.network_id, kTagId);
            ASSERT_EQ(reception.rf.size(),
                      dp::kPacketRtlsTagReportSize + static_cast<size_t>(report.payload_length));
            EXPECT_LE(report.payload_length, 16);
            chunks.emplace_back(reception.rf.begin() + dp::kPacketRtlsTagReportSize, reception.rf.end());
            pings_at_wired[report.sequence] = reception;
            // Four metres apart, the first path a few dB under the total.
            const double gap = FirstPathGap(reception.signal);
            EXPECT_GT(gap, 0.3);
            EXPECT_LT(gap, 6.5);
        }
    }
    EXPECT_GT(syncs_checked, 10);

    const std::vector<sim_truth_t> truth = simulator_->TakeTruth();
    int pings_checked = 0;
    for (const auto& sent : truth) {
        EXPECT_EQ(sent.serial_number, kTag);
        EXPECT_NEAR(sent.position.GetX(), 3.0, 1e-9);
        // Each ping leaves in the tag's slot: slot + k periods of network time.
        EXPECT_EQ((sent.network_time - kTagSlot) % kPeriod, 0u);
        const auto heard = pings_at_wired.find(sent.sequence);
        if (heard == pings_at_wired.end())
            continue;
        EXPECT_NEAR(static_cast<double>(heard->second.receive_time),
                    ExpectedTicks(wired, tag.position, sent.time_s), kTolerance);
        ++pings_checked;
    }
    EXPECT_GE(pings_checked, 25);

    // The wireless anchor's reports, heard by the master: the report's own
    // reception, and inside it the anchor's receptions of the syncs and pings.
    int reports = 0;
    int sync_items = 0;
    int ping_items = 0;
    while (reports < 5) {
        Payload payload;
        ASSERT_TRUE(master_.WaitFor(
            [](const Payload& p) { return IsReception(p, dp::kRfPacketAnchorReport); }, &payload));
        const reception_t reception = Reception(payload);
        packet_anchor_report_t report;
        PacketAnchorReport_FromBuff(reception.rf.data(), &report);
        EXPECT_EQ(report.network_id, kWirelessId);
        EXPECT_NEAR(static_cast<double>(reception.receive_time),
                    ExpectedTicks(master, wireless.position, SentAt(wireless, report.transmit_time)),
                    kTolerance);
        size_t offset = dp::kPacketAnchorReportSize;
        for (int item = 0; item < report.number_of_report_items; ++item) {
            ASSERT_LE(offset + dp::kPacketRfReportItemHeaderSize, reception.rf.size());
            rf_packet_report_item_header_t header;
            PacketRfReportItemHeader_FromBuff(reception.rf.data() + offset, &header);
            ASSERT_LE(offset + header.length, reception.rf.size());
            const uint8_t* body = reception.rf.data() + offset + dp::kPacketRfReportItemHeaderSize;
            if (header.item_type == dp::kRfReportItemCompact) {
                rf_packet_report_item_anchor_compact_t compact;
                PacketRfReportItemAnchorCompact_FromBuff(body, &compact);
                EXPECT_EQ(compact.received_packet_type, dp::kRfPacketSync);
                EXPECT_NEAR(static_cast<double>(header.receive_time),
                            ExpectedTicks(wireless, master.position, SentAt(master, compact.transmit_time)),
                            kTolerance);
                ++sync_items;
            } else if (header.item_type == dp::kRfReportItemFull &&
                       body[0] == dp::kRfPacketLocationTagReport) {
                const uint8_t sequence = body[1];
                for (const auto& sent : truth) {
                    if (sent.sequence == sequence) {
                        EXPECT_NEAR(static_cast<double>(header.receive_time),
                                    ExpectedTicks(wireless, tag.position, sent.time_s), kTolerance);
                        ++ping_items;
                    }
                }
            }
            offset += header.length;
        }
        EXPECT_EQ(offset, reception.rf.size());
        ++reports;
    }
    EXPECT_GE(sync_items, 4);
    EXPECT_GE(ping_items, 1);

    // The tag's trickled user data reassembles into whole pressure records for its height.
    trickle_buffer_consumer_t consumer;
    TrickleBuffer_InitConsumer(&consumer);
    int records = 0;
    for (const auto& chunk : chunks) {
        uint16_t total = 0;
        uint8_t* messages =
            TrickleBuffer_Consume(&consumer, chunk.data(), static_cast<uint16_t>(chunk.size()), &total);
        for (uint16_t offset = 0; offset < total; offset = static_cast<uint16_t>(offset + messages[offset])) {
            ASSERT_EQ(messages[offset], dp::kSensorDataBarSize);
            sensor_data_bar_t bar;
            SensorDataBar_FromBuff(messages + offset, &bar);
            EXPECT_EQ(bar.header.sensor_kind, dp::kSensorPressure);
            EXPECT_NEAR(bar.pressure / 4096.0, 1013.25 * std::pow(1.0 - 2.25577e-5 * 1.2, 5.25588), 0.01);
            ++records;
        }
        free(messages);
    }
    EXPECT_GE(records, 20);

    // The truth goes out as well: a CSV line and a Vuv position item per transmission.
    FILE* csv = fopen(site_.truth_csv_path.c_str(), "r");
    ASSERT_NE(csv, nullptr);
    char line[256];
    ASSERT_NE(fgets(line, sizeof(line), csv), nullptr);
    EXPECT_STREQ(line, "time_s,serial_number,x,y,z,network_time,sequence\n");
    ASSERT_NE(fgets(line, sizeof(line), csv), nullptr);
    EXPECT_NE(std::string(line).find(",01:01:0021,3.0000,5.0000,1.2000,"), std::string::npos) << line;
    fclose(csv);
    const Payload datagram = truth_stream_.Receive(10000);
    VexPacket packet(0);
    ASSERT_TRUE(packet.ConvertPacketBuffer(datagram.data(), static_cast<uint16_t>(datagram.size())));
    EXPECT_EQ(packet.GetSerialNumber(), kTag);
    vex_data_position_t position;
    ASSERT_TRUE(VexData_Read(*packet.GetDataItems().at(0), &position));
    EXPECT_EQ(position.x, 3000);
    EXPECT_EQ(position.y, 5000);
    EXPECT_EQ(position.z, 1200);
}

}  // namespace

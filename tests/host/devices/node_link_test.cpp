// Dispatch of the SSP payloads a device sends: what each payload type becomes
// on the Internal stream, what is printed, and that hostile payloads (short,
// lying lengths and counts, unknown types) publish nothing they did not carry.
// The link is a USB link that is never opened: HandlePacketRx is the same for
// every kind of link.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "host/devices/usb_link.h"
#include "protocol/vex/vex_data_types.h"
#include "support/device_payloads.h"
#include "support/stdout_capture.h"

namespace {

using namespace test_devices;
namespace dp = device_protocol;

constexpr uint64_t kRxTime = 0x0A0B0C0D0E;

Bytes DropLast(Bytes bytes) {
    bytes.pop_back();
    return bytes;
}

struct PublishedItem {
    uint32_t packet_serial;
    uint16_t type;
    Bytes payload;
};

class NodeLinkTest : public ::testing::Test {
  protected:
    NodeLinkTest() : recorder_(std::make_shared<VexPacketRecorder>()) {
        link_.Init(MakeRegistry(), recorder_, "/dev/null-test");
    }

    void Identify(uint32_t serial = kLinkDevice) {
        const Bytes answer = BridgeAnswer(serial);
        link_.HandlePacketRx(answer.data(), static_cast<int>(answer.size()));
        ASSERT_EQ(link_.GetSerialNumber(), serial);
    }

    // Feeds the payload and returns what was printed.
    std::string Feed(const Bytes& payload, int length = -1) {
        StdoutCapture capture;
        // A heap copy of exactly the length handed over: a read past it is a
        // sanitizer report.
        const size_t size = length < 0 ? payload.size() : static_cast<size_t>(length);
        std::unique_ptr<uint8_t[]> copy(new uint8_t[size == 0 ? 1 : size]);
        if (size != 0) {
            std::memcpy(copy.get(), payload.data(), size);
        }
        link_.HandlePacketRx(copy.get(), static_cast<int>(size));
        return capture.Stop();
    }

    std::vector<PublishedItem> TakeItems() {
        std::vector<PublishedItem> items;
        for (const VexPacket& packet : recorder_->Packets()) {
            for (const auto& item : packet.GetDataItems()) {
                const uint8_t* data = item->GetData();
                items.push_back({packet.GetSerialNumber(), item->GetType(),
                                 data ? Bytes(data, data + item->GetDataSize()) : Bytes()});
            }
        }
        recorder_->Clear();
        return items;
    }

    template <typename Record>
    static Record As(const PublishedItem& item) {
        Record record{};
        EXPECT_EQ(item.type, VexDataTraits<Record>::kType);
        EXPECT_EQ(item.payload.size(), sizeof(Record));
        std::memcpy(&record, item.payload.data(), std::min(sizeof(Record), item.payload.size()));
        return record;
    }

    static void ExpectTimedRx(const PublishedItem& item, uint8_t sequence, uint32_t serial, uint16_t id,
                              uint8_t type, uint64_t tx_time, uint64_t rx_time, uint16_t signal_seed) {
        const auto rx = As<vex_data_timed_rx_t>(item);
        EXPECT_EQ(+rx.sequence, sequence);
        EXPECT_EQ(+rx.serial_number, serial);
        EXPECT_EQ(+rx.network_id, id);
        EXPECT_EQ(+rx.packet_type, type);
        EXPECT_EQ(+rx.tx_time, tx_time);
        EXPECT_EQ(+rx.rx_time, rx_time);
        const signal_strength_t signal = Signal(signal_seed);
        EXPECT_EQ(std::memcmp(&rx.signal_strength, &signal, sizeof(signal)), 0);
    }

    std::shared_ptr<VexPacketRecorder> recorder_;
    UsbLink link_;
};

TEST_F(NodeLinkTest, OnlyTheBridgeAnswerIsTakenBeforeIdentification) {
    const Bytes sync_rx = RxPassthrough(SyncPacket(Sync(1, kMasterId)), kRxTime, 0);
    EXPECT_EQ(Feed(sync_rx), "Received packet on link with unknown device.\n");
    EXPECT_EQ(Feed({dp::kSspTypeBridge, 1, 0, 0}), "Received invalid bridge response\n");
    EXPECT_EQ(Feed(Concat({BridgeAnswer(0x01000007), {0}})), "Received invalid bridge response\n");
    // 0 would read as "unknown" and 0xFFFFFFFF names no device.
    EXPECT_EQ(Feed(BridgeAnswer(0)),
              "NodeLink: Received bridge response with invalid serial number 00000000\n");
    EXPECT_EQ(Feed(BridgeAnswer(0xFFFFFFFF)),
              "NodeLink: Received bridge response with invalid serial number FFFFFFFF\n");
    EXPECT_EQ(link_.GetSerialNumber(), 0u);
    EXPECT_EQ(Feed({0x10, 0x01, 0x00, 0x00, 0x07}), "");
    EXPECT_EQ(link_.GetSerialNumber(), 0x01000007u);
    EXPECT_TRUE(TakeItems().empty());
    // A later answer sets the serial number again.
    Identify(kAnchor2);
}

TEST_F(NodeLinkTest, CommandResponsesPrintTheirMessageAndAlwaysPublishTheSubId) {
    Identify(0x01000007);
    struct Case {
        Bytes payload;
        std::string message;
    };
    const Case cases[] = {
        {{0x12, 0x00}, "NodeLink: Received invalid Start Sync Command response\n"},
        {Concat({{0x12, 0x00}, Bytes(11, 0)}), "NodeLink: Device 01:00:0007 Now Sending Syncs\n"},
        {{0x12, 0x02, 0x01}, "NodeLink: RF Rx Passthrough Enabled on device 01:00:0007\n"},
        {{0x12, 0x02, 0x00}, "NodeLink: RF Rx Passthrough Disabled on device 01:00:0007\n"},
        {{0x12, 0x02}, "NodeLink: Received invalid RF Rx Passthrough Command response\n"},
        {{0x12, 0x03, 0x05}, "NodeLink: RF Tx Passthrough Enabled on device 01:00:0007\n"},
        {{0x12, 0x03, 0x00}, "NodeLink: RF Tx Passthrough Disabled on device 01:00:0007\n"},
        {{0x12, 0x03, 0x00, 0x00}, "NodeLink: Received invalid RF Tx Passthrough Command response\n"},
        {{0x12, 0x04, 0, 0, 0}, ""},
        {{0x12, 0x04, 0, 0}, "NodeLink: Received invalid Set Sync Command response\n"},
        {{0x12, 0x05}, ""},
        {{0x12, 0x05, 1, 2, 3, 4, 5, 6, 7}, ""},
        {{0x12, 0x06}, "NodeLink: Device 01:00:0007 No Longer Sending Syncs\n"},
        {{0x12, 0x06, 0x00}, "NodeLink: Received invalid Stop Sync Command response\n"},
        {{0x12, 0x01}, "NodeLink: Received Unknown USB Response Packet Type 1\n"},
        {{0x12, 0xFF, 0x01}, "NodeLink: Received Unknown USB Response Packet Type 255\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(Feed(c.payload), c.message);
        const auto items = TakeItems();
        ASSERT_EQ(items.size(), 1u);
        EXPECT_EQ(items[0].packet_serial, 0x01000007u);
        EXPECT_EQ(+As<vex_data_ssp_response_t>(items[0]).command_id, c.payload[1]);
    }
    EXPECT_EQ(Feed({0x12}), "NodeLink: received empty USB Response\n");
    EXPECT_TRUE(TakeItems().empty());
}

TEST_F(NodeLinkTest, TransmittedSyncBecomesATickWithEveryField) {
    Identify(kMaster);
    const packet_sync_t sync = Sync(0x42, kMasterId);
    EXPECT_EQ(Feed(TxPassthrough(SyncPacket(sync))), "");
    const auto items = TakeItems();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].packet_serial, kMaster);
    const auto tick = As<vex_data_tick_t>(items[0]);
    EXPECT_EQ(+tick.sequence, 0x42);
    EXPECT_EQ(+tick.serial_number, kMaster);
    EXPECT_EQ(+tick.network_id, kMasterId);
    EXPECT_EQ(+tick.network_time, 0x11223344u);
    EXPECT_EQ(+tick.byte_8, 0x08);
    EXPECT_EQ(+tick.field_9, 0x09090909u);
    EXPECT_EQ(+tick.byte_13, 0x13);
    EXPECT_EQ(+tick.byte_14, 0x14);
    EXPECT_EQ(+tick.byte_24, 0x24);
    EXPECT_EQ(+tick.field_15, 0x15151515u);
    EXPECT_EQ(+tick.transmit_time, 0xAB12345678u);
}

TEST_F(NodeLinkTest, MalformedTransmitPassthroughsAreDroppedWithTheirMessage) {
    Identify(kMaster);
    const Bytes good = TxPassthrough(SyncPacket(Sync(1, kMasterId)));
    Bytes length_lies = good;
    length_lies[3] = static_cast<uint8_t>(length_lies[3] + 1);
    Bytes not_sync = good;
    not_sync[4] = dp::kRfPacketAnchorReport;
    const Bytes short_sync = TxPassthrough(DropLast(SyncPacket(Sync(1, kMasterId))));
    EXPECT_EQ(Feed({0x14, 0x00, 0x00}), "NodeLink: received invalid Tx Passthrough Type\n");
    EXPECT_EQ(Feed(length_lies),
              "NodeLink: 01020001 received Tx Passthrough packet with length 26, which does not match actual "
              "length 25.\n");
    EXPECT_EQ(
        Feed(TxPassthrough({})),
        "NodeLink: 01020001 received Tx Passthrough packet with length 0, which does not match actual length "
        "0.\n");
    EXPECT_EQ(Feed(not_sync), "Received unknown transmit type 119\n");
    EXPECT_EQ(Feed(short_sync), "NodeLink: Received tx sync packet with an invalid length\n");
    EXPECT_TRUE(TakeItems().empty());
}

TEST_F(NodeLinkTest, ReceivedPacketsBecomeTimedReceptionsDiscoveriesAndPings) {
    Identify();
    EXPECT_EQ(Feed(RxPassthrough(SyncPacket(Sync(9, kMasterId)), kRxTime, 7)), "");
    EXPECT_EQ(Feed(RxPassthrough(AnnounceResponse(0x0A0B0C0D), kRxTime + 1, 8)), "");
    EXPECT_EQ(Feed(RxPassthrough(TagReport(3, kTag2Id, {0xDE, 0xAD, 0xBE}), kRxTime + 2, 9)), "");
    EXPECT_EQ(Feed(RxPassthrough(TagReport(4, 99, {}), kRxTime + 3, 10)), "");
    const auto items = TakeItems();
    ASSERT_EQ(items.size(), 4u);
    for (const auto& item : items) {
        EXPECT_EQ(item.packet_serial, kLinkDevice);
    }
    ExpectTimedRx(items[0], 9, kMaster, kMasterId, dp::kRfPacketSync, 0xAB12345678, kRxTime, 7);

    const auto discovery = As<vex_data_discovery_t>(items[1]);
    EXPECT_EQ(+discovery.serial_number, 0x0A0B0C0Du);
    EXPECT_EQ(+discovery.rx_time, kRxTime + 1);
    EXPECT_EQ(+discovery.signal_strength.channel_impulse_response_power,
              Signal(8).channel_impulse_response_power);

    vex_data_ping_t ping{};
    const uint8_t* user_data = nullptr;
    uint16_t user_size = 0;
    VexDataItem ping_item(items[2].type, static_cast<uint16_t>(items[2].payload.size()),
                          items[2].payload.data());
    ASSERT_TRUE(VexDataPing_Read(ping_item, &ping, &user_data, &user_size));
    EXPECT_EQ(+ping.sequence, 3);
    EXPECT_EQ(+ping.serial_number, kTag2);
    EXPECT_EQ(+ping.network_id, kTag2Id);
    EXPECT_EQ(+ping.report_byte_4, 0x5A);
    EXPECT_EQ(+ping.rx_time, kRxTime + 2);
    EXPECT_EQ(+ping.signal_strength.first_path_amplitude_1, Signal(9).first_path_amplitude_1);
    ASSERT_EQ(user_size, 3);
    EXPECT_EQ(Bytes(user_data, user_data + 3), (Bytes{0xDE, 0xAD, 0xBE}));
    // An unknown network id names serial number 0; the item is still published.
    ASSERT_EQ(items[3].type, VexType::kPing);
    ASSERT_EQ(items[3].payload.size(), sizeof(vex_data_ping_t));
    vex_data_ping_t unknown_tag{};
    std::memcpy(&unknown_tag, items[3].payload.data(), sizeof(unknown_tag));
    EXPECT_EQ(+unknown_tag.serial_number, 0u);
    EXPECT_EQ(+unknown_tag.network_id, 99);
}

TEST_F(NodeLinkTest, AnchorReportPublishesTheAnchorsItemsThenTheReportsReception) {
    Identify();
    const Bytes rf =
        Concat({AnchorReportHead(0x31, kAnchor2Id, 4), CompactItem(0x51, 0xFFFF, dp::kRfPacketSync, 0x100),
                CompactItem(0x52, kAnchor1Id, dp::kRfPacketAnchorReport, 0x200),
                FullItem(AnnounceResponse(0x0C0C0C0C), 0x300),
                FullItem(TagReport(0x53, kTag1Id, {1, 2, 3, 4}), 0x400)});
    EXPECT_EQ(Feed(RxPassthrough(rf, kRxTime, 30)), "");
    const auto packets = recorder_->Packets();
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].GetSerialNumber(), kAnchor2);
    EXPECT_EQ(packets[1].GetSerialNumber(), kLinkDevice);
    const auto items = TakeItems();
    ASSERT_EQ(items.size(), 5u);
    // A compact item about a sync that names no sender is about the master (id 1).
    ExpectTimedRx(items[0], 0x51, kMaster, kMasterId, dp::kRfPacketSync, 0x00FFEEDDCC, 0x100, 100);
    ExpectTimedRx(items[1], 0x52, kAnchor1, kAnchor1Id, dp::kRfPacketAnchorReport, 0x00FFEEDDCC, 0x200, 100);
    EXPECT_EQ(+As<vex_data_discovery_t>(items[2]).serial_number, 0x0C0C0C0Cu);
    EXPECT_EQ(+As<vex_data_discovery_t>(items[2]).rx_time, 0x300u);
    ASSERT_EQ(items[3].type, VexType::kPing);
    ASSERT_EQ(items[3].payload.size(), sizeof(vex_data_ping_t) + 4);
    vex_data_ping_t ping{};
    std::memcpy(&ping, items[3].payload.data(), sizeof(ping));
    EXPECT_EQ(+ping.serial_number, kTag1);
    EXPECT_EQ(+ping.rx_time, 0x400u);
    EXPECT_EQ(+ping.signal_strength.first_path_amplitude_1, Signal(200).first_path_amplitude_1);
    EXPECT_EQ(Bytes(items[3].payload.end() - 4, items[3].payload.end()), (Bytes{1, 2, 3, 4}));
    ExpectTimedRx(items[4], 0x31, kAnchor2, kAnchor2Id, dp::kRfPacketAnchorReport, 0x0102030405, kRxTime, 30);
}

TEST_F(NodeLinkTest, ABadAnchorReportItemEndsTheItemsButNotTheReport) {
    Identify();
    const Bytes unknown_item = Concat({ReportItemHeader(0x33, 0, 0), Bytes(10, 0)});
    const Bytes rf =
        Concat({AnchorReportHead(1, kAnchor1Id, 3), CompactItem(1, kMasterId, dp::kRfPacketSync, 5),
                unknown_item, CompactItem(2, kMasterId, dp::kRfPacketSync, 6)});
    EXPECT_EQ(Feed(RxPassthrough(rf, kRxTime, 0)), "Received Unrecognized Anchor Report Item Type 51\n");
    auto items = TakeItems();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].packet_serial, kAnchor1);
    EXPECT_EQ(+As<vex_data_timed_rx_t>(items[1]).packet_type, dp::kRfPacketAnchorReport);

    struct Case {
        Bytes item;
        std::string message;
    };
    const Case cases[] = {
        {CompactItem(1, kMasterId, 18, 5),
         "Received Unrecognized Anchor Report Compact Item Rx Packet Type 18\n"},
        {FullItem({0x30, 0, 0, 0, 0}, 5), "Received Unrecognized Anchor Report Full Item Type 48\n"},
        {FullItem(DropLast(TagReport(1, kTag1Id, {1, 2})), 5),
         "Received RTLS Tag Report with invalid payload size in report item 2.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(Feed(RxPassthrough(Concat({AnchorReportHead(1, 77, 1), c.item}), kRxTime, 0)), c.message);
        items = TakeItems();
        ASSERT_EQ(items.size(), 1u) << "the report's own reception alone";
        EXPECT_EQ(items[0].packet_serial, kLinkDevice);
    }
    // An item count of 0 reads no item, even when items follow.
    EXPECT_EQ(
        Feed(RxPassthrough(Concat({AnchorReportHead(1, kAnchor1Id, 0), CompactItem(1, 1, 16, 5)}), 0, 0)),
        "");
    EXPECT_EQ(recorder_->Packets().at(0).GetDataItems().size(), 0u) << "the anchor's packet goes out empty";
    EXPECT_EQ(TakeItems().size(), 1u);
}

TEST_F(NodeLinkTest, MalformedReceivePassthroughsAreDroppedWithTheirMessage) {
    Identify();
    Bytes length_lies = RxPassthrough(SyncPacket(Sync(1, 1)), 0, 0);
    length_lies[20] = static_cast<uint8_t>(length_lies[20] - 1);
    struct Case {
        Bytes payload;
        std::string message;
    };
    const Case cases[] = {
        {Bytes(20, 0x13), "NodeLink: received invalid Rx Passthrough Type\n"},
        {length_lies,
         "NodeLink: received Rf Rx passthrough packet with bad length information (length: 24).\n"},
        {RxPassthrough({}, 0, 0),
         "NodeLink: received Rf Rx passthrough packet with bad length information (length: "
         "0).\n"},
        {RxPassthrough(DropLast(SyncPacket(Sync(1, 1))), 0, 0), ""},
        {RxPassthrough(Concat({AnnounceResponse(5), {0}}), 0, 0),
         "NodeLink: Received announce response packet with an invalid length\n"},
        {RxPassthrough(DropLast(AnchorReportHead(1, 2, 0)), 0, 0),
         "NodeLink: Received anchor report of invalid length 9\n"},
        {RxPassthrough({20, 0, 0}, 0, 0), "Received atwr+s tag report. There should be none!\n"},
        {RxPassthrough({21, 0, 0, 0, 0, 0}, 0, 0),
         "NodeLink: Received RTLS tag report packet with an invalid length\n"},
        {RxPassthrough(DropLast(TagReport(1, 4, {9, 9})), 0, 0),
         "Received RTLS Tag Report with invalid payload size on passthrough 2\n"},
        {RxPassthrough({22, 1, 2}, 0, 0),
         "NodeLink: Received Time Transfer Packet which we currently are not "
         "handling.\n"},
        {RxPassthrough({18, 1, 2}, 0, 0), "NodeLink: received unknown Rf packet type 18\n"},
        {RxPassthrough({0xC1, 1, 2}, 0, 0), "NodeLink: received unknown Rf packet type 193\n"},
        {{0x44, 1, 2},
         "NodeLink: received unrecognized packet type 68 over ssp interface\nUSB Packet Type: 68"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(Feed(c.payload), c.message);
        EXPECT_TRUE(TakeItems().empty());
    }
}

// Every truncation of an anchor report whose lengths are made to agree with
// the truncation: the items published are always a prefix of those of the
// whole report, and never more than the bytes held.
TEST_F(NodeLinkTest, TruncatedAnchorReportsPublishOnlyWhatTheyHold) {
    Identify();
    const Bytes rf = Concat({AnchorReportHead(1, kAnchor1Id, 40), CompactItem(1, 1, 16, 1),
                             FullItem(TagReport(2, kTag1Id, Bytes(9, 0xEE)), 2),
                             FullItem(AnnounceResponse(3), 3), CompactItem(4, 2, 19, 4)});
    EXPECT_EQ(Feed(RxPassthrough(rf, kRxTime, 0)), "");
    const auto whole = TakeItems();
    ASSERT_EQ(whole.size(), 5u);
    for (size_t cut = 0; cut < rf.size(); ++cut) {
        SCOPED_TRACE(cut);
        Feed(RxPassthrough(Bytes(rf.begin(), rf.begin() + static_cast<long>(cut)), kRxTime, 0));
        const auto items = TakeItems();
        if (cut < dp::kPacketAnchorReportSize) {
            EXPECT_TRUE(items.empty());
            continue;
        }
        ASSERT_FALSE(items.empty());
        ASSERT_LT(items.size(), whole.size());
        for (size_t i = 0; i + 1 < items.size(); ++i) {
            EXPECT_EQ(items[i].payload, whole[i].payload);
        }
        EXPECT_EQ(items.back().payload, whole.back().payload);
    }
}

TEST_F(NodeLinkTest, RandomPayloadsPublishOnlyWellFormedItems) {
    Identify();
    std::mt19937 random(1234);
    std::uniform_int_distribution<int> byte(0, 255);
    const uint8_t types[] = {0x10, 0x12, 0x13, 0x14, 0x00};
    for (int round = 0; round < 3000; ++round) {
        Bytes payload(static_cast<size_t>(byte(random)) * 2);
        for (auto& b : payload) {
            b = static_cast<uint8_t>(byte(random));
        }
        if (!payload.empty()) {
            payload[0] = types[round % 5];
        }
        if (payload.size() > 22 && payload[0] == 0x13) {
            // Often make the header's length agree, so the RF packet is read.
            payload[19] = static_cast<uint8_t>((payload.size() - 21) >> 8);
            payload[20] = static_cast<uint8_t>(payload.size() - 21);
            payload[21] = static_cast<uint8_t>(16 + round % 7);
        }
        Feed(payload);
        for (const auto& item : TakeItems()) {
            switch (item.type) {
                case VexType::kTimedRx:
                    EXPECT_EQ(item.payload.size(), sizeof(vex_data_timed_rx_t));
                    break;
                case VexType::kDiscovery:
                    EXPECT_EQ(item.payload.size(), sizeof(vex_data_discovery_t));
                    break;
                case VexType::kSspResponse:
                    EXPECT_EQ(item.payload.size(), 1u);
                    break;
                case VexType::kPing:
                    EXPECT_GE(item.payload.size(), sizeof(vex_data_ping_t));
                    EXPECT_LE(item.payload.size(), payload.size());
                    break;
                case VexType::kTick:
                    EXPECT_EQ(item.payload.size(), sizeof(vex_data_tick_t));
                    break;
                default:
                    ADD_FAILURE() << "unexpected item type " << item.type;
            }
        }
    }
}

TEST_F(NodeLinkTest, PayloadTooLongForAFrameIsRefusedBeforeItIsCopied) {
    StdoutCapture capture;
    link_.Publish(nullptr, 100000);
    link_.Publish(nullptr, SSP_MAX_PAYLOAD_LENGTH + 1);
    EXPECT_EQ(capture.Stop(),
              "NodeLink: payload of 100000 bytes is longer than the 1527 an SSP frame carries; not sent\n"
              "NodeLink: payload of 1528 bytes is longer than the 1527 an SSP frame carries; not sent\n");
}

TEST_F(NodeLinkTest, MessagesOfAFloodingDeviceArePaced) {
    StdoutCapture capture;
    const Bytes noise = {0x13, 0x00};
    for (int i = 0; i < 5000; ++i) {
        link_.HandlePacketRx(noise.data(), static_cast<int>(noise.size()));
    }
    const std::string text = capture.Stop();
    size_t lines = 0;
    for (char c : text) {
        lines += c == '\n';
    }
    EXPECT_GE(lines, 10u);
    EXPECT_LT(lines, 500u);
}

// Operations no link calls itself, kept for whoever drives a link.
class ExposedLink : public UsbLink {
  public:
    using NodeLink::_GetSignalStrength;
};

TEST_F(NodeLinkTest, SignalValuesComeOutOfBothHeadersAsTheyWereSent) {
    const Bytes rx = RxPassthrough(SyncPacket(Sync(1, kMasterId)), kRxTime, 40);
    ssp_cmd_set_rx_passthrough_data_t rx_header{};
    SspCmdSetRxPassthrough_Data_FromBuff(rx.data(), &rx_header);
    const Bytes item = ReportItemHeader(dp::kRfReportItemCompact, kRxTime, 900);
    rf_packet_report_item_header_t item_header{};
    PacketRfReportItemHeader_FromBuff(item.data(), &item_header);

    const signal_strength_t expected_rx = Signal(40);
    const signal_strength_t expected_item = Signal(900);
    const signal_strength_t from_rx = ExposedLink::_GetSignalStrength(rx_header);
    const signal_strength_t from_item = ExposedLink::_GetSignalStrength(item_header);
    EXPECT_EQ(std::memcmp(&from_rx, &expected_rx, sizeof(signal_strength_t)), 0);
    EXPECT_EQ(std::memcmp(&from_item, &expected_item, sizeof(signal_strength_t)), 0);
}

TEST_F(NodeLinkTest, LoadDefaultsTakesBackAShutdown) {
    StdoutCapture capture;
    link_.Shutdown();
    capture.Stop();
    EXPECT_TRUE(link_.IsShuttingDown());
    link_.LoadDefaults();
    EXPECT_FALSE(link_.IsShuttingDown());
}

TEST_F(NodeLinkTest, TagReportSignalIsDeclaredForWholeTagReports) {
    EXPECT_GE(NodeLink::staticMetaObject.indexOfSignal(
                  QMetaObject::normalizedSignature("EmitRtlsTagReport(derazud_usb_tag_rpt_t)").constData()),
              0);
    uint32_t received = 0;
    QObject::connect(&link_, &NodeLink::EmitRtlsTagReport,
                     [&](derazud_usb_tag_rpt_t report) { received = report.tag_rpt.serial_number; });
    derazud_usb_tag_rpt_t report{};
    report.tag_rpt.serial_number = kTag1;
    emit link_.EmitRtlsTagReport(report);
    EXPECT_EQ(received, kTag1);
    // Dispatch never emits it: a received tag report becomes a ping item.
    Identify();
    received = 0;
    EXPECT_EQ(Feed(RxPassthrough(TagReport(3, kTag1Id, {1}), kRxTime, 0)), "");
    EXPECT_EQ(received, 0u);
    EXPECT_EQ(TakeItems().size(), 1u);
}

}  // namespace

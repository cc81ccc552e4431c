#include "host/devices/node_link.h"

#include <QThread>
#include <chrono>
#include <cstdio>

#include "base/serial_number.h"
#include "base/thread_annotations.h"
#include "host/devices/node_manager.h"
#include "protocol/packets/anchor_report_packet.h"
#include "protocol/packets/announce_response_packet.h"
#include "protocol/packets/device_protocol.h"
#include "protocol/packets/rf_report_item_anchor_compact_packet.h"
#include "protocol/packets/rf_report_item_header_packet.h"
#include "protocol/packets/rtls_tag_report_packet.h"
#include "protocol/packets/sync_packet.h"
#include "protocol/packets/tx_passthrough_data_packet.h"
#include "protocol/vex/vex_data_types.h"

namespace dp = device_protocol;

namespace {

// A device can send thousands of malformed payloads a second: the first
// messages print at once, then a few a second.
constexpr uint32_t kDeviceMessageBurst = 64;
constexpr uint32_t kDeviceMessagesPerSecond = 16;

// The bridge query's answer window.
constexpr int kQueryWaitMs = 200;

// A sync that names no sender in a compact anchor report item comes from
// the master, whose network id is always the first one handed out.
constexpr uint16_t kUnsetNetworkId = 65535;
constexpr uint16_t kMasterNetworkId = 1;

// The item of a reception, as every timed-reception producer fills it.
vex_data_timed_rx_t TimedRx(uint8_t sequence, uint32_t serial_number, uint16_t network_id,
                            uint8_t packet_type, uint64_t tx_time, uint64_t rx_time,
                            const signal_strength_t& signal) {
    vex_data_timed_rx_t item{};
    item.sequence = sequence;
    item.serial_number = serial_number;
    item.network_id = network_id;
    item.packet_type = packet_type;
    item.tx_time = tx_time;
    item.rx_time = rx_time;
    item.signal_strength = signal;
    return item;
}

vex_data_ping_t Ping(const packet_rtls_tag_report_t& report, uint32_t serial_number, uint64_t rx_time,
                     const signal_strength_t& signal) {
    vex_data_ping_t ping{};
    ping.sequence = report.sequence;
    ping.serial_number = serial_number;
    ping.network_id = report.network_id;
    ping.report_byte_4 = report.byte_4;
    ping.rx_time = rx_time;
    ping.signal_strength = signal;
    return ping;
}

vex_data_discovery_t Discovery(const packet_announce_response_t& announce, uint64_t rx_time,
                               const signal_strength_t& signal) {
    vex_data_discovery_t discovery{};
    discovery.serial_number = announce.serial_number;
    discovery.rx_time = rx_time;
    discovery.signal_strength = signal;
    return discovery;
}

// Responses to the SSP commands: the length each must have and what it says.
struct ResponseRule {
    uint8_t sub_id;
    int length;                    // required payload length; 0 for any
    const char* message;           // when the length is right (%s: the link's serial number)
    const char* message_disabled;  // instead of `message` when byte 2 is 0 (passthrough switches)
    const char* message_invalid;   // when the length is wrong
};

constexpr ResponseRule kResponseRules[] = {
    {dp::kSspCmdStartSync, dp::kSspCmdStartSyncSize, "NodeLink: Device %s Now Sending Syncs\n", nullptr,
     "NodeLink: Received invalid Start Sync Command response\n"},
    {dp::kSspCmdSetRxPassthrough, dp::kSspCmdSetRxPassthroughSize,
     "NodeLink: RF Rx Passthrough Enabled on device %s\n",
     "NodeLink: RF Rx Passthrough Disabled on device %s\n",
     "NodeLink: Received invalid RF Rx Passthrough Command response\n"},
    {dp::kSspCmdSetTxPassthrough, dp::kSspCmdSetTxPassthroughSize,
     "NodeLink: RF Tx Passthrough Enabled on device %s\n",
     "NodeLink: RF Tx Passthrough Disabled on device %s\n",
     "NodeLink: Received invalid RF Tx Passthrough Command response\n"},
    {dp::kSspCmdSetSyncCmds, dp::kSspCmdSetSyncCmdsSize, nullptr, nullptr,
     "NodeLink: Received invalid Set Sync Command response\n"},
    {dp::kSspCmdExecSyncCmds, 0, nullptr, nullptr, nullptr},
    {dp::kSspCmdStopSync, dp::kSspCmdStopSyncSize, "NodeLink: Device %s No Longer Sending Syncs\n", nullptr,
     "NodeLink: Received invalid Stop Sync Command response\n"},
};

}  // namespace

// The SSP payload types a device sends, each with the length range its
// record needs: a payload outside it is dropped with the message before
// anything is decoded (the decoders take no length).
struct NodeLink::PayloadRoute {
    uint8_t type;
    int minimum_length;
    int maximum_length;
    const char* message_invalid;
    void (NodeLink::*handler)(const uint8_t*, int);
};

const NodeLink::PayloadRoute NodeLink::kPayloadRoutes[] = {
    {dp::kSspTypeBridge, dp::kBridgeSerialNumberAnswerSize, dp::kBridgeSerialNumberAnswerSize,
     "Received invalid bridge response\n", &NodeLink::HandleUsbBridgePkt},
    {dp::kSspTypeResponse, 2, SSP_MAX_PAYLOAD_LENGTH, "NodeLink: received empty USB Response\n",
     &NodeLink::HandleUsbResponsePacket},
    {dp::kSspTypeRxPassthrough, dp::kSspCmdSetRxPassthroughDataSize, SSP_MAX_PAYLOAD_LENGTH,
     "NodeLink: received invalid Rx Passthrough Type\n", &NodeLink::HandleUsbRfRxPkt},
    {dp::kSspTypeTxPassthrough, dp::kSspCmdSetTxPassthroughDataSize, SSP_MAX_PAYLOAD_LENGTH,
     "NodeLink: received invalid Tx Passthrough Type\n", &NodeLink::HandleUsbRfTxPkt},
};

// The RF packet types a receive passthrough carries, the same way; the
// message (which may print the RF length) is null where a short packet is
// dropped silently, the handler null where the type is not handled at all.
struct NodeLink::RfPacketRoute {
    uint8_t type;
    uint16_t minimum_length;
    uint16_t maximum_length;
    const char* message_invalid;
    void (NodeLink::*handler)(const ssp_cmd_set_rx_passthrough_data_t&, const uint8_t*, uint16_t);
};

const NodeLink::RfPacketRoute NodeLink::kRfPacketRoutes[] = {
    {dp::kRfPacketSync, dp::kPacketSyncSize, SSP_MAX_PAYLOAD_LENGTH, nullptr, &NodeLink::HandleRxSync},
    {dp::kRfPacketAnnounceResponse, dp::kPacketAnnounceResponseSize, dp::kPacketAnnounceResponseSize,
     "NodeLink: Received announce response packet with an invalid length\n",
     &NodeLink::HandleRxAnnounceResponse},
    {dp::kRfPacketAnchorReport, dp::kPacketAnchorReportSize, SSP_MAX_PAYLOAD_LENGTH,
     "NodeLink: Received anchor report of invalid length %hu\n", &NodeLink::HandleRxAnchorReport},
    {dp::kRfPacketTwrTagReport, 0, SSP_MAX_PAYLOAD_LENGTH,
     "Received atwr+s tag report. There should be none!\n", nullptr},
    {dp::kRfPacketLocationTagReport, dp::kPacketRtlsTagReportSize, SSP_MAX_PAYLOAD_LENGTH,
     "NodeLink: Received RTLS tag report packet with an invalid length\n", &NodeLink::HandleRxTagReport},
    {dp::kRfPacketTimeTransfer, 0, SSP_MAX_PAYLOAD_LENGTH,
     "NodeLink: Received Time Transfer Packet which we currently are not handling.\n", nullptr},
};

NodeLink::NodeLink(QObject* parent)
    : QObject(parent),
      ssp_(std::make_unique<ssp_state_t>()),
      device_messages_("NodeLink", kDeviceMessageBurst, kDeviceMessagesPerSecond) {
    ssp_init(ssp_.get(), SSP_MAX_PAYLOAD_LENGTH);
    // Connected here rather than in Run, and queued: a shutdown asked for
    // before the thread started (or while the link recovers) waits in the
    // link's event queue instead of being lost.
    connect(this, &NodeLink::SignalShutdown, this, &NodeLink::Shutdown,
            static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::UniqueConnection));
}

NodeLink::~NodeLink() = default;

bool NodeLink::Init(std::shared_ptr<const NodeManager> registry, std::shared_ptr<VexInputPublisher> publisher,
                    const QString& name) {
    (void)name;
    if (GetLinkState() != kStateNotInitialised) {
        return false;
    }
    registry_ = std::move(registry);
    publisher_ = std::move(publisher);
    ssp_init(ssp_.get(), SSP_MAX_PAYLOAD_LENGTH);
    link_state_.store(kStateClosed, std::memory_order_release);
    return true;
}

void NodeLink::Run() {}

void NodeLink::Open() {
    if (GetLinkState() != kStateClosed) {
        return;
    }
    link_state_.store(kStateOpen, std::memory_order_release);
    // Automatic: a Publish from another thread is queued to the link's thread.
    connect(this, &NodeLink::DataToPublish, this, &NodeLink::PublishData, Qt::UniqueConnection);
}

void NodeLink::Close() {
    if (GetLinkState() == kStateOpen) {
        link_state_.store(kStateClosed, std::memory_order_release);
    }
}

void NodeLink::Publish(const uint8_t* data, uint32_t length) {
    if (length > SSP_MAX_PAYLOAD_LENGTH) {
        std::printf("NodeLink: payload of %u bytes is longer than the %u an SSP frame carries; not sent\n",
                    length, static_cast<unsigned>(SSP_MAX_PAYLOAD_LENGTH));
        std::fflush(stdout);
        return;
    }
    if (data == nullptr && length != 0) {
        return;
    }
    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<int>(length));
    // The bytes reach PublishData through Qt's event queue, which the thread
    // sanitizer cannot see.
    AnnotateHandOver(bytes.constData());
    emit DataToPublish(bytes);
}

void NodeLink::QuerySerialNumber() {
    const uint8_t query[dp::kBridgeSerialNumberQuerySize] = {dp::kSspTypeBridge,
                                                             dp::kBridgeSerialNumberQuery};
    PublishData(QByteArray(reinterpret_cast<const char*>(query), sizeof(query)));
    if (!IsShuttingDown()) {
        WaitForBytesWritten(kQueryWaitMs);
    }
    if (!IsShuttingDown()) {
        WaitForReadyRead(kQueryWaitMs);
    }
}

void NodeLink::LoadDefaults() {
    std::lock_guard<std::mutex> lock(sleep_mutex_);
    shutting_down_.store(false, std::memory_order_release);
}

signal_strength_t NodeLink::_GetSignalStrength(ssp_cmd_set_rx_passthrough_data_t header) {
    return header.signal_strength;
}

signal_strength_t NodeLink::_GetSignalStrength(rf_packet_report_item_header_t header) {
    return header.signal_strength;
}

void NodeLink::Shutdown() {
    {
        std::lock_guard<std::mutex> lock(sleep_mutex_);
        shutting_down_.store(true, std::memory_order_release);
    }
    sleep_wake_.notify_all();
    if (QThread::currentThread() != thread()) {
        emit SignalShutdown();
        return;
    }
    disconnect(this, nullptr, this, nullptr);
    Close();
    emit QuitThread();
}

void NodeLink::SleepUnlessShuttingDown(int msecs) {
    std::unique_lock<std::mutex> lock(sleep_mutex_);
    sleep_wake_.wait_for(lock, std::chrono::milliseconds(msecs), [this] { return IsShuttingDown(); });
}

void NodeLink::ReceiveBytes(const uint8_t* data, size_t length) {
    while (length != 0) {
        size_t consumed = 0;
        const uint8_t* payload = ssp_rx_protocol_block(ssp_.get(), data, length, &consumed);
        data += consumed;
        length -= consumed;
        if (payload != nullptr) {
            HandlePacketRx(payload, ssp_->rx_length);
        }
    }
}

uint16_t NodeLink::FramePayload(const QByteArray& payload) {
    // Checked before the copy: the transmit buffer holds one frame.
    if (payload.size() > SSP_MAX_PAYLOAD_LENGTH) {
        return 0;
    }
    std::copy(payload.constBegin(), payload.constEnd(), ssp_->tx_buffer + SSP_HEADER_SIZE);
    return ssp_tx_wrap(ssp_.get(), static_cast<uint16_t>(payload.size()));
}

void NodeLink::HandlePacketRx(const uint8_t* payload, int length) {
    if (payload == nullptr || length < 1) {
        return;
    }
    const uint8_t type = payload[0];
    if (GetSerialNumber() == 0 && type != dp::kSspTypeBridge) {
        device_messages_.Print("Received packet on link with unknown device.\n");
        return;
    }
    for (const PayloadRoute& route : kPayloadRoutes) {
        if (route.type != type) {
            continue;
        }
        if (length < route.minimum_length || length > route.maximum_length) {
            device_messages_.Print("%s", route.message_invalid);
            return;
        }
        (this->*route.handler)(payload, length);
        return;
    }
    device_messages_.Print("NodeLink: received unrecognized packet type %u over ssp interface\n", type);
    device_messages_.Print("USB Packet Type: %u", type);
}

void NodeLink::HandleUsbBridgePkt(const uint8_t* payload, int length) {
    (void)length;
    packet_announce_response_t answer{};
    PacketAnnounceResponse_FromBuff(payload, &answer);
    // 0 would read as "not identified" and 0xFFFFFFFF names no device.
    if (!SerialNumber_IsValid(answer.serial_number)) {
        device_messages_.Print("NodeLink: Received bridge response with invalid serial number %08X\n",
                               answer.serial_number);
        return;
    }
    SetSerialNumber(answer.serial_number);
}

void NodeLink::HandleUsbResponsePacket(const uint8_t* payload, int length) {
    const uint8_t sub_id = payload[1];
    const ResponseRule* rule = nullptr;
    for (const ResponseRule& candidate : kResponseRules) {
        if (candidate.sub_id == sub_id) {
            rule = &candidate;
        }
    }
    if (rule == nullptr) {
        device_messages_.Print("NodeLink: Received Unknown USB Response Packet Type %u\n", sub_id);
    } else if (rule->length != 0 && length != rule->length) {
        device_messages_.Print("%s", rule->message_invalid);
    } else if (rule->message != nullptr) {
        const bool disabled = rule->message_disabled != nullptr && payload[2] == 0;
        device_messages_.Print(disabled ? rule->message_disabled : rule->message,
                               SerialNumber_ToString(GetSerialNumber()).c_str());
    }
    vex_data_ssp_response_t response{};
    response.command_id = sub_id;
    VexPacket packet(GetSerialNumber());
    VexData_Add(packet, response);
    PublishInput(packet);
}

void NodeLink::HandleUsbRfTxPkt(const uint8_t* payload, int length) {
    ssp_cmd_set_tx_passthrough_data_t header{};
    SspCmdSetTxPassthrough_Data_FromBuff(payload, &header);
    const int rf_length = length - dp::kSspCmdSetTxPassthroughDataSize;
    if (header.rf_packet_length != rf_length || header.rf_packet_length == 0) {
        device_messages_.Print(
            "NodeLink: %08x received Tx Passthrough packet with length %d, which does not match actual "
            "length "
            "%d.\n",
            GetSerialNumber(), header.rf_packet_length, rf_length);
        return;
    }
    const uint8_t* rf = payload + dp::kSspCmdSetTxPassthroughDataSize;
    if (rf[0] != dp::kRfPacketSync) {
        device_messages_.Print("Received unknown transmit type %hhu\n", header.byte_1);
        return;
    }
    if (rf_length < dp::kPacketSyncSize) {
        device_messages_.Print("NodeLink: Received tx sync packet with an invalid length\n");
        return;
    }
    packet_sync_t sync{};
    PacketSync_FromBuff(rf, &sync);
    VexPacket packet(GetSerialNumber());
    VexData_Add(packet, VexDataTick_FromSyncPacket(sync, GetSerialNumber()));
    PublishInput(packet);
}

void NodeLink::HandleUsbRfRxPkt(const uint8_t* payload, int length) {
    ssp_cmd_set_rx_passthrough_data_t header{};
    SspCmdSetRxPassthrough_Data_FromBuff(payload, &header);
    const int rf_length = length - dp::kSspCmdSetRxPassthroughDataSize;
    if (header.rf_packet_length != rf_length || header.rf_packet_length == 0) {
        device_messages_.Print(
            "NodeLink: received Rf Rx passthrough packet with bad length information (length: "
            "%hu).\n",
            header.rf_packet_length);
        return;
    }
    const uint8_t* rf = payload + dp::kSspCmdSetRxPassthroughDataSize;
    for (const RfPacketRoute& route : kRfPacketRoutes) {
        if (route.type != rf[0]) {
            continue;
        }
        if (route.handler == nullptr) {
            device_messages_.Print("%s", route.message_invalid);
        } else if (header.rf_packet_length < route.minimum_length ||
                   header.rf_packet_length > route.maximum_length) {
            if (route.message_invalid != nullptr) {
                device_messages_.Print(route.message_invalid, header.rf_packet_length);
            }
        } else {
            (this->*route.handler)(header, rf, header.rf_packet_length);
        }
        return;
    }
    device_messages_.Print("NodeLink: received unknown Rf packet type %u\n", rf[0]);
}

void NodeLink::HandleRxSync(const ssp_cmd_set_rx_passthrough_data_t& header, const uint8_t* rf,
                            uint16_t rf_length) {
    (void)rf_length;
    packet_sync_t sync{};
    PacketSync_FromBuff(rf, &sync);
    VexPacket packet(GetSerialNumber());
    VexData_Add(packet,
                TimedRx(sync.sequence, _FindSerialNumber(sync.network_id), sync.network_id, dp::kRfPacketSync,
                        sync.transmit_time, header.receive_time, header.signal_strength));
    PublishInput(packet);
}

void NodeLink::HandleRxAnnounceResponse(const ssp_cmd_set_rx_passthrough_data_t& header, const uint8_t* rf,
                                        uint16_t rf_length) {
    (void)rf_length;
    packet_announce_response_t announce{};
    PacketAnnounceResponse_FromBuff(rf, &announce);
    VexPacket packet(GetSerialNumber());
    VexData_Add(packet, Discovery(announce, header.receive_time, header.signal_strength));
    PublishInput(packet);
}

void NodeLink::HandleRxTagReport(const ssp_cmd_set_rx_passthrough_data_t& header, const uint8_t* rf,
                                 uint16_t rf_length) {
    packet_rtls_tag_report_t report{};
    PacketRtlsTagReport_FromBuff(rf, &report);
    if (dp::kPacketRtlsTagReportSize + report.payload_length > rf_length) {
        device_messages_.Print("Received RTLS Tag Report with invalid payload size on passthrough %u\n",
                               report.payload_length);
        return;
    }
    VexPacket packet(GetSerialNumber());
    const vex_data_ping_t ping =
        Ping(report, _FindSerialNumber(report.network_id), header.receive_time, header.signal_strength);
    if (VexDataPing_Add(packet, ping, rf + dp::kPacketRtlsTagReportSize, report.payload_length)) {
        PublishInput(packet);
    }
}

void NodeLink::HandleRxAnchorReport(const ssp_cmd_set_rx_passthrough_data_t& header, const uint8_t* rf,
                                    uint16_t rf_length) {
    packet_anchor_report_t report{};
    PacketAnchorReport_FromBuff(rf, &report);
    const uint32_t anchor_serial_number = _FindSerialNumber(report.network_id);

    VexPacket reception(GetSerialNumber());
    VexData_Add(reception,
                TimedRx(report.sequence, anchor_serial_number, report.network_id, dp::kRfPacketAnchorReport,
                        report.transmit_time, header.receive_time, header.signal_strength));

    VexPacket items(anchor_serial_number);
    uint16_t offset = dp::kPacketAnchorReportSize;
    for (int decoded = 0; decoded < report.number_of_report_items && offset < rf_length; ++decoded) {
        if (!_IsValidAnchorReportItem(rf, offset, items, rf_length)) {
            break;
        }
    }
    // The anchor's own packet is published even when it holds no item, and
    // always before the reception of the report.
    PublishInput(items);
    PublishInput(reception);
}

bool NodeLink::_IsValidAnchorReportItem(const uint8_t* rfPacket, uint16_t& offset, VexPacket& packet,
                                        uint16_t rfLength) {
    // Every record is checked to lie inside the report before it is decoded.
    const auto fits = [&](int size) {
        if (offset + size <= rfLength) {
            return true;
        }
        device_messages_.Print(
            "NodeLink: Anchor report item at offset %u needs %d bytes; the report has %u\n", offset, size,
            rfLength);
        return false;
    };
    if (!fits(dp::kPacketRfReportItemHeaderSize)) {
        return false;
    }
    rf_packet_report_item_header_t item_header{};
    PacketRfReportItemHeader_FromBuff(rfPacket + offset, &item_header);
    offset = static_cast<uint16_t>(offset + dp::kPacketRfReportItemHeaderSize);

    if (item_header.item_type == dp::kRfReportItemCompact) {
        if (!fits(dp::kPacketRfReportItemAnchorCompactSize)) {
            return false;
        }
        rf_packet_report_item_anchor_compact_t compact{};
        PacketRfReportItemAnchorCompact_FromBuff(rfPacket + offset, &compact);
        offset = static_cast<uint16_t>(offset + dp::kPacketRfReportItemAnchorCompactSize);
        if (compact.received_packet_type != dp::kRfPacketSync &&
            compact.received_packet_type != dp::kRfPacketAnchorReport) {
            device_messages_.Print("Received Unrecognized Anchor Report Compact Item Rx Packet Type %u\n",
                                   compact.received_packet_type);
            return false;
        }
        if (compact.received_packet_type == dp::kRfPacketSync && compact.network_id == kUnsetNetworkId) {
            compact.network_id = kMasterNetworkId;
        }
        return VexData_Add(
            packet, TimedRx(compact.sequence, _FindSerialNumber(compact.network_id), compact.network_id,
                            compact.received_packet_type, compact.transmit_time, item_header.receive_time,
                            item_header.signal_strength));
    }

    if (item_header.item_type != dp::kRfReportItemFull) {
        device_messages_.Print("Received Unrecognized Anchor Report Item Type %u\n", item_header.item_type);
        return false;
    }
    if (!fits(1)) {
        return false;
    }
    const uint8_t body_type = rfPacket[offset];
    if (body_type == dp::kRfPacketAnnounceResponse) {
        if (!fits(dp::kPacketAnnounceResponseSize)) {
            return false;
        }
        packet_announce_response_t announce{};
        PacketAnnounceResponse_FromBuff(rfPacket + offset, &announce);
        offset = static_cast<uint16_t>(offset + dp::kPacketAnnounceResponseSize);
        return VexData_Add(packet,
                           Discovery(announce, item_header.receive_time, item_header.signal_strength));
    }
    if (body_type == dp::kRfPacketLocationTagReport) {
        if (!fits(dp::kPacketRtlsTagReportSize)) {
            return false;
        }
        packet_rtls_tag_report_t report{};
        PacketRtlsTagReport_FromBuff(rfPacket + offset, &report);
        offset = static_cast<uint16_t>(offset + dp::kPacketRtlsTagReportSize);
        if (offset + report.payload_length > rfLength) {
            device_messages_.Print("Received RTLS Tag Report with invalid payload size in report item %u.\n",
                                   report.payload_length);
            return false;
        }
        const vex_data_ping_t ping = Ping(report, _FindSerialNumber(report.network_id),
                                          item_header.receive_time, item_header.signal_strength);
        const bool added = VexDataPing_Add(packet, ping, rfPacket + offset, report.payload_length);
        offset = static_cast<uint16_t>(offset + report.payload_length);
        return added;
    }
    device_messages_.Print("Received Unrecognized Anchor Report Full Item Type %u\n", body_type);
    return false;
}

uint32_t NodeLink::_FindSerialNumber(uint16_t networkId) const {
    if (registry_ == nullptr) {
        return 0;
    }
    const std::shared_ptr<DwNode> node = registry_->FindNodeById(networkId);
    return node != nullptr ? node->GetSerialNumber() : 0;
}

void NodeLink::PublishInput(VexPacket& packet) {
    if (publisher_ != nullptr) {
        publisher_->PublishInputVex(packet);
    }
}

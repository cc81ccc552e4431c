#pragma once
// Hand-built device payloads and SSP frames for the link tests, made with the
// device codecs: a small test network (registry), the SSP payloads a device
// sends (bridge answer, responses, transmit and receive passthroughs, anchor
// reports with their items) and the framing around them.
//
// Header-only: included by test executables that link the device libraries.

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "config/flat_settings_interface.h"
#include "config/settings.h"
#include "host/devices/node_manager.h"
#include "protocol/packets/anchor_report_packet.h"
#include "protocol/packets/announce_response_packet.h"
#include "protocol/packets/device_protocol.h"
#include "protocol/packets/rf_report_item_anchor_compact_packet.h"
#include "protocol/packets/rf_report_item_header_packet.h"
#include "protocol/packets/rtls_tag_report_packet.h"
#include "protocol/packets/rx_passthrough_data_packet.h"
#include "protocol/packets/sync_packet.h"
#include "protocol/packets/tx_passthrough_data_packet.h"
#include "protocol/ssp/ssp_protocol.h"

namespace test_devices {

using Bytes = std::vector<uint8_t>;

// The test network: master id 1, anchors ids 2 and 3, tags ids 4 and 5, and
// an alien node.
constexpr uint32_t kMaster = 0x01020001;
constexpr uint32_t kAnchor1 = 0x01030001;
constexpr uint32_t kAnchor2 = 0x01030002;
constexpr uint32_t kTag1 = 0x01040001;
constexpr uint32_t kTag2 = 0x01040002;
constexpr uint16_t kMasterId = 1;
constexpr uint16_t kAnchor1Id = 2;
constexpr uint16_t kAnchor2Id = 3;
constexpr uint16_t kTag1Id = 4;
constexpr uint16_t kTag2Id = 5;
// A device of another network.
constexpr uint32_t kAlien = 0x0A0B0C0E;
// The serial number the simulated device on a link answers with.
constexpr uint32_t kLinkDevice = kAnchor1;

inline std::shared_ptr<const NodeManager> MakeRegistry() {
    Settings settings;
    RfNetworkSettings* rf = settings.GetRfNetworkSettingsReference();
    MasterSettings master;
    master.SetSerialNumber(kMaster);
    master.SetEnabled(true);
    rf->SetMasters({master});
    std::vector<AnchorSettings> anchors;
    for (uint32_t serial : {kAnchor1, kAnchor2}) {
        AnchorSettings anchor;
        anchor.SetSerialNumber(serial);
        anchor.SetEnabled(true);
        anchor.SetBackhaulType("wired");
        anchors.push_back(anchor);
    }
    rf->SetAnchors(anchors);
    std::vector<TagSettings> tags;
    for (uint32_t serial : {kTag1, kTag2}) {
        TagSettings tag;
        tag.SetSerialNumber(serial);
        tag.SetEnabled(true);
        tags.push_back(tag);
    }
    rf->SetTags(tags);
    settings.SetAlienNodeList({AlienNodeSettings(kAlien, cmd_set_rf_settings_t{})});
    auto registry = std::make_shared<NodeManager>();
    registry->Init(&settings, 100);
    return registry;
}

template <typename Record>
Bytes Encode(int (*to_buff)(uint8_t*, const Record*), const Record& record, int size) {
    Bytes bytes(static_cast<size_t>(size));
    to_buff(bytes.data(), &record);
    return bytes;
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

inline signal_strength_t Signal(uint16_t seed) {
    return {static_cast<uint16_t>(seed + 1), static_cast<uint16_t>(seed + 2),
            static_cast<uint16_t>(seed + 3), static_cast<uint16_t>(seed + 4),
            static_cast<uint16_t>(seed + 5), static_cast<uint16_t>(seed + 6)};
}

inline Bytes BridgeAnswer(uint32_t serial_number) {
    return Encode(PacketAnnounceResponse_ToBuff,
                  packet_announce_response_t{device_protocol::kSspTypeBridge, serial_number},
                  device_protocol::kPacketAnnounceResponseSize);
}

inline packet_sync_t Sync(uint8_t sequence, uint16_t network_id) {
    packet_sync_t sync{};
    sync.type = device_protocol::kRfPacketSync;
    sync.sequence = sequence;
    sync.network_id = network_id;
    sync.network_time = 0x11223344;
    sync.byte_8 = 0x08;
    sync.field_9 = 0x09090909;
    sync.byte_13 = 0x13;
    sync.byte_14 = 0x14;
    sync.field_15 = 0x15151515;
    sync.transmit_time = 0xAB12345678;
    sync.byte_24 = 0x24;
    return sync;
}

inline Bytes SyncPacket(const packet_sync_t& sync) {
    return Encode(PacketSync_ToBuff, sync, device_protocol::kPacketSyncSize);
}

inline Bytes AnnounceResponse(uint32_t serial_number) {
    return Encode(PacketAnnounceResponse_ToBuff,
                  packet_announce_response_t{device_protocol::kRfPacketAnnounceResponse, serial_number},
                  device_protocol::kPacketAnnounceResponseSize);
}

inline Bytes TagReport(uint8_t sequence, uint16_t network_id, const Bytes& user_data) {
    const packet_rtls_tag_report_t head{device_protocol::kRfPacketLocationTagReport, sequence, network_id,
                                        0x5A, static_cast<uint16_t>(user_data.size())};
    return Concat(
        {Encode(PacketRtlsTagReport_ToBuff, head, device_protocol::kPacketRtlsTagReportSize), user_data});
}

inline Bytes AnchorReportHead(uint8_t sequence, uint16_t network_id, uint8_t item_count) {
    const packet_anchor_report_t head{device_protocol::kRfPacketAnchorReport, sequence, network_id,
                                      0x0102030405, item_count};
    return Encode(PacketAnchorReport_ToBuff, head, device_protocol::kPacketAnchorReportSize);
}

inline Bytes ReportItemHeader(uint8_t item_type, uint64_t receive_time, uint16_t signal_seed) {
    const rf_packet_report_item_header_t header{item_type, 0, receive_time, Signal(signal_seed)};
    return Encode(PacketRfReportItemHeader_ToBuff, header, device_protocol::kPacketRfReportItemHeaderSize);
}

inline Bytes CompactItem(uint8_t sequence, uint16_t network_id, uint8_t packet_type, uint64_t receive_time) {
    const rf_packet_report_item_anchor_compact_t body{sequence, network_id, packet_type, 0x44, 0x00FFEEDDCC};
    return Concat({ReportItemHeader(device_protocol::kRfReportItemCompact, receive_time, 100),
                   Encode(PacketRfReportItemAnchorCompact_ToBuff, body,
                          device_protocol::kPacketRfReportItemAnchorCompactSize)});
}

inline Bytes FullItem(const Bytes& body, uint64_t receive_time) {
    return Concat({ReportItemHeader(device_protocol::kRfReportItemFull, receive_time, 200), body});
}

inline Bytes RxPassthrough(const Bytes& rf, uint64_t receive_time, uint16_t signal_seed) {
    const ssp_cmd_set_rx_passthrough_data_t header{device_protocol::kSspTypeRxPassthrough, 0, receive_time,
                                                   Signal(signal_seed), static_cast<uint16_t>(rf.size())};
    return Concat(
        {Encode(SspCmdSetRxPassthrough_Data_ToBuff, header, device_protocol::kSspCmdSetRxPassthroughDataSize),
         rf});
}

inline Bytes TxPassthrough(const Bytes& rf) {
    const ssp_cmd_set_tx_passthrough_data_t header{device_protocol::kSspTypeTxPassthrough, 0x77,
                                                   static_cast<uint16_t>(rf.size())};
    return Concat(
        {Encode(SspCmdSetTxPassthrough_Data_ToBuff, header, device_protocol::kSspCmdSetTxPassthroughDataSize),
         rf});
}

// The SSP frames a device sends, one sequence number after the other.
class FrameWriter {
  public:
    FrameWriter() : state_(std::make_unique<ssp_state_t>()) {
        ssp_init(state_.get(), SSP_MAX_PAYLOAD_LENGTH);
    }
    Bytes Frame(const Bytes& payload) {
        std::memcpy(state_->tx_buffer + SSP_HEADER_SIZE, payload.data(), payload.size());
        const uint16_t length = ssp_tx_wrap(state_.get(), static_cast<uint16_t>(payload.size()));
        return Bytes(state_->tx_buffer, state_->tx_buffer + length);
    }

  private:
    std::unique_ptr<ssp_state_t> state_;
};

// Collects the payloads of the SSP frames in a byte stream.
class FrameReader {
  public:
    FrameReader() : state_(std::make_unique<ssp_state_t>()) {
        ssp_init(state_.get(), SSP_MAX_PAYLOAD_LENGTH);
    }
    std::vector<Bytes> Feed(const uint8_t* data, size_t length) {
        std::vector<Bytes> payloads;
        for (size_t i = 0; i < length; ++i) {
            if (const uint8_t* payload = ssp_rx_protocol(state_.get(), data[i])) {
                payloads.emplace_back(payload, payload + state_->rx_length);
            }
        }
        return payloads;
    }

  private:
    std::unique_ptr<ssp_state_t> state_;
};

}  // namespace test_devices

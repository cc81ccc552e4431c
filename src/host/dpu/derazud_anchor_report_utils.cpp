#include "host/dpu/derazud_anchor_report_utils.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "base/byte_order.h"
#include "base/device_time.h"
#include "base/serial_number.h"
#include "host/devices/node_manager.h"
#include "host/dpu/dpu.h"
#include "host/dpu/print_flushed.h"
#include "protocol/packets/anchor_report_packet.h"
#include "protocol/packets/device_protocol.h"
#include "protocol/packets/rf_report_item_anchor_compact_packet.h"
#include "protocol/packets/rf_report_item_header_packet.h"
#include "protocol/packets/sync_packet.h"
#include "protocol/packets/tag_report_packet.h"

namespace {

// The sync's broadcast id stands for the master.
constexpr uint16_t kBroadcastNetworkId = 0xFFFF;
constexpr uint16_t kMasterNetworkId = 1;

// Bytes of payload the item's header announces; the decoder has checked it
// against the record's capacity.
int PayloadLength(const derazud_anchor_rpt_item_t* item) {
    return static_cast<int>(item->header.length) - device_protocol::kPacketRfReportItemHeaderSize;
}

// A compact item's transmit time, on the 512-tick grid.
int64_t OnTransmitGrid(uint64_t time) {
    return static_cast<int64_t>(time & DerazudAnchorReportItemUtils::kTransmitTimeMask);
}

// The transmit time a full item's embedded packet carries, as it stands.
int64_t EmbeddedTransmitTime(uint64_t time) {
    return static_cast<int64_t>(DeviceTimeMask(time));
}

// The compact body, or false when the item is too short to hold one.
bool ReadCompact(const derazud_anchor_rpt_item_t* item, rf_packet_report_item_anchor_compact_t* compact) {
    if (PayloadLength(item) < device_protocol::kPacketRfReportItemAnchorCompactSize) {
        return false;
    }
    PacketRfReportItemAnchorCompact_FromBuff(item->payload, compact);
    return true;
}

void NoTransmitTime(uint16_t& id, int64_t& txTime) {
    id = 0;
    txTime = -1;
}

// Decodes the RF packet embedded in a full item, when the item holds all of it.
template <typename Packet>
bool ReadEmbedded(const derazud_anchor_rpt_item_t* item, int size, int (*decode)(const uint8_t*, Packet*),
                  Packet* packet) {
    if (PayloadLength(item) < size) {
        return false;
    }
    decode(item->payload, packet);
    return true;
}

// Network id of the transmitter of the packet embedded in a full item, or
// false when it carries none. Every RF packet that names its sender begins
// with its type, a sequence byte and the sender's id.
constexpr int kEmbeddedNetworkIdOffset = 2;

bool FullItemNetworkId(const derazud_anchor_rpt_item_t* item, uint16_t* id) {
    if (PayloadLength(item) < kEmbeddedNetworkIdOffset + 2 ||
        item->payload[0] == device_protocol::kRfPacketAnnounceResponse) {
        return false;
    }
    *id = wire::read_be16(item->payload + kEmbeddedNetworkIdOffset);
    if (item->payload[0] == device_protocol::kRfPacketSync && *id == kBroadcastNetworkId) {
        *id = kMasterNetworkId;
    }
    return true;
}

}  // namespace

void DerazudAnchorReportItemUtils::UpdateSerialNumber(derazud_anchor_rpt_item_t* item,
                                                      const NetworkIdLookup& lookup) {
    if (SerialNumber_IsValid(item->serial_number) || !lookup) {
        return;
    }
    uint16_t id = 0;
    if (item->header.item_type == device_protocol::kRfReportItemCompact) {
        rf_packet_report_item_anchor_compact_t compact;
        if (!ReadCompact(item, &compact) ||
            compact.received_packet_type == device_protocol::kRfPacketAnnounceResponse) {
            return;
        }
        id = compact.network_id;
    } else if (item->header.item_type == device_protocol::kRfReportItemFull) {
        if (!FullItemNetworkId(item, &id)) {
            return;
        }
    } else {
        return;
    }
    item->serial_number = lookup(id);
}

void DerazudAnchorReportItemUtils::GetTwrDataFromItem(uint16_t& id, int64_t& txTime, int64_t& rxTime,
                                                      const derazud_anchor_rpt_item_t* item) {
    rxTime = static_cast<int64_t>(DeviceTimeMask(item->header.receive_time));
    if (item->header.item_type == device_protocol::kRfReportItemCompact) {
        GetTwrDataFromCompactItem(id, txTime, item);
    } else if (item->header.item_type == device_protocol::kRfReportItemFull) {
        GetTwrDataFromFullItem(id, txTime, item);
    } else {
        printf("Received unrecognized anchor report item type\n");
        fflush(stdout);
        NoTransmitTime(id, txTime);
    }
}

void DerazudAnchorReportItemUtils::GetTwrDataFromCompactItem(uint16_t& id, int64_t& txTime,
                                                             const derazud_anchor_rpt_item_t* item) {
    rf_packet_report_item_anchor_compact_t compact;
    if (!ReadCompact(item, &compact)) {
        NoTransmitTime(id, txTime);
        return;
    }
    id = compact.network_id;
    txTime = compact.received_packet_type == device_protocol::kRfPacketAnnounceResponse
                 ? -1
                 : OnTransmitGrid(compact.transmit_time);
}

void DerazudAnchorReportItemUtils::GetTwrDataFromFullItem(uint16_t& id, int64_t& txTime,
                                                          const derazud_anchor_rpt_item_t* item) {
    NoTransmitTime(id, txTime);
    if (PayloadLength(item) < 1) {
        return;
    }
    switch (item->payload[0]) {
        case device_protocol::kRfPacketSync:
            GetTwrDataFromSync(id, txTime, item);
            break;
        case device_protocol::kRfPacketAnchorReport:
            GetTwrDataFromAnchorRpt(id, txTime, item);
            break;
        case device_protocol::kRfPacketTwrTagReport:
            GetTwrDataFromTagRpt(id, txTime, item);
            break;
        default:
            break;
    }
}

void DerazudAnchorReportItemUtils::GetTwrDataFromSync(uint16_t& id, int64_t& txTime,
                                                      const derazud_anchor_rpt_item_t* item) {
    packet_sync_t sync;
    if (!ReadEmbedded(item, device_protocol::kPacketSyncSize, PacketSync_FromBuff, &sync)) {
        NoTransmitTime(id, txTime);
        return;
    }
    id = sync.network_id == kBroadcastNetworkId ? kMasterNetworkId : sync.network_id;
    txTime = EmbeddedTransmitTime(sync.transmit_time);
}

void DerazudAnchorReportItemUtils::GetTwrDataFromTagRpt(uint16_t& id, int64_t& txTime,
                                                        const derazud_anchor_rpt_item_t* item) {
    packet_tag_report_t report;
    if (!ReadEmbedded(item, device_protocol::kPacketTagReportSize, PacketTagReport_FromBuff, &report)) {
        NoTransmitTime(id, txTime);
        return;
    }
    id = report.network_id;
    txTime = EmbeddedTransmitTime(report.transmit_time);
}

void DerazudAnchorReportItemUtils::GetTwrDataFromAnchorRpt(uint16_t& id, int64_t& txTime,
                                                           const derazud_anchor_rpt_item_t* item) {
    packet_anchor_report_t report;
    if (!ReadEmbedded(item, device_protocol::kPacketAnchorReportSize, PacketAnchorReport_FromBuff, &report)) {
        NoTransmitTime(id, txTime);
        return;
    }
    id = report.network_id;
    txTime = EmbeddedTransmitTime(report.transmit_time);
}

bool DerazudAnchorReportItemUtils::CompactItemHasTxTimestamp(const derazud_anchor_rpt_item_t* item) {
    rf_packet_report_item_anchor_compact_t compact;
    return ReadCompact(item, &compact) &&
           compact.received_packet_type != device_protocol::kRfPacketAnnounceResponse;
}

void DerazudUsbAnchorReportUtils::ForEachItem(
    const derazud_usb_anchor_rpt_t* report, const NetworkIdLookup& lookup,
    const std::function<void(const derazud_anchor_rpt_item_t&)>& visit) {
    // The payload length comes from outside; the decoder refuses more than
    // the record holds, and this bound keeps the walk inside it as well.
    int end = report->anchor_rpt.payload_length;
    if (end > kDerAzudAnchorRptPayloadCapacity) {
        end = kDerAzudAnchorRptPayloadCapacity;
    }
    derazud_anchor_rpt_item_t item;
    int offset = kFirstItemOffset;
    while (offset < end) {
        const int used =
            DerAzudAnchorRptItem_FromBuff(&item, report->anchor_rpt.payload + offset, end - offset);
        if (used < 0) {
            return;
        }
        DerazudAnchorReportItemUtils::UpdateSerialNumber(&item, lookup);
        visit(item);
        offset += used;
    }
}

derazud_anchor_rpt_item_t DerazudUsbAnchorReportUtils::FindPacketInAnchorRptForSerialNum(
    const derazud_usb_anchor_rpt_t* report, uint32_t serial, const NetworkIdLookup& lookup) {
    derazud_anchor_rpt_item_t found{};
    bool have = false;
    ForEachItem(report, lookup, [&](const derazud_anchor_rpt_item_t& item) {
        if (!have && item.serial_number == serial) {
            found = item;
            have = true;
        }
    });
    if (!have) {
        found.serial_number = 0;
    }
    return found;
}

void DerazudUsbAnchorReportUtils::UpdateSerialNumber(derazud_usb_anchor_rpt_t* report,
                                                     const NetworkIdLookup& lookup) {
    if (!SerialNumber_IsValid(report->anchor_rpt.serial_number) && lookup) {
        report->anchor_rpt.serial_number = lookup(report->anchor_rpt.report.network_id);
    }
}

int DerazudUsbAnchorReportUtils::ConvertRawBuffToDerAzudAnchorRpt(
    const ssp_cmd_set_rx_passthrough_data_t* rxData, derazud_usb_anchor_rpt_t* report, const uint8_t* buffer,
    int length, const Dpu* dpu) {
    const std::shared_ptr<NodeManager> registry = dpu != nullptr ? dpu->GetNodeManager() : nullptr;
    NetworkIdLookup lookup;
    if (registry) {
        lookup = [registry](uint16_t id) { return registry->GetNodeSerialNumberFromId(id); };
    }
    return ConvertRawBuffToDerAzudAnchorRpt(rxData, report, buffer, length, lookup);
}

int DerazudUsbAnchorReportUtils::ConvertRawBuffToDerAzudAnchorRpt(
    const ssp_cmd_set_rx_passthrough_data_t* rxData, derazud_usb_anchor_rpt_t* report, const uint8_t* buffer,
    int length, const NetworkIdLookup& lookup) {
    namespace dp = device_protocol;
    if (rxData == nullptr || report == nullptr || buffer == nullptr || length < dp::kPacketAnchorReportSize ||
        buffer[0] != dp::kRfPacketAnchorReport) {
        return -1;
    }
    std::memset(report, 0, sizeof(*report));
    PacketAnchorReport_FromBuff(buffer, &report->anchor_rpt.report);
    UpdateSerialNumber(report, lookup);
    report->receive_time = DeviceTimeMask(rxData->receive_time);
    report->signal_strength = rxData->signal_strength;

    // Everything below is read from outside bytes: each item's length field is
    // checked against what is left of the buffer before its body is copied.
    derazud_anchor_rpt_item_t item;
    int offset = dp::kPacketAnchorReportSize;
    int stored = kFirstItemOffset;
    int found = 0;
    while (length - offset >= dp::kPacketRfReportItemHeaderSize) {
        PacketRfReportItemHeader_FromBuff(buffer + offset, &item.header);
        if (item.header.item_type != dp::kRfReportItemCompact &&
            item.header.item_type != dp::kRfReportItemFull) {
            PrintFlushed("Received Unrecognized Anchor Report Item Type %u\n",
                         static_cast<unsigned>(item.header.item_type));
            break;
        }
        const int item_length = item.header.length;
        const int body_length = item_length - dp::kPacketRfReportItemHeaderSize;
        if (body_length < 1 || item_length > length - offset ||
            body_length > kDerAzudAnchorRptItemPayloadCapacity) {
            break;
        }
        std::memcpy(item.payload, buffer + offset + dp::kPacketRfReportItemHeaderSize,
                    static_cast<size_t>(body_length));
        item.serial_number = 0;
        DerazudAnchorReportItemUtils::UpdateSerialNumber(&item, lookup);
        const int written = DerAzudAnchorRptItem_ToBuff(report->anchor_rpt.payload + stored,
                                                        kDerAzudAnchorRptPayloadCapacity - stored, &item);
        if (written < 0) {
            break;  // the record is full
        }
        stored += written;
        offset += item_length;
        ++found;
    }
    report->anchor_rpt.payload_length = static_cast<uint16_t>(stored);
    if (found != report->anchor_rpt.report.number_of_report_items) {
        PrintFlushed(
            "Got an anchor report with a bad item count from device %s (reported %u, actual %d, size %u)\n",
            SerialNumber_ToString(report->anchor_rpt.serial_number).c_str(),
            static_cast<unsigned>(report->anchor_rpt.report.number_of_report_items), found,
            static_cast<unsigned>(length));
        // What the record holds, so that no reader trusts the device's count.
        report->anchor_rpt.report.number_of_report_items = static_cast<uint8_t>(found);
    }
    return offset;
}

#include "simulator/sim_radio.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "base/byte_order.h"
#include "protocol/packets/anchor_report_packet.h"
#include "protocol/packets/device_protocol.h"
#include "protocol/packets/rf_report_item_anchor_compact_packet.h"
#include "protocol/packets/rf_report_item_header_packet.h"
#include "protocol/packets/rtls_tag_report_packet.h"
#include "protocol/packets/rx_passthrough_data_packet.h"
#include "protocol/packets/sync_packet.h"
#include "protocol/vex/vex_data_types.h"

namespace dp = device_protocol;

namespace {

// The receiver constants (dB) of the DW1000 power formulas at 16 and 64 MHz PRF.
constexpr double kReceiverConstant16 = 115.72;
constexpr double kReceiverConstant64 = 121.74;
// Total received power at 1 m and its fall with distance (free space), dBm.
constexpr double kPowerAtOneMetre = -65.0;
// Line of sight: the first path carries most of the energy, a few dB below the total.
constexpr double kFirstPathGapDb = 2.5;

uint16_t Register16(double value) {
    if (!(value > 1.0))
        return 1;
    return static_cast<uint16_t>(std::min(value, 65535.0));
}

void AddTimedRx(VexPacket* packet, const uint8_t* rf, uint8_t packet_type, uint64_t tx_time, uint64_t rx_time,
                const signal_strength_t& signal, uint16_t network_id, uint32_t transmitter) {
    vex_data_timed_rx_t item{};
    item.sequence = rf[1];
    item.serial_number = transmitter;
    item.network_id = network_id;
    item.packet_type = packet_type;
    item.tx_time = tx_time;
    item.rx_time = rx_time;
    item.signal_strength = signal;
    VexData_Add(*packet, item);
}

void AddPing(VexPacket* packet, const uint8_t* report_bytes, size_t available, uint64_t rx_time,
             const signal_strength_t& signal, const std::function<uint32_t(uint16_t)>& serial_of) {
    packet_rtls_tag_report_t report;
    PacketRtlsTagReport_FromBuff(report_bytes, &report);
    const size_t data = std::min<size_t>(report.payload_length, available - dp::kPacketRtlsTagReportSize);
    vex_data_ping_t ping{};
    ping.sequence = report.sequence;
    ping.serial_number = serial_of(report.network_id);
    ping.network_id = report.network_id;
    ping.report_byte_4 = report.byte_4;
    ping.rx_time = rx_time;
    ping.signal_strength = signal;
    VexDataPing_Add(*packet, ping, report_bytes + dp::kPacketRtlsTagReportSize, static_cast<uint16_t>(data));
}

void AddDiscovery(VexPacket* packet, const uint8_t* announce, uint64_t rx_time,
                  const signal_strength_t& signal) {
    vex_data_discovery_t item{};
    item.serial_number = wire::read_be32(announce + 1);
    item.rx_time = rx_time;
    item.signal_strength = signal;
    VexData_Add(*packet, item);
}

// The items of an anchor report, as the server's link unpacks them.
void AddReportItems(VexPacket* packet, const uint8_t* rf, size_t length, uint8_t count,
                    const std::function<uint32_t(uint16_t)>& serial_of) {
    size_t offset = dp::kPacketAnchorReportSize;
    for (uint8_t n = 0; n < count && offset + dp::kPacketRfReportItemHeaderSize <= length; ++n) {
        rf_packet_report_item_header_t header;
        PacketRfReportItemHeader_FromBuff(rf + offset, &header);
        const size_t body = offset + dp::kPacketRfReportItemHeaderSize;
        if (header.length < dp::kPacketRfReportItemHeaderSize || offset + header.length > length)
            return;
        const size_t body_length = header.length - dp::kPacketRfReportItemHeaderSize;
        offset += header.length;
        if (header.item_type == dp::kRfReportItemCompact &&
            body_length >= dp::kPacketRfReportItemAnchorCompactSize) {
            rf_packet_report_item_anchor_compact_t compact;
            PacketRfReportItemAnchorCompact_FromBuff(rf + body, &compact);
            std::vector<uint8_t> fake_rf = {0, compact.sequence};
            AddTimedRx(packet, fake_rf.data(), compact.received_packet_type, compact.transmit_time,
                       header.receive_time, header.signal_strength, compact.network_id,
                       serial_of(compact.network_id));
        } else if (header.item_type == dp::kRfReportItemFull && body_length >= 1) {
            if (rf[body] == dp::kRfPacketLocationTagReport && body_length >= dp::kPacketRtlsTagReportSize)
                AddPing(packet, rf + body, body_length, header.receive_time, header.signal_strength,
                        serial_of);
            else if (rf[body] == dp::kRfPacketAnnounceResponse &&
                     body_length >= dp::kPacketAnnounceResponseSize)
                AddDiscovery(packet, rf + body, header.receive_time, header.signal_strength);
        }
    }
}

}  // namespace

signal_strength_t SimSignalStrength(double distance_m, const sim_site_t& site, std::mt19937_64& noise) {
    std::normal_distribution<double> fading(0.0, 0.5);
    std::normal_distribution<double> gap_spread(0.0, 0.3);
    const double receiver_constant = site.prf_64mhz ? kReceiverConstant64 : kReceiverConstant16;
    const double total_dbm = kPowerAtOneMetre - 20.0 * std::log10(std::max(distance_m, 1.0)) + fading(noise);
    const double first_path_dbm = total_dbm - std::clamp(kFirstPathGapDb + gap_spread(noise), 0.5, 6.0);
    // About nine in ten preamble symbols accumulate; capped so that the power registers fit 16 bits.
    const double accumulated = std::clamp(0.9 * site.preamble_symbols, 16.0, 1000.0);
    const double n_squared = accumulated * accumulated;
    signal_strength_t signal{};
    signal.preamble_accumulation_count = static_cast<uint16_t>(accumulated);
    signal.channel_impulse_response_power =
        Register16(std::pow(10.0, (total_dbm + receiver_constant) / 10.0) * n_squared / 131072.0);
    const uint16_t amplitude =
        Register16(std::sqrt(std::pow(10.0, (first_path_dbm + receiver_constant) / 10.0) * n_squared / 3.0));
    signal.first_path_amplitude_1 = amplitude;
    signal.first_path_amplitude_2 = amplitude;
    signal.first_path_amplitude_3 = amplitude;
    return signal;
}

bool SimPayloadToVuv(uint32_t serial_number, const uint8_t* payload, size_t length,
                     const std::function<uint32_t(uint16_t)>& serial_of, std::vector<VexPacket>* packets) {
    if (length < 2)
        return false;
    VexPacket own(serial_number);
    switch (payload[0]) {
        case dp::kSspTypeResponse: {
            VexData_Add(own, vex_data_ssp_response_t{payload[1]});
            break;
        }
        case dp::kSspTypeTxPassthrough: {
            const size_t rf = dp::kSspCmdSetTxPassthroughDataSize;
            if (length < rf + dp::kPacketSyncSize || payload[rf] != dp::kRfPacketSync)
                return false;
            packet_sync_t sync;
            PacketSync_FromBuff(payload + rf, &sync);
            VexData_Add(own, VexDataTick_FromSyncPacket(sync, serial_number));
            break;
        }
        case dp::kSspTypeRxPassthrough: {
            const size_t head = dp::kSspCmdSetRxPassthroughDataSize;
            if (length <= head)
                return false;
            ssp_cmd_set_rx_passthrough_data_t header;
            SspCmdSetRxPassthrough_Data_FromBuff(payload, &header);
            const uint8_t* rf = payload + head;
            const size_t rf_length = length - head;
            if (rf[0] == dp::kRfPacketSync && rf_length >= static_cast<size_t>(dp::kPacketSyncSize)) {
                packet_sync_t sync;
                PacketSync_FromBuff(rf, &sync);
                AddTimedRx(&own, rf, dp::kRfPacketSync, sync.transmit_time, header.receive_time,
                           header.signal_strength, sync.network_id, serial_of(sync.network_id));
            } else if (rf[0] == dp::kRfPacketAnnounceResponse &&
                       rf_length == static_cast<size_t>(dp::kPacketAnnounceResponseSize)) {
                AddDiscovery(&own, rf, header.receive_time, header.signal_strength);
            } else if (rf[0] == dp::kRfPacketLocationTagReport &&
                       rf_length >= static_cast<size_t>(dp::kPacketRtlsTagReportSize)) {
                AddPing(&own, rf, rf_length, header.receive_time, header.signal_strength, serial_of);
            } else if (rf[0] == dp::kRfPacketAnchorReport &&
                       rf_length >= static_cast<size_t>(dp::kPacketAnchorReportSize)) {
                packet_anchor_report_t report;
                PacketAnchorReport_FromBuff(rf, &report);
                VexPacket items(serial_of(report.network_id));
                AddReportItems(&items, rf, rf_length, report.number_of_report_items, serial_of);
                packets->push_back(items);
                AddTimedRx(&own, rf, dp::kRfPacketAnchorReport, report.transmit_time, header.receive_time,
                           header.signal_strength, report.network_id, serial_of(report.network_id));
            } else {
                return false;
            }
            break;
        }
        default:
            return false;
    }
    packets->push_back(own);
    return true;
}

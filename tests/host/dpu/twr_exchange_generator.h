#pragma once
// Builds the anchor reports of one two-way-ranging exchange from true
// positions and device clocks: each device counts 6.38976e10 ticks a second
// times (1 + its rate error) from its own offset, in a 40-bit register; a
// delayed transmission leaves at a time on the 512-tick grid, plus the
// antenna delay; a reception is stamped at arrival, rounded to a tick, plus
// the antenna delay.
//
// The exchange: the initiator's report is message 1, the responder's report
// message 2 (with the item on message 1), the initiator's next report
// message 3 (with the item on message 2); the responder's next report carries
// the item on message 3, and each snoop reports all three messages.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <utility>
#include <vector>

#include "host/dpu/vex_publisher.h"
#include "protocol/packets/anchor_report_packet.h"
#include "protocol/packets/device_protocol.h"
#include "protocol/packets/rf_report_item_anchor_compact_packet.h"
#include "protocol/packets/rf_report_item_header_packet.h"
#include "protocol/reports/derazud_anchor_rpt_item.h"
#include "protocol/reports/derazud_usb_anchor_rpt.h"

namespace twr_test {

// Hands every packet published on the External stream to a callback. The
// snoop engine never publishes on the Internal stream; doing so ends the test.
class OutputCallbackPublisher : public VexPublisher {
  public:
    explicit OutputCallbackPublisher(std::function<void(const VexPacket&)> output)
        : output_(std::move(output)) {}
    void PublishOutputVex(VexPacket& packet) override { output_(packet); }
    void PublishInputVex(VexPacket&) override { std::abort(); }

  private:
    std::function<void(const VexPacket&)> output_;
};

constexpr double kSpeedOfLight = 299792458.0;
constexpr double kTicksPerSecond = 6.38976e10;
constexpr double kWrap = 1099511627776.0;  // 2^40
constexpr int kFirstItemOffset = 22;

struct Point {
    double x, y, z;
};

inline double Distance(const Point& a, const Point& b) {
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z));
}

struct SimDevice {
    uint32_t serial;
    uint16_t network_id;
    Point position;
    int32_t antenna_delay;
    double offset;  // ticks at true time 0
    double ppm;     // rate error

    double Rate() const { return kTicksPerSecond * (1.0 + ppm * 1e-6); }
    // Unwrapped device time at a true time (seconds).
    double Local(double seconds) const { return offset + seconds * Rate(); }
    double TrueTime(double local) const { return (local - offset) / Rate(); }
};

inline uint64_t Wrap40(double local) {
    const double wrapped = std::fmod(local, kWrap);
    return static_cast<uint64_t>(std::llround(wrapped < 0 ? wrapped + kWrap : wrapped)) & 0xFFFFFFFFFFull;
}

// The next time on the transmit grid at or after `local`.
inline double OnGrid(double local) {
    return std::ceil(local / 512.0) * 512.0;
}

struct Reception {
    uint16_t from_network_id;
    uint32_t from_serial;  // 0: left for the engine to look up
    uint64_t tx_time;
    uint64_t rx_time;
};

inline signal_strength_t GoodSignal() {
    return signal_strength_t{5000, 4000, 3000, 1000, 9000, 0};
}

inline derazud_usb_anchor_rpt_t MakeReport(const SimDevice& device, uint64_t own_tx_time,
                                           const std::vector<Reception>& receptions,
                                           bool with_serial = true) {
    derazud_usb_anchor_rpt_t report;
    std::memset(&report, 0, sizeof(report));
    report.anchor_rpt.report.type = device_protocol::kRfPacketAnchorReport;
    report.anchor_rpt.report.network_id = device.network_id;
    report.anchor_rpt.report.transmit_time = own_tx_time;
    report.anchor_rpt.report.number_of_report_items = static_cast<uint8_t>(receptions.size());
    report.anchor_rpt.serial_number = with_serial ? device.serial : 0;
    int offset = kFirstItemOffset;
    for (const Reception& reception : receptions) {
        derazud_anchor_rpt_item_t item;
        std::memset(&item, 0, sizeof(item));
        item.header.item_type = device_protocol::kRfReportItemCompact;
        item.header.length = static_cast<uint16_t>(device_protocol::kPacketRfReportItemHeaderSize +
                                                   device_protocol::kPacketRfReportItemAnchorCompactSize);
        item.header.receive_time = reception.rx_time;
        item.header.signal_strength = GoodSignal();
        item.serial_number = reception.from_serial;
        rf_packet_report_item_anchor_compact_t compact{};
        compact.network_id = reception.from_network_id;
        compact.received_packet_type = device_protocol::kRfPacketAnchorReport;
        compact.transmit_time = reception.tx_time;
        PacketRfReportItemAnchorCompact_ToBuff(item.payload, &compact);
        offset += DerAzudAnchorRptItem_ToBuff(report.anchor_rpt.payload + offset,
                                              kDerAzudAnchorRptPayloadCapacity - offset, &item);
    }
    report.anchor_rpt.payload_length = static_cast<uint16_t>(offset);
    return report;
}

// The same report as the device sends it on the air: the RF anchor report
// head and one compact item (header and body) per reception; the network ids
// alone name the transmitters.
inline std::vector<uint8_t> MakeRawReport(const SimDevice& device, uint64_t own_tx_time,
                                          const std::vector<Reception>& receptions) {
    namespace dp = device_protocol;
    packet_anchor_report_t head{};
    head.type = dp::kRfPacketAnchorReport;
    head.network_id = device.network_id;
    head.transmit_time = own_tx_time;
    head.number_of_report_items = static_cast<uint8_t>(receptions.size());
    std::vector<uint8_t> raw(dp::kPacketAnchorReportSize);
    PacketAnchorReport_ToBuff(raw.data(), &head);
    for (const Reception& reception : receptions) {
        rf_packet_report_item_header_t header{};
        header.item_type = dp::kRfReportItemCompact;
        header.length = static_cast<uint16_t>(dp::kPacketRfReportItemHeaderSize +
                                              dp::kPacketRfReportItemAnchorCompactSize);
        header.receive_time = reception.rx_time;
        header.signal_strength = GoodSignal();
        rf_packet_report_item_anchor_compact_t compact{};
        compact.network_id = reception.from_network_id;
        compact.received_packet_type = dp::kRfPacketAnchorReport;
        compact.transmit_time = reception.tx_time;
        const size_t at = raw.size();
        raw.resize(at + header.length);
        PacketRfReportItemHeader_ToBuff(raw.data() + at, &header);
        PacketRfReportItemAnchorCompact_ToBuff(raw.data() + at + dp::kPacketRfReportItemHeaderSize, &compact);
    }
    return raw;
}

struct ExchangeSetup {
    SimDevice initiator;
    SimDevice responder;
    std::vector<SimDevice> snoops;
    double start_seconds = 0.001;
    double responder_reply_seconds = 300e-6;
    double initiator_reply_seconds = 450e-6;
    bool item_serials = true;  // false: items carry serial 0 and only the network id
};

struct GeneratedExchange {
    std::vector<derazud_usb_anchor_rpt_t> reports;
    // The same reports as the devices send them (MakeRawReport), in the same order.
    std::vector<std::vector<uint8_t>> raw_reports;
    // Unwrapped device times, for tests that place wraps.
    double a[3], b[3];
};

inline GeneratedExchange Generate(const ExchangeSetup& setup) {
    const SimDevice& I = setup.initiator;
    const SimDevice& R = setup.responder;
    const double flight = Distance(I.position, R.position) / kSpeedOfLight;
    GeneratedExchange out;
    double emitted[3];
    // Message 1: the initiator's report.
    out.a[0] = OnGrid(I.Local(setup.start_seconds));
    emitted[0] = I.TrueTime(out.a[0] + I.antenna_delay);
    out.b[0] = std::round(R.Local(emitted[0] + flight)) + R.antenna_delay;
    // Message 2: the responder's report.
    out.b[1] = OnGrid(out.b[0] - R.antenna_delay + setup.responder_reply_seconds * R.Rate());
    emitted[1] = R.TrueTime(out.b[1] + R.antenna_delay);
    out.a[1] = std::round(I.Local(emitted[1] + flight)) + I.antenna_delay;
    // Message 3: the initiator's next report.
    out.a[2] = OnGrid(out.a[1] - I.antenna_delay + setup.initiator_reply_seconds * I.Rate());
    emitted[2] = I.TrueTime(out.a[2] + I.antenna_delay);
    out.b[2] = std::round(R.Local(emitted[2] + flight)) + R.antenna_delay;
    const double responder_next =
        OnGrid(out.b[2] - R.antenna_delay + setup.responder_reply_seconds * R.Rate());

    auto from = [&](const SimDevice& device) { return setup.item_serials ? device.serial : 0u; };
    auto add = [&out](const SimDevice& device, uint64_t own_tx_time,
                      const std::vector<Reception>& receptions) {
        out.reports.push_back(MakeReport(device, own_tx_time, receptions));
        out.raw_reports.push_back(MakeRawReport(device, own_tx_time, receptions));
    };
    // The first report carries only something heard from elsewhere.
    std::vector<Reception> unrelated;
    if (!setup.snoops.empty()) {
        const SimDevice& other = setup.snoops.front();
        unrelated.push_back(Reception{other.network_id, from(other), Wrap40(OnGrid(other.offset + 1e6)),
                                      Wrap40(out.a[0] - 1e6)});
    }
    add(I, Wrap40(out.a[0]), unrelated);
    add(R, Wrap40(out.b[1]), {Reception{I.network_id, from(I), Wrap40(out.a[0]), Wrap40(out.b[0])}});
    add(I, Wrap40(out.a[2]), {Reception{R.network_id, from(R), Wrap40(out.b[1]), Wrap40(out.a[1])}});
    add(R, Wrap40(responder_next), {Reception{I.network_id, from(I), Wrap40(out.a[2]), Wrap40(out.b[2])}});
    const SimDevice* senders[3] = {&I, &R, &I};
    const double sent_at[3] = {out.a[0], out.b[1], out.a[2]};
    for (const SimDevice& snoop : setup.snoops) {
        std::vector<Reception> heard;
        for (int m = 0; m < 3; ++m) {
            const double arrival =
                emitted[m] + Distance(senders[m]->position, snoop.position) / kSpeedOfLight;
            heard.push_back(Reception{senders[m]->network_id, from(*senders[m]), Wrap40(sent_at[m]),
                                      Wrap40(std::round(snoop.Local(arrival)) + snoop.antenna_delay)});
        }
        add(snoop, Wrap40(OnGrid(snoop.Local(emitted[2] + 0.002))), heard);
    }
    return out;
}

}  // namespace twr_test

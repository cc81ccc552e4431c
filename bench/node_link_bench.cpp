// The link's dispatch of one anchor report of 40 items, as it arrives from a
// device: decoding, naming every sender through the registry and building the
// two Vuv packets. The publisher only counts the packets (the send itself is
// the Vuv transmitter's, measured in vex_bench).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "config/settings.h"
#include "host/devices/node_manager.h"
#include "host/devices/usb_link.h"
#include "protocol/packets/anchor_report_packet.h"
#include "protocol/packets/announce_response_packet.h"
#include "protocol/packets/device_protocol.h"
#include "protocol/packets/rf_report_item_anchor_compact_packet.h"
#include "protocol/packets/rf_report_item_header_packet.h"
#include "protocol/packets/rtls_tag_report_packet.h"
#include "protocol/packets/rx_passthrough_data_packet.h"

namespace {

namespace dp = device_protocol;

constexpr int kAnchors = 40;
constexpr int kTags = 20;
constexpr uint32_t kFirstAnchor = 0x01030001;
constexpr uint32_t kFirstTag = 0x01040001;

class CountingPublisher : public VexInputPublisher {
  public:
    void PublishInputVex(VexPacket& packet) override { items += packet.GetDataItems().size(); }
    size_t items = 0;
};

// Master id 1, anchors ids 2 to 41, tags ids 42 to 61.
std::shared_ptr<const NodeManager> Registry() {
    Settings settings;
    RfNetworkSettings* rf = settings.GetRfNetworkSettingsReference();
    MasterSettings master;
    master.SetSerialNumber(0x01020001);
    master.SetEnabled(true);
    rf->SetMasters({master});
    std::vector<AnchorSettings> anchors(kAnchors);
    for (int i = 0; i < kAnchors; ++i) {
        anchors[i].SetSerialNumber(kFirstAnchor + static_cast<uint32_t>(i));
        anchors[i].SetEnabled(true);
    }
    rf->SetAnchors(anchors);
    std::vector<TagSettings> tags(kTags);
    for (int i = 0; i < kTags; ++i) {
        tags[i].SetSerialNumber(kFirstTag + static_cast<uint32_t>(i));
        tags[i].SetEnabled(true);
    }
    rf->SetTags(tags);
    auto registry = std::make_shared<NodeManager>();
    registry->Init(&settings, 100);
    return registry;
}

void Append(std::vector<uint8_t>& bytes, const uint8_t* data, int size) {
    bytes.insert(bytes.end(), data, data + size);
}

void AppendItemHeader(std::vector<uint8_t>& rf, uint8_t item_type, uint64_t rx_time) {
    const rf_packet_report_item_header_t header{item_type, 0, rx_time, {1, 2, 3, 4, 5, 6}};
    uint8_t bytes[dp::kPacketRfReportItemHeaderSize];
    PacketRfReportItemHeader_ToBuff(bytes, &header);
    Append(rf, bytes, sizeof(bytes));
}

// A receive passthrough of an anchor report: 40 compact items about syncs
// and anchor reports, or, with `tag_items`, that many of them replaced by
// tag reports carrying 16 bytes of user data.
std::vector<uint8_t> AnchorReportPayload(int tag_items) {
    std::vector<uint8_t> rf;
    const packet_anchor_report_t head{dp::kRfPacketAnchorReport, 1, 2, 0x0102030405, 40};
    uint8_t head_bytes[dp::kPacketAnchorReportSize];
    PacketAnchorReport_ToBuff(head_bytes, &head);
    Append(rf, head_bytes, sizeof(head_bytes));
    for (int i = 0; i < 40; ++i) {
        if (i < tag_items) {
            AppendItemHeader(rf, dp::kRfReportItemFull, 0x1000 + i);
            const packet_rtls_tag_report_t report{dp::kRfPacketLocationTagReport, static_cast<uint8_t>(i),
                                                  static_cast<uint16_t>(42 + i % kTags), 0, 16};
            uint8_t report_bytes[dp::kPacketRtlsTagReportSize];
            PacketRtlsTagReport_ToBuff(report_bytes, &report);
            Append(rf, report_bytes, sizeof(report_bytes));
            rf.insert(rf.end(), 16, static_cast<uint8_t>(i));
            continue;
        }
        AppendItemHeader(rf, dp::kRfReportItemCompact, 0x1000 + i);
        const rf_packet_report_item_anchor_compact_t item{
            static_cast<uint8_t>(i), static_cast<uint16_t>(1 + i % (kAnchors + 1)),
            i % 2 ? dp::kRfPacketAnchorReport : dp::kRfPacketSync, 0, 0x00FFEEDDCC};
        uint8_t item_bytes[dp::kPacketRfReportItemAnchorCompactSize];
        PacketRfReportItemAnchorCompact_ToBuff(item_bytes, &item);
        Append(rf, item_bytes, sizeof(item_bytes));
    }
    const ssp_cmd_set_rx_passthrough_data_t header{
        dp::kSspTypeRxPassthrough, 0, 0x0A0B0C0D0E, {1, 2, 3, 4, 5, 6}, static_cast<uint16_t>(rf.size())};
    std::vector<uint8_t> payload(dp::kSspCmdSetRxPassthroughDataSize);
    SspCmdSetRxPassthrough_Data_ToBuff(payload.data(), &header);
    payload.insert(payload.end(), rf.begin(), rf.end());
    return payload;
}

void BM_HandleAnchorReport(benchmark::State& state) {
    auto publisher = std::make_shared<CountingPublisher>();
    UsbLink link;
    link.Init(Registry(), publisher, "bench");
    const uint8_t answer[] = {dp::kSspTypeBridge, 0x01, 0x03, 0x00, 0x01};
    link.HandlePacketRx(answer, sizeof(answer));
    const std::vector<uint8_t> payload = AnchorReportPayload(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        link.HandlePacketRx(payload.data(), static_cast<int>(payload.size()));
    }
    if (publisher->items != static_cast<size_t>(state.iterations()) * 41) {
        state.SkipWithError("the report did not give 41 items");
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 40);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * payload.size()));
}
BENCHMARK(BM_HandleAnchorReport)->Arg(0)->Arg(10)->ArgName("tag_items");

}  // namespace

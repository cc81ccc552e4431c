// Anchor reports as a device sends them, rebuilt into report records
// (DerazudUsbAnchorReportUtils::ConvertRawBuffToDerAzudAnchorRpt) and handed
// to the two-way-ranging engine. The input: one flags byte (bit 0: network ids
// n below 16 belong to 01:00:000n, else no id is known; bits 1-7: the counter
// the engine gets), then the raw RF anchor report.
//
// Checked: the buffer is refused exactly when it holds no anchor report head;
// otherwise the bytes taken are the head and the items the record holds, the
// record counts them, stays within its payload and survives its own codec
// unchanged.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "host/dpu/derazud_anchor_report_utils.h"
#include "host/dpu/twr_snoop_engine.h"
#include "protocol/packets/device_protocol.h"
#include "protocol/reports/derazud_usb_anchor_rpt.h"
#include "support/fuzz_check.h"

namespace {

constexpr uint32_t kVendorProduct = 0x01000000;

uint32_t LookUpNetworkId(uint16_t id) {
    return id > 0 && id < 16 ? kVendorProduct | id : 0;
}

// Records are large; one of each for the whole run.
derazud_usb_anchor_rpt_t converted_;
derazud_usb_anchor_rpt_t decoded_;
uint8_t encoded_[4096];
uint8_t reencoded_[4096];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 65536) {
        return 0;
    }
    namespace dp = device_protocol;
    const uint8_t flags = data[0];
    const uint8_t* buffer = data + 1;
    const int length = static_cast<int>(size - 1);
    const NetworkIdLookup lookup = (flags & 1) != 0 ? NetworkIdLookup(LookUpNetworkId) : NetworkIdLookup();
    const ssp_cmd_set_rx_passthrough_data_t reception{0x13, 0, 0xFFFFFFFFFFFFull, {1, 2, 3, 4, 5, 6}, 0};

    const int taken = DerazudUsbAnchorReportUtils::ConvertRawBuffToDerAzudAnchorRpt(&reception, &converted_,
                                                                                    buffer, length, lookup);
    const bool is_report = length >= dp::kPacketAnchorReportSize && buffer[0] == dp::kRfPacketAnchorReport;
    Check((taken >= 0) == is_report);
    if (taken < 0) {
        return 0;
    }
    Check(taken >= dp::kPacketAnchorReportSize && taken <= length);
    Check(converted_.anchor_rpt.payload_length >= DerazudUsbAnchorReportUtils::kFirstItemOffset &&
          converted_.anchor_rpt.payload_length <= kDerAzudAnchorRptPayloadCapacity);
    Check(converted_.receive_time == 0xFFFFFFFFFFull);

    int items = 0;
    int item_bytes = dp::kPacketAnchorReportSize;
    DerazudUsbAnchorReportUtils::ForEachItem(&converted_, nullptr,
                                             [&](const derazud_anchor_rpt_item_t& item) {
                                                 ++items;
                                                 item_bytes += item.header.length;
                                                 Check(item.header.item_type == dp::kRfReportItemCompact ||
                                                       item.header.item_type == dp::kRfReportItemFull);
                                                 Check(lookup || item.serial_number == 0);
                                             });
    Check(items == converted_.anchor_rpt.report.number_of_report_items);
    Check(item_bytes == taken);

    const int size_encoded = DerAzudUsbAnchorRpt_ToBuff(encoded_, &converted_, sizeof(encoded_));
    Check(size_encoded == 16 + converted_.anchor_rpt.payload_length + 21);
    std::memset(&decoded_, 0, sizeof(decoded_));
    Check(DerAzudUsbAnchorRpt_FromBuff(&decoded_, encoded_, size_encoded) == size_encoded);
    Check(DerAzudUsbAnchorRpt_ToBuff(reencoded_, &decoded_, sizeof(reencoded_)) == size_encoded);
    Check(std::memcmp(encoded_, reencoded_, static_cast<size_t>(size_encoded)) == 0);

    // The record as the engine's input, from a device of a pair and as a snoop's.
    TwrSnoopEngine engine;
    engine.SetNetworkIdLookup(lookup);
    engine.AddTwrSnoopDevices(kVendorProduct | 2, 16440, kVendorProduct | 3, 16450);
    engine.AddData(&converted_, flags >> 1, 1);
    converted_.anchor_rpt.serial_number = kVendorProduct | 2;
    engine.AddData(&converted_, flags >> 1, 1);
    converted_.anchor_rpt.serial_number = kVendorProduct | 4;
    engine.AddData(&converted_, flags >> 1, 1);
    engine.RunTwrSnoop(false);
    engine.RunTwrSnoop(true);
    return 0;
}

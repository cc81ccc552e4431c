// Every report record decoder on arbitrary bytes. The first byte picks the
// record, the rest is the buffer. Whatever decodes must encode back to the
// same bytes (except the bytes the format leaves unwritten, which come in
// threes), decode again to the same size and re-encode identically.
// Positions pass their millimetres through float metres: they must decode
// again to the very same floats, and encode to the very same millimetres up
// to 16384 m, where a float still tells whole millimetres apart.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "protocol/reports/derazud_anchor_rpt.h"
#include "protocol/reports/derazud_anchor_rpt_item.h"
#include "protocol/reports/derazud_atwr_snoop_tag_rpt.h"
#include "protocol/reports/derazud_cfg_backlink_rpt.h"
#include "protocol/reports/derazud_cfg_dpu_rpt.h"
#include "protocol/reports/derazud_cfg_network_rpt.h"
#include "protocol/reports/derazud_cfg_node_rpt.h"
#include "protocol/reports/derazud_cfg_rpt.h"
#include "protocol/reports/derazud_cfg_serial_rpt.h"
#include "protocol/reports/derazud_command.h"
#include "protocol/reports/derazud_compact_anchor_item.h"
#include "protocol/reports/derazud_data_tag.h"
#include "protocol/reports/derazud_output_data_stream.h"
#include "protocol/reports/derazud_pos3.h"
#include "protocol/reports/derazud_pos3_rpt.h"
#include "protocol/reports/derazud_rdoa.h"
#include "protocol/reports/derazud_rdoa_rpt.h"
#include "protocol/reports/derazud_ssp_response.h"
#include "protocol/reports/derazud_tag_rpt.h"
#include "protocol/reports/derazud_time_transfer.h"
#include "protocol/reports/derazud_toa.h"
#include "protocol/reports/derazud_toa_rpt.h"
#include "protocol/reports/derazud_twr.h"
#include "protocol/reports/derazud_usb_anchor_rpt.h"
#include "protocol/reports/derazud_usb_tag_rpt.h"
#include "protocol/reports/derazud_usb_time_transfer.h"
#include "support/fuzz_check.h"

namespace {

template <typename Record>
void NoCleanup(Record*) {}

// Encodes into buffers pre-filled with 0x00 and 0xFF: a byte that differs
// between the two was not written.
template <typename Record, typename Encode>
std::vector<uint8_t> EncodeChecked(const Record* record, int size, Encode encode,
                                   std::vector<bool>* unwritten) {
    std::vector<uint8_t> zeros(static_cast<size_t>(size) + 1, 0x00);
    std::vector<uint8_t> ones(static_cast<size_t>(size) + 1, 0xFF);
    Check(encode(zeros.data(), size, record) == size);
    Check(encode(ones.data(), size, record) == size);
    // Nothing past the encoded size.
    Check(zeros[static_cast<size_t>(size)] == 0x00 && ones[static_cast<size_t>(size)] == 0xFF);
    unwritten->assign(static_cast<size_t>(size), false);
    size_t count = 0;
    for (size_t i = 0; i < static_cast<size_t>(size); ++i) {
        if (zeros[i] != ones[i]) {
            (*unwritten)[i] = true;
            ++count;
        }
    }
    Check(count % 3 == 0);
    zeros.resize(static_cast<size_t>(size));
    return zeros;
}

// decode(record, buffer, length) -> bytes or -1; encode(buffer, capacity, record) -> bytes.
template <typename Record, typename Decode, typename Encode, typename Cleanup>
void RoundTrip(const uint8_t* data, int size, Decode decode, Encode encode, Cleanup cleanup) {
    Record first{};
    const int read = decode(&first, data, size);
    if (read < 0) {
        return;
    }
    Check(read <= size);
    std::vector<bool> unwritten;
    const std::vector<uint8_t> encoded = EncodeChecked(&first, read, encode, &unwritten);
    for (int i = 0; i < read; ++i) {
        Check(unwritten[static_cast<size_t>(i)] || encoded[static_cast<size_t>(i)] == data[i]);
    }
    Record second{};
    Check(decode(&second, encoded.data(), read) == read);
    std::vector<bool> unwritten_again;
    Check(EncodeChecked(&second, read, encode, &unwritten_again) == encoded);
    cleanup(&first);
    cleanup(&second);
}

bool SamePosition(const derazud_pos3_t& a, const derazud_pos3_t& b) {
    // Decoded coordinates are never NaN, so == compares them exactly.
    return a.data_tag.type == b.data_tag.type && a.data_tag.length == b.data_tag.length &&
           a.serial_number == b.serial_number && a.x == b.x && a.y == b.y && a.z == b.z &&
           std::memcmp(&a.quality, &b.quality, sizeof(float)) == 0 &&
           a.smoothing_count == b.smoothing_count && a.sequence == b.sequence &&
           a.network_time == b.network_time;
}

int32_t ReadI32(const uint8_t* p) {
    return static_cast<int32_t>((static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
                                (static_cast<uint32_t>(p[2]) << 8) | p[3]);
}

// The encoding of a decoded position: the same bytes, except coordinates past
// 16384 m, which may come back as a neighbouring millimetre of the same float.
void CheckPositionBytes(const uint8_t* original, const uint8_t* encoded) {
    constexpr int64_t kExactMillimetres = 16384000;
    Check(std::memcmp(original, encoded, 8) == 0);
    for (int offset = 8; offset < 20; offset += 4) {
        const int64_t millimetres = ReadI32(original + offset);
        Check(ReadI32(encoded + offset) == millimetres || millimetres > kExactMillimetres ||
              millimetres < -kExactMillimetres);
    }
    Check(std::memcmp(original + 20, encoded + 20, 12) == 0);
}

void PositionRoundTrip(const uint8_t* data, int size) {
    if (size < kDerAzudPos3Size) {
        return;
    }
    derazud_pos3_t first{};
    Check(DerAzudPos3_FromBuff(&first, data) == kDerAzudPos3Size);
    uint8_t encoded[kDerAzudPos3Size + 1];
    encoded[kDerAzudPos3Size] = 0x5A;
    Check(DerAzudPos3_ToBuff(encoded, &first) == kDerAzudPos3Size);
    Check(encoded[kDerAzudPos3Size] == 0x5A);
    CheckPositionBytes(data, encoded);
    derazud_pos3_t second{};
    DerAzudPos3_FromBuff(&second, encoded);
    Check(SamePosition(first, second));
}

void PositionReportRoundTrip(const uint8_t* data, int size) {
    derazud_pos3_rpt_t first{};
    const int read = DerAzudPos3Rpt_FromBuff(&first, data, size);
    if (read < 0) {
        Check(first.positions == nullptr && first.count == 0);
        return;
    }
    Check(read <= size && DerAzudPos3Rpt_EncodedSize(&first) == read);
    std::vector<uint8_t> encoded(static_cast<size_t>(read));
    Check(DerAzudPos3Rpt_ToBuff(encoded.data(), &first) == read);
    derazud_pos3_rpt_t second{};
    Check(DerAzudPos3Rpt_FromBuff(&second, encoded.data(), read) == read);
    Check(first.creation_time == second.creation_time && first.sequence == second.sequence &&
          first.count == second.count);
    Check(std::memcmp(data, encoded.data(), kDerAzudPos3RptHeadSize) == 0);
    for (int i = 0; i < first.count; ++i) {
        const size_t offset = kDerAzudPos3RptHeadSize + static_cast<size_t>(i) * kDerAzudPos3Size;
        CheckPositionBytes(data + offset, encoded.data() + offset);
        Check(SamePosition(first.positions[i], second.positions[i]));
    }
    DerAzudPos3Rpt_Cleanup(&first);
    DerAzudPos3Rpt_Cleanup(&second);
}

// Adapters giving every codec the (record, buffer, length) / (buffer,
// capacity, record) shape. Fixed-size decoders need their size; encoders
// without a length must be given exactly their encoded size.
template <typename Record, int kSize, int (*FromBuff)(Record*, const uint8_t*)>
int FixedDecode(Record* record, const uint8_t* buffer, int length) {
    return length < kSize ? -1 : FromBuff(record, buffer);
}

template <typename Record, int (*ToBuff)(uint8_t*, const Record*)>
int FixedEncode(uint8_t* buffer, int, const Record* record) {
    return ToBuff(buffer, record);
}

template <typename Record, int (*ToBuff)(uint8_t*, const Record*), int (*EncodedSize)(const Record*)>
int SizedEncode(uint8_t* buffer, int capacity, const Record* record) {
    Check(EncodedSize(record) == capacity);
    return ToBuff(buffer, record);
}

template <typename Record, int (*ToBuff)(uint8_t*, const Record*, int)>
int RecordFirstEncode(uint8_t* buffer, int capacity, const Record* record) {
    return ToBuff(buffer, record, capacity);
}

template <typename Record, int kSize, int (*FromBuff)(Record*, const uint8_t*),
          int (*ToBuff)(uint8_t*, const Record*)>
void FixedRoundTrip(const uint8_t* data, int size) {
    RoundTrip<Record>(data, size, FixedDecode<Record, kSize, FromBuff>, FixedEncode<Record, ToBuff>,
                      NoCleanup<Record>);
}

void AnchorItemRoundTrip(const uint8_t* data, int size) {
    RoundTrip<derazud_anchor_rpt_item_t>(data, size, DerAzudAnchorRptItem_FromBuff,
                                         DerAzudAnchorRptItem_ToBuff, DerAzudAnchorRptItem_Cleanup);
    derazud_anchor_rpt_item_t item{};
    if (DerAzudAnchorRptItem_FromBuff(&item, data, size) < 0) {
        return;
    }
    derazud_compact_anchor_item_t compact{};
    const int read = DerAzudCompactAnchorItem_FromDerAzudAnchorRptItem(&compact, &item);
    Check(read == (item.header.length >= 30 ? 10 : -1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 65536) {
        return 0;
    }
    const uint8_t selector = data[0];
    const uint8_t* buffer = data + 1;
    const int length = static_cast<int>(size - 1);
    switch (selector % 25) {
        case 0:
            RoundTrip<derazud_data_tag_t>(buffer, length, DerAzudDataTag_FromBuff, DerAzudDataTag_ToBuff,
                                          DerAzudDataTag_Cleanup);
            break;
        case 1:
            PositionRoundTrip(buffer, length);
            break;
        case 2:
            PositionReportRoundTrip(buffer, length);
            break;
        case 3:
            FixedRoundTrip<derazud_toa_t, kDerAzudToaSize, DerAzudToa_FromBuff, DerAzudToa_ToBuff>(buffer,
                                                                                                   length);
            break;
        case 4:
            RoundTrip<derazud_toa_rpt_t>(
                buffer, length, DerAzudToaRpt_FromBuff,
                SizedEncode<derazud_toa_rpt_t, DerAzudToaRpt_ToBuff, DerAzudToaRpt_EncodedSize>,
                DerAzudToaRpt_Cleanup);
            break;
        case 5:
            FixedRoundTrip<derazud_rdoa_t, kDerAzudRdoaSize, DerAzudRdoa_FromBuff, DerAzudRdoa_ToBuff>(
                buffer, length);
            break;
        case 6:
            RoundTrip<derazud_rdoa_rpt_t>(
                buffer, length, DerAzudRdoaRpt_FromBuff,
                SizedEncode<derazud_rdoa_rpt_t, DerAzudRdoaRpt_ToBuff, DerAzudRdoaRpt_EncodedSize>,
                DerAzudRdoaRpt_Cleanup);
            break;
        case 7:
            FixedRoundTrip<derazud_twr_t, kDerAzudTwrSize, DerAzudTwr_FromBuff, DerAzudTwr_ToBuff>(buffer,
                                                                                                   length);
            break;
        case 8:
            AnchorItemRoundTrip(buffer, length);
            break;
        case 9:
            RoundTrip<derazud_anchor_rpt_t>(buffer, length, DerAzudAnchorRpt_FromBuff,
                                            RecordFirstEncode<derazud_anchor_rpt_t, DerAzudAnchorRpt_ToBuff>,
                                            DerAzudAnchorRpt_Cleanup);
            break;
        case 10:
            RoundTrip<derazud_usb_anchor_rpt_t>(
                buffer, length, DerAzudUsbAnchorRpt_FromBuff,
                RecordFirstEncode<derazud_usb_anchor_rpt_t, DerAzudUsbAnchorRpt_ToBuff>,
                DerAzudUsbAnchorRpt_Cleanup);
            break;
        case 11:
            RoundTrip<derazud_atwr_snoop_tag_rpt_t>(
                buffer, length, DerazudAtwrSnoopTagRpt_FromBuff,
                RecordFirstEncode<derazud_atwr_snoop_tag_rpt_t, DerazudAtwrSnoopTagRpt_ToBuff>,
                DerAzudUsbAnchorRpt_Cleanup);
            break;
        case 12:
            RoundTrip<derazud_tag_rpt_t>(buffer, length, DerAzudTagRpt_FromBuff, DerAzudTagRpt_ToBuff,
                                         DerAzudTagRpt_Cleanup);
            break;
        case 13:
            RoundTrip<derazud_usb_tag_rpt_t>(buffer, length, DerAzudUsbTagRpt_FromBuff,
                                             DerAzudUsbTagRpt_ToBuff, DerAzudUsbTagRpt_Cleanup);
            break;
        case 14:
            FixedRoundTrip<derazud_time_transfer_t, kDerAzudTimeTransferSize, DerAzudTimeTransfer_FromBuff,
                           DerAzudTimeTransfer_ToBuff>(buffer, length);
            break;
        case 15:
            FixedRoundTrip<derazud_usb_time_transfer_t, kDerAzudUsbTimeTransferSize,
                           DerAzudUsbTimeTransfer_FromBuff, DerAzudUsbTimeTransfer_ToBuff>(buffer, length);
            break;
        case 16:
            FixedRoundTrip<derazud_ssp_response_t, kDerAzudSspResponseSize, DerAzudSspResponse_FromBuff,
                           DerAzudSspResponse_ToBuff>(buffer, length);
            break;
        case 17:
            RoundTrip<derazud_command_t>(
                buffer, length, DerAzudCommand_FromBuff,
                SizedEncode<derazud_command_t, DerAzudCommand_ToBuff, DerAzudCommand_EncodedSize>,
                DerAzudCommand_Cleanup);
            break;
        case 18:
            RoundTrip<derazud_cfg_serial_rpt_t>(
                buffer, length, DerAzudCfgSerialRpt_FromBuff,
                SizedEncode<derazud_cfg_serial_rpt_t, DerAzudCfgSerialRpt_ToBuff,
                            DerAzudCfgSerialRpt_EncodedSize>,
                DerAzudCfgSerialRpt_Cleanup);
            break;
        case 19:
            RoundTrip<derazud_cfg_backlink_rpt_t>(
                buffer, length, DerAzudCfgBacklinkRpt_FromBuff,
                SizedEncode<derazud_cfg_backlink_rpt_t, DerAzudCfgBacklinkRpt_ToBuff,
                            DerAzudCfgBacklinkRpt_EncodedSize>,
                DerAzudCfgBacklinkRpt_Cleanup);
            break;
        case 20:
            FixedRoundTrip<derazud_cfg_dpu_rpt_t, kDerAzudCfgDpuRptSize, DerAzudCfgDpuRpt_FromBuff,
                           DerAzudCfgDpuRpt_ToBuff>(buffer, length);
            break;
        case 21:
            FixedRoundTrip<derazud_cfg_node_rpt_t, kDerAzudCfgNodeRptSize, DerAzudCfgNodeRpt_FromBuff,
                           DerAzudCfgNodeRpt_ToBuff>(buffer, length);
            break;
        case 22:
            RoundTrip<derazud_cfg_network_rpt_t>(
                buffer, length, DerAzudCfgNetworkRpt_FromBuff,
                SizedEncode<derazud_cfg_network_rpt_t, DerAzudCfgNetworkRpt_ToBuff,
                            DerAzudCfgNetworkRpt_EncodedSize>,
                DerAzudCfgNetworkRpt_Cleanup);
            break;
        case 23:
            RoundTrip<derazud_cfg_rpt_t>(
                buffer, length, DerAzudCfgRpt_FromBuff,
                SizedEncode<derazud_cfg_rpt_t, DerAzudCfgRpt_ToBuff, DerAzudCfgRpt_EncodedSize>,
                DerAzudCfgRpt_Cleanup);
            break;
        default:
            RoundTrip<derazud_output_data_stream_t>(buffer, length, DerAzudOutputDataStream_FromBuff,
                                                    DerAzudOutputDataStream_ToBuff,
                                                    DerAzudOutputDataStream_Cleanup);
            break;
    }
    return 0;
}

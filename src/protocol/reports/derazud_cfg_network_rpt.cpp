#include "protocol/reports/derazud_cfg_network_rpt.h"

#include "base/byte_order.h"
#include "protocol/reports/derazud_codec.h"

namespace {

constexpr int kHeadSize = 2;

}  // namespace

int DerAzudCfgNetworkRpt_FromBuff(derazud_cfg_network_rpt_t* record, const uint8_t* buffer, int length) {
    return derazud_codec::ReadListRecord(
        buffer, length, kHeadSize, &record->count, &record->nodes, kDerAzudCfgNodeRptSize,
        [&] { return wire::read_be16s(buffer); }, DerAzudCfgNodeRpt_FromBuff);
}

int DerAzudCfgNetworkRpt_ToBuff(uint8_t* buffer, const derazud_cfg_network_rpt_t* record) {
    return derazud_codec::WriteListRecord(
        buffer, kHeadSize, record->count, record->nodes,
        [&](int16_t count) { wire::write_be16s(buffer, count); }, DerAzudCfgNodeRpt_ToBuff);
}

int DerAzudCfgNetworkRpt_EncodedSize(const derazud_cfg_network_rpt_t* record) {
    return kHeadSize + kDerAzudCfgNodeRptSize * derazud_codec::ItemsPresent(record->count, record->nodes);
}

void DerAzudCfgNetworkRpt_Cleanup(derazud_cfg_network_rpt_t* record) {
    derazud_codec::FreeList(&record->nodes);
    record->count = 0;
}

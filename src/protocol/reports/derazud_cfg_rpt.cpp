#include "protocol/reports/derazud_cfg_rpt.h"

#include "base/byte_order.h"

namespace {

int Refuse(derazud_cfg_rpt_t* record, int result) {
    DerAzudCfgRpt_Cleanup(record);
    return result;
}

}  // namespace

int DerAzudCfgRpt_FromBuff(derazud_cfg_rpt_t* record, const uint8_t* buffer, int length) {
    record->serial.port_name = nullptr;
    record->backlink.interface_name = nullptr;
    record->network.nodes = nullptr;
    record->network.count = 0;
    if (length < kDerAzudCfgRptHeadSize) {
        return -1;
    }
    record->creation_time = wire::read_be64(buffer);
    record->version = wire::read_be16(buffer + 8);
    record->flags = buffer[10];
    record->mode = buffer[11];
    int offset = kDerAzudCfgRptHeadSize;
    // Each part returns -1 for a short buffer and 0 when memory ran out; none
    // of them is ever 0 bytes long otherwise.
    const int serial = DerAzudCfgSerialRpt_FromBuff(&record->serial, buffer + offset, length - offset);
    if (serial <= 0) {
        return Refuse(record, serial);
    }
    offset += serial;
    const int backlink = DerAzudCfgBacklinkRpt_FromBuff(&record->backlink, buffer + offset, length - offset);
    if (backlink <= 0) {
        return Refuse(record, backlink);
    }
    offset += backlink;
    if (length - offset < kDerAzudCfgDpuRptSize) {
        return Refuse(record, -1);
    }
    offset += DerAzudCfgDpuRpt_FromBuff(&record->dpu, buffer + offset);
    const int network = DerAzudCfgNetworkRpt_FromBuff(&record->network, buffer + offset, length - offset);
    if (network <= 0) {
        return Refuse(record, network);
    }
    return offset + network;
}

int DerAzudCfgRpt_ToBuff(uint8_t* buffer, const derazud_cfg_rpt_t* record) {
    wire::write_be64(buffer, record->creation_time);
    wire::write_be16(buffer + 8, record->version);
    buffer[10] = record->flags;
    buffer[11] = record->mode;
    int offset = kDerAzudCfgRptHeadSize;
    offset += DerAzudCfgSerialRpt_ToBuff(buffer + offset, &record->serial);
    offset += DerAzudCfgBacklinkRpt_ToBuff(buffer + offset, &record->backlink);
    offset += DerAzudCfgDpuRpt_ToBuff(buffer + offset, &record->dpu);
    offset += DerAzudCfgNetworkRpt_ToBuff(buffer + offset, &record->network);
    return offset;
}

int DerAzudCfgRpt_EncodedSize(const derazud_cfg_rpt_t* record) {
    return kDerAzudCfgRptHeadSize + DerAzudCfgSerialRpt_EncodedSize(&record->serial) +
           DerAzudCfgBacklinkRpt_EncodedSize(&record->backlink) + kDerAzudCfgDpuRptSize +
           DerAzudCfgNetworkRpt_EncodedSize(&record->network);
}

void DerAzudCfgRpt_Cleanup(derazud_cfg_rpt_t* record) {
    DerAzudCfgSerialRpt_Cleanup(&record->serial);
    DerAzudCfgBacklinkRpt_Cleanup(&record->backlink);
    DerAzudCfgDpuRpt_Cleanup(&record->dpu);
    DerAzudCfgNetworkRpt_Cleanup(&record->network);
}

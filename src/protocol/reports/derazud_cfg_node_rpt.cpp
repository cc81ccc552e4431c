#include "protocol/reports/derazud_cfg_node_rpt.h"

#include "base/byte_order.h"

int DerAzudCfgNodeRpt_FromBuff(derazud_cfg_node_rpt_t* record, const uint8_t* buffer) {
    record->node_type = buffer[0];
    record->enabled = buffer[1];
    record->network_id = wire::read_be16(buffer + 2);
    record->options = buffer[4];
    record->serial_number = wire::read_be32(buffer + 5);
    record->antenna_delay = wire::read_be32(buffer + 9);
    record->rate = wire::read_be32(buffer + 13);
    for (int i = 0; i < kDerAzudCfgNodeValueCount; ++i) {
        record->values[i] = wire::read_be16(buffer + 17 + 2 * i);
    }
    return kDerAzudCfgNodeRptSize;
}

int DerAzudCfgNodeRpt_ToBuff(uint8_t* buffer, const derazud_cfg_node_rpt_t* record) {
    buffer[0] = record->node_type;
    buffer[1] = record->enabled;
    wire::write_be16(buffer + 2, record->network_id);
    buffer[4] = record->options;
    wire::write_be32(buffer + 5, record->serial_number);
    wire::write_be32(buffer + 9, record->antenna_delay);
    wire::write_be32(buffer + 13, record->rate);
    for (int i = 0; i < kDerAzudCfgNodeValueCount; ++i) {
        wire::write_be16(buffer + 17 + 2 * i, record->values[i]);
    }
    return kDerAzudCfgNodeRptSize;
}

void DerAzudCfgNodeRpt_Cleanup(derazud_cfg_node_rpt_t*) {}

#pragma once
// Configuration report of one node.

#include <cstdint>

constexpr int kDerAzudCfgNodeValueCount = 5;
constexpr int kDerAzudCfgNodeRptSize = 27;

struct derazud_cfg_node_rpt_t {
    uint8_t node_type;
    uint8_t enabled;
    uint16_t network_id;
    uint8_t options;
    uint32_t serial_number;
    uint32_t antenna_delay;
    uint32_t rate;
    uint16_t values[kDerAzudCfgNodeValueCount];
};

// Fixed size: the caller guarantees 27 bytes. Both return 27.
int DerAzudCfgNodeRpt_FromBuff(derazud_cfg_node_rpt_t* record, const uint8_t* buffer);
int DerAzudCfgNodeRpt_ToBuff(uint8_t* buffer, const derazud_cfg_node_rpt_t* record);
void DerAzudCfgNodeRpt_Cleanup(derazud_cfg_node_rpt_t* record);

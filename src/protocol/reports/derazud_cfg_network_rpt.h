#pragma once
// Configuration report of the network: one node configuration report per node.

#include <cstdint>

#include "protocol/reports/derazud_cfg_node_rpt.h"

struct derazud_cfg_network_rpt_t {
    int16_t count;                  // below 1: no nodes
    derazud_cfg_node_rpt_t* nodes;  // heap array of count records, owned
};

// Returns the bytes read; -1 when the count or the nodes would run past
// length (the record is then left with count 0 and no array); 0 with count 0
// when the array cannot be allocated. Decode into a clean or cleaned record.
int DerAzudCfgNetworkRpt_FromBuff(derazud_cfg_network_rpt_t* record, const uint8_t* buffer, int length);
// The buffer must hold DerAzudCfgNetworkRpt_EncodedSize(record) bytes.
int DerAzudCfgNetworkRpt_ToBuff(uint8_t* buffer, const derazud_cfg_network_rpt_t* record);
int DerAzudCfgNetworkRpt_EncodedSize(const derazud_cfg_network_rpt_t* record);
void DerAzudCfgNetworkRpt_Cleanup(derazud_cfg_network_rpt_t* record);

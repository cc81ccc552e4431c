#pragma once
// SSP command 0: start sending syncs with the given period.

#include <cstdint>

struct ssp_cmd_start_sync_t {
    uint8_t type;          // 0x11
    uint8_t sub_id;        // 0
    uint32_t sync_period;  // network time units
    uint8_t fast_sync_factor;
    uint32_t announcement_slot_start;  // start of the master's announcement-slot reservation
    uint8_t byte_11;
    uint8_t byte_12;
};

int SspCmdStartSync_FromBuff(const uint8_t* buffer, ssp_cmd_start_sync_t* record);
int SspCmdStartSync_ToBuff(uint8_t* buffer, const ssp_cmd_start_sync_t* record);
int SspCmdStartSync_Size();

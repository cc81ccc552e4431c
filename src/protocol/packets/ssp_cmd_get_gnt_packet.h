#pragma once
// SSP command carrying a network time; the server never sends it.

#include <cstdint>

struct ssp_cmd_get_gnt_t {
    uint8_t type;
    uint8_t sub_id;
    uint32_t network_time;
};

int SspCmdGetGnt_FromBuff(const uint8_t* buffer, ssp_cmd_get_gnt_t* record);
int SspCmdGetGnt_ToBuff(uint8_t* buffer, const ssp_cmd_get_gnt_t* record);
int SspCmdGetGnt_Size();

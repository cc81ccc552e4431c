#pragma once
// Generic head of an SSP command (0x11) or response (0x12): type and sub-id.

#include <cstdint>

struct ssp_cmd_t {
    uint8_t type;
    uint8_t sub_id;
};

int SspCmd_FromBuff(const uint8_t* buffer, ssp_cmd_t* record);
int SspCmd_ToBuff(uint8_t* buffer, const ssp_cmd_t* record);
int SspCmd_Size();

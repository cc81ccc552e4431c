#pragma once
// Announce request: a type byte and three values, no len byte. The server
// never sends it.

#include <cstdint>

struct cmd_announce_request_t {
    uint8_t type;
    uint8_t byte_1;
    uint8_t byte_2;
    uint32_t field_3;
};

int CmdAnnounceRequest_FromBuff(const uint8_t* buffer, cmd_announce_request_t* record);
int CmdAnnounceRequest_ToBuff(uint8_t* buffer, const cmd_announce_request_t* record);
int CmdAnnounceRequest_Size();

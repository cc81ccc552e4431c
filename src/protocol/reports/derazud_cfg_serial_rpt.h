#pragma once
// Configuration report of a serial device link.

#include <cstdint>

struct derazud_cfg_serial_rpt_t {
    uint8_t enabled;
    char* port_name;  // heap text, owned
    uint32_t baud_rate;
};

// Returns the bytes read (strlen + 9); -1 when the text has no zero with its
// three trailing bytes inside length or the u32 would run past it; 0 when
// memory runs out. On -1 and 0 the text is null. Decode into a clean or
// cleaned record.
int DerAzudCfgSerialRpt_FromBuff(derazud_cfg_serial_rpt_t* record, const uint8_t* buffer, int length);
// The buffer must hold DerAzudCfgSerialRpt_EncodedSize(record) bytes; the
// three bytes after the text's zero are left as they are.
int DerAzudCfgSerialRpt_ToBuff(uint8_t* buffer, const derazud_cfg_serial_rpt_t* record);
int DerAzudCfgSerialRpt_EncodedSize(const derazud_cfg_serial_rpt_t* record);
void DerAzudCfgSerialRpt_Cleanup(derazud_cfg_serial_rpt_t* record);

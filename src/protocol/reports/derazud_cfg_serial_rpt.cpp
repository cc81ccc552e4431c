#include "protocol/reports/derazud_cfg_serial_rpt.h"

#include "base/byte_order.h"
#include "protocol/reports/derazud_codec.h"

int DerAzudCfgSerialRpt_FromBuff(derazud_cfg_serial_rpt_t* record, const uint8_t* buffer, int length) {
    record->port_name = nullptr;
    if (length < 1) {
        return -1;
    }
    record->enabled = buffer[0];
    const int text = derazud_codec::ReadText(buffer + 1, length - 1, &record->port_name);
    if (text < 0) {
        return text == derazud_codec::kNoMemory ? 0 : -1;
    }
    const int offset = 1 + text;
    if (length - offset < 4) {
        derazud_codec::FreeText(&record->port_name);
        return -1;
    }
    record->baud_rate = wire::read_be32(buffer + offset);
    return offset + 4;
}

int DerAzudCfgSerialRpt_ToBuff(uint8_t* buffer, const derazud_cfg_serial_rpt_t* record) {
    buffer[0] = record->enabled;
    const int offset = 1 + derazud_codec::WriteText(buffer + 1, record->port_name);
    wire::write_be32(buffer + offset, record->baud_rate);
    return offset + 4;
}

int DerAzudCfgSerialRpt_EncodedSize(const derazud_cfg_serial_rpt_t* record) {
    return 1 + derazud_codec::TextSize(record->port_name) + 4;
}

void DerAzudCfgSerialRpt_Cleanup(derazud_cfg_serial_rpt_t* record) {
    derazud_codec::FreeText(&record->port_name);
}

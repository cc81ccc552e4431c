#include "protocol/reports/derazud_pos3.h"

#include <cmath>
#include <cstdint>

#include "base/byte_order.h"

namespace {

float MillimetresToMetres(int32_t millimetres) {
    return static_cast<float>(millimetres / 1000.0);
}

double ClampedToI32(double millimetres) {
    if (millimetres >= static_cast<double>(INT32_MAX)) {
        return INT32_MAX;
    }
    if (millimetres <= static_cast<double>(INT32_MIN)) {
        return INT32_MIN;
    }
    return millimetres;
}

// Truncates toward zero, except that a float which is exactly what decoding
// makes of some whole millimetre value gives that value back: 1234 mm
// decodes to 1.2339999f, which truncation alone would re-encode as 1233.
// The product of a float and 1000 is exact in double precision. A float
// outside the i32 range (or NaN) would make the conversion undefined.
int32_t MetresToMillimetres(float metres) {
    const double millimetres = static_cast<double>(metres) * 1000.0;
    if (std::isnan(millimetres)) {
        return 0;
    }
    const double nearest = std::round(millimetres);
    if (nearest == ClampedToI32(nearest)) {
        const auto whole = static_cast<int32_t>(nearest);
        if (MillimetresToMetres(whole) == metres) {
            return whole;
        }
    }
    return static_cast<int32_t>(ClampedToI32(std::trunc(millimetres)));
}

}  // namespace

int DerAzudPos3_FromBuff(derazud_pos3_t* record, const uint8_t* buffer) {
    DerAzudDataTag_FromBuff(&record->data_tag, buffer, kDerAzudDataTagSize);
    record->serial_number = wire::read_be32(buffer + 4);
    record->x = MillimetresToMetres(wire::read_be32s(buffer + 8));
    record->y = MillimetresToMetres(wire::read_be32s(buffer + 12));
    record->z = MillimetresToMetres(wire::read_be32s(buffer + 16));
    // The quality float travels as its 32 bits.
    record->quality = wire::bit_cast<float>(wire::read_be32(buffer + 20));
    record->smoothing_count = wire::read_be16(buffer + 24);
    record->sequence = wire::read_be16(buffer + 26);
    record->network_time = wire::read_be32(buffer + 28);
    record->creation_time = 0;
    return kDerAzudPos3Size;
}

int DerAzudPos3_ToBuff(uint8_t* buffer, const derazud_pos3_t* record) {
    DerAzudDataTag_ToBuff(buffer, kDerAzudDataTagSize, &record->data_tag);
    wire::write_be32(buffer + 4, record->serial_number);
    wire::write_be32s(buffer + 8, MetresToMillimetres(record->x));
    wire::write_be32s(buffer + 12, MetresToMillimetres(record->y));
    wire::write_be32s(buffer + 16, MetresToMillimetres(record->z));
    wire::write_be32(buffer + 20, wire::bit_cast<uint32_t>(record->quality));
    wire::write_be16(buffer + 24, record->smoothing_count);
    wire::write_be16(buffer + 26, record->sequence);
    wire::write_be32(buffer + 28, record->network_time);
    return kDerAzudPos3Size;
}

void DerAzudPos3_Cleanup(derazud_pos3_t*) {}

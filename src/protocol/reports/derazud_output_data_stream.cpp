#include "protocol/reports/derazud_output_data_stream.h"

#include <cstring>

int DerAzudOutputDataStream_FromBuff(derazud_output_data_stream_t* record, const uint8_t* buffer,
                                     int length) {
    if (length < 0 || length > kDerAzudOutputDataStreamCapacity) {
        return -1;
    }
    if (length > 0) {
        std::memcpy(record->data, buffer, static_cast<size_t>(length));
    }
    record->length = static_cast<uint16_t>(length);
    return length;
}

int DerAzudOutputDataStream_ToBuff(uint8_t* buffer, int capacity,
                                   const derazud_output_data_stream_t* record) {
    // A length past the record's own array would read beyond it.
    if (record->length > capacity || record->length > kDerAzudOutputDataStreamCapacity) {
        return -1;
    }
    if (record->length > 0) {
        std::memcpy(buffer, record->data, record->length);
    }
    return record->length;
}

void DerAzudOutputDataStream_Cleanup(derazud_output_data_stream_t*) {}

// Arbitrary datagrams through the receiver's validation and decoding. An
// accepted datagram must encode back to the same bytes; a refused one must
// leave the packet untouched. The payload readers of the item catalogue run
// on every accepted item.
#include <QJsonObject>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "protocol/vex/vex_data_types.h"
#include "protocol/vex/vex_packet.h"

namespace {

template <typename Record>
void ReadAs(const VexDataItem& item) {
    Record record;
    if (VexData_Read(item, &record) && std::memcmp(&record, item.GetData(), sizeof(Record)) != 0) {
        std::abort();
    }
}

void ReadPayload(const VexDataItem& item) {
    ReadAs<vex_data_mpu9250_magnetometer_t>(item);
    ReadAs<vex_data_lps25h_pressure_t>(item);
    ReadAs<vex_data_lps25h_temperature_t>(item);
    ReadAs<vex_data_mpu9250_accelerometer_t>(item);
    ReadAs<vex_data_mpu9250_gyroscope_t>(item);
    ReadAs<vex_data_mpu9250_quaternion_t>(item);
    ReadAs<vex_data_position_t>(item);
    ReadAs<vex_data_distance_t>(item);
    ReadAs<vex_data_infrastructure_t>(item);
    ReadAs<vex_data_anchor_status_t>(item);
    ReadAs<vex_data_time_reservation_t>(item);
    ReadAs<vex_data_tick_t>(item);
    ReadAs<vex_data_timed_rx_t>(item);
    ReadAs<vex_data_discovery_t>(item);
    ReadAs<vex_data_ssp_response_t>(item);
    ReadAs<vex_data_smoothing_factor_t>(item);
    ReadAs<vex_data_toa_solution_t>(item);
    ReadAs<vex_data_toa_anchor_t>(item);

    vex_data_ping_t ping;
    const uint8_t* user_data = nullptr;
    uint16_t user_data_size = 0;
    if (VexDataPing_Read(item, &ping, &user_data, &user_data_size) &&
        sizeof(ping) + user_data_size != item.GetDataSize()) {
        std::abort();
    }
    QJsonObject config;
    (void)VexDataConfig_Read(item, &config);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > VexPacket::kMaxPacketSize) {
        if (VexPacket::IsValidPacketBuffer(data, size)) {
            std::abort();
        }
        return 0;
    }
    VexPacket packet(0x5A5A5A5A);
    const bool accepted = packet.ConvertPacketBuffer(data, static_cast<uint16_t>(size));
    if (accepted != VexPacket::IsValidPacketBuffer(data, size)) {
        std::abort();
    }
    if (!accepted) {
        if (!packet.GetDataItems().empty() || packet.GetSerialNumber() != 0x5A5A5A5A ||
            packet.GetSequence() != 0) {
            std::abort();
        }
        return 0;
    }
    if (packet.GetPacketSize() != size) {
        std::abort();
    }
    uint16_t encoded_size = 0;
    const std::unique_ptr<uint8_t[]> encoded(
        packet.CreateBufferWithSequenceNumber(packet.GetSequence(), &encoded_size));
    if (encoded_size != size || std::memcmp(encoded.get(), data, size) != 0) {
        std::abort();
    }
    for (const auto& item : packet.GetDataItems()) {
        ReadPayload(*item);
    }
    return 0;
}

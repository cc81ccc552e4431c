#include "protocol/vex/vex_data_types.h"

#include <QByteArray>
#include <QDataStream>
#include <QJsonDocument>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "base/device_time.h"
#include "base/saturating_conversion.h"

vex_data_tick_t VexDataTick_FromSyncPacket(const packet_sync_t& sync, uint32_t serial_number) {
    vex_data_tick_t tick{};
    tick.sequence = sync.sequence;
    tick.serial_number = serial_number;
    tick.network_id = sync.network_id;
    tick.network_time = sync.network_time;
    tick.byte_8 = sync.byte_8;
    tick.field_9 = sync.field_9;
    tick.byte_13 = sync.byte_13;
    tick.byte_14 = sync.byte_14;
    tick.byte_24 = sync.byte_24;
    tick.field_15 = sync.field_15;
    // 40 bits in a 64-bit field whose upper 24 bits are zero.
    tick.transmit_time = DeviceTimeMask(sync.transmit_time);
    return tick;
}

bool VexDataPing_Add(VexPacket& packet, const vex_data_ping_t& ping, const uint8_t* user_data,
                     uint16_t user_data_size) {
    if (user_data_size > VexPacket::kMaxPacketSize - sizeof(ping) ||
        (user_data == nullptr && user_data_size)) {
        return false;
    }
    std::vector<uint8_t> payload(sizeof(ping) + user_data_size);
    std::memcpy(payload.data(), &ping, sizeof(ping));
    if (user_data_size != 0) {
        std::memcpy(payload.data() + sizeof(ping), user_data, user_data_size);
    }
    return packet.AddDataItem(VexType::kPing, static_cast<uint16_t>(payload.size()), payload.data());
}

bool VexDataPing_Read(const VexDataItem& item, vex_data_ping_t* ping, const uint8_t** user_data,
                      uint16_t* user_data_size) {
    if (item.GetType() != VexType::kPing || item.GetDataSize() < sizeof(vex_data_ping_t)) {
        return false;
    }
    std::memcpy(ping, item.GetData(), sizeof(vex_data_ping_t));
    *user_data_size = static_cast<uint16_t>(item.GetDataSize() - sizeof(vex_data_ping_t));
    *user_data = *user_data_size != 0 ? item.GetData() + sizeof(vex_data_ping_t) : nullptr;
    return true;
}

// Qt's binary JSON form is deprecated, but it is the payload format the
// configuration item's consumers read.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

bool VexDataConfig_Encode(const QJsonObject& config, QByteArray* payload) {
    payload->clear();
    QByteArray serialised;
    {
        QDataStream stream(&serialised, QIODevice::WriteOnly);
        stream << QJsonDocument(config).toBinaryData();
        if (stream.status() != QDataStream::Ok) {
            return false;
        }
    }
    if (static_cast<uint32_t>(serialised.size()) >
        VexPacket::kMaxPacketSize - VexPacket::kHeaderSize - VexDataItem::kHeaderSize) {
        std::printf("Vuv configuration item of %d bytes does not fit a packet; not sent\n",
                    serialised.size());
        std::fflush(stdout);
        return false;
    }
    *payload = serialised;
    return true;
}

bool VexDataConfig_Add(VexPacket& packet, const QJsonObject& config) {
    QByteArray payload;
    if (!VexDataConfig_Encode(config, &payload)) {
        return false;
    }
    return packet.AddDataItem(VexType::kConfig, static_cast<uint16_t>(payload.size()), payload.constData());
}

bool VexDataConfig_Read(const VexDataItem& item, QJsonObject* config) {
    if (item.GetType() != VexType::kConfig || item.GetDataSize() == 0) {
        return false;
    }
    const QByteArray payload =
        QByteArray::fromRawData(reinterpret_cast<const char*>(item.GetData()), item.GetDataSize());
    QDataStream stream(payload);
    QByteArray binary;
    stream >> binary;
    if (stream.status() != QDataStream::Ok || !stream.atEnd() || binary.isEmpty()) {
        return false;
    }
    const QJsonDocument document = QJsonDocument::fromBinaryData(binary, QJsonDocument::Validate);
    if (!document.isObject()) {
        return false;
    }
    *config = document.object();
    return true;
}

#pragma GCC diagnostic pop

int32_t VexData_MetresToMillimetres(double metres) {
    return TruncateToInt32(metres * 1000.0);
}

int32_t VexData_MetresToMillimetresRounded(double metres) {
    return TruncateToInt32((metres + 0.0005) * 1000.0);
}

uint8_t VexData_AccelerometerFullScale(uint32_t scale_code) {
    return static_cast<uint8_t>(2u << (scale_code & 3u));
}

uint16_t VexData_GyroscopeFullScale(uint32_t scale_code) {
    return static_cast<uint16_t>(250u << (scale_code & 3u));
}

namespace {

// Low-pass codes 2 to 6 mean the same bandwidth on both sensors.
constexpr uint8_t kSharedBandwidths[] = {92, 41, 20, 10, 5};

bool IsSharedBandwidthCode(uint32_t low_pass_code) {
    return low_pass_code >= 2 && low_pass_code <= 6;
}

}  // namespace

uint16_t VexData_AccelerometerBandwidth(uint32_t low_pass_code) {
    if (IsSharedBandwidthCode(low_pass_code)) {
        return kSharedBandwidths[low_pass_code - 2];
    }
    return low_pass_code == 1 ? 184 : 460;
}

uint8_t VexData_GyroscopeBandwidth(uint32_t low_pass_code) {
    if (IsSharedBandwidthCode(low_pass_code)) {
        return kSharedBandwidths[low_pass_code - 2];
    }
    return 184;
}

uint32_t VexData_SensorSampleTime(uint16_t partial_time, uint32_t now) {
    // Unsigned 32-bit arithmetic: the step back wraps like the network time does.
    uint32_t sample_time = (now & 0xFF000000u) + static_cast<uint32_t>(partial_time) * 256u;
    if (sample_time > now) {
        sample_time -= 0x01000000u;
    }
    return sample_time;
}

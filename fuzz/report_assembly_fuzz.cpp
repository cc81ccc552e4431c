// Feeds arbitrary anchor responses, ping items and solved positions to one tag
// of a small site, with the site's check settings taken from the input
// (velocities and speeds of light of any bit pattern). Whatever comes in:
// nothing is read outside a buffer, every report handed on decodes whole and
// holds at most 512 responses, and each response handed on has exactly one
// "used" status item in the packets taken from the tag.
//
// Input: a 20-byte head, then operations (see below); the seeds are made by
// tools/make_report_assembly_seeds.py.
#include <QByteArray>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "config/flat_settings_interface.h"
#include "config/settings.h"
#include "host/devices/dw_node.h"
#include "protocol/reports/derazud_toa_rpt.h"
#include "protocol/vex/vex_data_types.h"

namespace {

constexpr uint32_t kSyncPeriodMs = 100;
constexpr int kHeadSize = 20;
constexpr int kMaxAnchors = 8;
constexpr uint32_t kAnchorSerialBase = 0x01030000;
constexpr int kCallsPerPacketTake = 4;

class CheckingReceiver : public ToaReportReceiver {
  public:
    void ToaRxCallback(QByteArray report) override {
        derazud_toa_rpt_t decoded{};
        const int used = DerAzudToaRpt_FromBuff(
            &decoded, reinterpret_cast<const uint8_t*>(report.constData()), report.size());
        if (used != report.size() || decoded.count < 0 || decoded.count > DwNode::kMaxToaResponses) {
            std::abort();
        }
        handed_on += decoded.count;
        DerAzudToaRpt_Cleanup(&decoded);
    }
    int64_t handed_on = 0;
};

// Counts the "used" status items and checks every item's size.
int64_t UsedStatuses(const std::shared_ptr<VexPacket>& packet) {
    int64_t used = 0;
    if (!packet) {
        return 0;
    }
    for (const auto& item : packet->GetDataItems()) {
        vex_data_anchor_status_t status{};
        if (VexData_Read(*item, &status)) {
            if (status.status > 3) {
                std::abort();
            }
            used += status.status == kVexAnchorStatusUsed ? 1 : 0;
            continue;
        }
        static const struct {
            uint16_t type;
            uint16_t size;
        } kSensorItems[] = {{VexType::kMpu9250Accelerometer, 13}, {VexType::kMpu9250Gyroscope, 13},
                            {VexType::kMpu9250Magnetometer, 10},  {VexType::kMpu9250Quaternion, 20},
                            {VexType::kLps25hPressure, 8},        {VexType::kLps25hTemperature, 6}};
        bool known = false;
        for (const auto& sensor : kSensorItems) {
            known = known || (item->GetType() == sensor.type && item->GetDataSize() == sensor.size);
        }
        if (!known) {
            std::abort();
        }
    }
    uint16_t size = 0;
    delete[] packet->CreateBufferWithSequenceNumber(1, &size);
    return used;
}

double ReadDouble(const uint8_t* bytes) {
    double value;
    std::memcpy(&value, bytes, sizeof(value));
    return value;
}

uint64_t ReadLe(const uint8_t* bytes, int count) {
    uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

// Network id a response claims: its anchor's, or one of the ids no anchor has.
int16_t ClaimedId(uint8_t selector, uint16_t anchor_id) {
    switch (selector % 6) {
        case 0:
            return static_cast<int16_t>(anchor_id);
        case 1:
            return 0;
        case 2:
            return 0x07FE;
        case 3:
            return 0x7FFF;
        case 4:
            return 200;  // beyond the last id handed out
        default:
            return static_cast<int16_t>(selector);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHeadSize) {
        return 0;
    }
    // Head: flags (bit 0 range-difference vote, bit 1 smoothed guess), anchor
    // count, maximum velocity and speed of light as raw doubles, and the
    // accelerometer and gyroscope scale (low nibble) and filter (high nibble).
    Settings defaults;
    Settings::GlobalSettings()->CopyFromOtherSettings(&defaults);
    FlatSettingsInterface settings(Settings::GlobalSettings());
    settings.GetHostSettings()->SetUseRdoaSanityCheck((data[0] & 1) != 0);
    settings.GetHostSettings()->SetSmoothPositionGuess((data[0] & 2) != 0);
    settings.GetHostSettings()->SetMaxTagVelocity(ReadDouble(data + 2));
    settings.GetHostSettings()->SetSpeedOfLight(ReadDouble(data + 10));
    sensors_config_t sensors = settings.GetSensorSettings();
    sensors.accelerometer_scale_code = data[18] & 0x0F;
    sensors.accelerometer_filter_code = data[18] >> 4;
    sensors.gyroscope_scale_code = data[19] & 0x0F;
    sensors.gyroscope_filter_code = data[19] >> 4;
    settings.SetSensorSettings(sensors);

    const int anchor_count = data[1] % (kMaxAnchors + 1);
    DwNodeMap anchors;
    for (int i = 0; i < anchor_count; ++i) {
        AnchorSettings anchor;
        anchor.SetSerialNumber(kAnchorSerialBase + i);
        anchor.SetX(5.0 * (i % 3));
        anchor.SetY(4.0 * (i / 3));
        anchor.SetZ(2.0 + 0.5 * i);
        anchors[kAnchorSerialBase + i] =
            std::make_shared<DwAnchor>(anchor, static_cast<uint16_t>(2 + i), kSyncPeriodMs);
    }
    TagSettings tag_settings;
    tag_settings.SetSerialNumber(0x01040000);
    auto tag = std::make_shared<DwTag>(tag_settings, 30, kSyncPeriodMs);
    tag->SetInitialPosition(4.0, 3.0, 1.0);

    CheckingReceiver receiver;
    int64_t used_statuses = 0;
    int calls_since_take = 0;
    size_t at = kHeadSize;
    while (at < size) {
        const uint8_t op = data[at++];
        const size_t left = size - at;
        switch (op & 3) {
            case 0: {
                // Response burst: [sequence][anchor][id][toa: 5][expected];
                // 1 + op / 4 responses, anchors and TOAs counting up.
                if (left < 9) {
                    at = size;
                    break;
                }
                const uint8_t* p = data + at;
                at += 9;
                const int repeats = 1 + (op >> 2);
                for (int r = 0; r < repeats; ++r) {
                    const uint8_t selector = static_cast<uint8_t>(p[1] + r);
                    const bool registered = selector < anchor_count;
                    const uint32_t serial =
                        registered ? kAnchorSerialBase + selector : 0x0BAD0000u + selector;
                    const int16_t id = ClaimedId(p[2], static_cast<uint16_t>(2 + selector));
                    const int64_t toa = static_cast<int64_t>(ReadLe(p + 3, 5) + 977u * r);
                    const uint32_t expected = p[8] == 0xFF ? 100000u : p[8];
                    tag->ProcessReportResponse(&receiver, p[0], id, serial, toa, anchors, -80.0, -78.0,
                                               expected);
                    // The solver takes the packet after every report. One call
                    // adds at most two reports' status items (2 x 512 x 9
                    // bytes), so taking it every few calls keeps it below its
                    // 64 KiB limit, where items would be refused.
                    if (++calls_since_take == kCallsPerPacketTake) {
                        used_statuses += UsedStatuses(tag->GetVexPacket());
                        calls_since_take = 0;
                    }
                }
                break;
            }
            case 1: {
                // Ping item: [payload size] then that many payload bytes (fewer
                // when the input ends), head and user data together.
                if (left < 1) {
                    at = size;
                    break;
                }
                const size_t wanted = data[at++] + (op >> 2);
                const size_t taken = wanted <= size - at ? wanted : size - at;
                const VexDataItem item(VexType::kPing, static_cast<uint16_t>(taken), data + at);
                at += taken;
                vex_data_ping_t ping{};
                const uint8_t* user_data = nullptr;
                uint16_t user_data_size = 0;
                if (VexDataPing_Read(item, &ping, &user_data, &user_data_size)) {
                    used_statuses += UsedStatuses(tag->UpdatePayload(&ping, user_data, user_data_size,
                                                                     static_cast<uint32_t>(taken) << 20));
                }
                break;
            }
            case 2:
                used_statuses += UsedStatuses(tag->GetVexPacket());
                break;
            default: {
                // A solved position: x, y, z as raw floats.
                if (left < 12) {
                    at = size;
                    break;
                }
                derazud_pos3_t position{};
                std::memcpy(&position.x, data + at, 4);
                std::memcpy(&position.y, data + at + 4, 4);
                std::memcpy(&position.z, data + at + 8, 4);
                at += 12;
                tag->SetCurrentPos3(position);
                break;
            }
        }
    }
    used_statuses += UsedStatuses(tag->GetVexPacket());
    if (used_statuses != receiver.handed_on) {
        std::abort();
    }
    return 0;
}

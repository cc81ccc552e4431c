// The two-way-ranging snoop engine fed arbitrary anchor reports. The input is
// a list of records, each starting with an operation byte whose low two bits
// pick the operation and whose upper six bits are the counter step:
//   0: u8 counter, u16 length (big-endian), that many bytes decoded as a
//      link's anchor report and handed to AddData;
//   1, 2: RunTwrSnoop in two or three dimensions;
//   3: u8 counter, u16 payload length, u16 network id, u32 serial number and
//      up to 2046 payload bytes put straight into a report record, so that
//      the engine also sees lengths the decoder would refuse.
// Stored distances must stay -1 or finite and not negative. The devices: a
// snoop pair 01:00:0002 - 01:00:0003, a plain pair of the snoop 01:00:0004
// with the responder, a plain pair 01:00:0005 - 01:00:0002 with the extreme
// antenna delays, snoops 01:00:0004 to 01:00:0006; network id n belongs
// to 01:00:000n for n below 16.
#include <QVector3D>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include "host/dpu/twr_snoop_engine.h"
#include "host/dpu/vex_publisher.h"
#include "protocol/reports/derazud_usb_anchor_rpt.h"
#include "protocol/vex/vex_packet.h"

namespace {

constexpr uint32_t kVendorProduct = 0x01000000;

bool LookUpNode(uint32_t serial, twr_node_info_t* node) {
    const uint32_t device = serial & 0xFFFF;
    if ((serial & 0xFFFF0000) != kVendorProduct || device < 2 || device > 6) {
        return false;
    }
    node->position = QVector3D(static_cast<float>(device), static_cast<float>(device * device % 7),
                               static_cast<float>(device % 3));
    node->has_antenna_delay = device != 6;
    node->antenna_delay = 16442 + static_cast<int32_t>(device);
    return true;
}

uint32_t LookUpNetworkId(uint16_t id) {
    return id > 0 && id < 16 ? kVendorProduct | id : 0;
}

void CheckDistances(const TwrSnoopEngine& engine) {
    for (const TWR_DATA_T* pair : engine.GetPairs()) {
        if (pair->distance != -1.0 && !(std::isfinite(pair->distance) && pair->distance >= 0.0)) {
            std::abort();
        }
    }
}

// The engine publishes one position item per packet, and only on the
// External stream.
class CheckingPublisher : public VexPublisher {
  public:
    void PublishOutputVex(VexPacket& packet) override {
        if (packet.GetDataItems().size() != 1) {
            std::abort();
        }
    }
    void PublishInputVex(VexPacket&) override { std::abort(); }
};

uint16_t ReadBe16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TwrSnoopEngine engine;
    engine.SetNodeLookup(LookUpNode);
    engine.SetNetworkIdLookup(LookUpNetworkId);
    engine.AttachPublisher(std::make_shared<CheckingPublisher>());
    engine.AddTwrSnoopDevices(kVendorProduct | 2, 16440, kVendorProduct | 3, 16450);
    engine.AddTwrDevices(kVendorProduct | 4, 16400, kVendorProduct | 3, 16450);
    engine.AddTwrDevices(kVendorProduct | 5, std::numeric_limits<int32_t>::min(), kVendorProduct | 2,
                         std::numeric_limits<int32_t>::max());
    engine.SetMinBounds(QVector3D(-50, -50, -10));
    engine.SetMaxBounds(QVector3D(50, 50, 10));

    static derazud_usb_anchor_rpt_t report;
    size_t at = 0;
    while (at < size) {
        const uint8_t operation = data[at++];
        const uint32_t step = operation >> 2;
        switch (operation & 3) {
            case 0: {
                if (size - at < 3) {
                    return 0;
                }
                const long counter = data[at];
                size_t length = ReadBe16(data + at + 1);
                at += 3;
                length = length < size - at ? length : size - at;
                std::memset(&report, 0, sizeof(report));
                if (DerAzudUsbAnchorRpt_FromBuff(&report, data + at, static_cast<int>(length)) > 0) {
                    engine.AddData(&report, counter, step);
                }
                at += length;
                break;
            }
            case 1:
            case 2:
                engine.RunTwrSnoop((operation & 3) == 2);
                CheckDistances(engine);
                break;
            default: {
                if (size - at < 9) {
                    return 0;
                }
                std::memset(&report, 0, sizeof(report));
                const long counter = data[at];
                report.anchor_rpt.payload_length = ReadBe16(data + at + 1);
                report.anchor_rpt.report.network_id = ReadBe16(data + at + 3);
                report.anchor_rpt.serial_number = static_cast<uint32_t>(data[at + 5]) << 24 |
                                                  static_cast<uint32_t>(data[at + 6]) << 16 |
                                                  static_cast<uint32_t>(data[at + 7]) << 8 | data[at + 8];
                at += 9;
                size_t length = size - at;
                if (length > sizeof(report.anchor_rpt.payload)) {
                    length = sizeof(report.anchor_rpt.payload);
                }
                std::memcpy(report.anchor_rpt.payload, data + at, length);
                at += length;
                engine.AddData(&report, counter, step);
                break;
            }
        }
    }
    engine.RunTwrSnoop(false);
    engine.RunTwrSnoop(true);
    CheckDistances(engine);
    return 0;
}

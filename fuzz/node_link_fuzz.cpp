// One SSP payload, as a device could send it, through the link's dispatch.
// Checked for every input: only the items the payload type can produce are
// published, each of its record's size, and whatever a ping carries as user
// data was in the payload. The payload is a heap copy of exactly its size, so
// a read past it is a sanitizer report.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "host/devices/usb_link.h"
#include "protocol/packets/device_protocol.h"
#include "protocol/vex/vex_data_types.h"
#include "support/fuzz_check.h"

namespace {

namespace dp = device_protocol;

bool Contains(const uint8_t* data, size_t size, const uint8_t* part, size_t part_size) {
    if (part_size == 0) {
        return true;
    }
    for (size_t at = 0; at + part_size <= size; ++at) {
        if (std::memcmp(data + at, part, part_size) == 0) {
            return true;
        }
    }
    return false;
}

struct Harness {
    Harness() : recorder(std::make_shared<VexPacketRecorder>()) {
        link.Init(nullptr, recorder, "fuzz");
        const uint8_t answer[] = {dp::kSspTypeBridge, 0x01, 0x02, 0x03, 0x04};
        link.HandlePacketRx(answer, sizeof(answer));
    }
    std::shared_ptr<VexPacketRecorder> recorder;
    UsbLink link;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Harness harness;
    if (size > SSP_MAX_PAYLOAD_LENGTH) {
        return 0;
    }
    std::unique_ptr<uint8_t[]> payload(new uint8_t[size == 0 ? 1 : size]);
    if (size != 0) {
        std::memcpy(payload.get(), data, size);
    }
    harness.recorder->Clear();
    harness.link.HandlePacketRx(payload.get(), static_cast<int>(size));
    Check(harness.link.GetSerialNumber() != 0);

    const uint8_t type = size != 0 ? data[0] : 0;
    for (const VexPacket& packet : harness.recorder->Packets()) {
        for (const auto& item : packet.GetDataItems()) {
            switch (item->GetType()) {
                case VexType::kSspResponse:
                    Check(type == dp::kSspTypeResponse && item->GetDataSize() == 1 &&
                          item->GetData()[0] == data[1]);
                    break;
                case VexType::kTick:
                    Check(type == dp::kSspTypeTxPassthrough &&
                          item->GetDataSize() == sizeof(vex_data_tick_t));
                    break;
                case VexType::kTimedRx:
                    Check(type == dp::kSspTypeRxPassthrough &&
                          item->GetDataSize() == sizeof(vex_data_timed_rx_t));
                    break;
                case VexType::kDiscovery:
                    Check(type == dp::kSspTypeRxPassthrough &&
                          item->GetDataSize() == sizeof(vex_data_discovery_t));
                    break;
                case VexType::kPing: {
                    Check(type == dp::kSspTypeRxPassthrough &&
                          item->GetDataSize() >= sizeof(vex_data_ping_t));
                    const size_t user_size = item->GetDataSize() - sizeof(vex_data_ping_t);
                    Check(Contains(data, size, item->GetData() + sizeof(vex_data_ping_t), user_size));
                    break;
                }
                default:
                    Check(false);
            }
        }
    }
    return 0;
}

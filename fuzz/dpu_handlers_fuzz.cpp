// Arbitrary Internal-stream items fed to the location engine's handlers on a
// configured site, as the Backlink's callbacks hand them over, plus arbitrary
// bytes as encoded time-of-arrival reports. Input: one byte of engine state
// (bit 0: the master has been started), then records of
//   kind (u8), packet serial number selector (u8), payload length (u16 LE), payload
// where kind picks the handler (0 tick, 1 timed reception, 2 ping, 3
// discovery, 4 SSP response, 5 configuration, 6 smoothing factor, 7 encoded
// report) and the selector one of the site's devices (0 master, 1-4
// anchors, 5-6 tags, 7 serial 0, 8 serial 0xFFFFFFFF, else an unknown one).
// Faults besides crashes: a published tag packet whose position item is not
// last, or that holds more than one solution item.
#include <QByteArray>
#include <QCoreApplication>
#include <QThreadPool>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "host/dpu/backlink.h"
#include "host/dpu/dpu.h"
#include "protocol/vex/vex_data_types.h"
#include "support/dpu_test_site.h"

namespace {

using namespace dpu_test_site;

// Checks each packet as it is published instead of keeping it.
class CheckingPublisher : public VexPublisher {
  public:
    void PublishOutputVex(VexPacket& packet) override {
        const VexDataItemList items = packet.GetDataItems();
        int solutions = 0;
        for (size_t i = 0; i < items.size(); ++i) {
            if (items[i]->GetType() == VexType::kPosition && i + 1 != items.size()) {
                std::abort();
            }
            solutions += items[i]->GetType() == VexType::kToaSolution ? 1 : 0;
        }
        if (solutions > 1) {
            std::abort();
        }
    }
    void PublishInputVex(VexPacket&) override {}
};

// Item types by kind; kind 7 is an encoded report.
const uint16_t kItemTypes[] = {VexType::kTick,           VexType::kTimedRx,     VexType::kPing,
                               VexType::kDiscovery,      VexType::kSspResponse, VexType::kConfig,
                               VexType::kSmoothingFactor};

uint32_t SerialOf(uint8_t selector) {
    switch (selector) {
        case 0:
            return kMaster;
        case 1:
        case 2:
        case 3:
        case 4:
            return kAnchors[selector - 1];
        case 5:
            return kTag;
        case 6:
            return kSecondTag;
        case 7:
            return 0;
        case 8:
            return 0xFFFFFFFF;
        default:
            return 0x0BADBEEF;
    }
}

void Setup() {
    static int argc = 1;
    static char name[] = "dpu_handlers_fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = (Setup(), true);
    (void)ready;
    if (size < 1) {
        return 0;
    }
    // The handlers print a line for much of what they drop.
    const SilencedStdout silenced;
    // A fresh site and engine per input, so that each input replays alone.
    const site_t site = Install();
    auto publisher = std::make_shared<CheckingPublisher>();
    {
        Dpu dpu;
        Dpu::BringUpTimings timings;
        timings.stop_attempt_sleep_ms = 0;
        timings.master_start_sleep_ms = 0;
        dpu.SetBringUpTimingsForTesting(timings);
        if (!dpu.Init({}, site.node_manager, site.scheduler, site.budget)) {
            std::abort();
        }
        dpu.AttachPublisher(publisher);
        if (data[0] & 1) {
            dpu.InitializeMasterNode();
        }
        size_t at = 1;
        while (at + 4 <= size) {
            const uint8_t kind = data[at];
            const uint32_t serial = SerialOf(data[at + 1]);
            size_t length = static_cast<size_t>(data[at + 2]) | (static_cast<size_t>(data[at + 3]) << 8);
            at += 4;
            if (length > size - at) {
                length = size - at;
            }
            const uint8_t* payload = data + at;
            at += length;
            if (kind % 8 == 7) {
                dpu.ToaRxCallback(
                    QByteArray(reinterpret_cast<const char*>(payload), static_cast<int>(length)));
                continue;
            }
            Backlink::HandItemToEngine(
                &dpu, serial,
                VexDataItem(kItemTypes[kind % 8], static_cast<uint16_t>(length), length ? payload : nullptr));
        }
        // The queued configuration publication runs in this thread.
        QCoreApplication::processEvents();
        QThreadPool::globalInstance()->waitForDone();
    }
    return 0;
}

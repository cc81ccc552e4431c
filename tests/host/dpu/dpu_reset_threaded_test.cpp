// The network reset runs in the host's thread, which is not always the thread
// the engine lives in (the first start of the host builds the engine in the
// main thread, later ones in the host thread): a reset from another thread
// must stop the bring-up running in the engine's thread, stop its master-start
// timer there, and share no unguarded state with it.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "host/dpu/dpu.h"
#include "protocol/vex/vex_data_types.h"
#include "support/dpu_test_site.h"
#include "support/master_frames.h"
#include "support/stdout_capture.h"

namespace {

using namespace dpu_test_site;
using namespace master_frames;

Dpu::BringUpTimings ShortTimings() {
    Dpu::BringUpTimings timings;
    timings.connect_wait_ms = 10;
    timings.rf_switch_delay_ms = 1;
    // Never reached in these tests: only the reset may end the wait for it.
    timings.master_start_delay_ms = 600000;
    timings.stop_attempt_sleep_ms = 1;
    timings.master_start_sleep_ms = 1;
    timings.reset_master_sleep_ms = 1;
    timings.reset_deconfigure_sleep_ms = 1;
    timings.reset_wait_ms = 5;
    return timings;
}

bool IsNormalStart(const Bytes& frame) {
    return frame.size() == 13 && frame[0] == 0x11 && frame[1] == 0x00 && frame[12] == 2;
}

class DpuResetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        site_ = Install();
        dpu_.SetBringUpTimingsForTesting(ShortTimings());
        StdoutCapture quiet;
        ASSERT_TRUE(dpu_.Init({}, site_.node_manager, site_.scheduler, site_.budget));
    }

    // The master acknowledges every stop, as the device does through the
    // Internal stream (whose receiver thread is yet another thread).
    void Acknowledge(RecordingLink* link, std::atomic<int>* stops = nullptr) {
        link->SetReply([this, stops](const Bytes& frame) {
            if (frame == kStopSync) {
                const uint8_t command = 6;
                dpu_.RxVexSsp(kMaster, VexDataItem(VexType::kSspResponse, 1, &command));
                if (stops) {
                    ++*stops;
                }
            }
        });
    }

    site_t site_;
    Dpu dpu_;
};

TEST_F(DpuResetTest, ResetFromAnotherThreadEndsTheBringUpWaitInTheEnginesThread) {
    RecordingLink master(kMaster, "master-port");
    std::atomic<int> stops{0};
    Acknowledge(&master, &stops);
    Dpu::BringUpTimings timings = ShortTimings();
    // Long enough that only the reset ends it within the test's bound.
    timings.connect_wait_ms = 60000;
    dpu_.SetBringUpTimingsForTesting(timings);

    std::atomic<bool> resetDone{false};
    std::thread host([this, &stops, &resetDone] {
        // Once the master has stopped, the engine's thread sits in its wait.
        while (stops.load() == 0) {
            std::this_thread::yield();
        }
        dpu_.ResetNetwork();
        resetDone = true;
    });
    {
        StdoutCapture quiet;
        dpu_.InitializeNetwork(&master);
        ASSERT_TRUE(SpinUntil([&resetDone] { return resetDone.load(); }));
    }
    host.join();

    EXPECT_TRUE(dpu_.HasNetworkReset());
    EXPECT_FALSE(dpu_.IsMasterStartPending());
    for (const auto& frame : master.Frames()) {
        EXPECT_FALSE(IsNormalStart(frame.bytes));
        // No fast start either: the bring-up stopped at its wait.
        EXPECT_NE(frame.bytes.size(), 13u);
    }
    // A master that connects after the reset is only stopped again.
    master.Clear();
    {
        StdoutCapture quiet;
        dpu_.InitializeNetwork(&master);
    }
    EXPECT_EQ(BytesOf(master.Frames()), kDeconfiguration);
}

TEST_F(DpuResetTest, MasterReconnectingInTheEnginesThreadDuringAResetIsStoppedOnItsNewLink) {
    RecordingLink old(kMaster, "old-port");
    RecordingLink renewed(kMaster, "new-port");
    Acknowledge(&renewed);
    dpu_.GetMaster()->SetNodeLink(&old);
    // The old link never acknowledges: the reset keeps stopping it until the
    // new one connects (or gives up after its attempts).
    std::atomic<bool> stopSent{false};
    old.SetReply([&stopSent](const Bytes& frame) { stopSent = stopSent || frame == kStopSync; });
    std::atomic<bool> resetDone{false};
    std::thread host([this, &resetDone] {
        dpu_.ResetNetwork();
        resetDone = true;
    });
    {
        StdoutCapture quiet;
        ASSERT_TRUE(SpinUntil([&stopSent] { return stopSent.load(); }));
        dpu_.InitializeNetwork(&renewed);
        ASSERT_TRUE(SpinUntil([&resetDone] { return resetDone.load(); }));
    }
    host.join();
    EXPECT_TRUE(old.IsShuttingDown());
    EXPECT_EQ(dpu_.GetMaster()->GetNodeLink().data(), &renewed);
    // Whichever thread deconfigures the new link, it ends stopped; before
    // that it can only have taken the reset's own stop frames.
    const std::vector<Bytes> frames = BytesOf(renewed.Frames());
    ASSERT_GE(frames.size(), kDeconfiguration.size());
    const auto tail = frames.end() - static_cast<long>(kDeconfiguration.size());
    EXPECT_EQ(std::vector<Bytes>(tail, frames.end()), kDeconfiguration);
    EXPECT_EQ(std::count(frames.begin(), tail, kStopSync), tail - frames.begin());
}

TEST_F(DpuResetTest, ResetFromAnotherThreadStopsTheMasterStartTimerInItsOwnThread) {
    RecordingLink master(kMaster, "master-port");
    Acknowledge(&master);
    {
        StdoutCapture quiet;
        dpu_.InitializeNetwork(&master);
    }
    // The fast sync runs; the timer would start the master.
    ASSERT_TRUE(dpu_.IsMasterStartPending());

    QtMessagesToStdout messages;
    StdoutCapture capture;
    std::atomic<bool> resetDone{false};
    std::thread host([this, &resetDone] {
        dpu_.ResetNetwork();
        resetDone = true;
    });
    const bool done =
        SpinUntil([this, &resetDone] { return resetDone.load() && !dpu_.IsMasterStartPending(); });
    host.join();
    const std::string printed = capture.Stop();
    EXPECT_TRUE(done);
    EXPECT_TRUE(dpu_.HasNetworkReset());
    // Qt refuses to stop a timer from another thread, with a warning.
    EXPECT_EQ(printed.find("another thread"), std::string::npos) << printed;
}

}  // namespace

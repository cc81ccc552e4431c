// USB links over real pseudo-terminals: the test holds the terminal's master
// side and plays the device (it answers the bridge query and sends frames),
// the link opens the slave side through a symbolic link that stays put across
// unplugging and plugging back in, as a udev name does.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <QString>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "host/devices/usb_link.h"
#include "host/devices/worker_thread.h"
#include "protocol/vex/vex_data_types.h"
#include "support/device_payloads.h"
#include "support/link_test_support.h"
#include "support/stdout_capture.h"

namespace {

using namespace test_devices;
using namespace link_test;

// The device side of one pseudo-terminal, served by a thread of its own.
class PtyDevice {
  public:
    PtyDevice(uint32_t serial_number, bool answers) : serial_number_(serial_number), answers_(answers) {
        static std::atomic<int> next{0};
        path_ = "/tmp/vorav-usb-link-" + std::to_string(getpid()) + "-" + std::to_string(next++);
        PlugIn();
    }
    ~PtyDevice() {
        Unplug();
        unlink(path_.c_str());
    }

    const std::string& Path() const { return path_; }

    void PlugIn() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(grantpt(master_), 0);
        ASSERT_EQ(unlockpt(master_), 0);
        char slave[128];
        ASSERT_EQ(ptsname_r(master_, slave, sizeof(slave)), 0);
        unlink(path_.c_str());
        ASSERT_EQ(symlink(slave, path_.c_str()), 0);
        stop_ = false;
        server_ = std::thread([this] { Serve(); });
    }

    // Closing the master hangs the terminal up, as pulling the plug does.
    void Unplug() {
        if (master_ < 0) {
            return;
        }
        stop_ = true;
        server_.join();
        close(master_);
        master_ = -1;
    }

    void Send(const Bytes& bytes) {
        std::lock_guard<std::mutex> lock(write_mutex_);
        WriteAll(bytes);
    }
    void SendFrame(const Bytes& payload) {
        std::lock_guard<std::mutex> lock(write_mutex_);
        WriteAll(frames_.Frame(payload));
    }

    std::vector<Bytes> Received() {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }
    size_t Queries() {
        std::lock_guard<std::mutex> lock(mutex_);
        return queries_;
    }
    // The first byte the link wrote after opening, or -1.
    int FirstByte() {
        std::lock_guard<std::mutex> lock(mutex_);
        return first_byte_;
    }

  private:
    void WriteAll(const Bytes& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = write(master_, bytes.data() + sent, bytes.size() - sent);
            if (n <= 0) {
                return;
            }
            sent += static_cast<size_t>(n);
        }
    }

    void Serve() {
        FrameReader reader;
        uint8_t buffer[4096];
        while (!stop_) {
            pollfd poll_fd{master_, POLLIN, 0};
            if (poll(&poll_fd, 1, 20) <= 0 || (poll_fd.revents & POLLIN) == 0) {
                continue;
            }
            const ssize_t n = read(master_, buffer, sizeof(buffer));
            if (n <= 0) {
                continue;
            }
            bool answer = false;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (first_byte_ < 0) {
                    first_byte_ = buffer[0];
                }
                for (Bytes& payload : reader.Feed(buffer, static_cast<size_t>(n))) {
                    if (payload == Bytes{0x10, 0x09}) {
                        ++queries_;
                        answer = answers_;
                    } else {
                        received_.push_back(std::move(payload));
                    }
                }
            }
            if (answer) {
                SendFrame(BridgeAnswer(serial_number_));
            }
        }
    }

    const uint32_t serial_number_;
    const bool answers_;
    std::string path_;
    int master_ = -1;
    std::atomic<bool> stop_{false};
    std::thread server_;
    // Serialises the writes of the serving and the test threads, and guards frames_.
    std::mutex write_mutex_;
    FrameWriter frames_;
    std::mutex mutex_;  // guards what follows
    std::vector<Bytes> received_;
    size_t queries_ = 0;
    int first_byte_ = -1;
};

class UsbLinkTest : public ::testing::Test {
  protected:
    void StartLink(const std::string& port) {
        link_ = new UsbLink();
        ASSERT_TRUE(link_->Init(MakeRegistry(), recorder_, QString::fromStdString(port)));
        connections_ = CountConnections(link_);
        thread_ = WorkerThread::Create<NodeLink>(link_, &NodeLink::Run, &NodeLink::QuitThread,
                                                 &NodeLink::Shutdown, "USB link");
        ASSERT_FALSE(thread_.IsEmpty());
        thread_.Start();
    }
    void TearDown() override { EXPECT_TRUE(StopAndJoin(thread_)); }

    std::shared_ptr<VexPacketRecorder> recorder_ = std::make_shared<VexPacketRecorder>();
    UsbLink* link_ = nullptr;
    std::shared_ptr<std::atomic<int>> connections_;
    WorkerThread thread_;
};

// First in the file: the failure counter is shared by every serial link of
// the process, and the first failure is the one reported.
TEST_F(UsbLinkTest, AMissingPortIsReportedAtTheFirstFailureAndTheLinkStillStops) {
    const uint8_t failures_before = UsbLink::GetOpenFailureCount();
    const std::string port = "/tmp/vorav-usb-link-no-such-port-" + std::to_string(getpid());
    StdoutCapture capture;
    StartLink(port);
    ASSERT_TRUE(SpinUntil([&] { return UsbLink::GetOpenFailureCount() != failures_before; }));
    ASSERT_TRUE(StopAndJoin(thread_));
    const std::string text = capture.Stop();
    EXPECT_NE(text.find("NodeLink: thread running...\n"), std::string::npos);
    if (failures_before == 0) {
        EXPECT_NE(text.find("NodeLink: failed to open serial port " + port + "\n"), std::string::npos)
            << text;
    }
    EXPECT_EQ(connections_->load(), 0);
}

TEST_F(UsbLinkTest, IdentifiesTheDeviceAndCarriesPayloadsBothWays) {
    PtyDevice device(kLinkDevice, true);
    StartLink(device.Path());
    ASSERT_TRUE(SpinUntil([&] { return connections_->load() == 1; }));
    EXPECT_EQ(link_->GetSerialNumber(), kLinkDevice);
    EXPECT_EQ(link_->GetPortName(), device.Path());
    EXPECT_EQ(device.FirstByte(), 0x0A) << "a line feed before any frame";

    // Every payload type, in one stream cut into uneven pieces.
    Bytes stream;
    FrameWriter writer;
    const Bytes payloads[] = {
        RxPassthrough(SyncPacket(Sync(1, kMasterId)), 11, 0),
        RxPassthrough(AnnounceResponse(0x0D0D0D0D), 12, 0),
        RxPassthrough(TagReport(2, kTag1Id, {7, 7}), 13, 0),
        RxPassthrough(Concat({AnchorReportHead(3, kAnchor2Id, 1), CompactItem(4, kMasterId, 16, 14)}), 15, 0),
        TxPassthrough(SyncPacket(Sync(5, kMasterId))),
        {0x12, 0x06},
    };
    for (const Bytes& payload : payloads) {
        const Bytes frame = writer.Frame(payload);
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    std::mt19937 random(7);
    for (size_t at = 0; at < stream.size();) {
        const size_t piece = std::min(stream.size() - at, static_cast<size_t>(random() % 40 + 1));
        device.Send(
            Bytes(stream.begin() + static_cast<long>(at), stream.begin() + static_cast<long>(at + piece)));
        at += piece;
    }
    ASSERT_TRUE(SpinUntil([&] { return ItemsOf(*recorder_).size() == 7; }));
    const std::vector<uint16_t> expected = {VexType::kTimedRx,    VexType::kDiscovery, VexType::kPing,
                                            VexType::kTimedRx,    VexType::kTimedRx,   VexType::kTick,
                                            VexType::kSspResponse};
    const auto items = ItemsOf(*recorder_);
    for (size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(items[i].type, expected[i]) << i;
    }

    // From this thread to the device, framed.
    const Bytes command = {0x11, 0x02, 0x01};
    link_->Publish(command.data(), static_cast<uint32_t>(command.size()));
    ASSERT_TRUE(SpinUntil([&] { return !device.Received().empty(); }));
    EXPECT_EQ(device.Received().front(), command);
}

TEST_F(UsbLinkTest, UnpluggedDeviceIsIdentifiedOnceMoreWhenItComesBack) {
    PtyDevice device(kLinkDevice, true);
    StdoutCapture capture;
    StartLink(device.Path());
    ASSERT_TRUE(SpinUntil([&] { return connections_->load() == 1; }));

    device.Unplug();
    ASSERT_TRUE(SpinUntil([&] { return link_->GetSerialNumber() == 0; }));
    device.PlugIn();
    ASSERT_TRUE(SpinUntil([&] { return connections_->load() == 2; }));
    EXPECT_EQ(link_->GetSerialNumber(), kLinkDevice);

    // Once the link reads again, one frame through is the proof that the
    // plug-in did not lead to a further identification meanwhile.
    device.SendFrame({0x12, 0x00});
    ASSERT_TRUE(SpinUntil([&] { return recorder_->PacketCount() == 1; }));
    EXPECT_EQ(connections_->load(), 2);
    ASSERT_TRUE(StopAndJoin(thread_));
    const std::string text = capture.Stop();
    // The error, the port closed, the identification loop run again: the
    // same lines, in the same order, as a restart of the link's thread.
    const size_t error = text.find("encountered a resource error; restarting the connection!\n");
    ASSERT_NE(error, std::string::npos) << text;
    const size_t closed = text.find("UsbLink: closed serial connection\n", error);
    ASSERT_NE(closed, std::string::npos) << text;
    EXPECT_NE(text.find("NodeLink: thread running...\n", closed), std::string::npos) << text;
}

TEST_F(UsbLinkTest, NoiseAndHostileFramesPublishNothingButTheValidFrames) {
    PtyDevice device(kLinkDevice, true);
    StartLink(device.Path());
    ASSERT_TRUE(SpinUntil([&] { return connections_->load() == 1; }));

    std::mt19937 random(99);
    Bytes noise(5000);
    for (auto& b : noise) {
        b = static_cast<uint8_t>(random());
    }
    FrameWriter writer;
    Bytes bad_checksum = writer.Frame(RxPassthrough(SyncPacket(Sync(1, 1)), 1, 0));
    bad_checksum.back() ^= 0x01;
    const Bytes too_long = {0xC1, 0xFB, 0x06, 0x00, 0x01};
    Bytes lying_count = writer.Frame(RxPassthrough(AnchorReportHead(1, kAnchor1Id, 200), 1, 0));
    const Bytes partial = Bytes(lying_count.begin(), lying_count.begin() + 9);
    device.Send(noise);
    device.Send(Bytes(SSP_MAX_FRAME_LENGTH, 0));  // ends whatever frame the noise began
    device.Send(bad_checksum);
    device.Send(too_long);
    device.Send(Bytes(SSP_MAX_FRAME_LENGTH, 0));
    device.Send(partial);
    device.Send(Bytes(SSP_MAX_FRAME_LENGTH, 0));
    device.Send(writer.Frame({0x7E, 1, 2, 3}));
    device.Send(lying_count);
    device.Send(writer.Frame({0x12, 0x06}));
    ASSERT_TRUE(SpinUntil([&] {
        const auto items = ItemsOf(*recorder_);
        return !items.empty() && items.back().type == VexType::kSspResponse;
    }));
    // The anchor report claiming 200 items holds none: an empty packet of
    // the anchor's and the report's own reception; then the response.
    const auto items = ItemsOf(*recorder_);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].type, VexType::kTimedRx);
    EXPECT_EQ(items[0].packet_serial, kLinkDevice);
}

TEST_F(UsbLinkTest, ADeviceThatNeverAnswersIsAskedAgainAndNeverConnects) {
    PtyDevice device(kLinkDevice, false);
    StartLink(device.Path());
    ASSERT_TRUE(SpinUntil([&] { return device.Queries() >= 3; }));
    EXPECT_EQ(connections_->load(), 0);
    EXPECT_EQ(link_->GetLinkState(), NodeLink::kStateOpen);
    EXPECT_EQ(link_->GetSerialNumber(), 0u);
    // Stopped from this thread in the middle of the identification loop.
    EXPECT_TRUE(StopAndJoin(thread_));
}

TEST_F(UsbLinkTest, ShutdownWhileTheUnpluggedDeviceIsAwayEndsTheLink) {
    PtyDevice device(kLinkDevice, true);
    StartLink(device.Path());
    ASSERT_TRUE(SpinUntil([&] { return connections_->load() == 1; }));
    device.Unplug();
    ASSERT_TRUE(SpinUntil([&] { return link_->GetSerialNumber() == 0; }));
    // The link is back in its identification loop, failing to open the port.
    EXPECT_TRUE(StopAndJoin(thread_));
    EXPECT_EQ(connections_->load(), 1);
}

TEST_F(UsbLinkTest, ShutdownBeforeTheThreadRunsIsNotLost) {
    PtyDevice device(kLinkDevice, true);
    link_ = new UsbLink();
    ASSERT_TRUE(link_->Init(MakeRegistry(), recorder_, QString::fromStdString(device.Path())));
    connections_ = CountConnections(link_);
    thread_ = WorkerThread::Create<NodeLink>(link_, &NodeLink::Run, &NodeLink::QuitThread,
                                             &NodeLink::Shutdown, "USB link");
    thread_.RequestStop();
    thread_.Start();
    EXPECT_TRUE(thread_.Join(kJoinMs));
    EXPECT_EQ(connections_->load(), 0);
    EXPECT_EQ(device.FirstByte(), -1) << "the port was never opened";
}

}  // namespace

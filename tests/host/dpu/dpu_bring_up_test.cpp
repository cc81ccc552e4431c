// The location engine's control side on the wire: the frames the master gets
// during the bring-up, in order and with their waits (shortened), the ticks,
// the admission of announcing devices one per tick with their 0x0104 items
// and sync-packet commands, the reset, and the guards of the bring-up's
// event-processing waits.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QJsonArray>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "config/flat_settings_interface.h"
#include "config/settings.h"
#include "host/dpu/dpu.h"
#include "protocol/packets/set_rf_settings_packet.h"
#include "protocol/vex/vex_data_types.h"
#include "support/dpu_test_site.h"
#include "support/master_frames.h"
#include "support/stdout_capture.h"

namespace {

using namespace dpu_test_site;
using namespace master_frames;
using Bytes = std::vector<uint8_t>;
using CommandList = Dpu::CommandList;
using std::chrono::milliseconds;

// The tests wait 125 times shorter than the program (a 5050 ms wait takes 40 ms).
constexpr int kTimeScale = 125;

int PeriodsMs(uint32_t periods, uint32_t syncPeriod) {
    return static_cast<int>(periods * syncPeriod * Dpu::kNetworkTimeUnitMs);
}

// The program's own waits (the defaults), shortened.
Dpu::BringUpTimings ShortTimings(uint32_t syncPeriod) {
    Dpu::BringUpTimings timings;
    for (int* wait :
         {&timings.connect_wait_ms, &timings.rf_switch_delay_ms, &timings.master_start_delay_ms,
          &timings.reset_master_sleep_ms, &timings.reset_deconfigure_sleep_ms, &timings.reset_wait_ms}) {
        *wait /= kTimeScale;
    }
    timings.stop_attempt_sleep_ms = PeriodsMs(Dpu::kStopAttemptSyncPeriods, syncPeriod) / kTimeScale;
    timings.master_start_sleep_ms = PeriodsMs(Dpu::kMasterStartSyncPeriods, syncPeriod) / kTimeScale;
    return timings;
}

VexDataItem Item(const void* record, uint16_t type, uint16_t size) {
    return VexDataItem(type, size, record);
}

VexDataItem TickItem(uint32_t networkTime, uint64_t transmitTime, uint32_t field15 = 0) {
    vex_data_tick_t tick{};
    tick.serial_number = kMaster;
    tick.network_time = networkTime;
    tick.field_15 = field15;
    tick.transmit_time = transmitTime;
    return Item(&tick, VexType::kTick, sizeof(tick));
}

VexDataItem SspItem(uint8_t command) {
    return VexDataItem(VexType::kSspResponse, 1, &command);
}

VexDataItem DiscoveryItem(uint32_t serial) {
    vex_data_discovery_t discovery{};
    discovery.serial_number = serial;
    return Item(&discovery, VexType::kDiscovery, sizeof(discovery));
}

VexDataItem SmoothingItem(uint16_t source, uint16_t destination, uint32_t factor) {
    const vex_data_smoothing_factor_t request{source, destination, factor};
    return Item(&request, VexType::kSmoothingFactor, sizeof(request));
}

// The 0x0104 items published, as (serial number, outcome).
std::vector<std::pair<uint32_t, uint8_t>> Admissions(const RecordingPublisher& publisher) {
    std::vector<std::pair<uint32_t, uint8_t>> admissions;
    for (const VexPacket& packet : publisher.Output()) {
        for (const auto& item : packet.GetDataItems()) {
            vex_data_time_reservation_t reservation;
            if (VexData_Read(*item, &reservation)) {
                EXPECT_EQ(packet.GetSerialNumber(), 0u);
                admissions.emplace_back(reservation.serial_number, reservation.outcome);
            }
        }
    }
    return admissions;
}

class DpuBringUpTest : public ::testing::Test {
  protected:
    void SetUp() override { Start(options_t()); }

    void Start(const options_t& options) {
        site_ = Install(options);
        dpu_.reset(new Dpu());
        {
            StdoutCapture quiet;
            ASSERT_TRUE(dpu_->Init({}, site_.node_manager, site_.scheduler, site_.budget));
        }
        dpu_->SetBringUpTimingsForTesting(ShortTimings(Period()));
        dpu_->AttachPublisher(publisher_);
        master_.reset(new RecordingLink(kMaster, "master-port"));
        AcknowledgeStops(master_.get(), kMaster);
        // As after an earlier connection of the master.
        dpu_->GetMaster()->SetNodeLink(master_.get());
    }

    // The master answers every stop-sync frame, as the device does through
    // its link and the Internal stream.
    void AcknowledgeStops(RecordingLink* link, uint32_t answeringSerial) {
        Dpu* dpu = dpu_.get();
        link->SetReply([dpu, answeringSerial](const Bytes& frame) {
            if (frame == kStopSync) {
                dpu->RxVexSsp(answeringSerial, SspItem(6));
            }
        });
    }

    uint32_t Period() const { return dpu_->GetSyncPeriod(); }

    // Brings the master to normal sync the short way (no fast sync phase).
    void InitializeMaster() {
        StdoutCapture quiet;
        dpu_->InitializeNetwork(master_.get());
        ASSERT_TRUE(SpinUntil([this] { return dpu_->IsMasterInitialized() && FindNormalStart() >= 0; }));
        master_->Clear();
        publisher_->Clear();
    }

    // Every frame of the master's whole bring-up with fast sync, before any tick.
    std::vector<Bytes> WholeBringUp() const {
        const TIME_RESERVATION_T announcement = site_.scheduler->GetTimeSlot(
            RfScheduler::kAnnouncementOwner, site_.budget.GetSlottime(RfSchedulerSettings::kSlotAnnouncement),
            Period());
        Bytes normalStart = {0x11, 0x00, 0, 0, 0, 0, 0x01, 0, 0, 0, 0, 127, 2};
        wire::write_be32(normalStart.data() + 2, Period());
        wire::write_be32(normalStart.data() + 7, announcement.start);
        // Network id 1: the master is registered first.
        const Bytes setAddress = {0x11, 0x05, 0x00, 0x08, 0x01, 0x12, 0x08,
                                  0x01, 0x00, 0x00, 0x01, 0x00, 0x01};
        // The counter is 0: the wired setup's RF switch is due at 5.5 periods.
        const uint32_t setupTime = static_cast<uint32_t>(5.5 * Period());
        return {
            kRxPassthroughOff,
            kTxPassthroughOff,
            kStopSync,
            Concat({0x11, 0x05, 0x00, 0x14, 0x01}, RfSettingsCommand(setupTime, 1)),
            kRxPassthroughOn,
            kRxPassthroughOn,
            kRxPassthroughOn,
            kTxPassthroughOn,
            kFastStartSync,
            // The switch at network time 7.0 s.
            Concat({0x11, 0x05, 0x00, 0x14, 0x01}, RfSettingsCommand(6825273, 0)),
            kRxPassthroughOff,
            kTxPassthroughOff,
            kStopSync,
            kRxPassthroughOn,
            kTxPassthroughOn,
            setAddress,
            normalStart,
        };
    }

    int FindNormalStart() const {
        const auto frames = master_->Frames();
        for (size_t i = 0; i < frames.size(); ++i) {
            if (frames[i].bytes.size() == 13 && frames[i].bytes[0] == 0x11 && frames[i].bytes[1] == 0x00 &&
                frames[i].bytes[12] == 2) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }

    site_t site_;
    std::shared_ptr<RecordingPublisher> publisher_ = std::make_shared<RecordingPublisher>();
    std::unique_ptr<Dpu> dpu_;
    std::unique_ptr<RecordingLink> master_;
};

TEST_F(DpuBringUpTest, MasterConnectionRunsTheWholeBringUpInOrderWithItsWaits) {
    ASSERT_GT(Period(), 0u);
    {
        StdoutCapture quiet;
        dpu_->InitializeNetwork(master_.get());
        ASSERT_TRUE(SpinUntil([this] { return FindNormalStart() >= 0; }));
    }
    const auto frames = master_->Frames();
    ASSERT_EQ(BytesOf(frames), WholeBringUp());
    EXPECT_TRUE(dpu_->IsMasterInitialized());

    const Dpu::BringUpTimings timings = ShortTimings(Period());
    auto gap = [&frames](size_t from, size_t to) {
        return std::chrono::duration_cast<milliseconds>(frames[to].when - frames[from].when).count();
    };
    // Waits can only run long on a loaded machine, never short. The timer
    // starts after the fast start sync went out; Qt may fire it up to a
    // millisecond early.
    EXPECT_GE(gap(2, 3), timings.connect_wait_ms);
    EXPECT_GE(gap(8, 9), timings.rf_switch_delay_ms);
    EXPECT_GE(gap(8, 10), timings.master_start_delay_ms - 1);
    EXPECT_GE(gap(12, 13), timings.master_start_sleep_ms);
}

TEST(DpuBringUpTimingsTest, TheProgramWaitsItsOwnDurationsWhichTheTestsShorten) {
    const Dpu::BringUpTimings program;
    EXPECT_EQ(program.connect_wait_ms, 5050);
    EXPECT_EQ(program.rf_switch_delay_ms, 500);
    EXPECT_EQ(program.master_start_delay_ms, 7000);
    // Negative: from the sync period, 2 periods per stop attempt and 20
    // before the normal start.
    EXPECT_EQ(program.stop_attempt_sleep_ms, -1);
    EXPECT_EQ(program.master_start_sleep_ms, -1);
    EXPECT_EQ(Dpu::kStopAttemptSyncPeriods, 2u);
    EXPECT_EQ(Dpu::kMasterStartSyncPeriods, 20u);
    EXPECT_EQ(program.reset_master_sleep_ms, 4);
    EXPECT_EQ(program.reset_deconfigure_sleep_ms, 100);
    EXPECT_EQ(program.reset_wait_ms, 5000);
}

TEST_F(DpuBringUpTest, MasterReconnectingWhileTheTimerStartsItIsBroughtUpOnceOnTheNewLink) {
    RecordingLink second(kMaster, "second-port");
    AcknowledgeStops(&second, kMaster);
    dpu_->ConnectLink(&second);
    // The first stop is acknowledged; the link connects again at the timer's
    // stop, and its queued connection is taken by the stop loop's events.
    int stops = 0;
    Dpu* dpu = dpu_.get();
    master_->SetReply([dpu, &stops, &second](const Bytes& frame) {
        if (frame == kStopSync && ++stops == 1) {
            dpu->RxVexSsp(kMaster, SspItem(6));
        } else if (frame == kStopSync && stops == 2) {
            emit second.DeviceConnected(&second);
        }
    });
    {
        StdoutCapture quiet;
        dpu_->InitializeNetwork(master_.get());
        ASSERT_TRUE(SpinUntil([&second] {
            const auto frames = second.Frames();
            return !frames.empty() && frames.back().bytes.size() == 13 && frames.back().bytes[12] == 2;
        }));
    }
    // The old link went as far as the timer's stop and was shut down; the new
    // one got one whole bring-up, fast sync and timer included.
    const std::vector<Bytes> whole = WholeBringUp();
    EXPECT_EQ(BytesOf(master_->Frames()), std::vector<Bytes>(whole.begin(), whole.begin() + 13));
    EXPECT_TRUE(master_->IsShuttingDown());
    EXPECT_EQ(BytesOf(second.Frames()), whole);
    EXPECT_EQ(dpu_->GetMaster()->GetNodeLink().data(), &second);
    EXPECT_FALSE(dpu_->IsMasterStartPending());
}

TEST_F(DpuBringUpTest, WithAnotherNetworkConfiguredTheMasterStartsNormallyAtOnce) {
    options_t options;
    options.with_alien_network = true;
    Start(options);
    {
        StdoutCapture quiet;
        dpu_->InitializeNetwork(master_.get());
    }
    // Everything ran inside the call: no timer was armed.
    EXPECT_TRUE(dpu_->IsMasterInitialized());
    const auto frames = BytesOf(master_->Frames());
    ASSERT_GE(frames.size(), 8u);
    for (const Bytes& frame : frames) {
        EXPECT_NE(frame, kFastStartSync);
        EXPECT_NE(frame, Concat({0x11, 0x05, 0x00, 0x14, 0x01}, RfSettingsCommand(6825273, 0)));
    }
    EXPECT_EQ(frames.back().size(), 13u);
    EXPECT_EQ(frames.back()[12], 2);
}

TEST_F(DpuBringUpTest, SecondMasterConnectionDuringAWaitStartsTheBringUpOverWithoutNesting) {
    RecordingLink second(kMaster, "second-port");
    AcknowledgeStops(&second, kMaster);
    // Arrives while the first bring-up waits 40 ms for the master.
    QTimer::singleShot(5, [this, &second] { dpu_->InitializeNetwork(&second); });
    {
        StdoutCapture quiet;
        dpu_->InitializeNetwork(master_.get());
        ASSERT_TRUE(SpinUntil([&second] {
            const auto frames = second.Frames();
            return !frames.empty() && frames.back().bytes.size() == 13 && frames.back().bytes[12] == 2;
        }));
    }
    // The first link was shut down and got only the first deconfiguration.
    EXPECT_TRUE(master_->IsShuttingDown());
    EXPECT_EQ(BytesOf(master_->Frames()), kDeconfiguration);
    // The second got exactly one whole bring-up: one fast start, one normal start.
    const auto frames = BytesOf(second.Frames());
    EXPECT_EQ(std::count(frames.begin(), frames.end(), kFastStartSync), 1);
    EXPECT_EQ(std::count_if(frames.begin(), frames.end(),
                            [](const Bytes& frame) { return frame.size() == 13 && frame[12] == 2; }),
              1);
    EXPECT_EQ(frames.front(), kRxPassthroughOff);
}

TEST_F(DpuBringUpTest, EngineDeletedByAnEventDuringAWaitIsNotTouchedAgain) {
    Dpu* dpu = dpu_.release();
    bool deleted = false;
    QTimer::singleShot(5, [dpu, &deleted] {
        delete dpu;
        deleted = true;
    });
    {
        StdoutCapture quiet;
        dpu->InitializeNetwork(master_.get());
    }
    ASSERT_TRUE(deleted);
    // Only the deconfiguration went out before the engine was gone.
    EXPECT_EQ(BytesOf(master_->Frames()), kDeconfiguration);
}

TEST_F(DpuBringUpTest, ConnectionQueuedForALinkDeletedMeanwhileIsDropped) {
    const std::shared_ptr<DwNode> wired = site_.node_manager->FindAnchorBySerialNumber(kWiredAnchor);
    ASSERT_TRUE(wired);
    // As when the link's thread ends before the engine gets to the queued
    // connection: the link is deleted with its call still waiting.
    auto* gone = new RecordingLink(kWiredAnchor, "gone-port");
    dpu_->ConnectLink(gone);
    emit gone->DeviceConnected(gone);
    delete gone;
    {
        StdoutCapture quiet;
        QCoreApplication::processEvents();
    }
    EXPECT_TRUE(wired->GetNodeLink().isNull());

    // A link still alive when its call arrives is taken, and only then.
    RecordingLink alive(kWiredAnchor, "alive-port");
    dpu_->ConnectLink(&alive);
    emit alive.DeviceConnected(&alive);
    EXPECT_TRUE(wired->GetNodeLink().isNull());
    {
        StdoutCapture quiet;
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(wired->GetNodeLink().data(), &alive);
    EXPECT_EQ(alive.Frames().size(), 4u);
}

TEST_F(DpuBringUpTest, ResetDuringAWaitStopsTheBringUpAndEveryTickRepeatsTheNetworkReset) {
    RecordingLink wired(kWiredAnchor, "wired-port");
    {
        StdoutCapture quiet;
        dpu_->InitializeNetwork(&wired);
    }
    // Wired anchor set up: RF settings once, receive passthrough on three times.
    EXPECT_EQ(wired.Frames().size(), 4u);
    wired.Clear();

    QTimer::singleShot(5, [this] { dpu_->ResetNetwork(); });
    {
        StdoutCapture quiet;
        dpu_->InitializeNetwork(master_.get());
    }
    EXPECT_TRUE(dpu_->HasNetworkReset());
    const auto frames = BytesOf(master_->Frames());
    // First deconfiguration, then the reset 2 s of network time ahead of the
    // counter (0 here), then the reset's own deconfiguration; nothing else.
    const std::vector<Bytes> expected = {
        kRxPassthroughOff, kTxPassthroughOff,
        kStopSync,         {0x11, 0x05, 0x00, 0x06, 0x01, 0x17, 0x06, 0x00, 0x1D, 0xC1, 0x7E},
        kRxPassthroughOff, kTxPassthroughOff,
        kStopSync,
    };
    EXPECT_EQ(frames, expected);
    EXPECT_EQ(BytesOf(wired.Frames()), std::vector<Bytes>(5, kRxPassthroughOff));

    master_->Clear();
    dpu_->RxVexTick(kMaster, TickItem(1000, 5000));
    dpu_->RxVexTick(kMaster, TickItem(1100, 6000));
    EXPECT_EQ(BytesOf(master_->Frames()), (std::vector<Bytes>{kNetworkReset, kNetworkReset}));
    // A master that connects after the reset is only stopped again.
    master_->Clear();
    {
        StdoutCapture quiet;
        dpu_->InitializeNetwork(master_.get());
    }
    EXPECT_EQ(BytesOf(master_->Frames()), kDeconfiguration);
}

TEST_F(DpuBringUpTest, MasterReconnectingDuringOrAfterAResetGetsTheResetsOnItsNewLink) {
    for (const bool duringReset : {true, false}) {
        SCOPED_TRACE(duringReset);
        Start(options_t());
        RecordingLink second(kMaster, "second-port");
        AcknowledgeStops(&second, kMaster);
        dpu_->ConnectLink(&second);
        if (duringReset) {
            // The link connects again while the reset waits for the old one's stop.
            master_->SetReply([&second](const Bytes& frame) {
                if (frame == kStopSync) {
                    emit second.DeviceConnected(&second);
                }
            });
        }
        {
            StdoutCapture quiet;
            dpu_->ResetNetwork();
            if (!duringReset) {
                emit second.DeviceConnected(&second);
                QCoreApplication::processEvents();
            }
        }
        // The old link is shut down, the new one attached and stopped.
        EXPECT_TRUE(master_->IsShuttingDown());
        EXPECT_EQ(dpu_->GetMaster()->GetNodeLink().data(), &second);
        EXPECT_EQ(BytesOf(second.Frames()), kDeconfiguration);
        master_->Clear();
        second.Clear();
        dpu_->RxVexTick(kMaster, TickItem(1000, 5000));
        EXPECT_EQ(BytesOf(second.Frames()), std::vector<Bytes>{kNetworkReset});
        EXPECT_TRUE(master_->Frames().empty());
    }
}

TEST_F(DpuBringUpTest, TicksFollowOnlyTheMasterAndCarryItsCommandListAtFivePeriods) {
    // Before the master is initialised every tick repeats the RF settings,
    // due 5.5 periods after the counter, which stays 0.
    dpu_->RxVexTick(kMaster, TickItem(5 * Period(), 1000));
    const Bytes rfSettings =
        Concat({0x11, 0x04, 0x00, 0x14, 0x01}, RfSettingsCommand(static_cast<uint32_t>(5.5 * Period()), 1));
    EXPECT_EQ(BytesOf(master_->Frames()), std::vector<Bytes>{rfSettings});
    EXPECT_EQ(dpu_->GetNetworkTimeCounter(), 0u);

    InitializeMaster();
    // The counter is the tick's network time plus its field at 19.
    dpu_->RxVexTick(kMaster, TickItem(5 * Period() - 7, 2000, 7));
    EXPECT_EQ(dpu_->GetNetworkTimeCounter(), 5u * Period());
    auto frames = BytesOf(master_->Frames());
    ASSERT_EQ(frames.size(), 1u);
    // Execute-sync-commands: address set, address select, LED 0x33.
    const Bytes& list = frames[0];
    ASSERT_EQ(list.size(), 5u + 8 + 4 + 11);
    EXPECT_EQ(Bytes(list.begin(), list.begin() + 5), (Bytes{0x11, 0x05, 0x00, 23, 3}));
    EXPECT_EQ(Bytes(list.begin() + 5, list.begin() + 17),
              (Bytes{0x12, 0x08, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x13, 0x04, 0x00, 0x01}));
    EXPECT_EQ(list[17], 0x10);
    EXPECT_EQ(list[27], 0x33);
    // Timed from half a period after the counter, with the counter as base:
    // the LED at that plus the counter, two periods and 70 units, for ten periods.
    const uint32_t counter = 5 * Period();
    EXPECT_EQ(wire::read_be32(list.data() + 19), counter + Period() / 2 + counter + 2 * Period() + 70);
    EXPECT_EQ(wire::read_be32(list.data() + 23), 10 * Period());

    // Any other counter, a jump past it, another device's tick and a short
    // tick send nothing.
    master_->Clear();
    dpu_->RxVexTick(kMaster, TickItem(5 * Period() + 1, 3000));
    dpu_->RxVexTick(kMaster, TickItem(6 * Period(), 4000));
    dpu_->RxVexTick(kAnchors[0], TickItem(5 * Period(), 5000));
    EXPECT_EQ(dpu_->GetNetworkTimeCounter(), 6u * Period());
    vex_data_tick_t tick{};
    tick.network_time = 5 * Period();
    StdoutCapture capture;
    dpu_->RxVexTick(kMaster, VexDataItem(VexType::kTick, 30, &tick));
    EXPECT_EQ(capture.Stop(), "DPU: Received Bad Sync...\n");
    EXPECT_TRUE(master_->Frames().empty());
    EXPECT_EQ(dpu_->GetNetworkTimeCounter(), 6u * Period());
}

TEST_F(DpuBringUpTest, AdmitsOneDevicePerTickWithItsReservationItemAndCommands) {
    InitializeMaster();
    const uint32_t counter = 1000 * Period();
    dpu_->RxVexTick(kMaster, TickItem(counter, 1000));
    master_->Clear();

    StdoutCapture quiet;
    dpu_->RxVexDiscovery(kAnchors[0], DiscoveryItem(kTag));
    // A second announcement before the next tick is dropped whole.
    dpu_->RxVexDiscovery(kAnchors[0], DiscoveryItem(kSecondTag));
    EXPECT_EQ(Admissions(*publisher_), (std::vector<std::pair<uint32_t, uint8_t>>{{kTag, kVexAdmissionTag}}));
    auto frames = BytesOf(master_->Frames());
    ASSERT_EQ(frames.size(), 1u);
    // Set-sync-commands with the tag's six commands: address set (id 6: master,
    // four anchors, then the tag), select, LED 0x30, transmit, user data
    // size, sensor settings.
    const Bytes& tagCommands = frames[0];
    const uint16_t length = wire::read_be16(tagCommands.data() + 2);
    EXPECT_EQ(tagCommands[0], 0x11);
    EXPECT_EQ(tagCommands[1], 0x04);
    EXPECT_EQ(tagCommands[4], 6);
    EXPECT_EQ(length, 8u + 4 + 11 + 12 + 4 + 7);
    ASSERT_EQ(tagCommands.size(), 5u + length);
    EXPECT_EQ(Bytes(tagCommands.begin() + 5, tagCommands.begin() + 17),
              (Bytes{0x12, 0x08, 0x01, 0x01, 0x00, 0x21, 0x00, 0x06, 0x13, 0x04, 0x00, 0x06}));
    // The tag's beacon slot times its commands: the LED two periods and 70
    // units after slot start plus counter.
    const TIME_RESERVATION_T slot = site_.scheduler->GetTimeSlot(
        kTag, site_.budget.GetSlottime(RfSchedulerSettings::kSlotTagBeacon), Period());
    ASSERT_NE(slot.duration, 0u);
    EXPECT_EQ(tagCommands[17], 0x10);
    EXPECT_EQ(wire::read_be32(tagCommands.data() + 19), slot.start + counter + 2 * Period() + 70);
    EXPECT_EQ(tagCommands[28], 0x14);

    // After the next tick the second tag is admitted in a slot of its own.
    publisher_->Clear();
    master_->Clear();
    dpu_->RxVexTick(kMaster, TickItem(counter + Period(), 2000));
    dpu_->RxVexDiscovery(kAnchors[0], DiscoveryItem(kSecondTag));
    EXPECT_EQ(Admissions(*publisher_),
              (std::vector<std::pair<uint32_t, uint8_t>>{{kSecondTag, kVexAdmissionTag}}));
    ASSERT_EQ(master_->Frames().size(), 1u);
    EXPECT_NE(
        site_.scheduler
            ->GetTimeSlot(kSecondTag, site_.budget.GetSlottime(RfSchedulerSettings::kSlotTagBeacon), Period())
            .start,
        slot.start);
}

TEST_F(DpuBringUpTest, AdmissionOutcomesOfAnchorsAndUnknownDevices) {
    InitializeMaster();
    struct Case {
        uint32_t serial;
        uint8_t outcome;
        size_t commands;
        uint16_t address;
    };
    // Wired anchor: 4 commands; UWB anchor: 7 with its report slot; a
    // disabled tag is unknown to the registry: the unconfigured list with
    // address 0x7FFF.
    const Case cases[] = {{kWiredAnchor, kVexAdmissionWiredAnchor, 4, 3},
                          {kAnchors[0], kVexAdmissionWirelessAnchor, 7, 2},
                          {kDisabledTag, kVexAdmissionUnknownSerialNumber, 3, 0x7FFF},
                          {0x0BADBEEF, kVexAdmissionUnknownSerialNumber, 3, 0x7FFF}};
    uint32_t counter = 100 * Period();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.serial);
        dpu_->RxVexTick(kMaster, TickItem(counter, counter));
        counter += Period();
        master_->Clear();
        publisher_->Clear();
        {
            StdoutCapture quiet;
            dpu_->RxVexDiscovery(kAnchors[1], DiscoveryItem(c.serial));
        }
        EXPECT_EQ(Admissions(*publisher_),
                  (std::vector<std::pair<uint32_t, uint8_t>>{{c.serial, c.outcome}}));
        const auto frames = BytesOf(master_->Frames());
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0][4], c.commands);
        EXPECT_EQ(wire::read_be32(frames[0].data() + 7), c.serial);
        EXPECT_EQ(wire::read_be16(frames[0].data() + 11), c.address);
    }
    // Serial numbers 0 and 0xFFFFFFFF are not devices: nothing happens.
    dpu_->RxVexTick(kMaster, TickItem(counter, counter));
    master_->Clear();
    publisher_->Clear();
    dpu_->RxVexDiscovery(kAnchors[1], DiscoveryItem(0));
    dpu_->RxVexDiscovery(kAnchors[1], DiscoveryItem(0xFFFFFFFF));
    dpu_->RxVexDiscovery(kAnchors[1], VexDataItem(VexType::kDiscovery, 3, "abc"));
    EXPECT_TRUE(Admissions(*publisher_).empty());
    EXPECT_TRUE(master_->Frames().empty());
}

TEST_F(DpuBringUpTest, NodeOfAnotherNetworkIsSentToItsChannelWithItsOwnCommands) {
    options_t options;
    options.with_alien_network = true;
    Start(options);
    InitializeMaster();
    dpu_->RxVexTick(kMaster, TickItem(100 * Period(), 1000));
    master_->Clear();
    publisher_->Clear();
    StdoutCapture capture;
    dpu_->RxVexDiscovery(kAnchors[0], DiscoveryItem(kAlien));
    EXPECT_EQ(
        capture.Stop(),
        "DPU: received announcement packet from node with serial number: 02:00:0031\n"
        "DPU: Node 02:00:0031 belongs to a different network. Sending to channel 2, preamble code 4, prf "
        "16 MHz.\n");
    EXPECT_EQ(Admissions(*publisher_),
              (std::vector<std::pair<uint32_t, uint8_t>>{{kAlien, kVexAdmissionAlienNode}}));
    // Its list from the registry is kept, timed from no slot at all.
    CommandList expected = site_.node_manager->GetCommandsForNodeWithSerialNumber(kAlien, site_.budget);
    const auto frames = BytesOf(master_->Frames());
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0][4], expected.size());
}

TEST_F(DpuBringUpTest, TagWithoutAFreeSlotIsAdmittedAsAnUnconfiguredDevice) {
    InitializeMaster();
    // Every beacon-sized gap of the cycle taken.
    const uint32_t beacon = site_.budget.GetSlottime(RfSchedulerSettings::kSlotTagBeacon);
    for (uint32_t owner = 0x05000001; site_.scheduler->RequestTimeSlot(owner, beacon, Period()).duration != 0;
         ++owner) {
    }
    dpu_->RxVexTick(kMaster, TickItem(100 * Period(), 1000));
    master_->Clear();
    publisher_->Clear();
    StdoutCapture capture;
    dpu_->RxVexDiscovery(kAnchors[0], DiscoveryItem(kTag));
    const std::string printed = capture.Stop();
    // No slot: the beacon is longer than what is left over, or it is not and
    // the anchor report has no room.
    const bool beaconTooLong = beacon > site_.budget.GetSlottime(RfSchedulerSettings::kSlotRemainder);
    const uint8_t outcome = beaconTooLong ? kVexAdmissionNoFreeTimeSlot : kVexAdmissionNoRoomInAnchorReport;
    EXPECT_EQ(Admissions(*publisher_), (std::vector<std::pair<uint32_t, uint8_t>>{{kTag, outcome}}));
    EXPECT_EQ(printed,
              "DPU: received announcement packet from node with serial number: 01:01:0021\n" +
                  std::string(beaconTooLong
                                  ? "DPU: Not enough time slots to schedule node 01:01:0021. Treating it as "
                                    "an unconfigured device.\n"
                                  : "DPU: Not enough space in the UWB Anchor report to schedule node "
                                    "01:01:0021, and there is at least 1 UWB Anchor. Treating the node "
                                    "as an unconfigured device.\n"));
    // The unconfigured device's list: its address set to 0x7FFF, timed from
    // half a period.
    const auto frames = BytesOf(master_->Frames());
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0][4], 3);
    EXPECT_EQ(wire::read_be32(frames[0].data() + 7), kTag);
    EXPECT_EQ(wire::read_be16(frames[0].data() + 11), 0x7FFF);
    EXPECT_EQ(frames[0][17], 0x10);
    EXPECT_EQ(wire::read_be32(frames[0].data() + 19), Period() / 2 + 100 * Period() + 2 * Period() + 70);
}

TEST_F(DpuBringUpTest, StopsAcknowledgedByAnotherDeviceDoNotCount) {
    AcknowledgeStops(master_.get(), kAnchors[0]);
    StdoutCapture capture;
    dpu_->DeconfigureMaster();
    const std::string printed = capture.Stop();
    const auto frames = BytesOf(master_->Frames());
    EXPECT_EQ(std::count(frames.begin(), frames.end(), kStopSync), Dpu::kMaxStopSyncAttempts);
    EXPECT_NE(printed.find("DPU: Timed out trying to deconfigure the Master!!\n"), std::string::npos);
    EXPECT_FALSE(dpu_->IsMasterStopped());
}

TEST_F(DpuBringUpTest, SmoothingFactorCommandsAreFilteredCappedAndRepublishedOnce) {
    HostSettings* host = Settings::GlobalSettings()->GetHostSettingsReference();
    StdoutCapture capture;
    dpu_->RxVexSmoothingFactor(0, SmoothingItem(1, 0, 7));
    dpu_->RxVexSmoothingFactor(0, SmoothingItem(0, 5, 7));
    EXPECT_EQ(host->GetSmoothingFactor(), 0u);
    dpu_->RxVexSmoothingFactor(0, SmoothingItem(0, 0, 7));
    EXPECT_EQ(host->GetSmoothingFactor(), 7u);
    dpu_->RxVexSmoothingFactor(0, SmoothingItem(0, 1, 0xFFFFFFFF));
    EXPECT_EQ(host->GetSmoothingFactor(), DwNode::kMaxPositionHistory - 1);
    dpu_->RxVexSmoothingFactor(0, VexDataItem(VexType::kSmoothingFactor, 7, "1234567"));
    // The three accepted commands make one publication, in the engine's thread.
    EXPECT_TRUE(publisher_->Input().empty());
    ASSERT_TRUE(SpinUntil([this] { return !publisher_->Input().empty(); }));
    QCoreApplication::processEvents();
    const std::string printed = capture.Stop();
    EXPECT_EQ(printed,
              "DPU: Ignoring smoothing factor sent out by this host...\n"
              "DPU: Ignoring command sent to some destination other than this host...\n"
              "DPU: Setting smoothing factor to 7...\n"
              "DPU: Setting smoothing factor to 1023...\n"
              "DPU: publishing configurations...\n");
    const auto input = publisher_->Input();
    ASSERT_EQ(input.size(), 1u);
    QJsonObject config;
    ASSERT_EQ(input[0].GetDataItems().size(), 1u);
    ASSERT_TRUE(VexDataConfig_Read(*input[0].GetDataItems().front(), &config));
    EXPECT_EQ(config.value("host").toObject().value("smoothing factor").toInt(), 1023);
}

TEST_F(DpuBringUpTest, InfrastructureListsTheMasterFirstThenTheAnchors) {
    dpu_->PublishInfrastructure();
    const auto output = publisher_->Output();
    ASSERT_EQ(output.size(), 1u);
    std::vector<vex_data_infrastructure_t> nodes;
    for (const auto& item : output[0].GetDataItems()) {
        vex_data_infrastructure_t node;
        ASSERT_TRUE(VexData_Read(*item, &node));
        nodes.push_back(node);
    }
    ASSERT_EQ(nodes.size(), 5u);
    EXPECT_EQ(+nodes[0].kind, kVexInfrastructureMaster);
    EXPECT_EQ(+nodes[0].serial_number, kMaster);
    EXPECT_EQ(+nodes[0].x, 5000);
    EXPECT_EQ(+nodes[0].z, 2000);
    for (size_t i = 1; i < nodes.size(); ++i) {
        EXPECT_EQ(+nodes[i].kind, kVexInfrastructureAnchor);
        EXPECT_EQ(+nodes[i].serial_number, kAnchors[i - 1]);
    }
    EXPECT_EQ(+nodes[1].z, 2500);
    EXPECT_EQ(+nodes[3].z, 500);
    EXPECT_EQ(+nodes[3].x, 10000);
    EXPECT_EQ(+nodes[3].y, 8000);
}

TEST_F(DpuBringUpTest, ConfigurationTooLargeForOnePacketIsRefusedWithAMessage) {
    std::vector<TagSettings> tags(3000);
    for (size_t i = 0; i < tags.size(); ++i) {
        tags[i].SetSerialNumber(0x03000000 + static_cast<uint32_t>(i));
    }
    FlatSettingsInterface(Settings::GlobalSettings()).SetTagList(tags);
    StdoutCapture capture;
    dpu_->PublishConfigs();
    const std::string printed = capture.Stop();
    EXPECT_EQ(printed.rfind("DPU: publishing configurations...\nVuv configuration item of ", 0), 0u);
    EXPECT_NE(printed.find("bytes does not fit a packet; not sent\n"), std::string::npos);
    EXPECT_TRUE(publisher_->Input().empty());
}

TEST(DpuLoadCfgTest, RefusesAGainOrSpeedOfLightThatIsNotPositiveAndFinite) {
    const double bad[] = {0.0, -1.0, std::nan(""), INFINITY};
    for (const double value : bad) {
        for (const bool gain : {true, false}) {
            SCOPED_TRACE(value);
            options_t options;
            (gain ? options.vm_gain : options.speed_of_light) = value;
            const site_t site = Install(options);
            Dpu dpu;
            StdoutCapture capture;
            EXPECT_FALSE(dpu.Init({}, site.node_manager, site.scheduler, site.budget));
            EXPECT_NE(capture.Stop().find(gain ? "DPU: VM Gain must be a positive finite number\n"
                                               : "DPU: Speed of light must be a positive finite number\n"),
                      std::string::npos);
        }
    }
    const site_t site = Install();
    Dpu dpu;
    StdoutCapture capture;
    EXPECT_TRUE(dpu.Init({}, site.node_manager, site.scheduler, site.budget));
    EXPECT_EQ(capture.Stop(),
              "RDOA Sanity check disabled.\nMax Tag Velocity: 50.000000 m/s\nOcclusion mitigation disabled.\n"
              "Min stop threshold: 0.001000\nVM Rejection Threshold: 0.500000\nVM Gain 0.900000\n"
              "Using raw position for location guesses\nSpeed of light: 299792458.000000\n"
              "Minimum anchors before calculating a position: 4\n");
}

}  // namespace

// The location engine's bring-up and admissions on the wire: the real engine,
// Backlink and USB link drive the simulated master on its pseudo-terminal,
// with the bring-up's waits shortened. The simulator records every payload
// the master takes with its arrival time and every sync it sends with the
// commands it carried; the frames must come in the bring-up's order with its
// bytes, no sooner than its waits allow, and the devices that announce
// themselves are admitted at most one per sync tick, each with its 0x0104
// item on the External stream and its commands carried in the master's syncs.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "config/settings.h"
#include "engine_setup.h"
#include "host/dpu/dpu.h"
#include "protocol/packets/device_protocol.h"
#include "protocol/packets/sync_packet.h"
#include "protocol/vex/vex_connection.h"
#include "protocol/vex/vex_data_types.h"
#include "server_side.h"
#include "simulator/device_simulator.h"
#include "support/master_frames.h"

namespace {

namespace dp = device_protocol;
using namespace master_frames;

// This file's UDP ports: the Internal and External streams; the Ethernet
// devices' configuration stream keeps its fixed port on a group of this process.
constexpr uint16_t kInternalPort = 46000;
constexpr uint16_t kExternalPort = 46001;
constexpr uint16_t kConfigPort = 7670;

Dpu::BringUpTimings ShortTimings() {
    Dpu::BringUpTimings timings;
    timings.connect_wait_ms = 300;
    timings.rf_switch_delay_ms = 100;
    timings.master_start_delay_ms = 700;
    timings.stop_attempt_sleep_ms = 20;
    timings.master_start_sleep_ms = 60;
    return timings;
}

bool Contains(const Bytes& bytes, const Bytes& part) {
    return std::search(bytes.begin(), bytes.end(), part.begin(), part.end()) != bytes.end();
}

// The 0x0104 items of the External stream, in arrival order, gathered on its
// receiver thread: (packet serial number, item).
std::mutex admissions_mutex_;
std::vector<std::pair<uint32_t, vex_data_time_reservation_t>> admissions_;

std::vector<std::pair<uint32_t, vex_data_time_reservation_t>> Admissions() {
    std::lock_guard<std::mutex> lock(admissions_mutex_);
    return admissions_;
}

// The master's traffic, split: what it took from the server and what it sent.
struct master_traffic_t {
    // The bring-up's frames (sync-command sets and the link's bridge queries
    // left out), with runs of stop-sync frames folded into their first one.
    std::vector<const sim_record_t*> frames;
    std::vector<int> stop_runs;                      // length of each folded run, in order
    std::vector<const sim_record_t*> stop_run_ends;  // the last stop sync of each run
    std::vector<const sim_record_t*> sets;           // set-sync-commands frames
    std::vector<const sim_record_t*> syncs;          // as sent, in order
    std::vector<const sim_record_t*> bridge_queries;
};

master_traffic_t Split(const std::vector<sim_record_t>& records, uint32_t master) {
    master_traffic_t traffic;
    for (const auto& record : records) {
        if (record.serial_number != master)
            continue;
        if (record.kind == sim_record_t::Kind::kSync) {
            traffic.syncs.push_back(&record);
            continue;
        }
        const Bytes& bytes = record.bytes;
        if (!bytes.empty() && bytes[0] == dp::kSspTypeBridge) {
            traffic.bridge_queries.push_back(&record);
        } else if (bytes.size() >= 2 && bytes[0] == 0x11 && bytes[1] == 0x04) {
            traffic.sets.push_back(&record);
        } else if (bytes == kStopSync && !traffic.frames.empty() &&
                   traffic.frames.back()->bytes == kStopSync) {
            ++traffic.stop_runs.back();
            traffic.stop_run_ends.back() = &record;
        } else {
            traffic.frames.push_back(&record);
            if (bytes == kStopSync) {
                traffic.stop_runs.push_back(1);
                traffic.stop_run_ends.push_back(&record);
            }
        }
    }
    return traffic;
}

double Ms(const sim_record_t* from, const sim_record_t* to) {
    return (to->time_s - from->time_s) * 1000.0;
}

packet_sync_t DecodeSync(const sim_record_t& record) {
    packet_sync_t sync{};
    if (record.bytes.size() >= static_cast<size_t>(dp::kPacketSyncSize))
        PacketSync_FromBuff(record.bytes.data(), &sync);
    return sync;
}

Bytes CarriedCommands(const sim_record_t& record) {
    return Bytes(record.bytes.begin() + std::min<size_t>(record.bytes.size(), dp::kPacketSyncSize),
                 record.bytes.end());
}

class SimulatorBringUpTest : public ::testing::Test {
  protected:
    void SetUp() override {
        {
            std::lock_guard<std::mutex> lock(admissions_mutex_);
            admissions_.clear();
        }
        Settings settings;
        std::string error;
        ASSERT_TRUE(LoadSimSite(std::string(VORAV_SOURCE_DIR) + "/tools/simulator/default_site.json", "",
                                &site_, &settings, &error))
            << error;
        for (auto& device : site_.devices) {
            if (device.role == SimRole::kMaster) {
                master_ = device.serial_number;
                device.usb_path = "/tmp/" + ProcessUnique("vorav-sim-bring-up-master");
            } else {
                announcing_.push_back(device.serial_number);
            }
        }
        site_.config_group = ProcessGroup();
        site_.config_port = kConfigPort;
        site_.truth_port = 0;
        ApplySimSiteToSettings(site_, &settings);
        HostSettings* host = settings.GetHostSettingsReference();
        host->SetInputSocketSettings(NetworkSocketSettings(ProcessGroup(), kInternalPort, 1, "lo"));
        host->SetOutputSocketSettings(NetworkSocketSettings(ProcessGroup(), kExternalPort, 1, "lo"));
        Settings::GlobalSettings()->CopyFromOtherSettings(&settings);

        simulator_ = std::make_unique<DeviceSimulator>(site_);
        simulator_->SetRecording(true);
        ASSERT_TRUE(simulator_->Start(&error)) << error;
        external_ =
            std::make_unique<VexConnection>(NetworkSocketSettings(ProcessGroup(), kExternalPort, 1, "lo"));
        external_->Subscribe(VexType::kTimeReservation,
                             [](uint32_t serial, uint32_t, const VexDataItem& item) {
                                 vex_data_time_reservation_t reservation;
                                 if (VexData_Read(item, &reservation)) {
                                     std::lock_guard<std::mutex> lock(admissions_mutex_);
                                     admissions_.emplace_back(serial, reservation);
                                 }
                             });

        const Dpu::BringUpTimings timings = ShortTimings();
        ASSERT_TRUE(engine_.Start(master_, site_.Find(master_)->usb_path, &timings));
    }

    void TearDown() override {
        EXPECT_TRUE(engine_.Stop());
        if (external_)
            external_->ClearSubscriptions();
        if (simulator_)
            simulator_->Stop();
    }

    uint16_t NetworkId(uint32_t serial) const {
        return engine_.nodes->FindNodeBySerialNumber(serial)->GetNetworkId();
    }

    // Runs this thread's events (the bring-up runs here) and gathers the
    // simulator's records until `done` holds for them or the bound passes.
    bool RunUntil(const std::function<bool(const std::vector<sim_record_t>&)>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(18);
        while (std::chrono::steady_clock::now() < deadline) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            for (auto& record : simulator_->TakeRecords())
                records_.push_back(std::move(record));
            if (done(records_))
                return true;
        }
        return false;
    }

    sim_site_t site_;
    uint32_t master_ = 0;
    std::vector<uint32_t> announcing_;
    std::unique_ptr<DeviceSimulator> simulator_;
    std::unique_ptr<VexConnection> external_;
    engine_under_test_t engine_;
    std::vector<sim_record_t> records_;
};

TEST_F(SimulatorBringUpTest, MasterGetsTheBringUpInOrderAndAdmitsOneAnnouncingDevicePerTick) {
    const uint32_t period = engine_.budget.GetLocationCycle();
    ASSERT_EQ(engine_.dpu->GetSyncPeriod(), period);
    const TIME_RESERVATION_T announcement = engine_.scheduler->GetTimeSlot(
        RfScheduler::kAnnouncementOwner, engine_.budget.GetSlottime(RfSchedulerSettings::kSlotAnnouncement),
        period);
    Bytes normalStart = {0x11, 0x00, 0, 0, 0, 0, 0x01, 0, 0, 0, 0, 127, 2};
    wire::write_be32(normalStart.data() + 2, period);
    wire::write_be32(normalStart.data() + 7, announcement.start);
    // Before the normal start no tick moved the counter: the RF settings go
    // with the counter at 0, due 5.5 periods on.
    const uint32_t rfDue = static_cast<uint32_t>(std::trunc(5.5 * period));
    const Bytes executeRf = {0x11, 0x05, 0x00, 0x14, 0x01};
    const Bytes setRf = Concat({0x11, 0x04, 0x00, 0x14, 0x01}, RfSettingsCommand(rfDue, 1));
    const Bytes masterAddress =
        Concat({0x11, 0x05, 0x00, 0x08, 0x01}, AddressSet(master_, NetworkId(master_)));
    const std::vector<Bytes> bringUp = {
        kRxPassthroughOff, kTxPassthroughOff, kStopSync,
        // The master set up as a wired device.
        Concat(executeRf, RfSettingsCommand(rfDue, 1)), kRxPassthroughOn, kRxPassthroughOn, kRxPassthroughOn,
        // Fast sync, then the switch to the network's RF settings at 7.0 s of network time.
        kTxPassthroughOn, kFastStartSync, Concat(executeRf, RfSettingsCommand(6825273, 0)),
        // The normal start.
        kRxPassthroughOff, kTxPassthroughOff, kStopSync, kRxPassthroughOn, kTxPassthroughOn, masterAddress,
        normalStart};
    const size_t kNormalStart = bringUp.size() - 1;

    // Done when the master's own commands went out after the normal start,
    // every announcing device has its address, every command set given to the
    // master since its last stop (which dropped those before) has ridden in
    // one of its syncs, and each
    // admission's 0x0104 item and command set have both arrived (taken after
    // the records, so that an item whose set is still on its way is seen).
    std::vector<std::pair<uint32_t, vex_data_time_reservation_t>> admissions;
    const bool finished = RunUntil([&](const std::vector<sim_record_t>& records) {
        const master_traffic_t traffic = Split(records, master_);
        if (traffic.frames.size() <= bringUp.size())
            return false;
        for (uint32_t serial : announcing_) {
            if (!simulator_->GetStatus(serial).addressed)
                return false;
        }
        const double stopped = traffic.stop_run_ends.back()->time_s;
        const double started = traffic.frames[kNormalStart]->time_s;
        size_t given = 0;
        size_t carried = 0;
        for (const sim_record_t* set : traffic.sets)
            given += set->time_s > stopped ? set->bytes.size() - 5 : 0;
        for (const sim_record_t* sync : traffic.syncs)
            carried += sync->time_s > started ? CarriedCommands(*sync).size() : 0;
        size_t admissionSets = 0;
        for (const sim_record_t* set : traffic.sets)
            admissionSets += set->bytes == setRf ? 0 : 1;
        admissions = Admissions();
        return carried >= given && admissions.size() >= announcing_.size() &&
               admissions.size() == admissionSets;
    });
    simulator_->SetRecording(false);
    ASSERT_TRUE(finished) << "bring-up and admissions not complete";
    const master_traffic_t traffic = Split(records_, master_);
    const auto& frames = traffic.frames;

    // The link's identification came first, then only the engine's frames.
    ASSERT_FALSE(traffic.bridge_queries.empty());
    EXPECT_LT(traffic.bridge_queries.back()->time_s, frames.front()->time_s);
    ASSERT_EQ(frames.size(), bringUp.size() + 1)
        << "the bring-up and the master's command list, nothing else";
    for (size_t k = 0; k < bringUp.size(); ++k)
        EXPECT_EQ(frames[k]->bytes, bringUp[k]) << "frame " << k;
    // Each stop ended with the master's acknowledgement, well before the give-up.
    ASSERT_EQ(traffic.stop_runs.size(), 2u);
    for (int run : traffic.stop_runs)
        EXPECT_LT(run, Dpu::kMaxStopSyncAttempts);

    // Waits as lower bounds, each measured from a frame that arrived before
    // the wait began: the first stop sync of a deconfiguration arrives before
    // the acknowledgement that ends it. (The timer may fire a millisecond early.)
    const Dpu::BringUpTimings timings = ShortTimings();
    EXPECT_GE(Ms(frames[2], frames[3]), timings.connect_wait_ms);
    EXPECT_GE(Ms(frames[2], frames[9]), timings.connect_wait_ms + timings.rf_switch_delay_ms);
    EXPECT_GE(Ms(frames[2], frames[10]), timings.connect_wait_ms + timings.master_start_delay_ms - 1);
    EXPECT_GE(Ms(frames[12], frames[13]), timings.master_start_sleep_ms);

    // The syncs: 50 ms ones after the fast start, the configured period after
    // the normal start, network time from 0 each time.
    std::vector<const sim_record_t*> fastSyncs;
    std::vector<const sim_record_t*> normalSyncs;
    for (const sim_record_t* sync : traffic.syncs) {
        if (sync->time_s > frames[kNormalStart]->time_s)
            normalSyncs.push_back(sync);
        else if (sync->time_s > frames[8]->time_s)
            fastSyncs.push_back(sync);
    }
    ASSERT_FALSE(fastSyncs.empty());
    ASSERT_GT(normalSyncs.size(), 5u);
    for (size_t k = 0; k < fastSyncs.size(); ++k)
        EXPECT_EQ(DecodeSync(*fastSyncs[k]).network_time, k * Dpu::kFastSyncPeriod);
    for (size_t k = 0; k < normalSyncs.size(); ++k)
        EXPECT_EQ(DecodeSync(*normalSyncs[k]).network_time, k * period);

    // The master's own command list once, after the sync that brought the
    // counter to 5 periods, with the master's address among its commands.
    const sim_record_t* masterCommands = frames.back();
    EXPECT_GT(masterCommands->time_s, normalSyncs[5]->time_s);
    const Bytes& list = masterCommands->bytes;
    ASSERT_GT(list.size(), 5u);
    EXPECT_EQ(list[0], 0x11);
    EXPECT_EQ(list[1], 0x05);
    EXPECT_EQ(wire::read_be16(list.data() + 2), list.size() - 5);
    EXPECT_EQ(list[4], engine_.nodes->GetCommandsForNodeWithSerialNumber(master_, engine_.budget).size());
    EXPECT_TRUE(Contains(list, AddressSet(master_, NetworkId(master_))));

    // Sync-command sets: while the fast sync runs, every tick repeats the RF
    // settings; none after the normal start. The others are admissions.
    std::vector<const sim_record_t*> admissionFrames;
    int rfRepeats = 0;
    for (const sim_record_t* set : traffic.sets) {
        if (set->bytes == setRf) {
            ++rfRepeats;
            EXPECT_GT(set->time_s, frames[8]->time_s);
            EXPECT_LT(set->time_s, frames[kNormalStart]->time_s);
        } else {
            admissionFrames.push_back(set);
        }
    }
    EXPECT_GT(rfRepeats, 0);

    // One 0x0104 item per admission, in the same order as the admissions'
    // command sets: the device's serial number, its outcome, its address in
    // the commands; and the device took that address.
    ASSERT_EQ(admissions.size(), admissionFrames.size());
    std::map<uint32_t, int> admitted;
    for (size_t k = 0; k < admissions.size(); ++k) {
        const uint32_t serial = admissions[k].second.serial_number;
        EXPECT_EQ(admissions[k].first, 0u) << "admissions go out in packets of serial number 0";
        ASSERT_NE(std::find(announcing_.begin(), announcing_.end(), serial), announcing_.end())
            << std::hex << serial;
        const sim_device_t* device = site_.Find(serial);
        EXPECT_EQ(admissions[k].second.outcome,
                  device->role == SimRole::kTag ? kVexAdmissionTag : kVexAdmissionWirelessAnchor);
        const Bytes& set = admissionFrames[k]->bytes;
        ASSERT_GT(set.size(), 5u);
        EXPECT_EQ(wire::read_be16(set.data() + 2), set.size() - 5);
        EXPECT_EQ(set[4], engine_.nodes->GetCommandsForNodeWithSerialNumber(serial, engine_.budget).size());
        EXPECT_TRUE(Contains(set, AddressSet(serial, NetworkId(serial)))) << std::hex << serial;
        ++admitted[serial];
    }
    for (uint32_t serial : announcing_) {
        EXPECT_GE(admitted[serial], 1) << std::hex << serial;
        const sim_device_status_t status = simulator_->GetStatus(serial);
        EXPECT_TRUE(status.addressed) << std::hex << serial;
        EXPECT_EQ(status.network_id, NetworkId(serial)) << std::hex << serial;
    }

    // At most one admission per tick. After the normal start every admission
    // but the first waits for a tick after the one before, and each tick is a
    // sync the master sent before it; the first needs a sync to announce in.
    // So the j-th admission after the normal start reached the master after
    // at least j + 1 normal syncs.
    std::vector<const sim_record_t*> normalAdmissions;
    for (const sim_record_t* set : admissionFrames) {
        if (set->time_s > frames[kNormalStart]->time_s)
            normalAdmissions.push_back(set);
    }
    printf(
        "sync period %u; %zu fast syncs, %d RF repeats, %zu normal syncs; admissions: %zu during the fast "
        "sync, %zu after the normal start; stop-sync runs %d and %d\n",
        period, fastSyncs.size(), rfRepeats, normalSyncs.size(),
        admissionFrames.size() - normalAdmissions.size(), normalAdmissions.size(), traffic.stop_runs[0],
        traffic.stop_runs[1]);
    fflush(stdout);
    // The fast sync's ticks do not clear the pending admission, though every
    // device announces all through it: until the engine turns to the normal
    // start a single device is admitted. It turns no sooner than the
    // connection wait and the fast sync's time after the first stop sync's
    // arrival (see the waits above). The fast sync's ticks handled after the
    // turn may still admit one device each.
    const double turnBound =
        frames[2]->time_s + (timings.connect_wait_ms + timings.master_start_delay_ms - 1) / 1000.0;
    EXPECT_LE(std::count_if(admissionFrames.begin(), admissionFrames.end(),
                            [turnBound](const sim_record_t* set) { return set->time_s < turnBound; }),
              1)
        << "admissions while the fast sync ran";
    ASSERT_GE(normalAdmissions.size(), 2u) << "too few admissions to see the pace";
    for (size_t j = 0; j < normalAdmissions.size(); ++j) {
        const auto before = std::count_if(
            normalSyncs.begin(), normalSyncs.end(),
            [&](const sim_record_t* sync) { return sync->time_s < normalAdmissions[j]->time_s; });
        EXPECT_GE(before, static_cast<long>(j + 1)) << "admission " << j << " after the normal start";
    }

    // The admissions' commands given since the master's last stop ride in
    // its syncs, in order, with the syncs' command counts adding up.
    Bytes given;
    int givenCount = 0;
    for (const sim_record_t* set : admissionFrames) {
        if (set->time_s <= traffic.stop_run_ends.back()->time_s)
            continue;
        given.insert(given.end(), set->bytes.begin() + 5, set->bytes.end());
        givenCount += set->bytes[4];
    }
    Bytes carried;
    int carriedCount = 0;
    for (const sim_record_t* sync : normalSyncs) {
        const Bytes commands = CarriedCommands(*sync);
        carried.insert(carried.end(), commands.begin(), commands.end());
        carriedCount += DecodeSync(*sync).byte_24;
    }
    EXPECT_EQ(carried, given);
    EXPECT_EQ(carriedCount, givenCount);
}

}  // namespace

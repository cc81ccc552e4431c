#pragma once
// What the host sets up for the location engine, for tests that run the
// engine against the simulator. Header-only.
#include <QPointer>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>

#include "config/flat_settings_interface.h"
#include "config/settings.h"
#include "host/devices/node_manager.h"
#include "host/devices/usb_link.h"
#include "host/devices/worker_thread.h"
#include "host/dpu/backlink.h"
#include "host/dpu/dpu.h"
#include "host/scheduling/rf_scheduler.h"
#include "host/scheduling/rf_scheduler_settings.h"

// The scheduler with the host's fixed reservations: the master's sync, the
// announcements, each wireless anchor's report from the end, the rest.
inline std::shared_ptr<RfScheduler> HostScheduler(const RfSchedulerSettings& budget, uint32_t master) {
    auto scheduler = std::make_shared<RfScheduler>(20.0);
    const uint32_t cycle = budget.GetLocationCycle();
    scheduler->UpdateSyncPeriod(cycle);
    scheduler->RequestTimeSlot(master, budget.GetSlottime(RfSchedulerSettings::kSlotSync), cycle);
    scheduler->RequestTimeSlot(RfScheduler::kAnnouncementOwner,
                               budget.GetSlottime(RfSchedulerSettings::kSlotAnnouncement), cycle);
    const auto anchors = FlatSettingsInterface(Settings::GlobalSettings()).GetAnchorList();
    for (auto anchor = anchors.rbegin(); anchor != anchors.rend(); ++anchor) {
        if (anchor->GetEnabled() && anchor->IsWireless())
            scheduler->RequestTimeSlot_FromEnd(
                anchor->GetSerialNumber(), budget.GetSlottime(RfSchedulerSettings::kSlotAnchorReport), cycle);
    }
    if (budget.GetSlottime(RfSchedulerSettings::kSlotRemainder) != 0)
        scheduler->RequestTimeSlot(RfScheduler::kRemainderOwner,
                                   budget.GetSlottime(RfSchedulerSettings::kSlotRemainder), cycle);
    return scheduler;
}

// The engine, its Backlink and the master's USB link from the global
// settings, wired as the host wires them. The engine belongs to the thread
// that calls Start, whose events run the bring-up; that thread also sends
// what the Backlink's streams publish.
struct engine_under_test_t {
    RfSchedulerSettings budget;
    std::shared_ptr<RfScheduler> scheduler;
    std::shared_ptr<NodeManager> nodes;
    Dpu* dpu = nullptr;
    Backlink* backlink = nullptr;
    WorkerThread backlink_thread;
    WorkerThread link_thread;

    // False when the budget does not fit or the link or the engine refuse.
    bool Start(uint32_t master, const std::string& master_port,
               const Dpu::BringUpTimings* timings = nullptr) {
        budget = RfSchedulerSettings(Settings::GlobalSettings());
        if (budget.GetStatus() != 0)
            return false;
        scheduler = HostScheduler(budget, master);
        nodes = std::make_shared<NodeManager>();
        nodes->Init(Settings::GlobalSettings(), static_cast<uint32_t>(budget.GetLocationCycle() * 0.0010256));
        dpu = new Dpu();
        if (timings != nullptr)
            dpu->SetBringUpTimingsForTesting(*timings);
        backlink = new Backlink(dpu);
        backlink_thread = WorkerThread::Create(backlink, &Backlink::Run, &Backlink::QuitThreadSignal,
                                               &Backlink::Shutdown, QString("Backlink"));
        auto* link = new UsbLink();
        if (!link->Init(nodes, backlink->GetStreams(), QString::fromStdString(master_port)) ||
            !dpu->Init({QPointer<NodeLink>(link)}, nodes, scheduler, budget)) {
            delete link;
            return false;
        }
        link_thread = WorkerThread::Create<NodeLink>(link, &NodeLink::Run, &NodeLink::QuitThread,
                                                     &NodeLink::Shutdown, QString("UsbLink"));
        backlink_thread.Start();
        link_thread.Start();
        return true;
    }

    // The link and the Backlink stopped and their threads waited for (false
    // when one did not finish in time), then the engine deleted.
    bool Stop() {
        bool joined = true;
        for (const WorkerThread* thread : {&link_thread, &backlink_thread}) {
            thread->RequestStop();
            joined = thread->Join(5000) && joined;
        }
        delete dpu;
        dpu = nullptr;
        return joined;
    }
};

#pragma once
// What the host sets up for the location engine, for tests that run the
// engine against the simulator. Header-only.
#include <cstdint>
#include <memory>

#include "config/flat_settings_interface.h"
#include "config/settings.h"
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

// The time-slot table driven by arbitrary sequences of reservations,
// lookups, releases, sweeps and period changes. After every step the table
// must keep its invariants, every window handed out must be in it, and the
// time held must equal what was reserved minus what was released.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "host/scheduling/rf_scheduler.h"
#include "support/fuzz_byte_reader.h"

namespace {

// Replays deterministically: the clock advances only when the input says so.
class FuzzScheduler : public RfScheduler {
  public:
    FuzzScheduler() : RfScheduler(20.0) {}
    int64_t now_ms = 0;

  protected:
    int64_t CurrentTimeMs() const override { return now_ms; }
};

void Fail(const FuzzScheduler& scheduler, const std::string& what) {
    std::printf("%s\n%s\n", what.c_str(), scheduler.toString().toUtf8().constData());
    std::fflush(stdout);
    std::abort();
}

uint64_t HeldTime(const RfScheduler& scheduler) {
    uint64_t held = 0;
    for (const TIME_RESERVATION_T& window : scheduler.GetTimeReservations()) {
        if (window.owner != 0) {
            held += window.duration;
        }
    }
    return held;
}

// A window handed out must lie in the table as it was returned.
void CheckHandedOut(const FuzzScheduler& scheduler, const TIME_RESERVATION_T& window) {
    if (window.duration == 0) {
        if (window.owner != 0 || window.start != 0) {
            Fail(scheduler, "failed request returned a non-zero window");
        }
        return;
    }
    for (const TIME_RESERVATION_T& held : scheduler.GetTimeReservations()) {
        if (held.start == window.start && held.duration == window.duration && held.owner == window.owner &&
            held.last_reserved == window.last_reserved) {
            return;
        }
    }
    Fail(scheduler, "returned window is not in the table");
}

// Owners from a small set collide and exercise the lookups; the rest are arbitrary.
uint32_t Owner(ByteReader& in) {
    const uint8_t pick = in.U8();
    if (pick < 0xF0) {
        return pick % 8;  // includes 0, which must be refused
    }
    return in.U32();
}

uint32_t Duration(ByteReader& in, uint32_t period) {
    const uint8_t pick = in.U8();
    switch (pick & 3) {
        case 0:
            return in.U8();
        case 1:
            return period == 0 ? 0 : in.U32() % (period + uint64_t{1});
        case 2:
            return period / (1u + (pick >> 2));
        default:
            return in.U32();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteReader in(data, size);
    FuzzScheduler scheduler;
    uint32_t period = in.U8() & 1 ? in.U32() : in.U16();
    scheduler.UpdateSyncPeriod(period);
    uint64_t held = 0;

    for (int step = 0; step < 4096 && !in.AtEnd(); ++step) {
        const uint8_t op = in.U8();
        scheduler.now_ms += op >> 5;
        // Read in a fixed order: argument evaluation order is unspecified.
        const uint32_t owner = Owner(in);
        const uint32_t duration = Duration(in, period);
        TIME_RESERVATION_T window{};
        bool handed_out = false;
        switch (op % 10) {
            case 0:
                window = scheduler.ReserveTimeSlot(owner, duration);
                handed_out = true;
                break;
            case 1:
                window = scheduler.ReserveTimeSlot_FromEnd(owner, duration);
                handed_out = true;
                break;
            case 2:
            case 3: {
                const size_t before = scheduler.GetTimeReservations().size();
                window = op % 10 == 2 ? scheduler.GetTimeSlot(owner, duration, in.U32())
                                      : scheduler.GetTimeSlot_FromEnd(owner, duration, in.U32());
                // Either an existing window came back and nothing changed, or
                // a new one was reserved.
                const uint64_t added = HeldTime(scheduler) - held;
                if (added == 0 ? scheduler.GetTimeReservations().size() != before
                               : added != window.duration) {
                    Fail(scheduler, "lookup neither found nor reserved exactly one window");
                }
                held += added;
                CheckHandedOut(scheduler, window);
                break;
            }
            case 4:
                window = scheduler.RequestTimeSlot(owner, duration, in.U32());
                handed_out = true;
                break;
            case 5:
                window = scheduler.RequestTimeSlot_FromEnd(owner, duration, in.U32());
                handed_out = true;
                break;
            case 6:
            case 7: {
                const auto& table = scheduler.GetTimeReservations();
                // Mostly valid indexes, sometimes anything.
                int index = (op & 0x10) ? static_cast<int>(in.U32())
                                        : static_cast<int>(in.U16() % (table.size() + 1));
                const int before = index;
                const bool valid = index >= 0 && static_cast<size_t>(index) < table.size();
                const uint32_t released = valid && table[index].owner != 0 ? table[index].duration : 0;
                scheduler.ReclaimTimeReservation(index);
                if (!valid && index != before) {
                    Fail(scheduler, "release outside the table moved the index");
                }
                if (valid &&
                    (index < 0 || static_cast<size_t>(index) >= scheduler.GetTimeReservations().size() ||
                     scheduler.GetTimeReservations()[index].owner != 0)) {
                    Fail(scheduler, "release index does not point at a free window");
                }
                held -= released;
                break;
            }
            case 8: {
                const uint8_t age_pick = in.U8();
                const int64_t age = age_pick == 0xFF   ? std::numeric_limits<int64_t>::min()
                                    : age_pick == 0xFE ? std::numeric_limits<int64_t>::max()
                                                       : int64_t{age_pick} - 16;
                scheduler.SetExpiryAge(age);
                // Exactly the windows reserved before now - age go.
                uint64_t kept = 0;
                for (const TIME_RESERVATION_T& w : scheduler.GetTimeReservations()) {
                    const bool expired = age == std::numeric_limits<int64_t>::min() ||
                                         (age != std::numeric_limits<int64_t>::max() &&
                                          scheduler.now_ms - age > w.last_reserved);
                    if (w.owner != 0 && !expired) {
                        kept += w.duration;
                    }
                }
                const int end = scheduler.FreeUnusedSlots();
                if (static_cast<size_t>(end) != scheduler.GetTimeReservations().size()) {
                    Fail(scheduler, "sweep did not end at the table length");
                }
                if (HeldTime(scheduler) != kept) {
                    Fail(scheduler, "sweep released a window that had not expired or kept one that had");
                }
                held = kept;
                break;
            }
            default:
                if ((op & 0xE0) == 0xE0) {
                    period = in.U32();
                    scheduler.UpdateSyncPeriod(period);
                    held = 0;
                    if (scheduler.GetTimeReservations().size() != 1) {
                        Fail(scheduler, "period change kept reservations");
                    }
                }
                break;
        }
        if (handed_out) {
            CheckHandedOut(scheduler, window);
            held += window.duration;
        }
        std::string problem;
        if (!scheduler.IsConsistent(&problem)) {
            Fail(scheduler, problem);
        }
        if (HeldTime(scheduler) != held) {
            Fail(scheduler, "held time does not match reservations minus releases");
        }
    }
    return 0;
}

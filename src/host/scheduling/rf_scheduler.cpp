#include "host/scheduling/rf_scheduler.h"

#include <QDateTime>
#include <cmath>
#include <limits>

namespace {

uint32_t SaturatedPeriod(double period) {
    // A double outside the 32-bit range (or NaN) has no defined conversion.
    if (!(period > 0.0)) {
        return 0;
    }
    if (period >= 4294967296.0) {
        return std::numeric_limits<uint32_t>::max();
    }
    return static_cast<uint32_t>(period);
}

int64_t SaturatedDifference(int64_t a, int64_t b) {
    int64_t result;
    if (__builtin_sub_overflow(a, b, &result)) {
        return b > 0 ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
    }
    return result;
}

}  // namespace

RfScheduler::RfScheduler(double syncPeriod)
    : QObject(nullptr), expiry_age_(std::numeric_limits<int64_t>::max()) {
    UpdateSyncPeriod(SaturatedPeriod(syncPeriod));
}

TIME_RESERVATION_T RfScheduler::MakeWindow(int64_t last_reserved, uint32_t start, uint32_t duration,
                                           uint32_t owner) {
    TIME_RESERVATION_T window;
    window.last_reserved = last_reserved;
    window.start = start;
    window.duration = duration;
    window.first_flag_word = 1;
    window.second_flag_word = 0;
    window.owner = owner;
    return window;
}

int64_t RfScheduler::CurrentTimeMs() const {
    return QDateTime::currentMSecsSinceEpoch();
}

void RfScheduler::UpdateSyncPeriod(uint32_t period) {
    sync_period_ = period;
    reservations_.clear();
    reservations_.push_back(MakeWindow(0, 0, period, 0));
}

TIME_RESERVATION_T RfScheduler::RequestTimeSlot(uint32_t owner, uint32_t duration, uint32_t) {
    return ReserveTimeSlot(owner, duration);
}

TIME_RESERVATION_T RfScheduler::RequestTimeSlot_FromEnd(uint32_t owner, uint32_t duration, uint32_t) {
    return ReserveTimeSlot_FromEnd(owner, duration);
}

int RfScheduler::FindWindow(uint32_t owner, uint32_t duration) const {
    // A free window is never "found": handing it out would look like a reservation.
    if (owner == 0) {
        return -1;
    }
    for (size_t i = 0; i < reservations_.size(); ++i) {
        if (reservations_[i].owner == owner && reservations_[i].duration == duration) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

TIME_RESERVATION_T RfScheduler::GetTimeSlot(uint32_t owner, uint32_t duration, uint32_t) {
    const int index = FindWindow(owner, duration);
    if (index >= 0) {
        return reservations_[index];
    }
    return ReserveTimeSlot(owner, duration);
}

TIME_RESERVATION_T RfScheduler::GetTimeSlot_FromEnd(uint32_t owner, uint32_t duration, uint32_t) {
    const int index = FindWindow(owner, duration);
    if (index >= 0) {
        return reservations_[index];
    }
    return ReserveTimeSlot_FromEnd(owner, duration);
}

TIME_RESERVATION_T RfScheduler::ReserveTimeSlot(uint32_t owner, uint32_t duration) {
    TIME_RESERVATION_T result{};
    // Owner 0 would leave two free windows side by side, duration 0 an empty
    // window that the caller takes for a failure: both are refused.
    if (owner == 0 || duration == 0) {
        return result;
    }
    for (size_t i = 0; i < reservations_.size(); ++i) {
        TIME_RESERVATION_T& window = reservations_[i];
        if (window.owner != 0 || window.duration < duration) {
            continue;
        }
        const uint32_t start = window.start;
        if (window.duration > duration) {
            window.duration -= duration;
            window.start += duration;
            reservations_.insert(reservations_.begin() + static_cast<std::ptrdiff_t>(i),
                                 MakeWindow(0, start, duration, 0));
        }
        reservations_[i] = MakeWindow(CurrentTimeMs(), start, duration, owner);
        return reservations_[i];
    }
    return result;
}

TIME_RESERVATION_T RfScheduler::ReserveTimeSlot_FromEnd(uint32_t owner, uint32_t duration) {
    TIME_RESERVATION_T result{};
    if (owner == 0 || duration == 0) {
        return result;
    }
    for (size_t i = reservations_.size(); i-- > 0;) {
        TIME_RESERVATION_T& window = reservations_[i];
        if (window.owner != 0 || window.duration < duration) {
            continue;
        }
        // Cannot wrap: the window lies inside the 32-bit period and is at
        // least duration long.
        const uint32_t start = window.start + window.duration - duration;
        size_t index = i;
        if (window.duration > duration) {
            window.duration -= duration;
            index = i + 1;
            reservations_.insert(reservations_.begin() + static_cast<std::ptrdiff_t>(index),
                                 MakeWindow(0, start, duration, 0));
        }
        reservations_[index] = MakeWindow(CurrentTimeMs(), start, duration, owner);
        return reservations_[index];
    }
    return result;
}

void RfScheduler::ReclaimTimeReservation(int& index) {
    if (index < 0 || static_cast<size_t>(index) >= reservations_.size()) {
        return;
    }
    reservations_[index].owner = 0;
    if (index > 0 && reservations_[index - 1].owner == 0) {
        CombineUnusedReservations(index - 1, index);
        --index;
    }
    if (static_cast<size_t>(index) + 1 < reservations_.size() && reservations_[index + 1].owner == 0) {
        CombineUnusedReservations(index, index + 1);
    }
    // A window freed without a free neighbour forgets when it was held.
    reservations_[index].last_reserved = 0;
}

int RfScheduler::CombineUnusedReservations(int a, int b) {
    const int size = static_cast<int>(reservations_.size());
    if (a < 0 || b < 0 || a >= size || b >= size || (b != a + 1 && a != b + 1)) {
        return -1;
    }
    const int m = a < b ? a : b;
    TIME_RESERVATION_T& merged = reservations_[m];
    merged = MakeWindow(0, merged.start, merged.duration + reservations_[m + 1].duration, 0);
    reservations_.erase(reservations_.begin() + m + 1);
    return m;
}

int RfScheduler::FreeUnusedSlots() {
    // An age of INT64_MAX (or a clock before 1970) must not overflow the limit.
    const int64_t limit = SaturatedDifference(CurrentTimeMs(), expiry_age_);
    int index = 0;
    for (; static_cast<size_t>(index) < reservations_.size(); ++index) {
        const TIME_RESERVATION_T& window = reservations_[index];
        if (window.owner != 0 && limit > window.last_reserved) {
            ReclaimTimeReservation(index);
        }
    }
    return index;
}

QString RfScheduler::toString() const {
    QString text = QStringLiteral("Rf Schedule Begin\n*****************");
    for (const TIME_RESERVATION_T& window : reservations_) {
        text += QStringLiteral("\nDev: %1\tStart: %2\tDuration: %3")
                    .arg(window.owner, 0, 16)
                    .arg(window.start)
                    .arg(window.duration);
    }
    text += QStringLiteral("\n*****************\nRf Schedule End");
    return text;
}

bool RfScheduler::IsConsistent(std::string* problem) const {
    auto fail = [problem](const std::string& what, size_t index) {
        if (problem != nullptr) {
            *problem = what + " at window " + std::to_string(index);
        }
        return false;
    };
    uint64_t expected_start = 0;
    for (size_t i = 0; i < reservations_.size(); ++i) {
        const TIME_RESERVATION_T& window = reservations_[i];
        if (window.start != expected_start) {
            return fail(window.start > expected_start ? "gap" : "overlap", i);
        }
        if (i > 0 && window.owner == 0 && reservations_[i - 1].owner == 0) {
            return fail("two free neighbours", i);
        }
        if (window.first_flag_word != 1 || window.second_flag_word != 0) {
            return fail("flag words not 1 and 0", i);
        }
        if (window.owner == 0 && window.last_reserved != 0) {
            return fail("free window with a reservation time", i);
        }
        expected_start += window.duration;
    }
    if (reservations_.empty()) {
        return fail("empty table", 0);
    }
    if (expected_start != sync_period_) {
        return fail("durations do not add up to the sync period", reservations_.size());
    }
    return true;
}

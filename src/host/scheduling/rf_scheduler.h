#pragma once
// The time-slot table of one sync period (location cycle). Windows are carved
// first-fit from the start or last-fit from the end of the free time; a
// release merges the window with its free neighbours. There is no lock: the
// Host's start-up and the location engine's admissions use it one at a time.

#include <QObject>
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

// One window of the sync period, in network time units (Gnt).
struct TIME_RESERVATION_T {
    int64_t last_reserved;  // system clock, ms, when last handed out; 0 on free windows
    uint32_t start;         // offset from the start of the sync period
    uint32_t duration;
    uint32_t first_flag_word;   // always written as 1, never read
    uint32_t second_flag_word;  // always written as 0, never read
    uint32_t owner;             // 0 free, else a serial number or one of the fixed owners below
};

class RfScheduler : public QObject {
    Q_OBJECT

  public:
    // Fixed owners held by the Host besides the device serial numbers.
    static constexpr uint32_t kAnnouncementOwner = 0xFFFFFFFFu;
    static constexpr uint32_t kRemainderOwner = 0xFFFFFFFEu;

    // A period that is negative or not a number counts as 0, one beyond the
    // 32-bit range as 0xFFFFFFFF.
    explicit RfScheduler(double syncPeriod);

    // Discards every reservation: the table becomes one free window [0, period).
    void UpdateSyncPeriod(uint32_t period);
    uint32_t GetSyncPeriod() const { return sync_period_; }

    // The third argument is accepted for the callers' sake and not used.
    TIME_RESERVATION_T RequestTimeSlot(uint32_t owner, uint32_t duration, uint32_t spare);
    TIME_RESERVATION_T RequestTimeSlot_FromEnd(uint32_t owner, uint32_t duration, uint32_t spare);
    // Return the first existing window of this owner and duration unchanged,
    // else reserve a new one.
    TIME_RESERVATION_T GetTimeSlot(uint32_t owner, uint32_t duration, uint32_t spare);
    TIME_RESERVATION_T GetTimeSlot_FromEnd(uint32_t owner, uint32_t duration, uint32_t spare);

    // Each returns the reserved window, or an all-zero window (duration 0)
    // when nothing fits. Owner 0 (which means free) and duration 0 are
    // refused the same way and leave the table unchanged.
    TIME_RESERVATION_T ReserveTimeSlot(uint32_t owner, uint32_t duration);
    TIME_RESERVATION_T ReserveTimeSlot_FromEnd(uint32_t owner, uint32_t duration);

    static bool TimeIsReserved(const TIME_RESERVATION_T& window) { return window.owner != 0; }

    // Frees the window at index and merges it with free neighbours; index is
    // moved to the merged window. An index outside the table changes nothing.
    void ReclaimTimeReservation(int& index);
    // Merges two adjacent windows (b = a + 1 or a = b + 1) into one free
    // window and returns its index; any other pair changes nothing and gives
    // -1. The caller frees only windows whose other neighbours are held.
    int CombineUnusedReservations(int a, int b);

    // Releases every held window reserved longer ago than the expiry age;
    // returns the table length after the sweep.
    int FreeUnusedSlots();
    // Nothing sets an age by default, so nothing ever expires (INT64_MAX).
    void SetExpiryAge(int64_t expiry_age_ms) { expiry_age_ = expiry_age_ms; }
    int64_t GetExpiryAge() const { return expiry_age_; }

    QString toString() const;

    const std::vector<TIME_RESERVATION_T>& GetTimeReservations() const { return reservations_; }
    // Checks the table's invariants: sorted, no gap, no overlap, durations
    // adding up to the sync period, no two free neighbours, the flag words
    // 1 and 0. On failure problem (when given) says which.
    bool IsConsistent(std::string* problem = nullptr) const;

  protected:
    // The system clock in milliseconds; tests replace it to age windows.
    virtual int64_t CurrentTimeMs() const;

  private:
    static TIME_RESERVATION_T MakeWindow(int64_t last_reserved, uint32_t start, uint32_t duration,
                                         uint32_t owner);
    int FindWindow(uint32_t owner, uint32_t duration) const;

    uint32_t sync_period_ = 0;
    int64_t expiry_age_;
    std::vector<TIME_RESERVATION_T> reservations_;
};

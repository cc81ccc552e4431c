#include "host/scheduling/rf_scheduler.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kA = 0x0A0A0001;
constexpr uint32_t kB = 0x0B0B0002;
constexpr uint32_t kC = 0x0C0C0003;

// A scheduler whose clock the test sets, so that windows can be aged
// without waiting.
class ClockedScheduler : public RfScheduler {
  public:
    explicit ClockedScheduler(double period) : RfScheduler(period) {}
    int64_t now_ms = 1000;

  protected:
    int64_t CurrentTimeMs() const override { return now_ms; }
};

// Checks the table's invariants after every operation that must keep them.
class CheckedScheduler {
    // First, so that now_ms below binds to a constructed object.
    ClockedScheduler scheduler_;

  public:
    explicit CheckedScheduler(double period) : scheduler_(period) { Check("construction"); }

    void UpdateSyncPeriod(uint32_t period) {
        scheduler_.UpdateSyncPeriod(period);
        Check("UpdateSyncPeriod");
    }
    TIME_RESERVATION_T ReserveTimeSlot(uint32_t owner, uint32_t duration) {
        return Checked(scheduler_.ReserveTimeSlot(owner, duration), "ReserveTimeSlot");
    }
    TIME_RESERVATION_T ReserveTimeSlot_FromEnd(uint32_t owner, uint32_t duration) {
        return Checked(scheduler_.ReserveTimeSlot_FromEnd(owner, duration), "ReserveTimeSlot_FromEnd");
    }
    TIME_RESERVATION_T RequestTimeSlot(uint32_t owner, uint32_t duration, uint32_t spare) {
        return Checked(scheduler_.RequestTimeSlot(owner, duration, spare), "RequestTimeSlot");
    }
    TIME_RESERVATION_T RequestTimeSlot_FromEnd(uint32_t owner, uint32_t duration, uint32_t spare) {
        return Checked(scheduler_.RequestTimeSlot_FromEnd(owner, duration, spare), "RequestTimeSlot_FromEnd");
    }
    TIME_RESERVATION_T GetTimeSlot(uint32_t owner, uint32_t duration, uint32_t spare) {
        return Checked(scheduler_.GetTimeSlot(owner, duration, spare), "GetTimeSlot");
    }
    TIME_RESERVATION_T GetTimeSlot_FromEnd(uint32_t owner, uint32_t duration, uint32_t spare) {
        return Checked(scheduler_.GetTimeSlot_FromEnd(owner, duration, spare), "GetTimeSlot_FromEnd");
    }
    void ReclaimTimeReservation(int& index) {
        scheduler_.ReclaimTimeReservation(index);
        Check("ReclaimTimeReservation");
    }
    int FreeUnusedSlots() {
        const int index = scheduler_.FreeUnusedSlots();
        Check("FreeUnusedSlots");
        return index;
    }
    // Not checked: merging a held window may leave two free neighbours.
    int CombineUnusedReservations(int a, int b) { return scheduler_.CombineUnusedReservations(a, b); }

    void SetExpiryAge(int64_t age) { scheduler_.SetExpiryAge(age); }
    int64_t GetExpiryAge() const { return scheduler_.GetExpiryAge(); }
    uint32_t GetSyncPeriod() const { return scheduler_.GetSyncPeriod(); }
    const std::vector<TIME_RESERVATION_T>& GetTimeReservations() const {
        return scheduler_.GetTimeReservations();
    }
    bool IsConsistent(std::string* problem) const { return scheduler_.IsConsistent(problem); }
    QString toString() const { return scheduler_.toString(); }
    const RfScheduler& scheduler() const { return scheduler_; }

    int64_t& now_ms = scheduler_.now_ms;

  private:
    void Check(const char* operation) const {
        std::string problem;
        EXPECT_TRUE(scheduler_.IsConsistent(&problem)) << "after " << operation << ": " << problem << "\n"
                                                       << scheduler_.toString().toStdString();
    }
    TIME_RESERVATION_T Checked(const TIME_RESERVATION_T& window, const char* operation) const {
        Check(operation);
        return window;
    }
};

struct Expected {
    uint32_t owner;
    uint32_t start;
    uint32_t duration;
};

// The table's invariants hold and it holds exactly the expected windows.
void ExpectTable(const CheckedScheduler& scheduler, const std::vector<Expected>& expected) {
    std::string problem;
    EXPECT_TRUE(scheduler.IsConsistent(&problem)) << problem << "\n" << scheduler.toString().toStdString();
    const auto& table = scheduler.GetTimeReservations();
    ASSERT_EQ(table.size(), expected.size()) << scheduler.toString().toStdString();
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(table[i].owner, expected[i].owner) << "window " << i;
        EXPECT_EQ(table[i].start, expected[i].start) << "window " << i;
        EXPECT_EQ(table[i].duration, expected[i].duration) << "window " << i;
    }
}

void ExpectWindow(const TIME_RESERVATION_T& window, uint32_t owner, uint32_t start, uint32_t duration) {
    EXPECT_EQ(window.owner, owner);
    EXPECT_EQ(window.start, start);
    EXPECT_EQ(window.duration, duration);
}

void ExpectFailure(const TIME_RESERVATION_T& window) {
    EXPECT_EQ(window.owner, 0u);
    EXPECT_EQ(window.start, 0u);
    EXPECT_EQ(window.duration, 0u);
    EXPECT_EQ(window.last_reserved, 0);
    EXPECT_EQ(window.first_flag_word, 0u);
    EXPECT_EQ(window.second_flag_word, 0u);
}

class RfSchedulerTest : public ::testing::Test {
  protected:
    RfSchedulerTest() : scheduler(20.0) { scheduler.UpdateSyncPeriod(1000); }

    // A, B from the start, C from the end: A [0,100), B [100,150), free [150,800), C [800,1000).
    void ReserveABC() {
        ExpectWindow(scheduler.ReserveTimeSlot(kA, 100), kA, 0, 100);
        ExpectWindow(scheduler.ReserveTimeSlot(kB, 50), kB, 100, 50);
        ExpectWindow(scheduler.ReserveTimeSlot_FromEnd(kC, 200), kC, 800, 200);
        ExpectTable(scheduler, {{kA, 0, 100}, {kB, 100, 50}, {0, 150, 650}, {kC, 800, 200}});
    }

    CheckedScheduler scheduler;
};

TEST_F(RfSchedulerTest, ConstructionTruncatesThePeriodAndLeavesOneFreeWindow) {
    CheckedScheduler fresh(20.9);
    EXPECT_EQ(fresh.GetSyncPeriod(), 20u);
    ExpectTable(fresh, {{0, 0, 20}});
    EXPECT_EQ(fresh.scheduler().parent(), nullptr);
}

TEST_F(RfSchedulerTest, ConstructionSaturatesPeriodsOutsideTheRange) {
    EXPECT_EQ(RfScheduler(-5.0).GetSyncPeriod(), 0u);
    EXPECT_EQ(RfScheduler(std::numeric_limits<double>::quiet_NaN()).GetSyncPeriod(), 0u);
    EXPECT_EQ(RfScheduler(1e12).GetSyncPeriod(), 0xFFFFFFFFu);
    EXPECT_EQ(RfScheduler(std::numeric_limits<double>::infinity()).GetSyncPeriod(), 0xFFFFFFFFu);
    EXPECT_EQ(RfScheduler(4294967295.0).GetSyncPeriod(), 0xFFFFFFFFu);
}

TEST_F(RfSchedulerTest, ReservesFirstFitFromTheStartAndLastFitFromTheEnd) {
    ReserveABC();
    const auto& table = scheduler.GetTimeReservations();
    EXPECT_EQ(table[0].last_reserved, 1000);
    EXPECT_EQ(table[0].first_flag_word, 1u);
    EXPECT_EQ(table[0].second_flag_word, 0u);
    EXPECT_EQ(table[2].last_reserved, 0);
}

TEST_F(RfSchedulerTest, ReservationStampsTheClock) {
    scheduler.now_ms = 123456;
    EXPECT_EQ(scheduler.ReserveTimeSlot(kA, 10).last_reserved, 123456);
    scheduler.now_ms = 654321;
    EXPECT_EQ(scheduler.ReserveTimeSlot_FromEnd(kB, 10).last_reserved, 654321);
}

TEST_F(RfSchedulerTest, RequestEqualToTheFreeWindowTakesItWhole) {
    ReserveABC();
    ExpectWindow(scheduler.ReserveTimeSlot(0x1234, 650), 0x1234, 150, 650);
    ExpectTable(scheduler, {{kA, 0, 100}, {kB, 100, 50}, {0x1234, 150, 650}, {kC, 800, 200}});
}

TEST_F(RfSchedulerTest, RequestOneUnitLongerThanTheFreeWindowFails) {
    ReserveABC();
    ExpectFailure(scheduler.ReserveTimeSlot(0x1234, 651));
    ExpectFailure(scheduler.ReserveTimeSlot_FromEnd(0x1234, 651));
    ExpectTable(scheduler, {{kA, 0, 100}, {kB, 100, 50}, {0, 150, 650}, {kC, 800, 200}});
}

TEST_F(RfSchedulerTest, FromEndTakesTheWholeWindowWhenItFitsExactly) {
    ExpectWindow(scheduler.ReserveTimeSlot_FromEnd(kA, 1000), kA, 0, 1000);
    ExpectTable(scheduler, {{kA, 0, 1000}});
    ExpectFailure(scheduler.ReserveTimeSlot(kB, 1));
    ExpectFailure(scheduler.ReserveTimeSlot_FromEnd(kB, 1));
}

TEST_F(RfSchedulerTest, FirstFitSkipsFreeWindowsThatAreTooShort) {
    ReserveABC();
    int index = 1;
    scheduler.ReclaimTimeReservation(index);  // free [100, 800)
    scheduler.ReserveTimeSlot(kB, 550);       // B [100, 650), free [650, 800)
    index = 0;
    scheduler.ReclaimTimeReservation(index);  // free [0, 100)
    ExpectTable(scheduler, {{0, 0, 100}, {kB, 100, 550}, {0, 650, 150}, {kC, 800, 200}});
    // Too long for [0, 100): first fit moves on to [650, 800).
    ExpectWindow(scheduler.ReserveTimeSlot(0x77, 120), 0x77, 650, 120);
    // From the end, [770, 800) is too short: the search goes back to [0, 100).
    ExpectWindow(scheduler.ReserveTimeSlot_FromEnd(0x88, 40), 0x88, 60, 40);
    ExpectTable(scheduler,
                {{0, 0, 60}, {0x88, 60, 40}, {kB, 100, 550}, {0x77, 650, 120}, {0, 770, 30}, {kC, 800, 200}});
}

TEST_F(RfSchedulerTest, FromEndPrefersTheLastFreeWindow) {
    scheduler.ReserveTimeSlot(kA, 100);
    scheduler.ReserveTimeSlot(kB, 100);
    int index = 0;
    scheduler.ReclaimTimeReservation(index);  // free [0,100), B, free [200,1000)
    ExpectWindow(scheduler.ReserveTimeSlot_FromEnd(kC, 50), kC, 950, 50);
    ExpectWindow(scheduler.ReserveTimeSlot(0x99, 50), 0x99, 0, 50);
    ExpectTable(scheduler, {{0x99, 0, 50}, {0, 50, 50}, {kB, 100, 100}, {0, 200, 750}, {kC, 950, 50}});
}

TEST_F(RfSchedulerTest, GetTimeSlotReturnsTheExistingWindowUnchanged) {
    ReserveABC();
    scheduler.now_ms = 99999;
    const TIME_RESERVATION_T again = scheduler.GetTimeSlot(kA, 100, 1000);
    ExpectWindow(again, kA, 0, 100);
    EXPECT_EQ(again.last_reserved, 1000) << "a lookup does not renew the window";
    ExpectTable(scheduler, {{kA, 0, 100}, {kB, 100, 50}, {0, 150, 650}, {kC, 800, 200}});
}

TEST_F(RfSchedulerTest, GetTimeSlotWithAnotherDurationReservesASecondWindow) {
    ReserveABC();
    ExpectWindow(scheduler.GetTimeSlot(kA, 120, 1000), kA, 150, 120);
    ExpectTable(scheduler, {{kA, 0, 100}, {kB, 100, 50}, {kA, 150, 120}, {0, 270, 530}, {kC, 800, 200}});
    // The first window in table order wins once both exist.
    ExpectWindow(scheduler.GetTimeSlot_FromEnd(kA, 120, 1000), kA, 150, 120);
}

TEST_F(RfSchedulerTest, GetTimeSlotFromEndLooksUpAndElseReservesFromTheEnd) {
    ReserveABC();
    ExpectWindow(scheduler.GetTimeSlot_FromEnd(kC, 200, 1000), kC, 800, 200);
    ExpectWindow(scheduler.GetTimeSlot_FromEnd(kB, 100, 1000), kB, 700, 100);
    ExpectTable(scheduler, {{kA, 0, 100}, {kB, 100, 50}, {0, 150, 550}, {kB, 700, 100}, {kC, 800, 200}});
}

TEST_F(RfSchedulerTest, RequestTimeSlotIgnoresTheThirdArgument) {
    ExpectWindow(scheduler.RequestTimeSlot(kA, 10, 0), kA, 0, 10);
    ExpectWindow(scheduler.RequestTimeSlot(kB, 10, 123456), kB, 10, 10);
    ExpectWindow(scheduler.RequestTimeSlot_FromEnd(kC, 10, 7), kC, 990, 10);
    // Request always reserves anew, even for an owner that holds such a window.
    ExpectWindow(scheduler.RequestTimeSlot(kA, 10, 0), kA, 20, 10);
    ExpectTable(scheduler, {{kA, 0, 10}, {kB, 10, 10}, {kA, 20, 10}, {0, 30, 960}, {kC, 990, 10}});
}

TEST_F(RfSchedulerTest, OwnerZeroAndDurationZeroAreRefused) {
    ReserveABC();
    ExpectFailure(scheduler.ReserveTimeSlot(0, 10));
    ExpectFailure(scheduler.ReserveTimeSlot_FromEnd(0, 10));
    ExpectFailure(scheduler.ReserveTimeSlot(kA, 0));
    ExpectFailure(scheduler.ReserveTimeSlot_FromEnd(kA, 0));
    // A free window is not handed out as if it were a reservation.
    ExpectFailure(scheduler.GetTimeSlot(0, 650, 1000));
    ExpectFailure(scheduler.GetTimeSlot_FromEnd(0, 650, 1000));
    ExpectTable(scheduler, {{kA, 0, 100}, {kB, 100, 50}, {0, 150, 650}, {kC, 800, 200}});
}

TEST_F(RfSchedulerTest, ReleaseMergesWithTheFreeWindowAfter) {
    ReserveABC();
    int index = 1;
    scheduler.ReclaimTimeReservation(index);
    EXPECT_EQ(index, 1);
    ExpectTable(scheduler, {{kA, 0, 100}, {0, 100, 700}, {kC, 800, 200}});
    EXPECT_EQ(scheduler.GetTimeReservations()[1].last_reserved, 0);
}

TEST_F(RfSchedulerTest, ReleaseMergesWithTheFreeWindowBeforeAndMovesTheIndex) {
    ReserveABC();
    int index = 1;
    scheduler.ReclaimTimeReservation(index);
    index = 0;
    scheduler.ReclaimTimeReservation(index);
    EXPECT_EQ(index, 0);
    ExpectTable(scheduler, {{0, 0, 800}, {kC, 800, 200}});
    index = 1;
    scheduler.ReclaimTimeReservation(index);
    EXPECT_EQ(index, 0);
    ExpectTable(scheduler, {{0, 0, 1000}});
}

TEST_F(RfSchedulerTest, ReleaseMergesWithBothNeighbours) {
    scheduler.ReserveTimeSlot(kA, 100);
    scheduler.ReserveTimeSlot(kB, 100);
    scheduler.ReserveTimeSlot(kC, 100);
    int index = 0;
    scheduler.ReclaimTimeReservation(index);
    index = 2;
    scheduler.ReclaimTimeReservation(index);  // free [200,1000) merged
    ExpectTable(scheduler, {{0, 0, 100}, {kB, 100, 100}, {0, 200, 800}});
    index = 1;
    scheduler.ReclaimTimeReservation(index);
    EXPECT_EQ(index, 0);
    ExpectTable(scheduler, {{0, 0, 1000}});
}

TEST_F(RfSchedulerTest, ReleaseBetweenHeldWindowsLeavesAFreeWindowWithoutTime) {
    ReserveABC();
    int index = 0;
    scheduler.ReclaimTimeReservation(index);
    EXPECT_EQ(index, 0);
    ExpectTable(scheduler, {{0, 0, 100}, {kB, 100, 50}, {0, 150, 650}, {kC, 800, 200}});
    EXPECT_EQ(scheduler.GetTimeReservations()[0].last_reserved, 0);
}

TEST_F(RfSchedulerTest, ReleaseOutsideTheTableChangesNothing) {
    ReserveABC();
    for (int bad : {-1, 4, 100, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()}) {
        int index = bad;
        scheduler.ReclaimTimeReservation(index);
        EXPECT_EQ(index, bad);
    }
    ExpectTable(scheduler, {{kA, 0, 100}, {kB, 100, 50}, {0, 150, 650}, {kC, 800, 200}});
}

TEST_F(RfSchedulerTest, CombineMergesAdjacentWindowsInEitherOrder) {
    ReserveABC();
    EXPECT_EQ(scheduler.CombineUnusedReservations(1, 0), 0);
    // Merging a held window is the caller's decision: here it leaves two
    // free windows side by side, which only ReclaimTimeReservation avoids.
    const auto& table = scheduler.GetTimeReservations();
    ASSERT_EQ(table.size(), 3u);
    ExpectWindow(table[0], 0, 0, 150);
    EXPECT_EQ(table[0].last_reserved, 0);
    EXPECT_EQ(table[0].first_flag_word, 1u);
    ExpectWindow(table[1], 0, 150, 650);
    ExpectWindow(table[2], kC, 800, 200);
}

TEST_F(RfSchedulerTest, CombineRefusesPairsThatAreNotNeighbours) {
    ReserveABC();
    EXPECT_EQ(scheduler.CombineUnusedReservations(0, 2), -1);
    EXPECT_EQ(scheduler.CombineUnusedReservations(1, 1), -1);
    EXPECT_EQ(scheduler.CombineUnusedReservations(-1, 0), -1);
    EXPECT_EQ(scheduler.CombineUnusedReservations(3, 4), -1);
    ExpectTable(scheduler, {{kA, 0, 100}, {kB, 100, 50}, {0, 150, 650}, {kC, 800, 200}});
}

TEST_F(RfSchedulerTest, UpdateSyncPeriodDiscardsEveryReservation) {
    ReserveABC();
    scheduler.UpdateSyncPeriod(5000);
    EXPECT_EQ(scheduler.GetSyncPeriod(), 5000u);
    ExpectTable(scheduler, {{0, 0, 5000}});
    ExpectWindow(scheduler.GetTimeSlot(kA, 100, 5000), kA, 0, 100);
}

TEST_F(RfSchedulerTest, ZeroPeriodHoldsNothing) {
    scheduler.UpdateSyncPeriod(0);
    ExpectTable(scheduler, {{0, 0, 0}});
    ExpectFailure(scheduler.ReserveTimeSlot(kA, 1));
    ExpectFailure(scheduler.ReserveTimeSlot_FromEnd(kA, 1));
    EXPECT_EQ(scheduler.FreeUnusedSlots(), 1);
}

TEST_F(RfSchedulerTest, FullRangePeriodReservesAtItsEnd) {
    scheduler.UpdateSyncPeriod(0xFFFFFFFFu);
    ExpectWindow(scheduler.ReserveTimeSlot_FromEnd(kA, 0xFFFFFFF0u), kA, 0xF, 0xFFFFFFF0u);
    ExpectWindow(scheduler.ReserveTimeSlot(kB, 0xF), kB, 0, 0xF);
    ExpectTable(scheduler, {{kB, 0, 0xF}, {kA, 0xF, 0xFFFFFFF0u}});
}

TEST_F(RfSchedulerTest, FreeUnusedSlotsKeepsEverythingByDefault) {
    ReserveABC();
    scheduler.now_ms = std::numeric_limits<int64_t>::max();
    EXPECT_EQ(scheduler.GetExpiryAge(), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(scheduler.FreeUnusedSlots(), 4);
    ExpectTable(scheduler, {{kA, 0, 100}, {kB, 100, 50}, {0, 150, 650}, {kC, 800, 200}});
}

TEST_F(RfSchedulerTest, FreeUnusedSlotsReleasesOnlyWindowsOlderThanTheAge) {
    scheduler.now_ms = 1000;
    scheduler.ReserveTimeSlot(kA, 100);
    scheduler.now_ms = 2000;
    scheduler.ReserveTimeSlot(kB, 50);
    scheduler.now_ms = 3000;
    scheduler.ReserveTimeSlot_FromEnd(kC, 200);
    scheduler.SetExpiryAge(1500);
    scheduler.now_ms = 3500;  // limit 2000: only A (1000) is older; B at exactly 2000 stays
    EXPECT_EQ(scheduler.FreeUnusedSlots(), 4);
    ExpectTable(scheduler, {{0, 0, 100}, {kB, 100, 50}, {0, 150, 650}, {kC, 800, 200}});
    scheduler.now_ms = 3501;  // limit 2001: B goes and merges both ways
    EXPECT_EQ(scheduler.FreeUnusedSlots(), 2);
    ExpectTable(scheduler, {{0, 0, 800}, {kC, 800, 200}});
    scheduler.now_ms = 1000000;
    EXPECT_EQ(scheduler.FreeUnusedSlots(), 1);
    ExpectTable(scheduler, {{0, 0, 1000}});
}

TEST_F(RfSchedulerTest, FreeUnusedSlotsReleasesNeighboursInOneSweep) {
    for (uint32_t owner = 1; owner <= 10; ++owner) {
        scheduler.ReserveTimeSlot(owner, 100);
    }
    ExpectTable(scheduler, {{1, 0, 100},
                            {2, 100, 100},
                            {3, 200, 100},
                            {4, 300, 100},
                            {5, 400, 100},
                            {6, 500, 100},
                            {7, 600, 100},
                            {8, 700, 100},
                            {9, 800, 100},
                            {10, 900, 100}});
    scheduler.SetExpiryAge(0);
    scheduler.now_ms = 1001;
    EXPECT_EQ(scheduler.FreeUnusedSlots(), 1);
    ExpectTable(scheduler, {{0, 0, 1000}});
}

TEST_F(RfSchedulerTest, FreeUnusedSlotsWithExtremeAgesStaysDefined) {
    ReserveABC();
    scheduler.SetExpiryAge(std::numeric_limits<int64_t>::min());
    scheduler.now_ms = 5;
    EXPECT_EQ(scheduler.FreeUnusedSlots(), 1);  // every held window counts as expired
    ExpectTable(scheduler, {{0, 0, 1000}});
    ReserveABC();
    scheduler.SetExpiryAge(std::numeric_limits<int64_t>::max());
    scheduler.now_ms = -5;  // a clock before 1970
    EXPECT_EQ(scheduler.FreeUnusedSlots(), 4);
}

TEST_F(RfSchedulerTest, ToStringListsEveryWindow) {
    ReserveABC();
    scheduler.ReserveTimeSlot(RfScheduler::kAnnouncementOwner, 5);
    EXPECT_EQ(scheduler.toString().toStdString(),
              "Rf Schedule Begin\n*****************"
              "\nDev: a0a0001\tStart: 0\tDuration: 100"
              "\nDev: b0b0002\tStart: 100\tDuration: 50"
              "\nDev: ffffffff\tStart: 150\tDuration: 5"
              "\nDev: 0\tStart: 155\tDuration: 645"
              "\nDev: c0c0003\tStart: 800\tDuration: 200"
              "\n*****************\nRf Schedule End");
}

TEST_F(RfSchedulerTest, HostStartUpLayout) {
    // Sync, announcement, anchors from the end, remainder: the figures of a
    // 10 Hz site with four wireless anchors.
    scheduler.UpdateSyncPeriod(97500);
    ExpectWindow(scheduler.RequestTimeSlot(0x01020003, 558, 97500), 0x01020003, 0, 558);
    ExpectWindow(scheduler.RequestTimeSlot(RfScheduler::kAnnouncementOwner, 363, 97500),
                 RfScheduler::kAnnouncementOwner, 558, 363);
    for (uint32_t anchor : {0x204u, 0x203u, 0x202u, 0x201u}) {
        scheduler.RequestTimeSlot_FromEnd(anchor, 1929, 97500);
    }
    ExpectWindow(scheduler.RequestTimeSlot(RfScheduler::kRemainderOwner, 77215, 97500),
                 RfScheduler::kRemainderOwner, 921, 77215);
    // 32 beacons of 364 fill exactly what is left.
    for (uint32_t tag = 1; tag <= 32; ++tag) {
        ExpectWindow(scheduler.GetTimeSlot(0x3000 + tag, 364, 97500), 0x3000 + tag, 78136 + (tag - 1) * 364,
                     364);
    }
    ExpectFailure(scheduler.GetTimeSlot(0x4000, 364, 97500));
    std::string problem;
    EXPECT_TRUE(scheduler.IsConsistent(&problem)) << problem;
    const auto& table = scheduler.GetTimeReservations();
    ASSERT_EQ(table.size(), 2u + 1u + 32u + 4u);
    EXPECT_EQ(table[35].owner, 0x201u);
    EXPECT_EQ(table[35].start, 97500u - 4 * 1929u);
    EXPECT_EQ(table[38].owner, 0x204u);
    EXPECT_EQ(table[38].start, 97500u - 1929u);
}

TEST(RfSchedulerConsistency, DetectsTwoFreeNeighbours) {
    // IsConsistent is what the tests and the fuzz target lean on: show that it
    // sees a broken table, made through the one public call that can break it.
    RfScheduler scheduler(1000.0);
    scheduler.ReserveTimeSlot(1, 100);
    scheduler.ReserveTimeSlot(2, 100);
    scheduler.ReserveTimeSlot(3, 100);
    std::string problem;
    EXPECT_EQ(scheduler.CombineUnusedReservations(0, 1), 0);  // free [0,200), 3, free [300,1000)
    EXPECT_TRUE(scheduler.IsConsistent(&problem)) << problem;
    EXPECT_EQ(scheduler.CombineUnusedReservations(2, 1), 1);  // frees 3 beside two free windows
    EXPECT_FALSE(scheduler.IsConsistent(&problem));
    EXPECT_NE(problem.find("two free neighbours"), std::string::npos) << problem;
}

}  // namespace

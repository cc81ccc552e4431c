#include "host/devices/toa_report_check.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "base/device_time.h"
#include "host/devices/dw_clock.h"

namespace {

constexpr double kSpeedOfLight = 299792458.0;
constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A report under construction: responses of anchors at known positions (mm)
// to one transmission of a tag, with TOAs that put the tag where it is.
struct Report {
    std::vector<derazud_toa_t> toas;
    std::vector<Coordinates> positions;
    int16_t count = 0;
    std::vector<std::pair<uint32_t, uint8_t>> removed;  // anchor serial, status

    void Add(uint32_t serial, const Coordinates& anchor_mm, const Coordinates& tag_mm, int64_t transmit_ticks,
             double error_mm = 0.0) {
        const double flight_mm = anchor_mm.CalculateDistanceBetween(tag_mm) + error_mm;
        const int64_t flight_ticks = std::llround(flight_mm / 1000.0 / kSpeedOfLight * kDeviceTicksPerSecond);
        derazud_toa_t toa{};
        toa.anchor_serial_number = serial;
        toa.toa = static_cast<int64_t>(DeviceTimeMask(static_cast<uint64_t>(transmit_ticks + flight_ticks)));
        toas.push_back(toa);
        positions.push_back(anchor_mm);
        count = static_cast<int16_t>(toas.size());
    }

    ToaResponseRemoval Removal() {
        return [this](int index, uint8_t code) {
            removed.emplace_back(static_cast<uint32_t>(toas[index].anchor_serial_number), code);
        };
    }

    std::vector<uint32_t> Remaining() const {
        std::vector<uint32_t> serials;
        for (int i = 0; i < count; ++i) {
            serials.push_back(static_cast<uint32_t>(toas[i].anchor_serial_number));
        }
        return serials;
    }

    void Vote(double speed_of_light = kSpeedOfLight) {
        ToaReportCheck_RangeDifferenceVote(toas.data(), positions.data(), &count, speed_of_light, Removal());
    }
    void RemoveOutliers(const Coordinates& guess_mm, double allowed_move_mm,
                        double speed_of_light = kSpeedOfLight) {
        ToaReportCheck_RemoveOutliers(toas.data(), positions.data(), &count, guess_mm, speed_of_light,
                                      allowed_move_mm, Removal());
    }
};

// Six anchors around a 20 m x 10 m hall, 3 m up, and a tag near the middle.
const std::vector<Coordinates> kAnchors = {{0, 0, 3000},     {20000, 0, 3000},     {20000, 10000, 3000},
                                           {0, 10000, 3000}, {10000, -2000, 2500}, {10000, 12000, 2500}};
const Coordinates kTag(9000, 4000, 1000);
constexpr int64_t kTransmit = 123456789012;

Report Hall(int bad_index = -1, double error_mm = 0.0, int64_t transmit = kTransmit) {
    Report report;
    for (size_t i = 0; i < kAnchors.size(); ++i) {
        report.Add(100 + static_cast<uint32_t>(i), kAnchors[i], kTag, transmit,
                   static_cast<int>(i) == bad_index ? error_mm : 0.0);
    }
    return report;
}

TEST(ToaReportRemoveResponse, MovesTheLastIntoThePlaceAndNeverGoesBelowZero) {
    Report report = Hall();
    ToaReportCheck_RemoveResponse(report.toas.data(), report.positions.data(), &report.count, 1);
    EXPECT_EQ(report.Remaining(), (std::vector<uint32_t>{100, 105, 102, 103, 104}));
    EXPECT_EQ(report.positions[1].GetX(), kAnchors[5].GetX());
    EXPECT_EQ(report.positions[1].GetY(), kAnchors[5].GetY());
    ToaReportCheck_RemoveResponse(report.toas.data(), report.positions.data(), &report.count, 5);  // beyond
    ToaReportCheck_RemoveResponse(report.toas.data(), report.positions.data(), &report.count, -1);
    EXPECT_EQ(report.count, 5);
    ToaReportCheck_RemoveResponse(report.toas.data(), nullptr, &report.count, 4);  // the last itself
    EXPECT_EQ(report.Remaining(), (std::vector<uint32_t>{100, 105, 102, 103}));
    int16_t empty = 0;
    ToaReportCheck_RemoveResponse(report.toas.data(), nullptr, &empty, 0);
    EXPECT_EQ(empty, 0);
}

TEST(ToaReportAllowedMove, FollowsVelocityAndElapsedTime) {
    EXPECT_EQ(ToaReportCheck_AllowedMoveMm(2.0, 11500, 10000), 3000.0);
    // Never checked (time 0): all the time up to now counts.
    EXPECT_EQ(ToaReportCheck_AllowedMoveMm(2.0, 11500, 0), 23000.0);
    EXPECT_EQ(ToaReportCheck_AllowedMoveMm(0.0, 11500, 0), 0.0);
    EXPECT_EQ(ToaReportCheck_AllowedMoveMm(-3.0, 11500, 0), -34500.0);
    EXPECT_TRUE(std::isnan(ToaReportCheck_AllowedMoveMm(kNaN, 11500, 0)));
    EXPECT_EQ(ToaReportCheck_AllowedMoveMm(0.0, 11500, 10000), 0.0);
    // A negative velocity gives a negative move, which no response meets.
    EXPECT_EQ(ToaReportCheck_AllowedMoveMm(-3.0, 11500, 10000), -4500.0);
    EXPECT_EQ(ToaReportCheck_AllowedMoveMm(2.0, 9000, 10000), 0.0);  // time never runs backwards here
    EXPECT_TRUE(std::isnan(ToaReportCheck_AllowedMoveMm(kNaN, 11500, 10000)));
    const int64_t lowest = std::numeric_limits<int64_t>::min();
    const int64_t highest = std::numeric_limits<int64_t>::max();
    EXPECT_GT(ToaReportCheck_AllowedMoveMm(1.0, highest, lowest), 1e18);
}

TEST(ToaReportRangeDifferenceVote, ConsistentReportKeepsEveryResponse) {
    Report report = Hall();
    report.Vote();
    EXPECT_EQ(report.count, 6);
    EXPECT_TRUE(report.removed.empty());
}

// A range difference beyond the anchors' separation is caught whichever of
// the two anchors heard the tag first.
TEST(ToaReportRangeDifferenceVote, RemovesAnAnchorTooLateOrTooEarly) {
    for (double error_mm : {60000.0, -60000.0}) {
        for (int bad = 0; bad < 6; ++bad) {
            SCOPED_TRACE(testing::Message() << "anchor " << bad << " off by " << error_mm << " mm");
            Report report = Hall(bad, error_mm);
            report.Vote();
            ASSERT_EQ(report.removed.size(), 1u);
            EXPECT_EQ(report.removed[0], std::make_pair(100u + bad, kAnchorStatusRangeDifference));
            EXPECT_EQ(report.count, 5);
        }
    }
}

TEST(ToaReportRangeDifferenceVote, MovedResponseCarriesItsVotesAndIsExaminedInTurn) {
    // Anchors 0 and 5 (the last) are both far off: after 0 is removed, 5 moves
    // into index 0 with its own votes and goes as well.
    Report report;
    for (size_t i = 0; i < kAnchors.size(); ++i) {
        const double error = (i == 0) ? 70000.0 : (i == 5 ? -90000.0 : 0.0);
        report.Add(100 + static_cast<uint32_t>(i), kAnchors[i], kTag, kTransmit, error);
    }
    report.Vote();
    EXPECT_EQ(report.removed, (std::vector<std::pair<uint32_t, uint8_t>>{
                                  {100, kAnchorStatusRangeDifference}, {105, kAnchorStatusRangeDifference}}));
    EXPECT_EQ(report.Remaining(), (std::vector<uint32_t>{104, 101, 102, 103}));
}

// Anchor 0 at the origin and three anchors on the x axis, each placed a
// margin closer to it than its TOA difference says: a pair votes when the
// margin exceeds 1 mm, and anchor 0 goes with 3 votes, not with 2. Among the
// three the margins differ by 100 mm the other way: no votes.
TEST(ToaReportRangeDifferenceVote, PairVotesBeyondOneMillimetreAndThreeVotesRemove) {
    for (double margin_mm : {0.5, 1.5}) {
        SCOPED_TRACE(testing::Message() << "margin " << margin_mm << " mm");
        Report report;
        const double margins_mm[] = {0.0, 200.0, 100.0, margin_mm};
        for (int i = 0; i < 4; ++i) {
            derazud_toa_t toa{};
            toa.anchor_serial_number = 100 + i;
            toa.toa = kTransmit + 1000 * i;
            const double range_difference_mm =
                std::fabs(DwClock::RangeDifference(kTransmit, toa.toa, kSpeedOfLight)) * 1000.0;
            report.toas.push_back(toa);
            report.positions.emplace_back(range_difference_mm - margins_mm[i], 0.0, 0.0);
        }
        report.count = 4;
        report.Vote();
        if (margin_mm < 1.0) {
            EXPECT_TRUE(report.removed.empty());
            EXPECT_EQ(report.Remaining(), (std::vector<uint32_t>{100, 101, 102, 103}));
        } else {
            EXPECT_EQ(report.removed,
                      (std::vector<std::pair<uint32_t, uint8_t>>{{100, kAnchorStatusRangeDifference}}));
            EXPECT_EQ(report.Remaining(), (std::vector<uint32_t>{103, 101, 102}));
        }
    }
}

TEST(ToaReportRangeDifferenceVote, UnusableSpeedOfLightVotesNothing) {
    for (double speed : {0.0, -kSpeedOfLight, kNaN, kInfinity}) {
        Report report = Hall(2, 60000.0);
        report.Vote(speed);
        EXPECT_EQ(report.count, 6) << speed;
        EXPECT_TRUE(report.removed.empty()) << speed;
    }
}

TEST(ToaReportOutliers, RemovesOnlyTheResponseBeyondTheAllowedMove) {
    Report report = Hall(3, 5000.0);
    report.RemoveOutliers(kTag, 2000.0);
    EXPECT_EQ(report.removed,
              (std::vector<std::pair<uint32_t, uint8_t>>{{103, kAnchorStatusImplausibleMove}}));
    EXPECT_EQ(report.count, 5);
}

TEST(ToaReportOutliers, NoLimitOrNaNLimitRemovesNothing) {
    for (double allowed : {kInfinity, kNaN}) {
        Report report = Hall(3, 500000.0);
        report.RemoveOutliers(kTag, allowed);
        EXPECT_EQ(report.count, 6);
        EXPECT_TRUE(report.removed.empty());
    }
}

TEST(ToaReportOutliers, ZeroAllowedMoveRemovesUntilTheRestAgreeExactly) {
    // Guess at the centre of four anchors at the same distance, equal TOAs:
    // their offsets agree exactly and stay; the two others go one by one.
    Report report;
    const Coordinates centre(10000, 5000, 0);
    const std::vector<Coordinates> square = {{0, 0, 0}, {20000, 0, 0}, {20000, 10000, 0}, {0, 10000, 0}};
    for (size_t i = 0; i < square.size(); ++i) {
        report.Add(200 + static_cast<uint32_t>(i), square[i], centre, kTransmit);
    }
    report.Add(300, Coordinates(10000, 5000, 4000), centre, kTransmit, 1.0);
    report.Add(301, Coordinates(10000, 5000, 8000), centre, kTransmit, -3.0);
    report.RemoveOutliers(centre, 0.0);
    EXPECT_EQ(report.count, 4);
    ASSERT_EQ(report.removed.size(), 2u);
    EXPECT_EQ(report.removed[0].second, kAnchorStatusImplausibleMove);
    EXPECT_EQ(report.removed[1].second, kAnchorStatusImplausibleMove);

    // A spread with nothing in common goes down to a single response.
    Report spread = Hall();
    spread.RemoveOutliers(Coordinates(0, 0, 0), 0.0);
    EXPECT_EQ(spread.count, 1);
    EXPECT_EQ(spread.removed.size(), 5u);
}

// Four anchors at the guess itself, TOAs 0, 0, +100 and -100 ticks from the
// first: the last two deviate equally (100 ticks, about 469 mm) and the
// lower index goes; the -100 one, moved into its place, then deviates
// 2/3 x 469 = 313 mm, within 400.
TEST(ToaReportOutliers, TieRemovesTheLowestIndex) {
    Report report;
    const Coordinates here(5000, 5000, 1000);
    for (int64_t ticks : {0, 0, 100, -100}) {
        report.Add(static_cast<uint32_t>(200 + report.toas.size()), here, here, kTransmit);
        report.toas.back().toa += ticks;
    }
    report.RemoveOutliers(here, 400.0);
    EXPECT_EQ(report.removed,
              (std::vector<std::pair<uint32_t, uint8_t>>{{202, kAnchorStatusImplausibleMove}}));
    EXPECT_EQ(report.Remaining(), (std::vector<uint32_t>{200, 201, 203}));
}

TEST(ToaReportOutliers, NegativeAllowedMoveRemovesEveryResponse) {
    Report report = Hall();
    report.RemoveOutliers(kTag, -1.0);
    EXPECT_EQ(report.count, 0);
    ASSERT_EQ(report.removed.size(), 6u);
    for (const auto& removed : report.removed) {
        EXPECT_EQ(removed.second, kAnchorStatusImplausibleMove);
    }
}

TEST(ToaReportOutliers, ReportAcrossTheDeviceTimeWrapStaysWhole) {
    // The tag transmits just before the 40-bit wrap: some anchors stamp the
    // reception before it, some after.
    const int64_t transmit = static_cast<int64_t>(kDeviceTimeWrap) - 1500;
    Report report = Hall(-1, 0.0, transmit);
    bool wrapped = false;
    for (const auto& toa : report.toas) {
        wrapped = wrapped || toa.toa < 1000000;
    }
    ASSERT_TRUE(wrapped);
    report.RemoveOutliers(kTag, 10.0);
    EXPECT_EQ(report.count, 6);
    report.Vote();
    EXPECT_EQ(report.count, 6);
}

TEST(ToaReportOutliers, UnusableSpeedOfLightRemovesNothing) {
    for (double speed : {0.0, -1.0, kNaN}) {
        Report report = Hall(1, 90000.0);
        report.RemoveOutliers(kTag, 0.0, speed);
        EXPECT_EQ(report.count, 6) << speed;
    }
}

// Property over random reports: what stays deviates by no more than the
// allowed move, what goes is accounted for once with status 3, and every
// response is either kept or removed.
TEST(ToaReportOutliers, RemainingResponsesAgreeWithinTheAllowedMove) {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> coordinate(-30000.0, 30000.0);
    std::uniform_real_distribution<double> error(-8000.0, 8000.0);
    std::uniform_int_distribution<int> size(1, 40);
    for (int trial = 0; trial < 300; ++trial) {
        Report report;
        const Coordinates tag(coordinate(random), coordinate(random), 1000.0);
        const int n = size(random);
        for (int i = 0; i < n; ++i) {
            const Coordinates anchor(coordinate(random), coordinate(random), 3000.0);
            report.Add(static_cast<uint32_t>(i + 1), anchor, tag, kTransmit,
                       i % 3 == 0 ? error(random) : 0.0);
        }
        const double allowed = 1500.0;
        report.RemoveOutliers(tag, allowed);
        ASSERT_EQ(static_cast<size_t>(report.count) + report.removed.size(), static_cast<size_t>(n));
        std::vector<bool> seen(n + 1, false);
        for (const auto& removed : report.removed) {
            EXPECT_EQ(removed.second, kAnchorStatusImplausibleMove);
            EXPECT_FALSE(seen[removed.first]);
            seen[removed.first] = true;
        }
        double sum = 0.0;
        std::vector<double> offsets;
        for (int k = 0; k < report.count; ++k) {
            EXPECT_FALSE(seen[report.toas[k].anchor_serial_number]);
            const double ticks = static_cast<double>(report.toas[k].toa - report.toas[0].toa);
            offsets.push_back(ticks / kDeviceTicksPerSecond -
                              tag.CalculateDistanceBetween(report.positions[k]) / (kSpeedOfLight * 1000.0));
            sum += offsets.back();
        }
        for (double offset : offsets) {
            EXPECT_LE(std::fabs(sum / report.count - offset) * kSpeedOfLight * 1000.0, allowed + 1e-6);
        }
    }
}

}  // namespace
